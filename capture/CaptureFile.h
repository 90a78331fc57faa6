#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "capture/CaptureSink.h"
#include "capture/ConnectionPackets.h"
#include "capture/PcapWriter.h"

// A slot's capture written to a file as it happens: pcap when the path ends in ".pcap", else
// pcapng. Before a packet would take the file past its bound it is rotated, as a file of that
// name found at opening is: PATH is always the newest, the older ones move to PATH.1 .. PATH.4
// and the oldest is dropped. Each file starts with its own header; a connection that began in an
// earlier file goes on where it was. Flushed after every event, so a reader sees whole packets.
// A failure (disk full, folder gone) stops the file for good and is told once.
class CaptureFile final : public CaptureSink {
public:
  static constexpr int kFiles = 5;

  // failed: told the errno of the failure that stopped the file.
  CaptureFile(std::string path, std::uint64_t rotateBytes, std::function<void(int err)> failed);
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  bool writing() const { return writer_ != nullptr; }
  const std::string& path() const { return path_; }

  void opened(const CapturedConnection& connection) override;
  void piece(std::uint64_t serial, const Piece& piece) override;
  void ended(std::uint64_t serial) override;

private:
  bool open();   // a fresh file at PATH, the ones there moved down
  void write();  // the packets made, then a flush
  void fail(int err);

  const std::string path_;
  const PcapFormat format_;
  const std::uint64_t bound_;
  std::function<void(int)> failed_;
  std::unique_ptr<PcapWriter> writer_;  // null once failed
  std::uint64_t headerSize_ = 0;        // a file without packets
  std::unordered_map<std::uint64_t, ConnectionSynth> live_;
  std::vector<SynthPacket> made_;
};
