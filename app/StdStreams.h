#pragma once
// Where the trace goes: in debug mode standard output stays where the program was started
// (its terminal); otherwise standard output and input are reopened on the null device, so
// every trace line is discarded. Standard error is never touched.

// A launcher may start the program with standard input, output or error closed. The next
// descriptor opened (the socket loop's, say) would then take that number, and redirecting the
// stream later would close it under its owner; so each missing one is held by the null device.
void reserveStandardDescriptors();

void setupStandardStreams(int debugMode);

// The start-up banner, the first lines that reach the chosen standard output.
void printBanner(int debugMode);
