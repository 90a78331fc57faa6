#pragma once
// One side of a relayed TCP connection. Bytes that arrive on a stream are received straight into
// its partner's send queue and sent from there by the partner, so each direction has exactly one
// queue, owned by the stream that sends, holding at most sendBufferSize bytes.
//
// Flow control: while the partner's queue is full the stream stops asking for read events and
// resumes when the partner has sent some; a send that would block waits for the next write event.
// A peer's orderly close is passed on: once every byte it sent has been delivered, the partner's
// socket is shut down for sending and the other direction goes on; the pair is reported closed
// when both directions have ended.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "capture/CapturedConnection.h"
#include "net/AsyncSocket.h"
#include "net/ByteRing.h"
#include "net/FaultGate.h"

class CTcpSockStreamParent;
class CaptureStore;

enum { STREAM_IDLE = 0, STREAM_CONNECTING = 1, STREAM_CONNECTED = 2 };

// What this stream's peer sends, on its way to the partner's peer.
enum class StreamInput {
  Open,       // read whenever the peer has sent something
  Paused,     // the partner's queue is full: no read events until it has sent some
  Closing,    // the peer has closed; its last bytes are still queued at the partner
  Delivered,  // ... and all of them reached the partner's peer
};
// What the partner queued for this stream's peer.
enum class StreamOutput {
  Open,
  Blocked,  // a send would block: the rest waits for the write event
  Shut,     // the sending side is shut down (the partner's peer had closed)
};
const char* toText(StreamInput state);
const char* toText(StreamOutput state);

class CTcpSockStream : public CAsyncSocket {
public:
  static constexpr int kDefaultBufferKB = 128;
  static constexpr int kMaxBufferKB = 65536;

  CTcpSockStream();
  ~CTcpSockStream() override;

  // Fields read by the repeater and the status dialog; the repeater sets the first five and the
  // peer's name directly. The local name is read from the system only when first asked for.
  int connectState = STREAM_IDLE;
  std::string kind;
  int index = 0;
  CTcpSockStreamParent* parent = nullptr;  // not owned
  CTcpSockStream* pairSocket = nullptr;    // not owned; both belong to the pair record
  uint32_t sRemainCount = 0;               // bytes queued for sending
  uint32_t maxRemainCount = 0;             // the highest sRemainCount so far; never lowered
  uint32_t sendBufferSize = 0;
  uint32_t receiveBufferSize = 0;
  mutable std::string localAddress;
  mutable int localPort = 0;
  std::string peerAddress;
  int peerPort = 0;
  int closePending = 0;  // this stream's peer closed while its bytes were still being delivered
  // Bytes this stream took from its peer and gave to it; added up per call, read once per pair.
  uint64_t receivedBytes = 0;
  uint64_t sentBytes = 0;
  // The parent is told of bytes that arrive while the partner is not connected (a header read
  // ahead of the client's own bytes).
  bool reportArrivals = false;

  std::string getLocalAddress() const;
  int getLocalPort() const;
  std::string getPeerAddress() const { return peerAddress; }

  // Sizes the send queue (allocated on first use); 1..kMaxBufferKB, else the default.
  void setBuffers(int kb);
  uint32_t getFreeSendSpace() const { return sendBufferSize - sRemainCount; }
  // The front of the send queue (contiguous from the start of a queue that was empty), and
  // bytes dropped from it unsent.
  std::span<const char> queuedFront() const { return sendQueue_.readable(); }
  void dropQueued(uint32_t length);
  void appendToSendBuffer(const char* data, uint32_t length);  // ignored beyond the free space
  // Sends what the socket takes. False when an error was reported (the pair, this stream
  // included, is gone).
  bool writeSendBuffer2Socket();
  bool readingPaused() const { return input_ == Input::Paused; }
  // Sends what the socket takes at once and reports nothing: for bytes owed to a peer whose
  // connection is about to be cut.
  void offerQueued();
  // Reads what the kernel still holds for this stream into the partner's queue, as far as there
  // is room: for a stream whose connection failed while bytes it had acknowledged were unread.
  void takeArrived();

  // Faults on what this stream sends to its peer; none (the default) takes the gate away, and
  // bytes it held go at once.
  void setFaults(const net::FaultSet& set);
  bool faulted() const { return gate_ != nullptr; }

  // While the slot captures: what this stream reads and its peer's close are told to `store`
  // (not owned; null stops it) under the pair's serial, as the bytes going `direction`.
  void setCapture(CaptureStore* store, std::uint64_t serial, Direction direction);
  CaptureStore* capture() const { return capture_; }

  // From watchIdle() on, the stream notes when a byte last moved through it (either way).
  using Clock = std::chrono::steady_clock;
  void watchIdle() { lastMoved_ = Clock::now(); }
  Clock::time_point lastMoved() const { return lastMoved_; }
  bool holdsSendBuffer() const { return sendQueue_.holdsStorage(); }  // only while bytes wait
  StreamInput input() const { return input_; }
  StreamOutput output() const { return output_; }
  // Its peer has closed and its own sending side is shut down: a shutdown could only fail.
  bool bothDirectionsEnded() const { return peerHasClosed() && output_ == StreamOutput::Shut; }

  void OnReceive(int nErrorCode) override;
  void OnSend(int nErrorCode) override;
  void OnOutOfBandData(int nErrorCode) override;
  void OnAccept(int nErrorCode) override;
  void OnConnect(int nErrorCode) override;
  void OnClose(int nErrorCode) override;

private:
  enum class ReadResult { More, Drained, Full, NoMemory, PeerClosed, Failed };
  ReadResult receiveOnce();
  void noteQueued();
  void pauseReading();
  void resumeReading();
  void peerClosed();
  bool inputDelivered();

  using Input = StreamInput;
  using Output = StreamOutput;
  bool peerHasClosed() const { return input_ == Input::Closing || input_ == Input::Delivered; }
  void noteMoved();
  void gateWoke();
  void gateCut(net::FaultGate::Cut how);

  std::unique_ptr<net::FaultGate> gate_;  // only while faults are set on this direction
  CaptureStore* capture_ = nullptr;
  std::uint64_t captureSerial_ = 0;
  Direction captureDirection_ = Direction::up;

  net::ByteRing sendQueue_;
  Input input_ = Input::Open;
  Output output_ = Output::Open;
  Clock::time_point lastMoved_{};  // the epoch until watchIdle()
};
