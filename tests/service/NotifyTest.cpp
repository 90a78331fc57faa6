// The readiness messages as a service manager receives them: on a socket of the test's own,
// by path or by abstract name, with the status sent at most once a second and only the latest.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "TempDir.h"
#include "Wait.h"
#include "service/Notify.h"

using namespace testsupport;
using service::Notify;

namespace {

// The manager's end: bound to `name` (a leading '@' for an abstract name).
struct Manager {
  explicit Manager(const std::string& name) {
    fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.data(), name.size());
    if (name[0] == '@') address.sun_path[0] = '\0';
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + (name[0] == '@' ? 0 : 1));
    bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  }
  ~Manager() { ::close(fd); }
  // The next datagram, waiting with the thread's loop served (a status timer runs there).
  std::string next() {
    std::string message;
    waitUntil([&] {
      char buffer[256];
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) message.assign(buffer, static_cast<size_t>(n));
      return n > 0;
    });
    return message;
  }
  int fd = -1;
  bool bound = false;
};

long long monotonicMicros() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

}  // namespace

TEST(Notify, ReachesAnAbstractNameAndAPathAndTellsTheReloadsMonotonicTime) {
  TempDir dir;
  const std::string names[] = {"@relvane-notify-test-" + std::to_string(::getpid()), (dir.path() / "notify").string()};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    Manager manager(name);
    ASSERT_TRUE(manager.bound);
    Notify notify(name);
    ASSERT_TRUE(notify.active());
    notify.ready();
    EXPECT_EQ(manager.next(), "READY=1");
    const long long before = monotonicMicros();
    notify.reloading();
    const std::string reloading = manager.next();
    const long long after = monotonicMicros();
    const std::string prefix = "RELOADING=1\nMONOTONIC_USEC=";
    ASSERT_EQ(reloading.rfind(prefix, 0), 0u) << reloading;
    const long long stamp = std::stoll(reloading.substr(prefix.size()));
    EXPECT_TRUE(before <= stamp && stamp <= after) << stamp;
    notify.stopping();
    EXPECT_EQ(manager.next(), "STOPPING=1");
  }
}

// A burst of changes costs one datagram now and one when the second is up, with the last text.
TEST(Notify, StatusGoesAtOnceThenOnlyTheLatestOnceTheSecondIsUpAndNeverTwiceTheSame) {
  TempDir dir;
  const std::string name = (dir.path() / "notify").string();
  Manager manager(name);
  Notify notify(name);
  notify.status("a");
  EXPECT_EQ(manager.next(), "STATUS=a");
  notify.status("b");
  notify.status("c");
  EXPECT_EQ(manager.next(), "STATUS=c");
  notify.status("c");  // as sent: nothing
  notify.status("d");
  EXPECT_EQ(manager.next(), "STATUS=d");
}

// Without a manager nothing is sent and nothing fails; the variable leaves the environment.
TEST(Notify, WithoutAUsableSocketNothingIsSentAndTheVariableIsTakenOut) {
  TempDir dir;
  for (const std::string& name : {std::string(), std::string("relative/path"), std::string("@")}) {
    Notify notify(name);
    EXPECT_FALSE(notify.active()) << name;
    EXPECT_FALSE(notify.send("READY=1"));
  }
  Notify gone((dir.path() / "nobody").string());  // a manager that has gone away
  EXPECT_TRUE(gone.active());
  EXPECT_FALSE(gone.send("READY=1"));
  ::setenv(Notify::kVariable, "/run/x", 1);
  EXPECT_EQ(Notify::takeFromEnvironment(), "/run/x");
  EXPECT_EQ(std::getenv(Notify::kVariable), nullptr);
}
