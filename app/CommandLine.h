#pragma once
// The program's command line, read before anything else (no display is needed for it).
// Options are described by one table in CommandLine.cpp: a new option is a new row there
// and a field here.
#include <string>

struct CommandLine {
  bool help = false;       // --help: usage on standard output
  bool version = false;    // --version: the product version on standard output
  bool headless = false;   // --headless: the slots without any window
  bool quiet = false;      // --quiet: no event log on standard error
  int debugMode = 0;       // 1 after "-D583" (the whole argument, nothing more)
  std::string configPath;  // --config PATH; empty: the usual place of the settings file
  bool check = false;      // --check: reads the settings file, says what would start, opens nothing
  // --log-format FORMAT: "text" or "json"; empty when not given (the file's [GLOBAL] may set it).
  std::string logFormat;
  // The request the program sends, as a client, to the program that serves the settings file:
  // "status", "connections", "reload", "on" or "off"; empty when it runs as itself.
  std::string control;
  int controlSlot = -1;     // the slot number (n of TCP-PORTn) for connections, on, off and fault
  std::string controlText;  // fault: the words after N ("latency=200 direction=down"), may be empty
  std::string error;        // not empty: the command line is refused, and this says why
};

// Reads arguments 1..argc-1. Stops at the first argument it cannot take.
CommandLine parseCommandLine(int argc, const char* const* argv);

// The usage text, several lines, each ending in "\n".
std::string usageText();

// Exit codes of a command line that ends the program before it runs.
inline constexpr int exitUsage = 2;
