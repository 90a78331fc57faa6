#include "service/SlotReport.h"

#include <chrono>
#include <cstdio>

#include "net/TcpStreamPair.h"
#include "net/UdpSession.h"
#include "slot/PortSlot.h"

namespace service {

namespace {

const char* stateOf(const CPortSlot& slot) {
  if (slot.started()) return "on";
  return slot.act != 0 ? "idle" : "off";
}

std::string listenText(const CPortSlot& slot) {
  return endpointText(slot.listenHost.empty() ? "0.0.0.0" : slot.listenHost, slot.listenPort);
}

std::string field(const char* key, const std::string& value) { return std::string(" ") + key + "=" + value; }
std::string field(const char* key, std::uint64_t value) { return field(key, std::to_string(value)); }

// The local and remote end of one side of a pair, and its peak buffer use.
std::string sideFields(const CTcpSockStream* stream, const char* localKey, const char* peerKey, const char* bufferKey,
                       bool peerFirst) {
  std::string local = "-", peer = "-", buffer = "0";
  if (stream) {
    local = token(endpointText(stream->getLocalAddress(), stream->getLocalPort()));
    peer = token(endpointText(stream->getPeerAddress(), stream->peerPort));
    buffer = std::to_string(stream->maxRemainCount);
  }
  const std::string ends = peerFirst ? field(peerKey, peer) + field(localKey, local)
                                     : field(localKey, local) + field(peerKey, peer);
  return ends + field(bufferKey, buffer);
}

// Each destination with its state, for a slot with more than one.
std::string destinationsField(const CPortSlot& slot) {
  std::string list;
  for (const CTcpRepeater::DestinationState& d : slot.destinationStates())
    list += (list.empty() ? "" : ",") + token(d.name) + (d.up ? "/up" : "/down");
  return list.empty() ? "" : field("destinations", list);
}

// The user's name for the slot, when it has one.
std::string nameField(const CPortSlot& slot) {
  return slot.options.name.empty() ? "" : field("name", token(slot.options.name));
}

}  // namespace

std::string endpointText(const std::string& address, int port) {
  const bool v6 = address.find(':') != std::string::npos;
  return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

std::string token(const std::string& text) {
  if (text.empty()) return "-";
  std::string out;
  for (unsigned char c : text) {
    if (c > ' ' && c != 0x7f && c != '%') {
      out += static_cast<char>(c);
      continue;
    }
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    out += hex;
  }
  return out;
}

std::string slotStatusLine(CPortSlot& slot) {
  const SlotTotals t = slot.totals();
  const std::string datagrams = slot.isUdp()
                                    ? field("received_datagrams", t.datagramsFromClient) +
                                          field("sent_datagrams", t.datagramsToClient) + field("dropped", t.dropped)
                                    : "";
  return "slot=" + std::to_string(slot.slotIndex) + (slot.isUdp() ? field("protocol", "udp") : "") + nameField(slot) +
         field("state", stateOf(slot)) + field("listen", token(listenText(slot))) +
         field("destination",
               slot.forwardHost.empty() ? "-" : token(endpointText(slot.forwardHost, slot.forwardPort))) +
         destinationsField(slot) + field("connections", std::to_string(slot.connectionCount)) +
         field("served", t.served) + field("refused", t.refused) + field("failed", t.failed) +
         field("received", t.fromClient) + field("sent", t.toClient) + datagrams;
}

std::vector<std::string> connectionRows(CPortSlot& slot) {
  std::vector<std::string> rows;
  const auto now = std::chrono::steady_clock::now();
  int position = 0;
  while (const CTcpStreamPair* pair = slot.nextPair(position)) {
    const CTcpSockStream* in = pair->acceptStream.get();
    const CTcpSockStream* out = pair->connectStream.get();
    const auto age = std::chrono::duration_cast<std::chrono::seconds>(now - pair->started).count();
    std::string row = sideFields(in, "local", "client", "client_buffer", true) +
                      sideFields(out, "outgoing", "destination", "destination_buffer", false) +
                      field("received", in ? in->receivedBytes : 0) + field("sent", in ? in->sentBytes : 0) +
                      field("seconds", static_cast<std::uint64_t>(age));
    if (pair->route) row += field("target", token(pair->target()));
    row += nameField(slot);
    rows.push_back(row.substr(1));  // without the blank the first field begins with
  }
  std::string address;
  int port = 0;
  slot.listenName(address, port);
  slot.forEachSession([&](const CUdpSession& s) {
    const net::SocketAddress local = s.local();
    const auto age = std::chrono::duration_cast<std::chrono::seconds>(CUdpSession::Clock::now() - s.started).count();
    rows.push_back("client=" + token(endpointText(s.client().text(), s.client().port())) +
                   field("local", token(endpointText(address, port))) + field("client_buffer", "-") +
                   field("outgoing", local.empty() ? "-" : token(endpointText(local.text(), local.port()))) +
                   field("destination",
                         s.connected() ? token(endpointText(s.destination().text(), s.destination().port())) : "-") +
                   field("destination_buffer", "-") + field("received", s.toDestination.bytes) +
                   field("sent", s.toClient.bytes) + field("seconds", static_cast<std::uint64_t>(age)) +
                   field("received_datagrams", s.toDestination.datagrams) +
                   field("sent_datagrams", s.toClient.datagrams) + nameField(slot));
  });
  return rows;
}

}  // namespace service
