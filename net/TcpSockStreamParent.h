#pragma once
// What a CTcpSockStream reports to its owner. index and kind are the reporting stream's own.
// notifyOnClose and notifyOnError may destroy the reporting stream before they return.
#include <string>

class CTcpSockStreamParent {
public:
  virtual void notifyOnAccept(int index, std::string kind) = 0;
  virtual void notifyOnConnect(int index, std::string kind) = 0;
  // Both directions of the pair have ended (every byte delivered, each side shut down).
  virtual void notifyOnClose(int index, std::string kind) = 0;
  // err is the errno value, 0 where none is set.
  virtual void notifyOnError(int index, std::string kind, int err) = 0;
  // The reporting stream's peer has closed its sending side; the other direction goes on.
  virtual void notifyOnHalfClose(int /*index*/, std::string /*kind*/) {}
  // Bytes arrived for a partner not connected yet, on a stream whose reportArrivals is set.
  // False when the reporting stream is gone.
  virtual bool notifyOnArrival(int /*index*/, std::string /*kind*/) { return true; }
  // A fault set on the reporting stream's direction ends the pair: reset, or closed.
  virtual void notifyOnFault(int /*index*/, std::string /*kind*/, bool /*reset*/) {}
  virtual ~CTcpSockStreamParent();
};
