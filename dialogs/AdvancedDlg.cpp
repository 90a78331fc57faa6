#include "dialogs/AdvancedDlg.h"

#include <QButtonGroup>
#include <QLineEdit>
#include <QRadioButton>
#include <QString>

#include "res/Resource.h"
#include "ui/DataExchange.h"
#include "ui/MessageBox.h"

namespace {

struct Field {
  const char* key;
  int id;
  const char* label;
};

// Each key's control and the words the dialog shows beside it.
constexpr Field kFields[] = {
    {"NAME", IDC_ADV_NAME, "名前"},
    {"BUFFERSIZE", IDC_ADV_NUMBER0 + advanced::BufferSize, "バッファサイズ (KiB)"},
    {"CONNECTTIMEOUT", IDC_ADV_NUMBER0 + advanced::ConnectTimeout, "接続タイムアウト (秒)"},
    {"HALFCLOSETIMEOUT", IDC_ADV_NUMBER0 + advanced::HalfCloseTimeout, "片側切断後の待ち (秒)"},
    {"IDLETIMEOUT", IDC_ADV_NUMBER0 + advanced::IdleTimeout, "無通信タイムアウト (秒)"},
    {"KEEPALIVE", IDC_ADV_NUMBER0 + advanced::KeepAlive, "キープアライブ (秒)"},
    {"MAXCONN", IDC_ADV_NUMBER0 + advanced::MaxConn, "最大接続数"},
    {"UDPTIMEOUT", IDC_ADV_NUMBER0 + advanced::UdpTimeout, "UDPタイムアウト (秒)"},
    {"RETRYDOWN", IDC_ADV_NUMBER0 + advanced::RetryDown, "停止後の再試行 (秒)"},
    {"CHECKINTERVAL", IDC_ADV_NUMBER0 + advanced::CheckInterval, "ヘルスチェック間隔 (秒)"},
    {"SOURCEADDRESS", IDC_ADV_SOURCE, "送信元アドレス"},
    {"BALANCE", IDC_ADV_BALANCE0, "振り分け"},
    {"SENDPROXY", IDC_ADV_PROXY_NONE, "PROXYプロトコル"},
};

std::string trimmed(const std::string& text) { return QString::fromStdString(text).trimmed().toStdString(); }

}  // namespace

CAdvancedDlg::CAdvancedDlg(advanced::Settings& working) : ui::CDialog(IDD_ADVANCED), working_(working) {}

CAdvancedDlg::~CAdvancedDlg() = default;

void CAdvancedDlg::doDataExchange(ui::CDataExchange& dx) {
  ui::ddxText(dx, IDC_ADV_NAME, edited.name);
  ui::ddxRadio(dx, IDC_ADV_TCP, protocol);
  for (int n = 0; n < advanced::kNumbers; ++n) ui::ddxText(dx, IDC_ADV_NUMBER0 + n, edited.numbers[n]);
  ui::ddxText(dx, IDC_ADV_SOURCE, edited.sourceAddress);
  ui::ddxRadio(dx, IDC_ADV_PROXY_NONE, edited.sendProxy);
  ui::ddxCheck(dx, IDC_ADV_ACCEPT_PROXY, acceptProxy);
  for (size_t i = 0; i < edited.forwards.size(); ++i)
    ui::ddxText(dx, IDC_ADV_FORWARD1 + static_cast<int>(i), edited.forwards[i]);
  ui::ddxRadio(dx, IDC_ADV_BALANCE0, edited.balance);
}

// The template's radio buttons share one parent, so each group needs a group of its own.
void CAdvancedDlg::groupRadios(int firstId, int count) {
  auto* group = new QButtonGroup(this);
  for (int id = firstId; id < firstId + count; ++id) group->addButton(itemAs<QRadioButton>(id));
}

bool CAdvancedDlg::onInitDialog() {
  groupRadios(IDC_ADV_TCP, 2);
  groupRadios(IDC_ADV_PROXY_NONE, 3);
  groupRadios(IDC_ADV_BALANCE0, 3);
  edited = working_;
  protocol = edited.udp ? 1 : 0;
  acceptProxy = edited.acceptProxy ? 1 : 0;
  return ui::CDialog::onInitDialog();
}

void CAdvancedDlg::refuse(const advanced::Problem& problem) {
  Field shown{problem.key.c_str(), IDC_ADV_FORWARD1, nullptr};
  for (const Field& field : kFields)
    if (problem.key == field.key) shown = field;
  std::string label = shown.label ? shown.label : "";
  if (problem.key.starts_with("FORWARD")) {  // FORWARDn
    shown.id = IDC_ADV_FORWARD1 + std::stoi(problem.key.substr(7)) - 1;
    label = "追加の転送先" + problem.key.substr(7);
  }
  const QString typed = edit(shown.id) ? edit(shown.id)->text() : QString();
  ui::messageBox(QString::fromUtf8(kBadValue)
                     .arg(QString::fromStdString(label), typed, QString::fromStdString(problem.expected))
                     .toStdString(),
                 this);
  if (QWidget* control = item(shown.id)) control->setFocus();
}

void CAdvancedDlg::onOK() {
  if (!updateData(true)) return;
  edited.name = trimmed(edited.name);
  edited.sourceAddress = trimmed(edited.sourceAddress);
  for (std::string& text : edited.numbers) text = trimmed(text);
  for (std::string& text : edited.forwards) text = trimmed(text);
  edited.udp = protocol == 1;
  edited.acceptProxy = acceptProxy != 0;
  if (const std::optional<advanced::Problem> problem = advanced::check(edited)) return refuse(*problem);
  working_ = edited;
  endDialog(IDOK);
}
