#include "slot/SlotCapture.h"

#include <cstring>
#include <filesystem>

#include "capture/CaptureFile.h"
#include "log/EventLog.h"
#include "log/LogLines.h"
#include "slot/PortSlot.h"
#include "slot/SettingNumber.h"
#include "slot/SlotUdp.h"

void CaptureSettings::load(const ini::Document& doc, const std::string& section, std::vector<std::string>& problems) {
  *this = {};
  auto readInt = [&](const char* key, int low, int high, int def) {
    return setting_number::read(doc, section, key, low, high, def, problems);
  };
  on = readInt("CAPTURE", 0, 1, 0) == 1;
  kb = readInt("CAPTUREKB", 1, kMaxKB, kDefaultKB);
  mb = readInt("CAPTUREMB", 1, kMaxMB, kDefaultMB);
  fileMb = readInt("CAPTUREFILEMB", 1, kMaxMB, kDefaultMB);
  file = doc.get(section, "CAPTUREFILE").value_or("");
  if (!isValidFile(file)) {
    problems.push_back(section + " の CAPTUREFILE=" + file + " は無効な値です (ファイルのパス)");
    file.clear();
  }
}

bool CaptureSettings::isValidFile(const std::string& text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  const std::string name = std::filesystem::path(text).filename().string();
  return text.empty() || (name != "" && name != "." && name != "..");
}

CSlotCapture::CSlotCapture() = default;
CSlotCapture::~CSlotCapture() = default;

CaptureStore* CSlotCapture::apply(const std::string& path, const std::function<void()>& detach,
                                  const std::function<void(int err)>& failed) {
  const CaptureLimits limits = CaptureLimits::fromKeys(settings.kb, settings.mb);
  const bool newStore = store_ && (store_->limits().perDirection != limits.perDirection ||
                                   store_->limits().total != limits.total);
  const bool fileGoes = file_ && (path != file_->path() || settings.fileMb != fileMb_ || newStore);
  if (!settings.on || newStore || fileGoes) detach();
  if (fileGoes || (file_ && !settings.on)) {
    store_->setSink(nullptr);
    file_.reset();
  }
  if (!settings.on) return nullptr;
  if (!store_ || newStore) store_ = std::make_unique<CaptureStore>(limits);
  if (!file_ && !path.empty()) {
    fileMb_ = settings.fileMb;
    file_ = std::make_unique<CaptureFile>(path, std::uint64_t(fileMb_) << 20, failed);
    store_->setSink(file_.get());
  }
  return store_.get();
}

const CaptureStore* CPortSlot::capture() const { return captureState.store(); }

bool CPortSlot::capturing() const { return captureState.settings.on; }

void CPortSlot::setCapturing(bool on) {
  captureState.settings.on = on;
  markChanged("CAPTURE");
  applyCapture();
}

void CPortSlot::takeCapture(const CaptureSettings& fresh) {
  if (fresh == captureState.settings) return;
  captureState.settings = fresh;
  applyCapture();
}

// The file is written while the slot is ON; the store stays while the slot lives.
void CPortSlot::applyCapture() {
  std::string path = act == 1 ? captureState.settings.file : "";
  if (!path.empty() && std::filesystem::path(path).is_relative())
    path = (std::filesystem::path(iniPath).parent_path() / path).string();
  const auto detach = [this] {
    repeater.setCapture(nullptr);
    if (udp) udp->relay.setCapture(nullptr);
  };
  const auto failed = [this, path](int err) {
    if (evlog::enabled()) evlog::post(evlog::captureFailedLine(slotIndex, path, std::strerror(err)));
  };
  CaptureStore* store = captureState.apply(path, detach, failed);
  repeater.setCapture(store);
  if (udp) udp->relay.setCapture(store);
}
