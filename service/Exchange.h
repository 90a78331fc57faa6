#pragma once
// One accepted connection of a local service: a request read up to a size bound, one answer
// written without blocking, then an orderly end. The whole exchange has one deadline on a loop
// timer, so a client that sends nothing, sends half a request or never reads its answer is
// closed when it runs out, and the loop never waits for it.
//
// After the answer the write side is shut and whatever the client still sends is read and
// dropped until it closes (or the deadline comes): closing with unread bytes would reset the
// connection and could take the answer with it.
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "net/EventLoop.h"
#include "net/TimerQueue.h"

namespace service {

class Exchange final : private net::EventLoop::Watcher {
public:
  // What the request read so far asks for: nullopt while it is incomplete, else the answer.
  using Answerer = std::function<std::optional<std::string>(const std::string& request)>;

  struct Bounds {
    std::size_t maxRequest;              // bytes; more than this without a whole request: `tooLong`
    std::chrono::milliseconds deadline;  // from accept to the end of the answer
    std::string tooLong;                 // the answer to a request over the bound
  };

  // Takes the connected, non-blocking `fd`. `finished` is told once, when the exchange has closed;
  // it may destroy the exchange.
  Exchange(int fd, Bounds bounds, Answerer answerer, std::function<void(Exchange&)> finished);
  ~Exchange();
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  bool closed() const { return fd_ < 0; }

private:
  enum class Phase { Reading, Writing, Draining };

  void onReady(std::uint32_t revents) override;
  void readRequest();
  void answer(std::string text);
  void writeAnswer();
  void drain();
  void close();

  int fd_;
  net::EventLoop& loop_;
  net::EventLoop::Token token_ = 0;
  Bounds bounds_;
  Answerer answerer_;
  std::function<void(Exchange&)> finished_;
  Phase phase_ = Phase::Reading;
  std::string request_;
  std::string answer_;
  std::size_t written_ = 0;
  net::Timer deadline_;
};

}  // namespace service
