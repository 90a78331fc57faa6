#pragma once
// The program as a client of the one that serves a settings file: --status, --connections N,
// --reload, --on N and --off N send their request over the control socket and print the answer's
// lines on standard output. Nothing else of the program starts (no lock, no window, no slot).
#include <string>

struct CommandLine;

// The request line for `line`'s control option ("status", "on 3", ...).
std::string controlRequestLine(const CommandLine& line);

// Sends the request and prints the answer; 0 when the answer is OK, 1 with a message on
// standard error when no program serves the file (naming it), none answered in time, or the
// answer is an error.
int runControlRequest(const CommandLine& line, const std::string& settingsPath);
