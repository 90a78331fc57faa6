#pragma once
// The slots' numbers in the Prometheus text exposition format (version 0.0.4). Every slot of the
// set has one sample in each family, labelled slot="<n of TCP-PORTn>" and listen_port="<PORT>";
// the counters start again from 0 when a slot is switched on.
//   relvanetiv_build_info{version}               gauge, always 1
//   relvanetiv_slot_up                           gauge: 1 while the slot listens
//   relvanetiv_slot_open_connections             gauge: connections relayed now
//   relvanetiv_slot_connections_total            counter: connections that reached the destination
//   relvanetiv_slot_refused_total                counter: clients the filter did not serve
//   relvanetiv_slot_connect_failures_total       counter: destinations that could not be reached
//   relvanetiv_slot_received_bytes_total         counter: bytes from the clients
//   relvanetiv_slot_sent_bytes_total             counter: bytes to the clients
//   relvanetiv_slot_received_datagrams_total     counter: datagrams from the clients (0 for TCP)
//   relvanetiv_slot_sent_datagrams_total         counter: datagrams to the clients (0 for TCP)
//   relvanetiv_slot_dropped_datagrams_total      counter: datagrams lost to a full buffer (0 for TCP)
// Of a UDP slot, the connections are its sessions, refused counts datagrams and the connect
// failures count sessions the destination ended.
// A slot with more than one destination has one sample per destination, labelled as well
// destination="<host:port as the settings name it>":
//   relvanetiv_destination_up                    gauge: 1 while the destination is taken for up
//   relvanetiv_destination_connections           gauge: pairs connecting to it or connected
#include <string>

class CSlotSet;

namespace service {

std::string metricsText(CSlotSet& slots, const std::string& version);

// A label value with its backslashes, quotes and line ends escaped.
std::string labelValue(const std::string& text);

}  // namespace service
