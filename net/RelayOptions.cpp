#include "net/RelayOptions.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include "net/AsyncSocket.h"

namespace net {

bool setKeepAlive(CAsyncSocket& socket, int seconds) {
  const int on = 1, probes = kKeepAliveProbes;
  return socket.SetSockOpt(SO_KEEPALIVE, &on, sizeof on, SOL_SOCKET) &&
         socket.SetSockOpt(TCP_KEEPIDLE, &seconds, sizeof seconds, IPPROTO_TCP) &&
         socket.SetSockOpt(TCP_KEEPINTVL, &seconds, sizeof seconds, IPPROTO_TCP) &&
         socket.SetSockOpt(TCP_KEEPCNT, &probes, sizeof probes, IPPROTO_TCP);
}

}  // namespace net
