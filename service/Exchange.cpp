#include "service/Exchange.h"

#include <cerrno>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace service {

namespace {
constexpr std::size_t kChunk = 4096;
}  // namespace

Exchange::Exchange(int fd, Bounds bounds, Answerer answerer, std::function<void(Exchange&)> finished)
    : fd_(fd),
      loop_(net::EventLoop::current()),
      bounds_(std::move(bounds)),
      answerer_(std::move(answerer)),
      finished_(std::move(finished)) {
  token_ = loop_.add(fd_, this);
  loop_.setInterest(token_, EPOLLIN | EPOLLRDHUP);
  deadline_.start(bounds_.deadline, [this] { close(); });
}

Exchange::~Exchange() {
  if (fd_ < 0) return;
  loop_.removeClosing(token_);
  loop_.closeLater(fd_);
}

void Exchange::onReady(std::uint32_t revents) {
  if (phase_ == Phase::Writing) {
    if (revents & (EPOLLERR | EPOLLHUP)) return close();
    return writeAnswer();
  }
  if (phase_ == Phase::Reading) return readRequest();
  drain();
}

void Exchange::readRequest() {
  char chunk[kChunk];
  // One read per readiness: a client that keeps sending cannot hold the loop in here.
  const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n <= 0) return close();  // gone before a whole request: nobody to answer
  request_.append(chunk, static_cast<std::size_t>(n));
  if (std::optional<std::string> text = answerer_(request_)) return answer(std::move(*text));
  if (request_.size() > bounds_.maxRequest) answer(bounds_.tooLong);
}

void Exchange::answer(std::string text) {
  request_.clear();
  request_.shrink_to_fit();
  answer_ = std::move(text);
  phase_ = Phase::Writing;
  // Written from the next round on, not now: the sockets this request closed (a slot switched
  // off) are closed at the end of this round, before its client can hear that they are.
  loop_.setInterest(token_, EPOLLOUT);
}

void Exchange::writeAnswer() {
  while (written_ < answer_.size()) {
    const ssize_t n = ::send(fd_, answer_.data() + written_, answer_.size() - written_, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // the loop says when it takes more
    if (n <= 0) return close();
    written_ += static_cast<std::size_t>(n);
  }
  answer_.clear();
  answer_.shrink_to_fit();
  ::shutdown(fd_, SHUT_WR);
  phase_ = Phase::Draining;
  loop_.setInterest(token_, EPOLLIN | EPOLLRDHUP);
}

void Exchange::drain() {
  char chunk[kChunk];
  const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n <= 0) close();
}

void Exchange::close() {
  if (fd_ < 0) return;
  deadline_.cancel();
  loop_.removeClosing(token_);
  loop_.closeLater(fd_);
  fd_ = -1;
  // Moved out first: the call may destroy this object, the function included.
  if (std::function<void(Exchange&)> done = std::move(finished_)) done(*this);
}

}  // namespace service
