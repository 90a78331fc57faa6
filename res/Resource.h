// Resource identifiers: dialog templates, strings, icon, menu, control and command ids.
// The numbers are part of the program's identity (settings dialogs, commands and tests
// refer to them), so they never change.
#pragma once

// Standard commands every dialog understands.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_STATIC = -1;  // controls that nobody addresses

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_RELVANE_DIALOG = 102;
inline constexpr int IDD_PORT_PANEL = 130;
inline constexpr int IDD_SETTING = 131;
inline constexpr int IDD_STATUS = 132;
inline constexpr int IDD_LOG = 133;
inline constexpr int IDD_ACCESS = 134;
inline constexpr int IDD_TOTALS = 141;
inline constexpr int IDD_ADVANCED = 140;
inline constexpr int IDD_TRAFFIC = 146;
inline constexpr int IDD_FAULT = 145;

// Strings.
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDP_SOCKETS_INIT_FAILED = 103;

// Icon and menu.
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDR_TRAY_MENU = 137;

// Controls of the port panel (130).
inline constexpr int IDC_FORWARD_PORT = 1011;  // static: destination port
inline constexpr int IDC_CONFIRM = 1012;       // button: connection status
inline constexpr int IDC_SETTINGS = 1013;      // button: settings dialog
inline constexpr int IDC_FORWARD_HOST = 1015;  // static: destination host
inline constexpr int IDC_ACTIVE = 1017;        // push-like check box: ON/OFF
inline constexpr int IDC_COUNT = 1018;         // static: connection count
inline constexpr int IDC_LISTEN_GROUP = 1019;  // group box: "TCP:<port>"

// Controls of the settings dialog (131).
inline constexpr int IDC_LISTEN_PORT_EDIT = 1021;
inline constexpr int IDC_HOST_EDIT = 1022;
inline constexpr int IDC_LOCALHOST = 1023;
inline constexpr int IDC_FORWARD_PORT_EDIT = 1024;
inline constexpr int IDC_FORWARD_PORT_SPIN = 1026;
inline constexpr int IDC_LISTEN_PORT_SPIN = 1027;

// Access dialog (133). The four mode radio buttons have consecutive ids, in mode order.
inline constexpr int IDC_MODE_ALL = 1030;
inline constexpr int IDC_MODE_LOCALHOST = 1031;
inline constexpr int IDC_MODE_PRIVATE = 1032;
inline constexpr int IDC_MODE_RULES = 1033;
inline constexpr int IDC_ALLOW_LIST = 1034;
inline constexpr int IDC_ALLOW_EDIT = 1035;
inline constexpr int IDC_ALLOW_ADD = 1036;
inline constexpr int IDC_ALLOW_REMOVE = 1037;
inline constexpr int IDC_DENY_LIST = 1038;
inline constexpr int IDC_DENY_EDIT = 1039;
inline constexpr int IDC_DENY_ADD = 1040;
inline constexpr int IDC_DENY_REMOVE = 1041;
inline constexpr int IDC_LISTEN_HOST_EDIT = 1042;

// Advanced settings dialog (140). Each radio group has consecutive ids in value order and is
// followed by a control that is no radio button.
inline constexpr int IDC_ADV_NAME = 1101;
inline constexpr int IDC_ADV_TCP = 1102;
inline constexpr int IDC_ADV_UDP = 1103;
inline constexpr int IDC_ADV_NUMBER0 = 1104;  // 1104..1112: the numbers, in advanced::Number order
inline constexpr int IDC_ADV_SOURCE = 1113;
inline constexpr int IDC_ADV_PROXY_NONE = 1114;  // 1114..1116: SENDPROXY 0, 1, 2
inline constexpr int IDC_ADV_ACCEPT_PROXY = 1117;
inline constexpr int IDC_ADV_FORWARD1 = 1118;  // 1118..1126: FORWARD1..9
inline constexpr int IDC_ADV_BALANCE0 = 1127;  // 1127..1129: BALANCE 0, 1, 2

// Fault dialog (145): one edit box per key of the faults' text form, in its order, each direction.
inline constexpr int IDC_FAULT_UP0 = 1200;    // 1200..1209: up
inline constexpr int IDC_FAULT_DOWN0 = 1210;  // 1210..1219: down
inline constexpr int IDC_FAULT_CLEAR = 1220;  // button: empties every field

// About box (100), status dialog (132), main window (102).
inline constexpr int IDC_VERSION = 1028;
inline constexpr int IDC_CONNECTION_LIST = 1029;
inline constexpr int IDC_HOMEPAGE_LINK = 1057;

// Log window (133).
inline constexpr int IDC_LOG_TEXT = 1030;
inline constexpr int IDC_LOG_COPY = 1031;
inline constexpr int IDC_LOG_SEARCH = 1101;  // edit: shows only the lines holding its text
inline constexpr int IDC_LOG_SAVE = 1102;    // button: the lines shown to a text file
inline constexpr int IDC_LOG_CLEAR = 1103;   // button: empties the window
inline constexpr int IDC_LOG_SHOWN = 1104;   // static: how many lines the search leaves

// Totals dialog (141).
inline constexpr int IDC_TOTALS_HEADING = 1111;  // static: the slot and since when
inline constexpr int IDC_TOTALS_LABELS = 1112;   // static: one name a line
inline constexpr int IDC_TOTALS_VALUES = 1113;   // static: the figures beside them

// Traffic view (146). The two layout radio buttons have consecutive ids, hex first.
inline constexpr int IDC_TRAFFIC_LIST = 1150;      // list view: the connections held
inline constexpr int IDC_TRAFFIC_HEX = 1151;       // radio: hex and text
inline constexpr int IDC_TRAFFIC_PLAIN = 1152;     // radio: text only
inline constexpr int IDC_TRAFFIC_ENCODING = 1153;  // combo: UTF-8, Shift-JIS
inline constexpr int IDC_TRAFFIC_SAVE_ONE = 1154;  // button: the chosen connection to a file
inline constexpr int IDC_TRAFFIC_SAVE_ALL = 1155;  // button: every connection held to a file
inline constexpr int IDC_TRAFFIC_TEXT = 1156;      // multi-line edit: the chosen connection's pieces

// Commands.
inline constexpr int ID_SYS_ABOUT = 0x0010;
inline constexpr int ID_OPEN_MAINWINDOW = 32771;
inline constexpr int ID_EXIT_APP = 32772;
inline constexpr int ID_ADD_SLOT = 32773;        // main window's context menu
inline constexpr int ID_REMOVE_SLOT = 32774;     // a panel's context menu
inline constexpr int ID_VIEW_LOG = 32775;        // main window's context menu
inline constexpr int ID_PANEL_ACCESS = 32776;    // port panel's context menu: access dialog
inline constexpr int ID_PANEL_TOTALS = 32786;    // port panel's context menu: totals dialog
inline constexpr int ID_PANEL_ADVANCED = 32790;  // port panel's context menu: advanced settings
inline constexpr int ID_PANEL_CAPTURE = 32796;   // port panel's context menu: capture on or off
inline constexpr int ID_PANEL_TRAFFIC = 32797;   // port panel's context menu: the traffic view
inline constexpr int ID_PANEL_FAULTS = 32795;    // port panel's context menu: the fault dialog
