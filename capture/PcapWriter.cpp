#include "capture/PcapWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "capture/CaptureStore.h"
#include "capture/ConnectionPackets.h"

namespace {
constexpr std::uint16_t linktypeRaw = 101;
constexpr std::uint32_t shbType = 0x0A0D0D0A, idbType = 1, epbType = 6;
}  // namespace

// Both formats are written in this machine's byte order; their magic numbers tell a reader which.
PcapWriter::PcapWriter(const std::string& path, PcapFormat format)
    : file_(std::fopen(path.c_str(), "wb")), format_(format) {
  if (!file_) {
    fail();
    return;
  }
  if (format_ == PcapFormat::pcap) {
    write32(0xa1b2c3d4);
    write16(2);
    write16(4);
    write32(0);  // time zone
    write32(0);  // accuracy
    write32(65535);
    write32(linktypeRaw);
    return;
  }
  write32(shbType);
  write32(28);
  write32(0x1A2B3C4D);
  write16(1);
  write16(0);
  const std::int64_t unknownLength = -1;
  write(&unknownLength, 8);
  write32(28);
  write32(idbType);
  write32(20);
  write16(linktypeRaw);
  write16(0);
  write32(0);  // no snap length
  write32(20);
}

PcapWriter::~PcapWriter() { close(); }

void PcapWriter::fail() {
  if (!failed_) error_ = errno ? errno : EIO;
  failed_ = true;
}

void PcapWriter::write(const void* bytes, std::size_t n) {
  if (!file_) return;
  if (std::fwrite(bytes, 1, n, file_) != n) fail();
  size_ += n;
}

std::uint64_t PcapWriter::packetSize(PcapFormat format, std::size_t ipLength) {
  return format == PcapFormat::pcap ? 16 + ipLength : 32 + ((ipLength + 3) & ~std::size_t{3});
}

bool PcapWriter::flush() {
  if (file_ && std::fflush(file_) != 0) fail();
  return ok();
}

void PcapWriter::packet(std::chrono::system_clock::time_point wall, std::string_view ip) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(wall.time_since_epoch()).count();
  const auto stamp = static_cast<std::uint64_t>(us);
  const auto length = static_cast<std::uint32_t>(ip.size());
  if (format_ == PcapFormat::pcap) {
    write32(static_cast<std::uint32_t>(stamp / 1000000));
    write32(static_cast<std::uint32_t>(stamp % 1000000));
    write32(length);
    write32(length);
    write(ip.data(), ip.size());
    return;
  }
  const std::uint32_t padded = (length + 3) & ~3u;
  write32(epbType);
  write32(32 + padded);
  write32(0);  // interface
  write32(static_cast<std::uint32_t>(stamp >> 32));
  write32(static_cast<std::uint32_t>(stamp & 0xffffffff));
  write32(length);
  write32(length);
  write(ip.data(), ip.size());
  const char zeros[4] = {};
  write(zeros, padded - length);
  write32(32 + padded);
}

bool PcapWriter::close() {
  if (file_ && std::fclose(file_) != 0) fail();
  file_ = nullptr;
  return !failed_;
}

bool writeConnection(const CapturedConnection& connection, const std::string& path, PcapFormat format) {
  PcapWriter w(path, format);
  for (const SynthPacket& p : connectionPackets(connection)) w.packet(p.wall, p.ip);
  return w.ok() && w.close();
}

bool writeStore(const CaptureStore& store, const std::string& path, PcapFormat format) {
  std::vector<SynthPacket> all;
  for (const CapturedConnection* c : store.connections()) {
    std::vector<SynthPacket> one = connectionPackets(*c);
    std::move(one.begin(), one.end(), std::back_inserter(all));
  }
  std::stable_sort(all.begin(), all.end(),
                   [](const SynthPacket& a, const SynthPacket& b) { return a.steady < b.steady; });
  PcapWriter w(path, format);
  for (const SynthPacket& p : all) w.packet(p.wall, p.ip);
  return w.ok() && w.close();
}
