#pragma once
// How the traffic view writes a captured connection as text: a heading for each piece (its
// direction, wall-clock time and time since the opening), then its bytes either as hex-and-text
// lines or decoded as UTF-8 or Shift-JIS. No Qt, so it is exercised without widgets.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "capture/CapturedConnection.h"

namespace traffic {

enum class Layout { hex, text };
enum class Encoding { utf8, shiftJis };

// "12:34:56.789" in local time.
std::string clockText(std::chrono::system_clock::time_point wall, bool milliseconds = true);
// "127.0.0.1:40001", "[::1]:40002".
std::string endpointText(const Endpoint& endpoint);
// One line per 16 bytes: the stream offset, the bytes as hex, the printable ASCII characters.
std::string hexLines(std::string_view bytes, std::uint64_t offset);

// Turns one direction's bytes into UTF-8 text as they arrive. A character cut at the end of a
// piece is held until the rest comes; each byte that starts no character becomes one replacement
// mark; control characters show as their pictures (a CR before LF is left out). Owns its
// converter.
class Decoder {
public:
  explicit Decoder(Encoding encoding);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  std::string feed(std::string_view bytes);
  std::string finish();  // the stream ended: what is still held, as marks

private:
  std::string decodeUtf8(std::string_view in);
  std::string decodeShiftJis(std::string_view in);

  Encoding encoding_;
  void* converter_ = nullptr;  // iconv's handle; null when the system has no Shift-JIS table
  std::string held_;
};

// One connection written piece by piece in time order. What it wrote once never changes, so a
// view appends what append() returns. Past `limit` bytes of text it writes no more data (it says
// so once), only the FIN and RST marks.
class Transcript {
public:
  static constexpr std::size_t kDefaultLimit = 4u << 20;

  Transcript(const CapturedConnection& connection, Layout layout, Encoding encoding, std::size_t limit = kDefaultLimit);

  // The text of the pieces not written yet, and of the end once the connection has ended.
  std::string append(const CapturedConnection& connection);
  // False for another connection under the same serial: what was written is not its beginning.
  bool follows(const CapturedConnection& connection) const {
    return connection.openedSteady == opened_ && connection.pieces.size() >= taken_;
  }
  std::size_t size() const { return size_; }

private:
  std::string piece(const Piece& p);
  std::string heading(const Piece& p) const;
  std::string body(const Piece& p);
  std::string gapBefore(const Piece& p);

  Layout layout_;
  std::chrono::steady_clock::time_point opened_;
  std::size_t limit_;
  std::size_t size_ = 0;
  std::size_t taken_ = 0;  // pieces written
  bool cut_ = false, finished_ = false;
  Decoder decoders_[2];
  std::uint64_t next_[2] = {0, 0};  // stream offset each way after the last piece written
};

}  // namespace traffic
