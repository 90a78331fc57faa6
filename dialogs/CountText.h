#pragma once
// Numbers as the windows show them: byte counts with thousands separators ("1,234,567") and
// ages as h:mm:ss (hours run on past 24).
#include <chrono>
#include <cstdint>
#include <string>

std::string thousands(std::uint64_t count);
std::string elapsedText(std::chrono::seconds elapsed);
