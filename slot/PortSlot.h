#pragma once
// CPortSlot: one forwarding slot's settings, their INI persistence and the switching rules,
// without any window. The port panel (CPortDlg) derives from it and adds the widgets; a
// headless run uses it directly.
//
// Set by the owner before anything else:
//   int slotIndex            section "TCP-PORT<slotIndex>" of the INI file
//   std::string iniPath      full path of the INI file
// Settings (the INI keys in brackets):
//   int act                  1 = switched on [ACT]; 0 on construction
//   int listenPort           0 = not set [PORT]
//   std::string forwardHost  host name or dotted IPv4 [FORWARDHOST]; empty on construction
//   int forwardPort          0 = not set [FORWARDPORT]
//   int bufferSize           KiB per stream buffer [BUFFERSIZE, read only]; 128 on construction
//   int connectionCount      connected pairs as last reported by the repeater
//   std::string listenHost   literal local address to listen on, "" = every address [LISTENHOST]
//   std::string editListenHost  working copy handed to the access dialog
//   CIpFilter filter         live filter [FILTER, ALLOW0..9, DENY0..9]; the repeater points at
//                            it while started
//   CIpFilter editFilter     working copy handed to the settings and access dialogs
//   CTcpRepeater repeater    declared last, so it is destroyed first
// Operations:
//   void loadSettings()             fill the settings from the file; a missing file, section or
//                                   key gives the default (0, "127.0.0.1", 128). A host longer
//                                   than kMaxHostBytes is cut (never inside a UTF-8 character).
//   bool saveSettings()             write ACT, PORT, FORWARDHOST, FORWARDPORT in that order, in
//                                   one save; every other line stays. False when the save failed
//                                   (an "Error:" trace line tells; the settings stay in memory).
//   bool saveAccessSettings()       write those of FILTER, ALLOWn, DENYn and LISTENHOST whose
//                                   value differs from the file's; nothing when none does.
//   std::string switchOnRefusal() const
//                                   "" when switching on is allowed, else the message to show:
//                                   kListenPortInvalid, then kForwardPortInvalid, then a rule
//                                   that does not parse in mode 3, then a listen address that
//                                   is not this machine's (see AccessSettings.h).
//   std::string toggleSlot(int newAct)  (any non-zero newAct means on)
//                                   the ON/OFF click with the new check state: a refused switch-on
//                                   sets act = 0, starts and saves nothing and returns the
//                                   message; otherwise act = newAct, applyState(), saveSettings()
//                                   and "" is returned. A start that could not open the listen
//                                   port is refused the same way (kListenFailed), so "on" always
//                                   means listening. The caller shows the message.
//   std::string startSlot()         the launch: connectionCount = 0, loadSettings(),
//                                   toggleSlot(act). Returns toggleSlot's message.
//   void applyState()               act 0: stop the repeater. A port 0 or an empty host: nothing.
//                                   Else configure the repeater (listener, buffer size, bind
//                                   addresses off, filter) and start it.
//   void shutdownSlot()             saveSettings(), then stop the repeater.
//   virtual void notifyOnConnectionCount(int count)
//                                   stores the count; the panel overrides it to repaint too.
#include <string>

#include "filter/IpFilter.h"
#include "net/TcpRepeater.h"

class CPortSlot : public CTcpRepeaterListener {
 public:
  static constexpr const char* kListenPortInvalid = "Listenポートが無効な設定です";
  static constexpr const char* kForwardPortInvalid = "転送先ポート番号が無効な設定です";
  // A switch-on whose listen port could not be opened (taken, or not permitted); %d the port.
  static constexpr const char* kListenFailed = "Listenポート(%d)を開けませんでした";
  static constexpr const char* kDefaultHost = "127.0.0.1";
  static constexpr int kDefaultBufferSize = 128;
  static constexpr size_t kMaxHostBytes = 260;

  CPortSlot() = default;
  virtual ~CPortSlot();
  CPortSlot(const CPortSlot&) = delete;
  CPortSlot& operator=(const CPortSlot&) = delete;

  void loadSettings();
  bool saveSettings();
  bool saveAccessSettings();
  std::string switchOnRefusal() const;
  std::string toggleSlot(int newAct);
  std::string startSlot();
  void applyState();
  void shutdownSlot();
  void notifyOnConnectionCount(int count) override;

  std::string sectionName() const;

  // Declaration order matters: members are destroyed in reverse, the repeater first.
  std::string forwardHost;
  int act = 0;
  int slotIndex = 0;
  std::string iniPath;
  int connectionCount = 0;
  int listenPort = 0;
  int forwardPort = 0;
  int bufferSize = kDefaultBufferSize;
  std::string listenHost;
  std::string editListenHost;
  CIpFilter filter;
  CIpFilter editFilter;
  CTcpRepeater repeater;

 private:
  bool listenFailed() const;
};
