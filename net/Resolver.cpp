#include "net/Resolver.h"

#include <ares.h>
#include <arpa/inet.h>
#include <cerrno>
#include <sys/epoll.h>

namespace net {

// One c-ares socket in the loop's epoll set.
class Resolver::SocketWatch final : private EventLoop::Watcher {
public:
  SocketWatch(Resolver& owner, int fd) : owner_(owner), fd_(fd), token_(owner.loop_.add(fd, this)) {}
  ~SocketWatch() { owner_.loop_.remove(token_); }
  void want(bool readable, bool writable) {
    owner_.loop_.setInterest(token_, (readable ? EPOLLIN : 0u) | (writable ? EPOLLOUT : 0u));
  }

private:
  void onReady(std::uint32_t revents) override {
    // c-ares may close this socket (and so destroy this watch) while it processes it.
    Resolver& owner = owner_;
    const int fd = fd_;
    const bool in = revents & (EPOLLIN | EPOLLERR | EPOLLHUP);
    owner.process(in ? fd : ARES_SOCKET_BAD, (revents & EPOLLOUT) ? fd : ARES_SOCKET_BAD);
  }

  Resolver& owner_;
  int fd_;
  EventLoop::Token token_;
};

namespace {

struct QueryArg {
  Resolver* self;
  std::string host;
};

std::string serverList(ares_channel channel) {
  ares_addr_port_node* servers = nullptr;
  if (ares_get_servers_ports(channel, &servers) != ARES_SUCCESS) return {};
  std::string csv;
  for (ares_addr_port_node* s = servers; s; s = s->next) {
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(s->family, &s->addr, text, sizeof text);
    const int port = s->udp_port ? s->udp_port : 53;
    if (!csv.empty()) csv += ',';
    csv += s->family == AF_INET6 ? "[" + std::string(text) + "]" : std::string(text);
    csv += ":" + std::to_string(port);
  }
  ares_free_data(servers);
  return csv;
}

}  // namespace

Resolver::Resolver(EventLoop& loop) : loop_(loop) {
  ares_library_init(ARES_LIB_INIT_ALL);
  ares_options options{};
  options.sock_state_cb = &Resolver::onSocketState;
  options.sock_state_cb_data = this;
  if (ares_init_options(&channel_, &options, ARES_OPT_SOCK_STATE_CB) != ARES_SUCCESS) {
    channel_ = nullptr;
    return;
  }
  systemServers_ = serverList(channel_);
}

Resolver::~Resolver() {
  if (channel_) ares_destroy(channel_);  // answers every query with ARES_EDESTRUCTION
  sockets_.clear();
}

Resolver::Request& Resolver::Request::operator=(Request&& other) noexcept {
  if (this != &other) {
    cancel();
    owner_ = other.owner_;
    id_ = other.id_;
    other.id_ = 0;
  }
  return *this;
}

void Resolver::Request::cancel() {
  if (id_ == 0) return;
  owner_->forget(id_);
  id_ = 0;
}

bool Resolver::Request::pending() const { return id_ != 0 && owner_->waiting(id_); }

bool Resolver::setServers(const std::string& servers) {
  if (!channel_) return false;
  const std::string& list = servers.empty() ? systemServers_ : servers;
  return ares_set_servers_ports_csv(channel_, list.c_str()) == ARES_SUCCESS;
}

Resolver::Request Resolver::lookup(const std::string& host, Callback callback) {
  const std::uint64_t id = nextId_++;
  hostOf_.emplace(id, host);
  auto& waiters = queries_[host];
  waiters.push_back({id, std::move(callback)});
  if (waiters.size() > 1) return Request(this, id);  // shares the query under way
  if (!channel_) {
    loop_.timers().schedule(TimerQueue::Clock::now(),
                            [this, host] { answer(host, EINVAL, {}, ares_strerror(ARES_ENOTINITIALIZED)); });
    return Request(this, id);
  }
  ares_addrinfo_hints hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  starting_ = true;
  ares_getaddrinfo(channel_, host.c_str(), nullptr, &hints, &Resolver::onAnswer, new QueryArg{this, host});
  starting_ = false;
  updateTimer();
  return Request(this, id);
}

void Resolver::forget(std::uint64_t id) {
  auto it = hostOf_.find(id);
  if (it == hostOf_.end()) return;
  auto q = queries_.find(it->second);
  if (q != queries_.end()) {
    // The query itself runs on; its answer then finds nobody waiting.
    std::erase_if(q->second, [id](const Waiter& w) { return w.id == id; });
  }
  hostOf_.erase(it);
}

void Resolver::onAnswer(void* arg, int status, int, ares_addrinfo* result) {
  std::unique_ptr<QueryArg> query(static_cast<QueryArg*>(arg));
  Addresses found;
  if (status == ARES_SUCCESS && result) {
    for (ares_addrinfo_node* n = result->nodes; n; n = n->ai_next) {
      if (n->ai_family != AF_INET && n->ai_family != AF_INET6) continue;
      found.push_back(SocketAddress::from(n->ai_addr, n->ai_addrlen));
      found.back().setPort(0);
    }
  }
  if (result) ares_freeaddrinfo(result);
  if (status == ARES_EDESTRUCTION) return;
  Resolver& self = *query->self;
  const int err = found.empty() ? EINVAL : 0;
  // An answer without a usable address is a failure too; the name server's word for it.
  const std::string reason = err == 0 ? "" : ares_strerror(status == ARES_SUCCESS ? ARES_ENODATA : status);
  if (self.starting_) {  // answered from the hosts file or failed at once: not inside lookup()
    self.loop_.timers().schedule(TimerQueue::Clock::now(),
                                 [&self, h = query->host, err, found, reason] { self.answer(h, err, found, reason); });
    return;
  }
  self.answer(query->host, err, found, reason);
}

void Resolver::answer(const std::string& host, int err, const Addresses& addresses, const std::string& reason) {
  failure_ = reason;
  auto q = queries_.find(host);
  if (q == queries_.end()) return;
  std::vector<Waiter> waiters = std::move(q->second);
  queries_.erase(q);
  for (Waiter& w : waiters) {
    if (!waiting(w.id)) continue;  // cancelled by an earlier waiter's callback
    hostOf_.erase(w.id);
    w.callback(err, addresses);
  }
}

void Resolver::onSocketState(void* data, int fd, int readable, int writable) {
  auto* self = static_cast<Resolver*>(data);
  if (!readable && !writable) {  // told before c-ares closes the socket
    self->sockets_.erase(fd);
    return;
  }
  auto& watch = self->sockets_[fd];
  if (!watch) watch = std::make_unique<SocketWatch>(*self, fd);
  watch->want(readable, writable);
}

void Resolver::process(int readFd, int writeFd) {
  ares_process_fd(channel_, readFd, writeFd);
  updateTimer();
}

void Resolver::updateTimer() {
  timeval limit{};
  if (!channel_ || !ares_timeout(channel_, nullptr, &limit)) {
    timer_.cancel();
    return;
  }
  auto ms = std::chrono::milliseconds(limit.tv_sec * 1000 + (limit.tv_usec + 999) / 1000);
  timer_.start(ms, [this] { process(ARES_SOCKET_BAD, ARES_SOCKET_BAD); });
}

}  // namespace net
