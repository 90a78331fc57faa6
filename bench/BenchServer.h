#pragma once
// The far end of every measurement: sink, source and echo on one port of
// 127.0.0.1, served by one epoll thread so it costs the same behind every target.
#include <atomic>
#include <memory>
#include <thread>
#include <unordered_map>
#include <vector>

namespace bench {

class BenchServer {
public:
  // Binds 127.0.0.1:port and starts serving; ok() tells whether the bind worked.
  explicit BenchServer(int port);
  ~BenchServer();
  BenchServer(const BenchServer&) = delete;
  BenchServer& operator=(const BenchServer&) = delete;

  bool ok() const { return listenFd_ >= 0; }
  int openConnections() const { return open_.load(); }

private:
  struct Conn;
  void run();
  void acceptAll();
  void onReadable(Conn& c);
  void onWritable(Conn& c);
  void readHeader(Conn& c);
  void sink(Conn& c);
  void echo(Conn& c);
  bool flushEcho(Conn& c);
  void setInterest(Conn& c, unsigned events);
  void drop(int fd);

  int listenFd_ = -1;
  int epollFd_ = -1;
  int wakeFd_ = -1;  // eventfd that tells the thread to end
  std::atomic<int> open_{0};
  std::unordered_map<int, std::unique_ptr<Conn>> conns_;  // owned, keyed by fd (the thread alone touches it)
  std::vector<unsigned char> buffer_;
  std::thread thread_;
};

}  // namespace bench
