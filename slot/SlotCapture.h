#pragma once
// The capture keys of a slot's section:
//   CAPTURE        1: the slot captures what each connection carries; 0 (the default) off
//   CAPTUREKB      KiB kept per direction of each connection, 1..1048576 (256)
//   CAPTUREMB      MiB the slot holds in all, the oldest connections dropped first, 1..4096 (16)
//   CAPTUREFILE    a file the capture is written to as it happens while the slot is ON: pcap when
//                  the name ends in ".pcap", else pcapng; a relative path is taken from the
//                  settings file's folder
//   CAPTUREFILEMB  MiB at which that file is rotated, five files kept, 1..4096 (16)
// Read strictly: an invalid value is named in the problems and the default used (an invalid
// CAPTUREFILE writes no file). Written only once the user sets them: the panel's switch marks
// CAPTURE, the others are edited by hand.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/CaptureStore.h"
#include "slot/IniDocument.h"

class CaptureFile;

struct CaptureSettings {
  static constexpr int kDefaultKB = 256, kMaxKB = 1048576, kDefaultMB = 16, kMaxMB = 4096;

  bool on = false;
  int kb = kDefaultKB;
  int mb = kDefaultMB;
  std::string file;  // as written; "" for none, also when invalid
  int fileMb = kDefaultMB;

  // Fills from the section; every invalid value gets a line in `problems`.
  void load(const ini::Document& doc, const std::string& section, std::vector<std::string>& problems);
  bool operator==(const CaptureSettings&) const = default;
  // A CAPTUREFILE that can name a file: no control character, not ending in a folder.
  static bool isValidFile(const std::string& text);
};

// What a slot's capture runs on: the store, kept while the slot lives, and the file.
class CSlotCapture {
public:
  CSlotCapture();
  ~CSlotCapture();
  CSlotCapture(const CSlotCapture&) = delete;
  CSlotCapture& operator=(const CSlotCapture&) = delete;

  CaptureSettings settings;

  const CaptureStore* store() const { return store_.get(); }
  // The store to capture into as the settings say, null when off. A store whose limits changed
  // is replaced; the file (path: "" for none) is opened, changed or closed. `detach` runs first
  // whenever the store or file in use goes, so nothing captures into them then. `failed` is
  // told the errno of a write that stopped the file.
  CaptureStore* apply(const std::string& path, const std::function<void()>& detach,
                      const std::function<void(int err)>& failed);

private:
  std::unique_ptr<CaptureFile> file_;  // the store's sink while it is open
  std::unique_ptr<CaptureStore> store_;
  int fileMb_ = CaptureSettings::kDefaultMB;
};
