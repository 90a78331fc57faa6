#pragma once
// Trace output of the relay engine and the layers above it: printf-style lines on standard
// output, written unconditionally. Start-up decides where standard output goes (the terminal in
// debug mode, /dev/null otherwise), so callers never check a switch.

void trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Call after pointing standard output somewhere else. While it is the null device, lines are
// not even formatted: outside debug mode that was most of the relay's own work per message.
void traceTargetChanged();
