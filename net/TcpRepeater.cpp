#include "net/TcpRepeater.h"

#include <cerrno>
#include <netinet/in.h>

#include "net/LocalAddress.h"
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

}  // namespace

void CTcpStreamPair::closeBoth() {
  closeStream(acceptStream);
  closeStream(connectStream);
}

CTcpRepeater::CTcpRepeater() = default;

CTcpRepeater::~CTcpRepeater() {
  for (CTcpStreamPair*& pair : pairs) {
    if (!pair) continue;
    pair->closeBoth();
    delete pair;
    pair = nullptr;
  }
  pairs.clear();
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

void CTcpRepeater::start(int port, const std::string& host, int destinationPort) {
  listenPort = port;
  forwardHost = host;
  forwardPort = destinationPort;
  listenSocket.Close();
  listening_ = false;
  refusedCount_ = 0;
  const bool v6 = useListenBindAddress && net::literalFamily(listenBindAddress) == AF_INET6;
  if (!listenSocket.Socket(SOCK_STREAM, CAsyncSocket::FD_ALL, v6 ? AF_INET6 : AF_INET)) {
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
  // "::" takes IPv4 peers too (as ::ffff:a.b.c.d), whatever the system's default says.
  int off = 0;
  if (v6 && !listenSocket.SetSockOpt(IPV6_V6ONLY, &off, sizeof off, IPPROTO_IPV6))
    trace("Error:CTcpRepeater::start()-SetSockOpt(IPV6_V6ONLY) err=%d\n", CAsyncSocket::GetLastError());
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
  for (int i = 0; i < static_cast<int>(pairs.size()); ++i) closePair(i);
  listenSocket.Close();
  listening_ = false;
}

CTcpStreamPair* CTcpRepeater::getNextPair(int& position) {
  if (position < 0) return nullptr;
  for (int i = position; i < static_cast<int>(pairs.size()); ++i) {
    if (pairs[i]) {
      position = i + 1;
      return pairs[i];
    }
  }
  position = -1;
  return nullptr;
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
    ++refusedCount_;
    trace("★★接続を拒否★★ PeerAddress=%s, port=%d\n", address.c_str(), port);
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
  auto* pair = new CTcpStreamPair{accepted, outgoing};
  int index = addPair(pair);
  accepted->index = outgoing->index = index;
  connectPair(index);
}

void CTcpRepeater::connectPair(int index) {
  CTcpStreamPair* pair = pairs[index];
  CTcpSockStream* outgoing = pair->connectStream;
  if (outgoing->Connect(forwardHost.c_str(), forwardPort)) {
    trace("CTcpRepeater::notifyOnAccept()-Connect() OK host=%s, port=%d \n", forwardHost.c_str(), forwardPort);
    pair->acceptStream->connectState = outgoing->connectState = STREAM_CONNECTED;
    outgoing->GetPeerName(outgoing->peerAddress, outgoing->peerPort);
    outgoing->GetSockName(outgoing->localAddress, outgoing->localPort);
    updateConnectionCount();
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
  closePair(index);
}

void CTcpRepeater::notifyOnConnect(int index, std::string) {
  trace("CTcpRepeater::notifyOnConnect()\n");
  if (index < 0 || index >= static_cast<int>(pairs.size()) || !pairs[index]) return;
  CTcpStreamPair* pair = pairs[index];
  pair->acceptStream->connectState = pair->connectStream->connectState = STREAM_CONNECTED;
  CTcpSockStream* outgoing = pair->connectStream;
  outgoing->GetPeerName(outgoing->peerAddress, outgoing->peerPort);
  outgoing->GetSockName(outgoing->localAddress, outgoing->localPort);
  updateConnectionCount();
}

void CTcpRepeater::notifyOnClose(int index, std::string) {
  trace("CTcpRepeater::notifyOnClose()\n");
  closePair(index);
}

void CTcpRepeater::notifyOnError(int index, std::string kind, int err) {
  trace("CTcpRepeater::notifyOnError() index=%d, kind=%s, err=%d\n", index, kind.c_str(), err);
  closePair(index);
}

int CTcpRepeater::addPair(CTcpStreamPair* pair) {
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (!pairs[i]) {
      pairs[i] = pair;
      return static_cast<int>(i);
    }
  }
  pairs.push_back(pair);
  return static_cast<int>(pairs.size()) - 1;
}

void CTcpRepeater::closePair(int index) {
  if (index >= 0 && index < static_cast<int>(pairs.size()) && pairs[index]) {
    CTcpStreamPair* pair = pairs[index];
    pairs[index] = nullptr;  // before the teardown, so nothing it triggers finds a half-closed pair
    pair->closeBoth();
    delete pair;
  }
  bool anyLive = false;
  for (CTcpStreamPair* p : pairs) anyLive = anyLive || p != nullptr;
  if (!anyLive) pairs.clear();
  updateConnectionCount();
}

void CTcpRepeater::updateConnectionCount() {
  int count = 0;
  for (CTcpStreamPair* p : pairs) {
    if (p && p->acceptStream && p->connectStream && p->acceptStream->connectState == STREAM_CONNECTED &&
        p->connectStream->connectState == STREAM_CONNECTED)
      ++count;
  }
  if (listener) listener->notifyOnConnectionCount(count);
}
