#pragma once
// The command line: every argument after the program path is traced, and the hidden
// switch "-D583" (the whole argument, nothing more) turns the debug mode on.

// True only for an argument equal to the whole switch.
bool isDebugSwitch(const char* argument);

// True when the debug switch is among arguments 1..argc-1.
bool hasDebugSwitch(int argc, const char* const* argv);

// Traces arguments 1..argc-1 and returns 1 when the debug switch was among them, else 0.
int traceArguments(int argc, const char* const* argv);

// True when `option` (e.g. "--headless") is among arguments 1..argc-1.
bool hasArgument(int argc, const char* const* argv, const char* option);
