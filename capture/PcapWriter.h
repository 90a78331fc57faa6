#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

class CaptureStore;
struct CapturedConnection;

enum class PcapFormat { pcapng, pcap };

// Writes raw IP packets (link type RAW, so IPv4 and IPv6 share one file) to a capture file.
// Owns the file it opened; the header goes out on opening.
class PcapWriter {
public:
  PcapWriter(const std::string& path, PcapFormat format);
  ~PcapWriter();
  PcapWriter(const PcapWriter&) = delete;
  PcapWriter& operator=(const PcapWriter&) = delete;

  bool ok() const { return file_ && !failed_; }
  void packet(std::chrono::system_clock::time_point wall, std::string_view ip);
  bool flush();                                 // what stdio holds goes to the file; false when any write failed
  bool close();                                 // flushes; false when any write failed
  int error() const { return error_; }          // errno of the first failure, 0 for none
  std::uint64_t size() const { return size_; }  // bytes written, header included
  // What a packet of `ipLength` bytes takes in a file of this format.
  static std::uint64_t packetSize(PcapFormat format, std::size_t ipLength);

private:
  void fail();
  void write(const void* bytes, std::size_t n);
  void write32(std::uint32_t v) { write(&v, 4); }
  void write16(std::uint16_t v) { write(&v, 2); }

  std::FILE* file_ = nullptr;
  PcapFormat format_;
  bool failed_ = false;
  int error_ = 0;
  std::uint64_t size_ = 0;
};

// One connection, or every connection of a slot in time order; false when the file failed.
bool writeConnection(const CapturedConnection& connection, const std::string& path,
                     PcapFormat format = PcapFormat::pcapng);
bool writeStore(const CaptureStore& store, const std::string& path, PcapFormat format = PcapFormat::pcapng);
