#pragma once
// The text a port panel's host, port and caption show on hover: the values the panel cuts short
// in full. One line each: every destination (FORWARDHOST:FORWARDPORT, then FORWARD1..9), how
// several are chosen among, where the slot listens, who may connect, and a warning when clients
// of other machines reach it unchecked. More about the slot goes here too, so the panel's
// tooltips never disagree.
#include <string>

class CPortSlot;

namespace panel_tooltip {

std::string text(const CPortSlot& slot);

}  // namespace panel_tooltip
