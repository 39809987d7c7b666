// What the benchmarks make of their runs: medians, and the sizes of what they wrote.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

// The median of `v`: for an even count, the mean of the middle two. 0 for none.
inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t mid = v.size() / 2;
  return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

// The size of the file in bytes; -1 when it is not there.
inline long long bytesOf(const std::string& path) {
  std::error_code ec;
  const auto n = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<long long>(n);
}
