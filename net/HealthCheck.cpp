#include "net/HealthCheck.h"

#include "net/AsyncSocket.h"
#include "net/EventLoop.h"
#include "net/ProxyHeader.h"
#include "net/Trace.h"

namespace net {

class HealthCheck::Probe final : public CAsyncSocket {
public:
  Probe(HealthCheck& owner, int index) : owner_(owner), index_(index) {}
  Resolver::Request lookup;
  OwnEndpoint own;  // a probe that comes back to one of our listeners is refused as our own

  void OnConnect(int err) override { owner_.answered(index_, err == 0); }
  void OnClose(int) override { owner_.answered(index_, false); }

private:
  HealthCheck& owner_;
  const int index_;
};

HealthCheck::HealthCheck(std::vector<Destination> destinations, int intervalSeconds, int sendProxy, Report report)
    : destinations_(std::move(destinations)),
      interval_(intervalSeconds),
      sendProxy_(sendProxy),
      report_(std::move(report)),
      probes_(destinations_.size()) {
  timer_.start(std::chrono::milliseconds(0), [this] { round(); });
}

HealthCheck::~HealthCheck() = default;

void HealthCheck::round() {
  timer_.start(std::chrono::seconds(interval_), [this] { round(); });
  for (int i = 0; i < static_cast<int>(destinations_.size()); ++i) {
    if (probes_[i]) answered(i, false);  // silent for a whole interval
    const Destination& to = destinations_[i];
    probes_[i] = std::make_unique<Probe>(*this, i);
    if (!to.literal.empty()) {
      probe(i, to.literal);
      continue;
    }
    probes_[i]->lookup = EventLoop::current().resolver().lookup(
        to.forwardHost, [this, i](int err, const std::vector<SocketAddress>& found) {
          if (err != 0 || found.empty()) return answered(i, false);
          SocketAddress address = found.front();
          address.setPort(destinations_[i].forwardPort);
          probe(i, address);
        });
  }
}

void HealthCheck::probe(int index, const SocketAddress& address) {
  Probe& p = *probes_[index];
  const Destination& to = destinations_[index];
  if (!p.Socket(SOCK_STREAM, CAsyncSocket::FD_CONNECT | CAsyncSocket::FD_CLOSE, address.family()) ||
      (to.useConnectBindAddress && !p.Bind(0, to.connectBindAddress.c_str())))
    return answered(index, false);
  const bool atOnce = p.ConnectTo(address);
  if (!atOnce && CAsyncSocket::GetLastError() != EWOULDBLOCK) return answered(index, false);
  OwnEndpoints& own = EventLoop::current().ownEndpoints();
  if (own.mayComeBack(address.port())) p.own = own.add(SocketAddress::localOf(p.handle()), address.port());
  if (atOnce) answered(index, true);
}

void HealthCheck::answered(int index, bool ok) {
  std::unique_ptr<Probe> done = std::move(probes_[index]);
  if (!done) return;
  if (ok && sendProxy_ > 0) {
    const std::string header = encodeLocalProxyHeader(sendProxy_);
    done->Send(header.data(), static_cast<int>(header.size()));
  }
  trace("CTcpRepeater::healthCheck() host=%s, port=%d %s\n", destinations_[index].forwardHost.c_str(),
        destinations_[index].forwardPort, ok ? "answered" : "no answer");
  done->Close();
  report_(index, ok);
}

}  // namespace net
