// The program's dialog templates and string table.
#include "res/DialogTemplate.h"
#include "res/Resource.h"

#include <array>

namespace res {
namespace {

constexpr const char* kFont = "ＭＳ Ｐゴシック";
constexpr int kFontSize = 9;

using K = ControlKind;

constexpr uint32_t kPanelValue = VCenter | NoPrefix;
constexpr uint32_t kPortEdit = Border | AlignRight | AutoHScroll | TabStop;
constexpr uint32_t kPortSpin = SpinAutoBuddy | SpinAlignRight | SpinSetBuddyInt;

// About box.
constexpr std::array kAbout{
    ControlTemplate{IDC_STATIC, K::Icon, "", 11, 17, 20, 20, 0},
    ControlTemplate{IDC_VERSION, K::Static, "Relvane Version 1.0", 40, 10, 135, 8, NoPrefix},
    ControlTemplate{IDC_STATIC, K::Static, "TCP リレー for Linux", 40, 25, 119, 8, 0},
    ControlTemplate{IDOK, K::PushButton, "OK", 178, 7, 50, 14, Default | TabStop},
    ControlTemplate{IDC_HOMEPAGE_LINK, K::Link, "<a>Bramblecoteホームページ</a>", 40, 37, 80, 11, TabStop},
};

// Main window: only the link in the band above the panels.
constexpr std::array kMain{
    ControlTemplate{IDC_HOMEPAGE_LINK, K::Link, "<a>Powered By Bramblecote</a>", 110, 0, 82, 12, TabStop},
};

// Port panel.
constexpr std::array kPortPanel{
    ControlTemplate{IDC_LISTEN_GROUP, K::GroupBox, "TCP ：65535", 2, 2, 48, 37, 0},
    ControlTemplate{IDC_ACTIVE, K::CheckBox, "OFF", 9, 16, 23, 14, PushLike | AlignCenter | TabStop},
    ControlTemplate{IDC_SETTINGS, K::PushButton, "設定", 54, 5, 20, 16, TabStop},
    ControlTemplate{IDC_CONFIRM, K::PushButton, "確認", 79, 5, 20, 15, TabStop},
    // The fixed labels are a little wider than first drawn: the substitute font needs it.
    ControlTemplate{IDC_STATIC, K::Static, "接続数", 53, 24, 21, 11, AlignRight | kPanelValue},
    ControlTemplate{IDC_COUNT, K::Static, "0000", 79, 23, 19, 12, AlignRight | kPanelValue},
    ControlTemplate{IDC_STATIC, K::GroupBox, "転送先", 104, 2, 82, 37, 0},
    ControlTemplate{IDC_STATIC, K::Static, "Ip/Host", 119, 10, 25, 11, kPanelValue},
    ControlTemplate{IDC_FORWARD_HOST, K::Static, "255.255.255.255", 108, 22, 48, 13, AlignCenter | kPanelValue},
    ControlTemplate{IDC_STATIC, K::Static, "Port No.", 158, 10, 27, 11, kPanelValue},
    ControlTemplate{IDC_FORWARD_PORT, K::Static, "65535", 159, 22, 22, 13, AlignRight | kPanelValue},
};

// Settings dialog; template order is the tab order.
constexpr std::array kSetting{
    ControlTemplate{IDC_STATIC, K::GroupBox, "フォワード設定", 2, 4, 185, 44, 0},
    ControlTemplate{IDC_STATIC, K::Static, "Port No.", 17, 15, 26, 13, 0},
    ControlTemplate{IDC_LISTEN_PORT_EDIT, K::Edit, "", 13, 29, 33, 12, kPortEdit},
    ControlTemplate{IDC_LISTEN_PORT_SPIN, K::Spin, "", 47, 29, 10, 11, kPortSpin},
    ControlTemplate{IDC_STATIC, K::Static, ">>>>", 60, 29, 17, 11, 0},
    ControlTemplate{IDC_STATIC, K::Static, "Ip/Host", 83, 15, 24, 9, 0},
    ControlTemplate{IDC_LOCALHOST, K::CheckBox, "localhost", 108, 14, 40, 11, TabStop},
    ControlTemplate{IDC_HOST_EDIT, K::Edit, "", 81, 29, 61, 12, Border | AutoHScroll | TabStop},
    ControlTemplate{IDC_STATIC, K::Static, "Port No.", 155, 14, 26, 13, 0},
    ControlTemplate{IDC_FORWARD_PORT_EDIT, K::Edit, "", 144, 29, 32, 12, kPortEdit},
    ControlTemplate{IDC_FORWARD_PORT_SPIN, K::Spin, "", 171, 29, 11, 12, kPortSpin | SpinArrowKeys},
    ControlTemplate{IDOK, K::PushButton, "OK", 2, 51, 50, 14, Default | TabStop},
    ControlTemplate{IDCANCEL, K::PushButton, "ｷｬﾝｾﾙ", 137, 51, 50, 14, TabStop},
};

// Connection status dialog: wide enough for the ten address columns and the three of counts.
constexpr std::array kStatus{
    ControlTemplate{IDOK, K::PushButton, "閉じる", 473, 4, 50, 14, Default | TabStop},
    ControlTemplate{IDC_CONNECTION_LIST, K::ListView, "", 3, 19, 520, 72, Border | SingleSelection | TabStop},
};

// Log window: the newest lines last; a search leaves the lines holding its text, and copy and
// save take the lines shown. The search comes first in the tab order.
constexpr std::array kLog{
    ControlTemplate{IDC_STATIC, K::Static, "検索", 3, 4, 18, 14, VCenter | NoPrefix},
    ControlTemplate{IDC_LOG_SEARCH, K::Edit, "", 22, 5, 150, 12, Border | AutoHScroll | TabStop},
    ControlTemplate{IDC_LOG_SHOWN, K::Static, "", 176, 4, 100, 14, VCenter | NoPrefix},
    ControlTemplate{IDC_LOG_SAVE, K::PushButton, "保存...", 311, 4, 50, 14, TabStop},
    ControlTemplate{IDC_LOG_CLEAR, K::PushButton, "クリア", 365, 4, 50, 14, TabStop},
    ControlTemplate{IDC_LOG_COPY, K::PushButton, "コピー", 419, 4, 50, 14, TabStop},
    ControlTemplate{IDOK, K::PushButton, "閉じる", 473, 4, 50, 14, Default | TabStop},
    ControlTemplate{IDC_LOG_TEXT, K::Edit, "", 3, 19, 520, 178, Border | Multiline | ReadOnly | TabStop},
};

// Access dialog: who may connect to one slot, and the address it listens on.
constexpr uint32_t kRuleEdit = Border | AutoHScroll | TabStop;
constexpr std::array kAccess{
    ControlTemplate{IDC_STATIC, K::GroupBox, "接続を受け付ける相手", 4, 4, 252, 62, 0},
    ControlTemplate{IDC_MODE_ALL, K::RadioButton, "すべて受け付ける", 12, 15, 236, 10, TabStop},
    ControlTemplate{IDC_MODE_LOCALHOST, K::RadioButton, "このPCからのみ (127.0.0.1, ::1)", 12, 27, 236, 10, 0},
    ControlTemplate{IDC_MODE_PRIVATE, K::RadioButton, "ループバックとプライベートネットワーク", 12, 39, 236, 10, 0},
    ControlTemplate{IDC_MODE_RULES, K::RadioButton, "下の許可・拒否ルールで決める", 12, 51, 236, 10, 0},
    ControlTemplate{IDC_STATIC, K::Static, "例: 192.168.1.0/24  10.0.0.5  2001:db8::/32（拒否が許可に優先）", 6, 69,
                    248, 9, VCenter | NoPrefix},
    ControlTemplate{IDC_STATIC, K::GroupBox, "許可ルール", 4, 80, 124, 92, 0},
    ControlTemplate{IDC_ALLOW_LIST, K::ListBox, "", 10, 91, 112, 48, Border | TabStop},
    ControlTemplate{IDC_ALLOW_EDIT, K::Edit, "", 10, 142, 112, 12, kRuleEdit},
    ControlTemplate{IDC_ALLOW_ADD, K::PushButton, "追加", 10, 156, 40, 13, TabStop},
    ControlTemplate{IDC_ALLOW_REMOVE, K::PushButton, "削除", 82, 156, 40, 13, TabStop},
    ControlTemplate{IDC_STATIC, K::GroupBox, "拒否ルール", 132, 80, 124, 92, 0},
    ControlTemplate{IDC_DENY_LIST, K::ListBox, "", 138, 91, 112, 48, Border | TabStop},
    ControlTemplate{IDC_DENY_EDIT, K::Edit, "", 138, 142, 112, 12, kRuleEdit},
    ControlTemplate{IDC_DENY_ADD, K::PushButton, "追加", 138, 156, 40, 13, TabStop},
    ControlTemplate{IDC_DENY_REMOVE, K::PushButton, "削除", 210, 156, 40, 13, TabStop},
    ControlTemplate{IDC_STATIC, K::GroupBox, "待ち受けアドレス", 4, 176, 252, 30, 0},
    ControlTemplate{IDC_LISTEN_HOST_EDIT, K::Edit, "", 10, 188, 100, 12, kRuleEdit},
    ControlTemplate{IDC_STATIC, K::Static, "空欄=すべてのアドレス、::=IPv4とIPv6の両方", 116, 188, 136, 12,
                    VCenter | NoPrefix},
    ControlTemplate{IDOK, K::PushButton, "OK", 4, 210, 50, 14, Default | TabStop},
    ControlTemplate{IDCANCEL, K::PushButton, "ｷｬﾝｾﾙ", 206, 210, 50, 14, TabStop},
};

// Totals of one slot since its switch-on: names on the left, figures right-aligned beside them.
constexpr std::array kTotals{
    ControlTemplate{IDC_TOTALS_HEADING, K::Static, "", 6, 5, 188, 10, VCenter | NoPrefix},
    ControlTemplate{IDC_TOTALS_LABELS, K::Static, "", 6, 18, 76, 50, NoPrefix},
    ControlTemplate{IDC_TOTALS_VALUES, K::Static, "", 82, 18, 112, 50, AlignRight | NoPrefix},
    ControlTemplate{IDOK, K::PushButton, "閉じる", 144, 71, 50, 14, Default | TabStop},
};

constexpr uint32_t kPopupDialog = DlgPopup | DlgCaption | DlgSysMenu | DlgModalFrame;

constexpr std::array kDialogs{
    DialogTemplate{IDD_ABOUTBOX, "Relvaneのﾊﾞｰｼﾞｮﾝ情報", 235, 55, kFont, kFontSize, kPopupDialog, kAbout},
    DialogTemplate{IDD_RELVANE_DIALOG, "レルベイン（β）", 195, 36, kFont, kFontSize,
                   kPopupDialog | DlgVisible | DlgMinimizeBox | DlgAppWindow, kMain},
    DialogTemplate{IDD_PORT_PANEL, "", 189, 41, kFont, kFontSize, DlgChild | DlgBorder | DlgStaticEdge, kPortPanel},
    DialogTemplate{IDD_SETTING, "RELVANE設定", 191, 69, kFont, kFontSize, kPopupDialog, kSetting},
    DialogTemplate{IDD_STATUS, "接続状況", 527, 96, kFont, kFontSize, kPopupDialog, kStatus},
    DialogTemplate{IDD_LOG, "ログ", 527, 200, kFont, kFontSize, kPopupDialog | DlgMinimizeBox, kLog},
    DialogTemplate{IDD_ACCESS, "アクセス設定", 260, 228, kFont, kFontSize, kPopupDialog, kAccess},
    DialogTemplate{IDD_TOTALS, "累計", 200, 89, kFont, kFontSize, kPopupDialog, kTotals},
};

struct StringEntry {
  int id;
  const char* text;
};

constexpr std::array kStrings{
    StringEntry{IDS_ABOUTBOX, "レルベイン Tiv のﾊﾞｰｼﾞｮﾝ情報"},
    StringEntry{IDP_SOCKETS_INIT_FAILED, "Windows ｿｹｯﾄの初期化に失敗しました。"},
};

}  // namespace

const DialogTemplate* findDialogTemplate(int id) {
  for (const auto& t : kDialogs) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

const char* findString(int id) {
  for (const auto& s : kStrings) {
    if (s.id == id) return s.text;
  }
  return nullptr;
}

}  // namespace res
