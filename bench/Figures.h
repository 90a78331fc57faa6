#pragma once
// How the bench tools write their figures: one number in a printf format, the median of a
// measurement's repetitions, and the worst of a list ("-" for none).
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

inline std::string fmt(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

inline std::string worst(const std::vector<double>& v, const char* format = "%.0f") {
  return v.empty() ? "-" : fmt(format, *std::max_element(v.begin(), v.end()));
}

}  // namespace bench
