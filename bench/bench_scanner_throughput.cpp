// Scanning throughput of the threat scanner, in MB/s (10^6 bytes per second):
//   bench_scanner_throughput [FILE...]
// Always measures 100 MB of random bytes; each FILE (e.g. a large real PDF) is measured too.
// Figures are the best of several rounds, through the library's function interface and
// through the application's wrapper.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "scanner/quorvel_scan.h"
#include "scanner/security.h"

namespace {

std::vector<std::uint8_t> random_bytes(std::size_t n) {
  std::vector<std::uint8_t> out(n);
  std::uint64_t x = 0x9E3779B97F4A7C15ull;
  for (std::size_t i = 0; i < n; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    for (std::size_t k = 0; k < 8 && i + k < n; ++k) out[i + k] = static_cast<std::uint8_t>(x >> (8 * k));
  }
  return out;
}

template <class F>
double best_mb_per_s(std::size_t bytes, F&& run) {
  double best = 0;
  // At least three rounds and about a second in all.
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < 3 || std::chrono::steady_clock::now() - start < std::chrono::seconds(1);
       ++round) {
    const auto t0 = std::chrono::steady_clock::now();
    run();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    best = std::max(best, static_cast<double>(bytes) / 1e6 / s);
    if (round >= 50) break;
  }
  return best;
}

void measure(const char* label, const std::vector<std::uint8_t>& data) {
  std::size_t findings = 0;
  int verdict = -1;
  const double lib = best_mb_per_s(data.size(), [&] {
    quorvel_report* r = quorvel_scan(data.data(), data.size());
    findings = quorvel_report_finding_count(r);
    verdict = quorvel_report_verdict(r);
    quorvel_report_free(r);
  });
  const double app = best_mb_per_s(data.size(), [&] {
    const auto r = quorvel::security::scan({reinterpret_cast<const std::byte*>(data.data()), data.size()});
    findings = r.findings.size();
  });
  std::printf("%-40s %10.1f MB  library %8.1f MB/s  wrapper %8.1f MB/s  (%zu findings, verdict %d)\n",
              label, static_cast<double>(data.size()) / 1e6, lib, app, findings, verdict);
}

}  // namespace

int main(int argc, char** argv) {
  measure("random bytes", random_bytes(100'000'000));
  for (int i = 1; i < argc; ++i) {
    std::ifstream f(argv[i], std::ios::binary);
    if (!f) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    measure(argv[i], data);
  }
  return 0;
}
