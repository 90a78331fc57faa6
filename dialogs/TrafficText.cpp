#include "dialogs/TrafficText.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <iconv.h>

#include "dialogs/CountText.h"

namespace traffic {
namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr const char* kCutNote = "（表示はここまでです。続きは保存したファイルでご覧ください）\n";
// Shift-JIS as Japanese PCs write it: 0x5C is a backslash, and the vendor rows are characters.
constexpr const char* kShiftJisTable = "CP932";

iconv_t handle(void* converter) { return static_cast<iconv_t>(converter); }

int index(Direction d) { return d == Direction::up ? 0 : 1; }
const char* label(Direction d) { return d == Direction::up ? "上り" : "下り"; }

// U+2400.. for C0 controls, U+2421 for DEL: seen, never acting on the view.
void appendPicture(std::string& out, unsigned char c) {
  out += "\xE2\x90";
  out += static_cast<char>(c == 0x7F ? 0xA1 : 0x80 + c);
}

// Decoded text as the view shows it; `in` is valid UTF-8, so a byte below 0x80 is a character.
std::string visible(const std::string& in) {
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    const auto c = static_cast<unsigned char>(in[i]);
    if (c == '\r' && i + 1 < in.size() && in[i + 1] == '\n') continue;
    if (c == '\n' || c == '\t' || (c >= 0x20 && c != 0x7F)) out += in[i];
    else
      appendPicture(out, c);
  }
  return out;
}

// Length of the UTF-8 sequence starting at `at`: 0 for a byte that starts none (or a sequence
// broken after it), -1 for a sequence that is valid so far but cut by the end of `in`.
int sequenceAt(std::string_view in, std::size_t at) {
  const auto c = static_cast<unsigned char>(in[at]);
  if (c < 0x80) return 1;
  int need = 0;
  unsigned char low = 0x80, high = 0xBF;  // what the first continuation byte may be
  if (c >= 0xC2 && c <= 0xDF) need = 1;
  else if (c >= 0xE0 && c <= 0xEF)
    need = 2, low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;  // no overlongs, no surrogates
  else if (c >= 0xF0 && c <= 0xF4)
    need = 3, low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
  else
    return 0;
  for (int j = 1; j <= need; ++j, low = 0x80, high = 0xBF) {
    if (at + j >= in.size()) return -1;
    const auto b = static_cast<unsigned char>(in[at + j]);
    if (b < low || b > high) return 0;
  }
  return need + 1;
}

}  // namespace

std::string clockText(std::chrono::system_clock::time_point wall, bool milliseconds) {
  using namespace std::chrono;
  const std::time_t seconds = system_clock::to_time_t(wall);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char text[32];
  const auto ms = duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count() % 1000;
  if (milliseconds)
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms));
  else
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::string endpointText(const Endpoint& endpoint) {
  const std::string address = endpoint.v6 ? "[" + endpoint.text() + "]" : endpoint.text();
  return address + ":" + std::to_string(endpoint.port);
}

std::string hexLines(std::string_view bytes, std::uint64_t offset) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t line = 0; line < bytes.size(); line += 16) {
    char head[24];
    std::snprintf(head, sizeof head, "%08llx  ", static_cast<unsigned long long>(offset + line));
    out += head;
    std::string printable;
    for (std::size_t i = line; i < line + 16; ++i) {
      if (i == line + 8) out += ' ';
      if (i >= bytes.size()) {
        out += "   ";
        continue;
      }
      const auto c = static_cast<unsigned char>(bytes[i]);
      out += kDigits[c >> 4], out += kDigits[c & 15], out += ' ';
      printable += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
    }
    out += ' ' + printable + '\n';
  }
  return out;
}

Decoder::Decoder(Encoding encoding) : encoding_(encoding) {
  if (encoding != Encoding::shiftJis) return;
  const iconv_t cd = ::iconv_open("UTF-8", kShiftJisTable);
  if (cd != reinterpret_cast<iconv_t>(-1)) converter_ = cd;
}

Decoder::~Decoder() {
  if (converter_) ::iconv_close(handle(converter_));
}

std::string Decoder::feed(std::string_view bytes) {
  std::string in = held_;
  in.append(bytes);
  held_.clear();
  std::string out = encoding_ == Encoding::utf8 ? decodeUtf8(in) : decodeShiftJis(in);
  // A CR waits for the next byte: before an LF it is the line's end and not shown.
  if (held_.empty() && !out.empty() && out.back() == '\r') {
    out.pop_back();
    held_ = "\r";
  }
  return visible(out);
}

std::string Decoder::finish() {
  std::string out;
  for (char c : held_) {
    if (c == '\r') appendPicture(out, '\r');
    else
      out += kReplacement;
  }
  held_.clear();
  return out;
}

std::string Decoder::decodeUtf8(std::string_view in) {
  std::string out;
  for (std::size_t at = 0; at < in.size();) {
    const int n = sequenceAt(in, at);
    if (n < 0) {
      held_.assign(in.substr(at));
      break;
    }
    if (n == 0) out += kReplacement, ++at;
    else
      out.append(in.substr(at, n)), at += n;
  }
  return out;
}

std::string Decoder::decodeShiftJis(std::string_view in) {
  std::string out;
  if (!converter_) {  // without the table only ASCII can be told
    for (char c : in) {
      if (static_cast<unsigned char>(c) < 0x80) out += c;
      else
        out += kReplacement;
    }
    return out;
  }
  std::string source(in);
  char* from = source.data();
  std::size_t left = source.size();
  while (left > 0) {
    char buffer[4096];
    char* to = buffer;
    std::size_t room = sizeof buffer;
    const std::size_t done = ::iconv(handle(converter_), &from, &left, &to, &room);
    out.append(buffer, static_cast<std::size_t>(to - buffer));
    if (done != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    if (errno == EINVAL) {  // a lead byte at the end: its partner may come with the next piece
      held_.assign(from, left);
      break;
    }
    out += kReplacement, ++from, --left;  // EILSEQ
  }
  return out;
}

Transcript::Transcript(const CapturedConnection& connection, Layout layout, Encoding encoding, std::size_t limit)
    : layout_(layout),
      opened_(connection.openedSteady),
      limit_(limit),
      decoders_{Decoder(encoding), Decoder(encoding)} {}

std::string Transcript::append(const CapturedConnection& connection) {
  std::string out;
  for (; taken_ < connection.pieces.size(); ++taken_) {
    const std::string text = piece(connection.pieces[taken_]);
    size_ += text.size();
    out += text;
  }
  if (connection.ended && !finished_) {
    finished_ = true;
    for (Decoder& d : decoders_) {
      const std::string rest = d.finish();
      if (!rest.empty() && !cut_) out += rest + '\n', size_ += rest.size() + 1;
    }
  }
  return out;
}

std::string Transcript::piece(const Piece& p) {
  const bool data = p.kind == Piece::Kind::data;
  if (data && cut_) return {};
  std::string out = gapBefore(p);
  if (data && size_ + out.size() >= limit_) {
    cut_ = true;
    return out + kCutNote;
  }
  out += heading(p);
  if (data) out += body(p);
  else {
    // The stream has ended that way (both ways for a reset): a character it cut is shown as cut.
    for (int i = 0; i < 2; ++i) {
      if (p.kind == Piece::Kind::fin && i != index(p.direction)) continue;
      const std::string rest = decoders_[i].finish();
      if (!rest.empty() && !cut_) out.insert(0, rest + '\n');
    }
  }
  return out;
}

std::string Transcript::heading(const Piece& p) const {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  std::string out = std::string("【") + label(p.direction) + "】 " + clockText(p.wall) + " (+" +
                    std::to_string(duration_cast<milliseconds>(p.steady - opened_).count()) + " ms) ";
  switch (p.kind) {
    case Piece::Kind::data: return out + thousands(p.bytes.size()) + " バイト\n";
    case Piece::Kind::fin: return out + "FIN\n";
    case Piece::Kind::rst: return out + "RST\n";
  }
  return out + '\n';
}

std::string Transcript::body(const Piece& p) {
  const int i = index(p.direction);
  next_[i] = p.offset + p.bytes.size();
  if (layout_ == Layout::hex) return hexLines(p.bytes, p.offset);
  std::string text = decoders_[i].feed(p.bytes);
  if (!text.empty() && text.back() != '\n') text += '\n';
  return text;
}

// Bytes that passed but were not kept (past the capture's bound each way).
std::string Transcript::gapBefore(const Piece& p) {
  const int i = index(p.direction);
  if (p.offset <= next_[i] || cut_) return {};
  const std::uint64_t missing = p.offset - next_[i];
  next_[i] = p.offset;
  std::string out = decoders_[i].finish();
  if (!out.empty()) out += '\n';
  return out + "（" + label(p.direction) + "の " + thousands(missing) + " バイトは記録されていません）\n";
}

}  // namespace traffic
