// A field of /proc/self/status (VmRSS, VmHWM, ...) in MB, for the benchmarks' memory figures;
// negative when absent.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

inline double statusMb(const char* key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(f, line)) {
    if (line.rfind(prefix, 0) == 0) return std::atof(line.c_str() + prefix.size()) / 1024.0;
  }
  return -1;
}
