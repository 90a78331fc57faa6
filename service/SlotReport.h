#pragma once
// One slot as the control socket reports it, one line of space-separated key=value fields each
// (a value never holds a blank: bytes that would break the line are written as %XX):
//   slot=0 state=on listen=0.0.0.0:8080 destination=db.example.org:5432 connections=2
//     served=10 refused=0 failed=1 received=1234 sent=5678
// A slot with more than one destination adds each one's state after `destination` (the first):
//   destinations=db1:5432/up,db2:5432/down
// state is "on" (listening), "off" (switched off) or "idle" (switched on but not listening: an
// empty destination host starts nothing). The counts after `connections` are since the slot was
// last switched on; received/sent are bytes from and to the clients.
//
// A connection row has the status table's columns in its order, each address with its port:
//   client=192.0.2.7:50123 local=127.0.0.1:8080 client_buffer=0 outgoing=127.0.0.1:40312
//     destination=127.0.0.1:5432 destination_buffer=0 received=12 sent=34 seconds=5
// where a side not connected yet shows "-". With more than one destination the row ends with the
// one the pair was sent to, as the settings name it: target=db2:5432.
//
// A slot with a name (NAME) has it after the slot number and the protocol, name=web, and at the
// end of each of its rows.
//
// A UDP slot's line says so after the slot number, its connections are sessions, served counts
// sessions and refused datagrams, and the line ends with the datagrams each way and those dropped:
//   slot=3 protocol=udp state=on ... received_datagrams=40 sent_datagrams=40 dropped=0
// Its rows are its sessions, with no buffers and the datagrams each way:
//   client=... local=... client_buffer=- outgoing=... destination=... destination_buffer=-
//     received=1400 sent=1400 seconds=5 received_datagrams=1 sent_datagrams=1
#include <string>
#include <vector>

class CPortSlot;

namespace service {

std::string slotStatusLine(CPortSlot& slot);
std::vector<std::string> connectionRows(CPortSlot& slot);

// "address:port", an IPv6 address in brackets.
std::string endpointText(const std::string& address, int port);
// `text` as one token of a line: control bytes, blanks and '%' as %XX.
std::string token(const std::string& text);

}  // namespace service
