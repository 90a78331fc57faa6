#include "dialogs/FaultDlg.h"

#include <QLineEdit>
#include <QString>
#include <charconv>

#include "res/Resource.h"
#include "ui/DataExchange.h"
#include "ui/MessageBox.h"

namespace {

// The words beside each key's field, in the text form's order.
constexpr std::array<const char*, net::kFaultKeys> kLabels{
    "遅延 (ms)",           "ゆらぎ (ms)",     "帯域 (KiB/s)",      "転送上限 (バイト)", "リセットまでのバイト数",
    "分割サイズ (バイト)", "分割の間隔 (ms)", "タイムアウト (ms)", "切断の遅れ (ms)",   "リセットの確率 (%)"};

int fieldId(bool downward, std::size_t key) {
  return (downward ? IDC_FAULT_DOWN0 : IDC_FAULT_UP0) + static_cast<int>(key);
}

CFaultDlg::Fields fieldsOf(const net::FaultSet& set) {
  CFaultDlg::Fields fields;
  for (std::size_t key = 0; key < net::kFaultKeys; ++key)
    if (const long long value = net::faultValue(set, key); value != net::faultKeys()[key].unset)
      fields[key] = std::to_string(value);
  return fields;
}

}  // namespace

CFaultDlg::CFaultDlg(net::Faults& working) : ui::CDialog(IDD_FAULT), working_(working) {
  onCommand(IDC_FAULT_CLEAR, &CFaultDlg::onClear);
}

CFaultDlg::~CFaultDlg() = default;

std::string CFaultDlg::label(bool downward, std::size_t key) {
  return std::string(downward ? "下り" : "上り") + " " + kLabels[key];
}

void CFaultDlg::doDataExchange(ui::CDataExchange& dx) {
  for (std::size_t key = 0; key < net::kFaultKeys; ++key) {
    ui::ddxText(dx, fieldId(false, key), up[key]);
    ui::ddxText(dx, fieldId(true, key), down[key]);
  }
}

bool CFaultDlg::onInitDialog() {
  up = fieldsOf(working_.up);
  down = fieldsOf(working_.down);
  return ui::CDialog::onInitDialog();
}

void CFaultDlg::onClear() {
  up = down = Fields{};
  updateData(false);
}

bool CFaultDlg::take(bool downward, const Fields& fields, net::FaultSet& set) {
  set = {};
  for (std::size_t key = 0; key < net::kFaultKeys; ++key) {
    const std::string text = QString::fromStdString(fields[key]).trimmed().toStdString();
    if (text.empty()) continue;
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc() && end == text.data() + text.size() && net::setFaultValue(set, key, value)) continue;
    const net::FaultKey& k = net::faultKeys()[key];
    const std::string takes = std::to_string(k.low) + "～" + std::to_string(k.high);
    ui::messageBox(QString::fromUtf8(kBadValue)
                       .arg(QString::fromStdString(label(downward, key)), QString::fromStdString(fields[key]),
                            QString::fromStdString(takes))
                       .toStdString(),
                   this);
    if (QWidget* control = item(fieldId(downward, key))) control->setFocus();
    return false;
  }
  return true;
}

void CFaultDlg::onOK() {
  if (!updateData(true)) return;
  net::Faults edited;
  if (!take(false, up, edited.up) || !take(true, down, edited.down)) return;
  working_ = edited;
  endDialog(IDOK);
}
