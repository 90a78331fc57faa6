// The readiness messages on a manager socket of the test's own with an abstract name (the
// program-run tests use a path): the status goes at once, then only the latest once the
// second is up; without a usable name nothing is sent and nothing fails.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "Wait.h"
#include "service/Notify.h"

using namespace testsupport;
using service::Notify;

TEST(Notify, AnAbstractNameHearsEachMessageAndOnlyTheLatestStatusOfABurst) {
  const std::string name = "@relvane-notify-test-" + std::to_string(::getpid());
  const int manager = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un address{AF_UNIX, {}};
  name.copy(address.sun_path + 1, name.size() - 1, 1);
  ASSERT_EQ(::bind(manager, reinterpret_cast<sockaddr*>(&address), sizeof(sa_family_t) + name.size()), 0);
  auto next = [manager] {  // the thread's loop is served meanwhile: the status timer runs there
    char buffer[256];
    ssize_t n = -1;
    waitUntil([&] { return (n = ::recv(manager, buffer, sizeof buffer, 0)) > 0; });
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
  };
  Notify notify(name);
  notify.ready();
  EXPECT_EQ(next(), "READY=1");
  for (const char* status : {"a", "b", "c"}) notify.status(status);
  EXPECT_EQ(next(), "STATUS=a");
  EXPECT_EQ(next(), "STATUS=c");
  notify.status("c");  // as sent last: nothing goes
  notify.stopping();
  EXPECT_EQ(next(), "STOPPING=1");
  ::close(manager);

  for (const std::string unusable : {"", "relative/path", "@"}) EXPECT_FALSE(Notify(unusable).send("READY=1"));
  ::setenv(Notify::kVariable, "/run/x", 1);
  EXPECT_EQ(Notify::takeFromEnvironment(), "/run/x");
  EXPECT_EQ(std::getenv(Notify::kVariable), nullptr) << "nothing the program starts speaks for it";
}
