#pragma once
// --check: the settings file read under every rule a start or a reload reads it by, and what
// it would start, without opening a port or writing anything (the file, its folder and the
// lock alike), so it also checks the file of a program that runs.
#include <cstdio>
#include <string>

// Writes each problem, then one line per slot (starts, stays off, or refused and why) to `out`.
// Returns 0 when the file has no problem and every slot saved ON would start, else 1.
int checkSettingsFile(const std::string& iniPath, std::FILE* out);
