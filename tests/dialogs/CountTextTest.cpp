// Byte counts and ages as the windows show them.
#include <gtest/gtest.h>

#include "dialogs/CountText.h"

TEST(CountText, ThousandsSeparatorsAndHoursMinutesSeconds) {
  EXPECT_EQ(thousands(0), "0");
  EXPECT_EQ(thousands(999), "999");
  EXPECT_EQ(thousands(1000), "1,000");
  EXPECT_EQ(thousands(123456789), "123,456,789");
  EXPECT_EQ(thousands(18446744073709551615ull), "18,446,744,073,709,551,615");
  EXPECT_EQ(elapsedText(std::chrono::seconds(0)), "0:00:00");
  EXPECT_EQ(elapsedText(std::chrono::seconds(3599)), "0:59:59");
  EXPECT_EQ(elapsedText(std::chrono::seconds(90061)), "25:01:01");
  EXPECT_EQ(elapsedText(std::chrono::seconds(-5)), "0:00:00");
}
