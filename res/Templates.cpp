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

// Advanced settings dialog: every key of a slot the other two dialogs do not hold. Left the slot
// and its connections, right the further destinations and how clients are spread over them.
constexpr uint32_t kLabel = VCenter | NoPrefix;
constexpr uint32_t kNumberEdit = Border | AlignRight | AutoHScroll | TabStop;
constexpr uint32_t kTextEdit = Border | AutoHScroll | TabStop;
constexpr std::array kAdvanced{
    ControlTemplate{IDC_STATIC, K::Static, "名前", 10, 8, 24, 12, kLabel},
    ControlTemplate{IDC_ADV_NAME, K::Edit, "", 36, 8, 120, 12, kTextEdit},
    ControlTemplate{IDC_STATIC, K::GroupBox, "プロトコル", 4, 24, 158, 24, 0},
    ControlTemplate{IDC_ADV_TCP, K::RadioButton, "TCP", 12, 35, 60, 10, TabStop},
    ControlTemplate{IDC_ADV_UDP, K::RadioButton, "UDP", 80, 35, 60, 10, 0},
    ControlTemplate{IDC_STATIC, K::GroupBox, "接続", 4, 52, 158, 132, 0},
    ControlTemplate{IDC_STATIC, K::Static, "バッファサイズ (KiB)", 10, 63, 92, 12, kLabel},
    ControlTemplate{IDC_ADV_NUMBER0 + 0, K::Edit, "", 104, 63, 52, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "接続タイムアウト (秒)", 10, 78, 92, 12, kLabel},
    ControlTemplate{IDC_ADV_NUMBER0 + 1, K::Edit, "", 104, 78, 52, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "片側切断後の待ち (秒)", 10, 93, 92, 12, kLabel},
    ControlTemplate{IDC_ADV_NUMBER0 + 2, K::Edit, "", 104, 93, 52, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "無通信タイムアウト (秒)", 10, 108, 92, 12, kLabel},
    ControlTemplate{IDC_ADV_NUMBER0 + 3, K::Edit, "", 104, 108, 52, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "キープアライブ (秒)", 10, 123, 92, 12, kLabel},
    ControlTemplate{IDC_ADV_NUMBER0 + 4, K::Edit, "", 104, 123, 52, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "最大接続数 (0=無制限)", 10, 138, 92, 12, kLabel},
    ControlTemplate{IDC_ADV_NUMBER0 + 5, K::Edit, "", 104, 138, 52, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "UDPタイムアウト (秒)", 10, 153, 92, 12, kLabel},
    ControlTemplate{IDC_ADV_NUMBER0 + 6, K::Edit, "", 104, 153, 52, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "送信元アドレス", 10, 168, 52, 12, kLabel},
    ControlTemplate{IDC_ADV_SOURCE, K::Edit, "", 64, 168, 92, 12, kTextEdit},
    ControlTemplate{IDC_STATIC, K::GroupBox, "PROXYプロトコル", 4, 188, 158, 38, 0},
    ControlTemplate{IDC_ADV_PROXY_NONE, K::RadioButton, "送らない", 10, 198, 44, 10, TabStop},
    ControlTemplate{IDC_ADV_PROXY_NONE + 1, K::RadioButton, "v1で送る", 56, 198, 48, 10, 0},
    ControlTemplate{IDC_ADV_PROXY_NONE + 2, K::RadioButton, "v2で送る", 106, 198, 50, 10, 0},
    ControlTemplate{IDC_ADV_ACCEPT_PROXY, K::CheckBox, "前段からのヘッダを受け取る", 10, 211, 146, 10, TabStop},
    ControlTemplate{IDC_STATIC, K::GroupBox, "追加の転送先 (host:port)", 166, 4, 160, 142, 0},
    ControlTemplate{IDC_STATIC, K::Static, "1", 172, 15, 14, 12, kLabel},
    ControlTemplate{IDC_ADV_FORWARD1 + 0, K::Edit, "", 188, 15, 132, 12, kTextEdit},
    ControlTemplate{IDC_STATIC, K::Static, "2", 172, 29, 14, 12, kLabel},
    ControlTemplate{IDC_ADV_FORWARD1 + 1, K::Edit, "", 188, 29, 132, 12, kTextEdit},
    ControlTemplate{IDC_STATIC, K::Static, "3", 172, 43, 14, 12, kLabel},
    ControlTemplate{IDC_ADV_FORWARD1 + 2, K::Edit, "", 188, 43, 132, 12, kTextEdit},
    ControlTemplate{IDC_STATIC, K::Static, "4", 172, 57, 14, 12, kLabel},
    ControlTemplate{IDC_ADV_FORWARD1 + 3, K::Edit, "", 188, 57, 132, 12, kTextEdit},
    ControlTemplate{IDC_STATIC, K::Static, "5", 172, 71, 14, 12, kLabel},
    ControlTemplate{IDC_ADV_FORWARD1 + 4, K::Edit, "", 188, 71, 132, 12, kTextEdit},
    ControlTemplate{IDC_STATIC, K::Static, "6", 172, 85, 14, 12, kLabel},
    ControlTemplate{IDC_ADV_FORWARD1 + 5, K::Edit, "", 188, 85, 132, 12, kTextEdit},
    ControlTemplate{IDC_STATIC, K::Static, "7", 172, 99, 14, 12, kLabel},
    ControlTemplate{IDC_ADV_FORWARD1 + 6, K::Edit, "", 188, 99, 132, 12, kTextEdit},
    ControlTemplate{IDC_STATIC, K::Static, "8", 172, 113, 14, 12, kLabel},
    ControlTemplate{IDC_ADV_FORWARD1 + 7, K::Edit, "", 188, 113, 132, 12, kTextEdit},
    ControlTemplate{IDC_STATIC, K::Static, "9", 172, 127, 14, 12, kLabel},
    ControlTemplate{IDC_ADV_FORWARD1 + 8, K::Edit, "", 188, 127, 132, 12, kTextEdit},
    ControlTemplate{IDC_STATIC, K::GroupBox, "振り分け", 166, 150, 160, 76, 0},
    ControlTemplate{IDC_ADV_BALANCE0 + 0, K::RadioButton, "稼働中の最初の転送先", 172, 160, 148, 10, TabStop},
    ControlTemplate{IDC_ADV_BALANCE0 + 1, K::RadioButton, "順番に (ラウンドロビン)", 172, 171, 148, 10, 0},
    ControlTemplate{IDC_ADV_BALANCE0 + 2, K::RadioButton, "接続数の少ない転送先", 172, 182, 148, 10, 0},
    ControlTemplate{IDC_STATIC, K::Static, "停止後の再試行 (秒)", 172, 195, 92, 12, kLabel},
    ControlTemplate{IDC_ADV_NUMBER0 + 7, K::Edit, "", 266, 195, 54, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "ヘルスチェック間隔 (秒)", 172, 210, 92, 12, kLabel},
    ControlTemplate{IDC_ADV_NUMBER0 + 8, K::Edit, "", 266, 210, 54, 12, kNumberEdit},
    ControlTemplate{IDOK, K::PushButton, "OK", 4, 230, 50, 14, Default | TabStop},
    ControlTemplate{IDCANCEL, K::PushButton, "ｷｬﾝｾﾙ", 276, 230, 50, 14, TabStop},
};

// Traffic view: the connections held above, the chosen one's pieces below; how they are written
// and the saving between.
constexpr std::array kTraffic{
    ControlTemplate{IDC_TRAFFIC_LIST, K::ListView, "", 3, 3, 474, 72, Border | SingleSelection | TabStop},
    ControlTemplate{IDC_TRAFFIC_HEX, K::RadioButton, "16進とテキスト", 5, 80, 66, 10, TabStop},
    ControlTemplate{IDC_TRAFFIC_PLAIN, K::RadioButton, "テキストのみ", 73, 80, 56, 10, 0},
    ControlTemplate{IDC_STATIC, K::Static, "文字コード", 134, 78, 38, 14, VCenter | NoPrefix},
    ControlTemplate{IDC_TRAFFIC_ENCODING, K::ComboBox, "UTF-8\nShift-JIS", 172, 78, 60, 14, TabStop},
    ControlTemplate{IDC_TRAFFIC_SAVE_ONE, K::PushButton, "この接続を保存...", 270, 78, 72, 14, TabStop},
    ControlTemplate{IDC_TRAFFIC_SAVE_ALL, K::PushButton, "全接続を保存...", 346, 78, 72, 14, TabStop},
    ControlTemplate{IDOK, K::PushButton, "閉じる", 427, 78, 50, 14, Default | TabStop},
    ControlTemplate{IDC_TRAFFIC_TEXT, K::Edit, "", 3, 96, 474, 200, Border | Multiline | ReadOnly | TabStop},
};

// Fault dialog: each direction's faults, a row per key, in the same rows on both sides; an empty
// field sets no fault. The edit boxes' ids follow the text form's order, the rows the user's.
constexpr std::array kFault{
    ControlTemplate{IDC_STATIC, K::GroupBox, "上り (クライアント→転送先)", 4, 4, 152, 166, 0},
    ControlTemplate{IDC_STATIC, K::Static, "遅延 (ms)", 10, 16, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_UP0 + 0, K::Edit, "", 104, 16, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "ゆらぎ (ms)", 10, 31, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_UP0 + 1, K::Edit, "", 104, 31, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "帯域 (KiB/s)", 10, 46, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_UP0 + 2, K::Edit, "", 104, 46, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "切断の遅れ (ms)", 10, 61, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_UP0 + 8, K::Edit, "", 104, 61, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "タイムアウト (ms)", 10, 76, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_UP0 + 7, K::Edit, "", 104, 76, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "リセットまでのバイト数", 10, 91, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_UP0 + 4, K::Edit, "", 104, 91, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "リセットの確率 (%)", 10, 106, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_UP0 + 9, K::Edit, "", 104, 106, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "分割サイズ (バイト)", 10, 121, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_UP0 + 5, K::Edit, "", 104, 121, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "分割の間隔 (ms)", 10, 136, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_UP0 + 6, K::Edit, "", 104, 136, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "転送上限 (バイト)", 10, 151, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_UP0 + 3, K::Edit, "", 104, 151, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::GroupBox, "下り (転送先→クライアント)", 160, 4, 152, 166, 0},
    ControlTemplate{IDC_STATIC, K::Static, "遅延 (ms)", 166, 16, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_DOWN0 + 0, K::Edit, "", 260, 16, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "ゆらぎ (ms)", 166, 31, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_DOWN0 + 1, K::Edit, "", 260, 31, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "帯域 (KiB/s)", 166, 46, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_DOWN0 + 2, K::Edit, "", 260, 46, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "切断の遅れ (ms)", 166, 61, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_DOWN0 + 8, K::Edit, "", 260, 61, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "タイムアウト (ms)", 166, 76, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_DOWN0 + 7, K::Edit, "", 260, 76, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "リセットまでのバイト数", 166, 91, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_DOWN0 + 4, K::Edit, "", 260, 91, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "リセットの確率 (%)", 166, 106, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_DOWN0 + 9, K::Edit, "", 260, 106, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "分割サイズ (バイト)", 166, 121, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_DOWN0 + 5, K::Edit, "", 260, 121, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "分割の間隔 (ms)", 166, 136, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_DOWN0 + 6, K::Edit, "", 260, 136, 46, 12, kNumberEdit},
    ControlTemplate{IDC_STATIC, K::Static, "転送上限 (バイト)", 166, 151, 92, 12, kLabel},
    ControlTemplate{IDC_FAULT_DOWN0 + 3, K::Edit, "", 260, 151, 46, 12, kNumberEdit},
    ControlTemplate{IDOK, K::PushButton, "OK", 4, 176, 50, 14, Default | TabStop},
    ControlTemplate{IDC_FAULT_CLEAR, K::PushButton, "すべてクリア", 133, 176, 50, 14, TabStop},
    ControlTemplate{IDCANCEL, K::PushButton, "ｷｬﾝｾﾙ", 262, 176, 50, 14, TabStop},
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
    DialogTemplate{IDD_ADVANCED, "詳細設定", 330, 248, kFont, kFontSize, kPopupDialog, kAdvanced},
    DialogTemplate{IDD_TRAFFIC, "通信内容", 480, 299, kFont, kFontSize, kPopupDialog | DlgMinimizeBox, kTraffic},
    DialogTemplate{IDD_FAULT, "障害シミュレーション", 316, 194, kFont, kFontSize, kPopupDialog, kFault},
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
