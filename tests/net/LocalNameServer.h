#pragma once
// A name server of the test's own on 127.0.0.1 (UDP, a port of the kernel's choosing): answers A
// and AAAA questions for the names it is given, after the delay given for each, and "no such
// name" for every other. Runs on a thread; every wait in it is bounded.
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

class LocalNameServer {
public:
  struct Entry {
    std::vector<std::string> v4, v6;  // literal addresses
    std::chrono::milliseconds delay{0};
    bool silent = false;  // never answers
  };

  LocalNameServer();
  ~LocalNameServer();
  LocalNameServer(const LocalNameServer&) = delete;
  LocalNameServer& operator=(const LocalNameServer&) = delete;

  void set(const std::string& name, Entry entry);
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }  // c-ares' form
  int questions(const std::string& name) const;  // A and AAAA questions seen for the name

private:
  struct Due {
    std::chrono::steady_clock::time_point when;
    std::string packet;
    std::string to;  // raw sockaddr_in
  };
  void run();
  std::string answer(const std::string& query, std::chrono::milliseconds& delay, bool& silent);

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::map<std::string, Entry> names_;
  std::map<std::string, int> asked_;
  std::vector<Due> due_;
  std::thread thread_;
};

}  // namespace nettest
