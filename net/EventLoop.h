#pragma once
// The thread's readiness loop: one level-triggered epoll set that the GUI watches through a single
// pollable fd (and then calls dispatch), or that tests and a headless run drive with run*.
//
// Events are found through a token stored in epoll_event.data. Tokens are never reused, so an
// event that was collected for a socket which has since been closed (its fd number possibly
// already handed out again) finds no registration and is dropped.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace net {

class TimerQueue;
class Resolver;
class OwnEndpoints;
class BufferPool;
class DrainingSockets;

class EventLoop {
public:
  using Token = std::uint64_t;

  // What a registration is told. onReady may destroy the watcher (and close its fd).
  class Watcher {
  public:
    virtual void onReady(std::uint32_t revents) = 0;
    // A call the watcher asked for with post(), made at the end of a dispatch round.
    virtual void onPosted() {}
    // Descriptors may be free again after an earlier EMFILE/ENFILE; see waitForDescriptors.
    virtual void onDescriptorsFreed() {}

  protected:
    ~Watcher() = default;
  };

  static EventLoop& current();  // the thread's loop; created on first use

  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  int fd() const { return epollFd_; }
  TimerQueue& timers() { return *timers_; }  // made with the loop, so it needs no descriptor later
  // What the loop's sockets share. The resolver is made on first use (it opens the system's
  // name-server configuration); the others with the loop.
  Resolver& resolver();
  OwnEndpoints& ownEndpoints() { return *ownEndpoints_; }
  BufferPool& buffers() { return *buffers_; }
  DrainingSockets& draining() { return *draining_; }
  void dispatch();  // one non-blocking round: epoll_wait(..., 0) + handlers
  // Waits up to timeoutMs (-1: until something is ready) in epoll_wait itself and dispatches
  // what it found. False when the loop cannot be waited on any more (its fd is gone).
  bool wait(int timeoutMs);
  void runOnce(std::chrono::milliseconds timeout);
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  void runFor(std::chrono::milliseconds duration);

  // --- registration, used by CAsyncSocket ---
  Token add(int fd, Watcher* watcher);  // registered with an empty interest set (not in epoll)
  // Sets the epoll interest; 0 takes the fd out of the epoll set.
  void setInterest(Token token, std::uint32_t events);
  // Takes the fd out of the epoll set until its interest changes: for a hang-up or error that
  // nobody can act on now, which epoll would otherwise report on every round.
  void park(Token token);
  void remove(Token token);  // takes the fd out of the epoll set; it stays open
  // Before the fd is closed: closing takes it out of the epoll set (the loop's fds are never
  // duplicated), so this costs no system call.
  void removeClosing(Token token) { entries_.erase(token); }
  // Closes an fd whose registration is gone. Inside a round it is closed at the round's end,
  // after the handlers and posted calls: tearing connections down (the peers' wake-ups included)
  // waits behind the bytes of the connections still moving.
  void closeLater(int fd);
  // Called at the end of every round, after its closes: for work that is cheaper done once per
  // round than once per event (writing out the lines the round logged). One hook; empty: none.
  void setRoundEnd(std::function<void()> hook) { roundEnd_ = std::move(hook); }
  // Inside a dispatch round, asks for onPosted at the end of the round and returns true; outside
  // one there is no round to end, and it returns false.
  bool post(Token token);
  bool alive(Token token) const { return entries_.count(token) != 0; }
  // Counts dispatch rounds that found events; a change during a handler means a nested loop ran.
  std::uint64_t round() const { return round_; }

  // The watcher ran out of descriptors: it is told onDescriptorsFreed after the next fd of this
  // loop closes, or after a short retry period for descriptors freed elsewhere in the process.
  void waitForDescriptors(Token token);
  void descriptorFreed();  // called after a registered fd was closed

private:
  struct Entry {
    int fd;
    Watcher* watcher;
    std::uint32_t interest = 0;  // what epoll holds for it (0: not in the set)
    std::uint32_t parkedWith = 0;
    bool parked = false;
  };
  void apply(Token token, Entry& e, std::uint32_t events);
  void deliverPosted();
  void endRound();
  void armRetryTimer(bool on);
  void onRetryTimer();

  int epollFd_ = -1;
  int timerFd_ = -1;
  Token nextToken_ = 1;  // 0 is the retry timer
  std::uint64_t round_ = 0;
  int depth_ = 0;  // dispatch rounds running (nested ones included)
  std::vector<Token> posted_;
  std::vector<int> closing_;
  std::function<void()> roundEnd_;
  std::unordered_map<Token, Entry> entries_;
  std::vector<Token> starving_;
  std::unique_ptr<TimerQueue> timers_;
  std::unique_ptr<BufferPool> buffers_;
  std::unique_ptr<OwnEndpoints> ownEndpoints_;
  std::unique_ptr<DrainingSockets> draining_;
  std::unique_ptr<Resolver> resolver_;
};

}  // namespace net
