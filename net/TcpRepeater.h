#pragma once
// The relay of one forwarding slot: listens on the slot's port and, for each connection the
// address filter serves, connects to the destination and joins the two streams into a pair.
#include <string>
#include <vector>

#include "filter/IpFilter.h"
#include "net/TcpSockStream.h"
#include "net/TcpSockStreamParent.h"

// Told the number of fully connected pairs after every change (also when it stays the same).
class CTcpRepeaterListener {
public:
  virtual void notifyOnConnectionCount(int count) = 0;

protected:
  ~CTcpRepeaterListener() = default;
};

struct CTcpStreamPair {
  CTcpSockStream* acceptStream = nullptr;   // owned
  CTcpSockStream* connectStream = nullptr;  // owned
  void closeBoth();  // accept side first
};

class CTcpRepeater : public CTcpSockStreamParent {
public:
  CIpFilter* filter = nullptr;  // not owned; null serves everyone

  CTcpRepeater();
  ~CTcpRepeater() override;

  void setListener(CTcpRepeaterListener* listener);  // not owned
  void setBufferSize(int kb);
  void setListenBindAddress(int use, const std::string& address);
  void setConnectBindAddress(int use, const std::string& address);

  void start(int listenPort, const std::string& forwardHost, int forwardPort);
  void stop();
  // Walks the live pairs: start at 0, call until null (position then -1).
  CTcpStreamPair* getNextPair(int& position);
  bool isListening() const;  // has a listening socket
  int refusedCount() const { return refusedCount_; }  // peers the filter refused since start
  int pairTableSize() const { return static_cast<int>(pairs.size()); }  // free entries included

  void notifyOnAccept(int index, std::string kind) override;
  void notifyOnConnect(int index, std::string kind) override;
  void notifyOnClose(int index, std::string kind) override;
  void notifyOnError(int index, std::string kind, int err) override;

private:
  int addPair(CTcpStreamPair* pair);
  void closePair(int index);
  void updateConnectionCount();
  CTcpSockStream* acceptPeer();
  void connectPair(int index);

  CTcpRepeaterListener* listener = nullptr;
  std::vector<CTcpStreamPair*> pairs;  // owned; a null entry is free
  CTcpSockStream listenSocket;
  int listenPort = 0;
  std::string forwardHost;
  int forwardPort = 0;
  int bufferSizeKB = CTcpSockStream::kDefaultBufferKB;
  int useListenBindAddress = 0;
  std::string listenBindAddress;
  int useConnectBindAddress = 0;
  std::string connectBindAddress;
  bool listening_ = false;
  int refusedCount_ = 0;
};
