#pragma once
// Who may connect to a slot and where it listens, as the slot's INI section stores it:
//   FILTER              filter mode 0..3, missing or empty is 0 (serve everyone); any other text
//                       serves nobody and refuses the switch-on, naming it
//   ALLOW0..9, DENY0..9 rule texts, kept as written; every one is read, an empty one is a gap
//   LISTENHOST          literal local address to listen on; empty or missing: every address
// None of these keys is written unless the user changes its value, so a file that never had
// them keeps every byte.
#include <string>
#include <utility>
#include <vector>

#include "filter/IpFilter.h"
#include "slot/IniDocument.h"

namespace slot_access {

// Fills the filter and the listen address from the section. Returns the FILTER text when it
// names no mode (the filter is then in ModeInvalid), else "".
std::string load(const ini::Document& doc, const std::string& section, CIpFilter& filter, std::string& listenHost);

// Every key with the text it would be saved with, always in the same order.
std::vector<std::pair<std::string, std::string>> values(const CIpFilter& filter, const std::string& listenHost);

// "" when the filter and the listen address allow a switch-on, else the message to show:
// kBadMode naming `modeText` (the FILTER text load() returned), a rule that does not parse in
// rule mode, a listen address that is not this machine's.
std::string switchOnRefusal(const CIpFilter& filter, const std::string& listenHost, const std::string& modeText);

// True when clients of other machines reach the slot unchecked: it listens on every address or
// on one that is not loopback (127.0.0.0/8, ::1, ::ffff:127.x), and the filter serves everyone
// (FILTER 0).
bool openToOtherMachines(const CIpFilter& filter, const std::string& listenHost);

// Where the user is told of such a slot: its panel's tooltip and its listening line.
inline constexpr const char* kOpenToOthers = "他のPCから接続可能・フィルタなし";
inline constexpr const char* kBadMode = "フィルタ設定 FILTER=%s は無効な値です (0～3)。OFFのまま設定を見直して下さい";
inline constexpr const char* kBadAllowRule = "許可ルール「%s」を解釈できません。OFFのまま設定を見直して下さい";
inline constexpr const char* kBadDenyRule = "拒否ルール「%s」を解釈できません。OFFのまま設定を見直して下さい";
inline constexpr const char* kListenHostNotLocal = "待ち受けアドレス「%s」はこのPCのアドレスではありません";

}  // namespace slot_access
