#include "net/TcpSockStream.h"

#include <algorithm>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include "capture/CaptureStore.h"
#include "net/EventLoop.h"
#include "net/TcpSockStreamParent.h"
#include "net/Trace.h"

CTcpSockStreamParent::~CTcpSockStreamParent() = default;

const char* toText(StreamInput state) {
  switch (state) {
    case StreamInput::Open: return "open";
    case StreamInput::Paused: return "paused";
    case StreamInput::Closing: return "closing";
    case StreamInput::Delivered: return "delivered";
  }
  return "?";
}

const char* toText(StreamOutput state) {
  switch (state) {
    case StreamOutput::Open: return "open";
    case StreamOutput::Blocked: return "blocked";
    case StreamOutput::Shut: return "shut";
  }
  return "?";
}

CTcpSockStream::CTcpSockStream() : sendQueue_(net::EventLoop::current().buffers()) {
  trace("CTcpSockStream::CTcpSockStream() STREAM を生成\n");
}

CTcpSockStream::~CTcpSockStream() { trace("CTcpSockStream::~CTcpSockStream() STREAM を破棄\n"); }

// Asked for by the status table only, so a connection pays for the lookup only when it is shown.
// Known once the peer is: at accept, or when the outgoing connect has finished.
std::string CTcpSockStream::getLocalAddress() const {
  if (localPort == 0 && !peerAddress.empty()) GetSockName(localAddress, localPort);
  return localAddress;
}

int CTcpSockStream::getLocalPort() const {
  getLocalAddress();
  return localPort;
}

void CTcpSockStream::setBuffers(int kb) {
  if (kb < 1 || kb > kMaxBufferKB) {
    trace("Error:CTcpSockStream::setBuffers() size=%dKB, using %dKB\n", kb, kDefaultBufferKB);
    kb = kDefaultBufferKB;
  }
  if (sRemainCount != 0) return;  // sized once, before anything is queued
  sendBufferSize = receiveBufferSize = static_cast<uint32_t>(kb) * 1024;
  sendQueue_.setCapacity(sendBufferSize);
}

void CTcpSockStream::appendToSendBuffer(const char* data, uint32_t length) {
  if (length > getFreeSendSpace()) return;
  sendQueue_.append(data, length);
  noteQueued();
}

void CTcpSockStream::dropQueued(uint32_t length) {
  sendQueue_.consume(std::min(length, sRemainCount));
  sRemainCount = sendQueue_.size();
}

void CTcpSockStream::noteQueued() {
  if (gate_) gate_->arrived(sendQueue_.size() - sRemainCount, Clock::now());
  sRemainCount = sendQueue_.size();
  if (sRemainCount > maxRemainCount) maxRemainCount = sRemainCount;
}

bool CTcpSockStream::writeSendBuffer2Socket() {
  trace("CTcpSockStream::writeSendBuffer2Socket() sRemainCount=%d\n", sRemainCount);
  const uint32_t before = sRemainCount;
  int n = 0;
  while (sRemainCount > 0) {
    std::span<const char> part = sendQueue_.readable();
    if (gate_) {
      const uint32_t may = gate_->allowance(sRemainCount, Clock::now());
      if (may == 0) break;  // held: the gate wakes us
      part = part.first(std::min<std::size_t>(part.size(), may));
    }
    n = Send(part.data(), static_cast<int>(part.size()), 0);
    trace("★SEND reqSize=%d, sendSize=%d\n", static_cast<int>(part.size()), n);
    if (n <= 0) break;
    trace("●--●SEND BUFFER SendSize=%d\n", n);
    sendQueue_.consume(static_cast<uint32_t>(n));
    sentBytes += static_cast<uint32_t>(n);
    sRemainCount = sendQueue_.size();
    noteMoved();
    if (gate_ && gate_->sent(static_cast<uint32_t>(n), Clock::now())) {
      gateCut(gate_->cutKind());
      return false;
    }
  }
  if (n < 0) {
    int err = GetLastError();
    if (err != EWOULDBLOCK) {
      trace("★●▲Error:CTcpSockStream::writeSendBuffer() err=%d\n", err);
      if (parent) parent->notifyOnError(index, kind, err);
      return false;
    }
    // The socket layer owes us an OnSend once the socket can take more.
    output_ = Output::Blocked;
    trace("SEND BLOCK kind=%s, sRemainCount=%d\n", kind.c_str(), sRemainCount);
  }
  if (sRemainCount < before && pairSocket) pairSocket->resumeReading();
  return true;
}

CTcpSockStream::ReadResult CTcpSockStream::receiveOnce() {
  std::span<char> room = pairSocket->sendQueue_.writable();
  if (room.empty())  // full, or free but no memory to hold the bytes in
    return pairSocket->sendQueue_.freeSpace() == 0 ? ReadResult::Full : ReadResult::NoMemory;
  int n = Receive(room.data(), static_cast<int>(room.size()), 0);
  // A PROXY header read ahead of the client's bytes is not theirs: the repeater tells the rest.
  if (capture_ && n > 0 && !reportArrivals)
    capture_->data(captureSerial_, captureDirection_, {room.data(), static_cast<std::size_t>(n)});
  pairSocket->sendQueue_.commit(n > 0 ? static_cast<uint32_t>(n) : 0);  // 0: an empty ring lets go
  if (n > 0) {
    receivedBytes += static_cast<uint32_t>(n);
    pairSocket->noteQueued();
    noteMoved();
    return static_cast<std::size_t>(n) == room.size() ? ReadResult::More : ReadResult::Drained;
  }
  if (n == 0) return ReadResult::PeerClosed;
  return GetLastError() == EWOULDBLOCK ? ReadResult::Drained : ReadResult::Failed;
}

void CTcpSockStream::OnReceive(int nErrorCode) {
  if (nErrorCode != 0) {
    if (parent) parent->notifyOnError(index, kind, nErrorCode);
    trace("Error:CTcpSockStream::OnReceive() nErrorCode=%d, err=%d\n", nErrorCode, GetLastError());
    return;
  }
  if (!pairSocket) {
    trace("Error:CTcpSockStream::OnReceive() NOT PairSocket\n");
    pauseReading();  // nobody to take the bytes; asking again would only spin
    return;
  }
  if (peerHasClosed()) return;
  CTcpSockStream* partner = pairSocket;
  const uint32_t before = partner->sRemainCount;
  ReadResult r = ReadResult::More;
  while (r == ReadResult::More) r = receiveOnce();  // a full receive may continue after a wrap
  if (r == ReadResult::Failed) {
    int err = GetLastError();
    trace("Error:CTcpSockStream::OnReceive() err=%d\n", err);
    if (parent) parent->notifyOnError(index, kind, err);
    return;
  }
  if (reportArrivals && partner->sRemainCount > before && partner->connectState != STREAM_CONNECTED && parent &&
      !parent->notifyOnArrival(index, kind))
    return;
  if (partner->sRemainCount > before && partner->connectState == STREAM_CONNECTED &&
      partner->output_ != Output::Blocked) {
    if (!partner->writeSendBuffer2Socket()) return;
  }
  if (r == ReadResult::Full && partner->getFreeSendSpace() == 0) {
    trace("Error:CTcpSockStream::OnReceive() SendBuffer FULL PairSocket\n");
    pauseReading();  // the partner resumes us once it has sent some
  } else if (r == ReadResult::NoMemory) {
    trace("Error:CTcpSockStream::OnReceive() err=%d\n", ENOMEM);
    if (parent) parent->notifyOnError(index, kind, ENOMEM);
  } else if (r == ReadResult::PeerClosed) {
    trace("SIZE ZERO Error:CTcpSockStream::OnReceive() err=%d\n", 0);
    peerClosed();
  }
}

void CTcpSockStream::OnSend(int nErrorCode) {
  trace("★★★★★ONSEND START kind = %s, nErrorCode=%d\n", kind.c_str(), nErrorCode);
  if (nErrorCode != 0) return;
  if (output_ == Output::Blocked) output_ = Output::Open;
  if (!writeSendBuffer2Socket()) return;
  CTcpSockStream* partner = pairSocket;
  if (sRemainCount == 0 && partner && partner->closePending == 1 && partner->input_ != Input::Delivered) {
    trace("☆☆☆☆CTcpSockStream::OnSend() Close Pendig End \n");
    partner->inputDelivered();
  }
}

void CTcpSockStream::setFaults(const net::FaultSet& set) {
  if (gate_ ? gate_->set() == set : !set.any()) return;
  if (!set.any() && sRemainCount == 0) {
    gate_.reset();
    return;
  }
  // Cleared with bytes held, a gate without faults stays until it has woken the sends once: the
  // change may come in the middle of the repeater's walk over its pairs, where no pair may end.
  gate_ = std::make_unique<net::FaultGate>(
      set, [this] { gateWoke(); }, [this](net::FaultGate::Cut how) { gateCut(how); });
  gate_->arrived(sRemainCount, Clock::now());  // what waits now is held as if it had just come
  if (set.sliceBytes > 0) {                    // each piece its own segment, not held back for the last one's ack
    int on = 1;
    SetSockOpt(TCP_NODELAY, &on, sizeof on, IPPROTO_TCP);
  }
  gate_->wakeSoon();
}

void CTcpSockStream::setCapture(CaptureStore* store, std::uint64_t serial, Direction direction) {
  capture_ = store;
  captureSerial_ = serial;
  captureDirection_ = direction;
}

void CTcpSockStream::gateWoke() {
  if (!gate_->set().any()) gate_.reset();
  if (connectState == STREAM_CONNECTED && output_ != Output::Blocked) OnSend(0);  // else an event comes
}

void CTcpSockStream::gateCut(net::FaultGate::Cut how) {
  if (parent) parent->notifyOnFault(index, kind, how == net::FaultGate::Cut::Reset);
}

void CTcpSockStream::offerQueued() {
  while (sRemainCount > 0) {
    std::span<const char> part = sendQueue_.readable();
    int n = Send(part.data(), static_cast<int>(part.size()), 0);
    if (n <= 0) return;
    sendQueue_.consume(static_cast<uint32_t>(n));
    sentBytes += static_cast<uint32_t>(n);
    sRemainCount = sendQueue_.size();
  }
}

void CTcpSockStream::takeArrived() {
  if (!pairSocket || peerHasClosed()) return;
  ReadResult r = ReadResult::More;
  for (int i = 0; i < 64 && r == ReadResult::More; ++i) r = receiveOnce();
}

void CTcpSockStream::noteMoved() {
  if (lastMoved_ != Clock::time_point{}) lastMoved_ = Clock::now();
}

void CTcpSockStream::OnOutOfBandData(int) { trace("-----------OnOutOfBandData()\n"); }

void CTcpSockStream::OnAccept(int nErrorCode) {
  if (nErrorCode != 0) {
    trace("Error:CTcpSockStream::OnAccept() err=%d\n", nErrorCode);
    return;
  }
  if (parent) parent->notifyOnAccept(index, kind);
}

void CTcpSockStream::OnConnect(int nErrorCode) {
  if (nErrorCode == 0) {
    if (parent) parent->notifyOnConnect(index, kind);
    return;
  }
  if (parent) parent->notifyOnError(index, kind, nErrorCode);
  trace("Error:CTcpSockStream::OnConnect() err=%d\n", nErrorCode);
}

void CTcpSockStream::OnClose(int nErrorCode) {
  if (nErrorCode != 0) {
    if (parent) parent->notifyOnError(index, kind, nErrorCode);
    trace("Error:CTcpSockStream::OnReceive() err=%d\n", nErrorCode);
    return;
  }
  if (!parent || peerHasClosed()) return;
  peerClosed();
}

void CTcpSockStream::pauseReading() {
  if (input_ != Input::Open) return;
  input_ = Input::Paused;
  AsyncSelect(selectedEvents() & ~FD_READ);
}

void CTcpSockStream::resumeReading() {
  if (input_ != Input::Paused) return;
  input_ = Input::Open;
  AsyncSelect(selectedEvents() | FD_READ);
}

// The peer has sent its last byte. Pass the close on once all of it has reached the partner's
// peer; until then the partner's OnSend finishes the job.
void CTcpSockStream::peerClosed() {
  input_ = Input::Closing;
  if (capture_) capture_->closed(captureSerial_, captureDirection_);
  if (parent) parent->notifyOnHalfClose(index, kind);
  CTcpSockStream* partner = pairSocket;
  if (!partner) {
    if (parent) parent->notifyOnClose(index, kind);
    return;
  }
  if (partner->sRemainCount > 0 || partner->connectState != STREAM_CONNECTED) {
    closePending = 1;
    trace("■■■■■CTcpSockStream::OnClose() SendRemain=%ld\n", static_cast<long>(partner->sRemainCount));
  } else if (!inputDelivered()) {
    return;  // that was the last direction: the pair is closed
  }
  AsyncSelect(selectedEvents() & ~FD_READ);  // the end of input stays readable for ever
}

// False when the pair has been closed (this stream included).
bool CTcpSockStream::inputDelivered() {
  CTcpSockStream* partner = pairSocket;
  if (partner->gate_ && partner->gate_->holdsClose([this] { inputDelivered(); })) return true;
  input_ = Input::Delivered;
  // The last direction to end: the pair closes now, and the close itself sends the partner's
  // end of input (nothing is left unread on it to turn that into a reset).
  const bool last = partner->input_ == Input::Delivered && parent;
  if (last || partner->ShutDown(SHUT_WR)) partner->output_ = Output::Shut;
  if (!last) return true;
  parent->notifyOnClose(index, kind);
  return false;
}
