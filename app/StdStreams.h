#pragma once
// Where the trace goes: in debug mode standard output stays where the program was started
// (its terminal); otherwise standard output and input are reopened on the null device, so
// every trace line is discarded. Standard error is never touched.

void setupStandardStreams(int debugMode);

// The start-up banner, the first lines that reach the chosen standard output.
void printBanner(int debugMode);
