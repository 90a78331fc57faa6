#include "capture/CaptureFile.h"

#include <cerrno>
#include <cstdio>

namespace {

PcapFormat formatOf(const std::string& path) {
  const std::string suffix = ".pcap";
  const bool pcap = path.size() >= suffix.size() &&
                    path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
  return pcap ? PcapFormat::pcap : PcapFormat::pcapng;
}

}  // namespace

CaptureFile::CaptureFile(std::string path, std::uint64_t rotateBytes, std::function<void(int err)> failed)
    : path_(std::move(path)), format_(formatOf(path_)), bound_(rotateBytes), failed_(std::move(failed)) {
  open();
}

bool CaptureFile::open() {
  if (writer_ && !writer_->close()) return fail(writer_->error()), false;
  writer_.reset();
  for (int n = kFiles - 1; n >= 1; --n) {
    const std::string from = n == 1 ? path_ : path_ + "." + std::to_string(n - 1);
    if (std::rename(from.c_str(), (path_ + "." + std::to_string(n)).c_str()) != 0 && errno != ENOENT)
      return fail(errno), false;
  }
  writer_ = std::make_unique<PcapWriter>(path_, format_);
  if (!writer_->flush()) return fail(writer_->error()), false;
  headerSize_ = writer_->size();
  return true;
}

void CaptureFile::fail(int err) {
  writer_.reset();
  live_.clear();
  if (failed_) failed_(err);
}

void CaptureFile::opened(const CapturedConnection& connection) {
  if (!writer_) return;
  live_.insert_or_assign(connection.serial, ConnectionSynth(connection)).first->second.opening(made_);
  write();
}

// A connection that opened before the file did is left out: it has no beginning here.
void CaptureFile::piece(std::uint64_t serial, const Piece& piece) {
  auto it = live_.find(serial);
  if (!writer_ || it == live_.end()) return;
  it->second.piece(piece, made_);
  write();
}

void CaptureFile::ended(std::uint64_t serial) { live_.erase(serial); }

void CaptureFile::write() {
  for (const SynthPacket& p : made_) {
    const std::uint64_t size = PcapWriter::packetSize(format_, p.ip.size());
    if (writer_->size() + size > bound_ && writer_->size() > headerSize_ && !open()) break;
    writer_->packet(p.wall, p.ip);
  }
  made_.clear();
  if (writer_ && !writer_->flush()) fail(writer_->error());
}
