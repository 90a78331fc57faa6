#pragma once
// The keys of a slot's section beyond its first destination, access and time bounds:
//   FORWARD1..FORWARD9  more destinations, "host:port" ("[v6]:port"), tried after FORWARDHOST
//   BALANCE             0 the first one up (default), 1 round robin, 2 least connections
//   RETRYDOWN           seconds a destination whose connect failed is passed over (default 10)
//   CHECKINTERVAL       seconds between health probes of each destination, 0 none (default)
//   SENDPROXY           1 or 2: the PROXY header of that version goes ahead of the client's bytes
//   ACCEPTPROXY         1: each client starts with a PROXY header carrying its real address
//   SOURCEADDRESS       a literal local address the outgoing connections are bound to
//   IDLETIMEOUT         seconds with no byte either way, then the pair is closed; 0 none
//   KEEPALIVE           seconds of silence before keepalive probes on both sockets; 0 off
//   MAXCONN             pairs at once, the rest wait in the listen queue; 0 no limit. Of a UDP
//                       slot: sessions at once, 0 (the default) 1000
//   PROTOCOL            TCP (the default) or UDP
//   UDPTIMEOUT          seconds without a datagram either way, then a UDP session ends (60)
//   NAME                the user's name for the slot, at most kMaxNameChars characters, no
//                       control character; shown beside the slot's number in the log, the
//                       control socket and the window
// Read strictly: an invalid value is named in the problems and never used. Where the default
// would open the slot wider or send clients elsewhere than written (FORWARDn, SENDPROXY,
// ACCEPTPROXY, SOURCEADDRESS, IDLETIMEOUT, MAXCONN, PROTOCOL) it refuses the switch-on; the
// others (BALANCE, RETRYDOWN, CHECKINTERVAL, KEEPALIVE, UDPTIMEOUT, NAME) take their defaults. A
// UDP slot names the keys only TCP uses as problems. A key is written only when the user changes
// it in the advanced settings (AdvancedSettings.h): a file that never had them keeps every byte.
#include <string>
#include <string_view>
#include <vector>

#include "net/DestinationList.h"
#include "net/RelayOptions.h"
#include "slot/IniDocument.h"

struct SlotOptions {
  static constexpr int kMaxForwards = 9;
  static constexpr int kMaxKeepAlive = 32767;  // the system's bound on the idle time
  static constexpr int kMaxConnections = 1000000;
  static constexpr int kDefaultUdpTimeout = 60;
  static constexpr int kDefaultUdpSessions = 1000;  // each holds a socket
  static constexpr int kMaxNameChars = 32;

  std::vector<net::HostPort> more;  // FORWARD1..9 that are set, in order
  std::string sourceAddress;        // "" for the system's choice
  net::RelayOptions relay;
  bool udp = false;  // PROTOCOL=UDP
  int udpTimeout = kDefaultUdpTimeout;
  std::string name;     // NAME; "" for none
  std::string invalid;  // the first value that refuses the switch-on, as "KEY=text"

  // Fills from the section; every invalid value gets a line in `problems`.
  void load(const ini::Document& doc, const std::string& section, std::vector<std::string>& problems);
  // "" when these keys allow a switch-on, else the message.
  std::string switchOnRefusal() const;
  int udpSessions() const { return relay.maxConn > 0 ? relay.maxConn : kDefaultUdpSessions; }
  bool operator==(const SlotOptions&) const = default;
  // A NAME that may be used: UTF-8 of at most kMaxNameChars characters (not bytes), none of
  // them a control character, no blank at either end and no pair of quotes around it
  // (the file's reader would take them off).
  static bool isValidName(std::string_view text);

private:
  void loadProtocol(const ini::Document& doc, const std::string& section, std::vector<std::string>& problems);
};

inline constexpr const char* kOptionInvalid = "設定 %s は無効な値です。OFFのまま設定を見直して下さい";
inline constexpr const char* kSourceNotLocal = "送信元アドレス「%s」はこのPCのアドレスではありません";
