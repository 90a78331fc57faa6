#pragma once
// The command line: every argument after the program path is traced, and the hidden
// switch "-D583" (the whole argument, nothing more) turns the debug mode on.

// True only for an argument equal to the whole switch.
bool isDebugSwitch(const char* argument);

// Traces arguments 1..argc-1 and returns 1 when the debug switch was among them, else 0.
int traceArguments(int argc, const char* const* argv);
