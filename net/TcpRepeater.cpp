#include "net/TcpRepeater.h"

#include <cerrno>

#include "net/Trace.h"

namespace {

void closeStream(CTcpSockStream*& stream) {
  if (!stream) return;
  if (stream->handle() >= 0) ::shutdown(stream->handle(), SHUT_RDWR);
  stream->Close();
  delete stream;
  stream = nullptr;
}

const char* orNull(int use, const std::string& address) { return use ? address.c_str() : nullptr; }

PairEnding endingOfError(const CTcpStreamPair& pair, const std::string& kind, int err) {
  const bool client = kind == "acceptSocket";
  if (!client && pair.connectStream && pair.connectStream->connectState != STREAM_CONNECTED)
    return PairEnding::ConnectFailed;
  if (err == ECONNRESET || err == EPIPE) return client ? PairEnding::ClientReset : PairEnding::DestinationReset;
  return client ? PairEnding::ClientFailed : PairEnding::DestinationFailed;
}

bool isCounted(const CTcpStreamPair* p) {
  return p->acceptStream && p->connectStream && p->acceptStream->connectState == STREAM_CONNECTED &&
         p->connectStream->connectState == STREAM_CONNECTED;
}

}  // namespace

void CTcpStreamPair::closeBoth() {
  closeStream(acceptStream);
  closeStream(connectStream);
}

CTcpRepeater::CTcpRepeater() = default;

CTcpRepeater::~CTcpRepeater() {
  pairs.releasingInOrder();
  for (int i = 0; i < pairs.size(); ++i) {
    CTcpStreamPair* pair = pairs.release(i);
    if (!pair) continue;
    pair->closeBoth();
    delete pair;
  }
  listenSocket.Close();
}

void CTcpRepeater::setListener(CTcpRepeaterListener* l) { listener = l; }
void CTcpRepeater::setBufferSize(int kb) {
  if (kb < 1 || kb > CTcpSockStream::kMaxBufferKB) {
    trace("Error:CTcpRepeater::setBufferSize() size=%dKB, using %dKB\n", kb, CTcpSockStream::kDefaultBufferKB);
    kb = CTcpSockStream::kDefaultBufferKB;
  }
  bufferSizeKB = kb;
}

void CTcpRepeater::setListenBindAddress(int use, const std::string& address) {
  useListenBindAddress = use;
  listenBindAddress = address;
}

void CTcpRepeater::setConnectBindAddress(int use, const std::string& address) {
  useConnectBindAddress = use;
  connectBindAddress = address;
}

bool CTcpRepeater::isListening() const { return listening_ && listenSocket.handle() >= 0; }

bool CTcpRepeater::listenName(std::string& address, int& port) const {
  return isListening() && listenSocket.GetSockName(address, port);
}

void CTcpRepeater::start(int port, const std::string& host, int destinationPort) {
  listenPort = port;
  forwardHost = host;
  forwardPort = destinationPort;
  listenSocket.Close();
  listening_ = false;
  if (!listenSocket.Socket(SOCK_STREAM, CAsyncSocket::FD_ALL)) {
    trace("Error:CTcpRepeater::start()-Create() err=%d\n", CAsyncSocket::GetLastError());
    return;
  }
  // Before the bind, so a port whose old connections linger in TIME_WAIT can be taken again.
  int on = 1;
  if (!listenSocket.SetSockOpt(SO_REUSEADDR, &on, sizeof on, SOL_SOCKET)) {
    trace("Error:CTcpRepeater::start()-SetSockOpt(() err=%d\n", CAsyncSocket::GetLastError());
    listenSocket.Close();
    return;
  }
  if (!listenSocket.Bind(listenPort, orNull(useListenBindAddress, listenBindAddress))) {
    trace("Error:CTcpRepeater::start()-Create() err=%d\n", CAsyncSocket::GetLastError());
    listenSocket.Close();
    return;
  }
  listenSocket.parent = this;
  if (!listenSocket.Listen(SOMAXCONN)) {
    trace("Error:CTcpRepeater::start()-Listen() err=%d\n", CAsyncSocket::GetLastError());
    return;
  }
  listening_ = true;
  trace("CTcpRepeater::start()-Listen() OK! Port=%d\n", listenPort);
}

void CTcpRepeater::stop() {
  pairs.releasingInOrder();
  for (int i = 0; i < pairs.size(); ++i) closePair(i);
  listenSocket.Close();
  listening_ = false;
}

CTcpStreamPair* CTcpRepeater::getNextPair(int& position) {
  return pairs.next(position);
}

// A new stream holding the waiting connection, or null when there is none to serve.
CTcpSockStream* CTcpRepeater::acceptPeer() {
  auto* stream = new CTcpSockStream();
  if (!listenSocket.Accept(*stream)) {
    trace("Error:CTcpRepeater::notifyOnAccept()-Accept() err=%d\n", CAsyncSocket::GetLastError());
    delete stream;
    return nullptr;
  }
  std::string address;
  int port = 0;
  stream->GetPeerName(address, port);
  if (filter && !filter->isAccept(address)) {
    delete stream;
    trace("★★接続を拒否★★ PeerAddress=%s, port=%d\n", address.c_str(), port);
    if (listener) listener->notifyOnPeerRefused(address, port);
    return nullptr;
  }
  stream->peerAddress = address;
  stream->peerPort = port;
  stream->GetSockName(stream->localAddress, stream->localPort);
  trace("接続を受け付けました。PeerAddress=%s, port=%d\n", address.c_str(), port);
  return stream;
}

void CTcpRepeater::notifyOnAccept(int, std::string) {
  CTcpSockStream* accepted = acceptPeer();
  if (!accepted) return;
  accepted->parent = this;
  accepted->kind = "acceptSocket";
  accepted->setBuffers(bufferSizeKB);

  auto* outgoing = new CTcpSockStream();
  // Not checked here: a stream without a socket fails to connect and takes that branch.
  outgoing->Create(0, SOCK_STREAM, CAsyncSocket::FD_ALL, orNull(useConnectBindAddress, connectBindAddress));
  outgoing->parent = this;
  outgoing->kind = "connectSocket";
  outgoing->setBuffers(bufferSizeKB);

  accepted->pairSocket = outgoing;
  outgoing->pairSocket = accepted;
  auto* pair = new CTcpStreamPair{accepted, outgoing, std::chrono::steady_clock::now(), ++nextSerial_};
  int index = addPair(pair);
  accepted->index = outgoing->index = index;
  connectPair(index);
}

void CTcpRepeater::connectPair(int index) {
  CTcpStreamPair* pair = pairs.at(index);
  CTcpSockStream* outgoing = pair->connectStream;
  if (outgoing->Connect(forwardHost.c_str(), forwardPort)) {
    trace("CTcpRepeater::notifyOnAccept()-Connect() OK host=%s, port=%d \n", forwardHost.c_str(), forwardPort);
    markConnected(pair);
    return;
  }
  int err = CAsyncSocket::GetLastError();
  if (err == EWOULDBLOCK) {
    trace("CTcpRepeater::notifyOnAccept()-Connect() WSAEWOULDBLOCK  host=%s, port=%d \n", forwardHost.c_str(), forwardPort);
    pair->acceptStream->connectState = outgoing->connectState = STREAM_CONNECTING;
    return;
  }
  trace("CTcpA2AModel::notifyOnAccept() CONNECT FAILE! hostname=%s, port=%d err=%d\n",
        forwardHost.c_str(), forwardPort, err);
  closePair(index, PairEnding::ConnectFailed, err);
}

void CTcpRepeater::notifyOnConnect(int index, std::string) {
  trace("CTcpRepeater::notifyOnConnect()\n");
  if (CTcpStreamPair* pair = pairs.at(index)) markConnected(pair);
}

// Counted from here until closePair: the count follows the states without walking the table.
void CTcpRepeater::markConnected(CTcpStreamPair* pair) {
  if (!isCounted(pair)) ++connectedPairs;
  pair->acceptStream->connectState = pair->connectStream->connectState = STREAM_CONNECTED;
  CTcpSockStream* outgoing = pair->connectStream;
  outgoing->GetPeerName(outgoing->peerAddress, outgoing->peerPort);
  outgoing->GetSockName(outgoing->localAddress, outgoing->localPort);
  updateConnectionCount();
}

void CTcpRepeater::notifyOnClose(int index, std::string) {
  trace("CTcpRepeater::notifyOnClose()\n");
  const CTcpStreamPair* pair = pairs.at(index);
  const bool destinationFirst = pair && pair->connectStream && pair->connectStream->peerClosedFirst();
  closePair(index, destinationFirst ? PairEnding::DestinationClosed : PairEnding::ClientClosed);
}

void CTcpRepeater::notifyOnError(int index, std::string kind, int err) {
  trace("CTcpRepeater::notifyOnError() index=%d, kind=%s, err=%d\n", index, kind.c_str(), err);
  const CTcpStreamPair* pair = pairs.at(index);
  closePair(index, pair ? endingOfError(*pair, kind, err) : PairEnding::Stopped, err);
}

int CTcpRepeater::addPair(CTcpStreamPair* pair) { return pairs.add(pair); }

void CTcpRepeater::closePair(int index, PairEnding how, int err) {
  // Out of the table before the teardown, so nothing it triggers finds a half-closed pair.
  if (CTcpStreamPair* pair = pairs.release(index)) {
    if (isCounted(pair)) --connectedPairs;
    if (listener) listener->notifyOnPairEnd(*pair, how, err);
    pair->closeBoth();
    delete pair;
  }
  updateConnectionCount();
}

void CTcpRepeater::updateConnectionCount() {
  if (listener) listener->notifyOnConnectionCount(connectedPairs);
}
