#include "net/TcpStreamPair.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include "net/EventLoop.h"
#include "net/ResetAfterDrain.h"

namespace {

enum class Ending { Orderly, Reset, ResetAfterDrain };

void closeStream(std::unique_ptr<CTcpSockStream>& stream, Ending how) {
  if (!stream) return;
  if (stream->handle() >= 0) {
    if (how == Ending::ResetAfterDrain) {
      net::EventLoop::current().draining().resetAfterDrain(stream->Detach());
    } else if (how == Ending::Reset) {
      linger reset{1, 0};
      stream->SetSockOpt(SO_LINGER, &reset, sizeof reset, SOL_SOCKET);
    } else if (!stream->bothDirectionsEnded()) {  // else a shutdown could only fail
      ::shutdown(stream->handle(), SHUT_RDWR);
    }
  }
  stream->Close();
  stream.reset();
}

}  // namespace

void CTcpStreamPair::closeBoth() {
  connector.reset();
  ownEndpoint.reset();
  closeStream(acceptStream, Ending::Orderly);
  closeStream(connectStream, Ending::Orderly);
}

void CTcpStreamPair::offerQueued(CTcpSockStream* failed) {
  // A failure seen on a send can come before the read of what the peer sent ahead of it.
  if (failed && failed->pairSocket && failed->pairSocket->connectState == STREAM_CONNECTED) failed->takeArrived();
  for (CTcpSockStream* s : {acceptStream.get(), connectStream.get()}) {
    if (!s || s == failed || s->connectState != STREAM_CONNECTED) continue;
    // Small-segment coalescing would hold back the last bytes; they go now, ahead of the reset.
    int on = 1;
    s->SetSockOpt(TCP_NODELAY, &on, sizeof on, IPPROTO_TCP);
    s->offerQueued();
  }
}

void CTcpStreamPair::abortBoth(CTcpSockStream* failed) {
  connector.reset();
  ownEndpoint.reset();
  for (std::unique_ptr<CTcpSockStream>* s : {&acceptStream, &connectStream}) {
    const bool owed = *s && s->get() != failed && (*s)->connectState == STREAM_CONNECTED;
    closeStream(*s, owed ? Ending::ResetAfterDrain : Ending::Reset);
  }
}
