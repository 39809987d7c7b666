// Scanning throughput of the threat scanner, in MB/s of input (10^6 bytes per second):
//   bench_scanner_throughput [FILE...]
// Measures 100 MB of random bytes, the TeX-made manuals that set-up installs, a generated
// 2,500-page manual and each FILE; every PDF three times: as it stands, as qpdf writes it
// without object streams, and encrypted by qpdf with AES-256 and an empty user password (its
// object streams kept). The three should rate alike. Figures are the best of several rounds,
// through the library's function interface and through the application's wrapper; the
// machine's load average is printed first, as other work on it lowers them.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "common/manual_like.h"
#include "tex_manuals.h"
#include "scanner/quorvel_scan.h"
#include "scanner/security.h"

namespace {

std::string random_bytes(std::size_t n) {
  std::string out(n, '\0');
  std::uint64_t x = 0x9E3779B97F4A7C15ull;
  for (std::size_t i = 0; i < n; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    for (std::size_t k = 0; k < 8 && i + k < n; ++k) out[i + k] = static_cast<char>(x >> (8 * k));
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
    if (round >= 200) break;
  }
  return best;
}

const char* verdict_word(const quorvel::security::ThreatReport& r) {
  if (r.failed) return "incomplete";
  switch (r.verdict) {
    case quorvel::security::Verdict::Clean: return "Clean";
    case quorvel::security::Verdict::Suspicious: return "Suspicious";
    case quorvel::security::Verdict::Dangerous: return "Dangerous";
  }
  return "?";
}

void measure(const std::string& label, const std::string& data) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  const double lib = best_mb_per_s(data.size(), [&] { quorvel_report_free(quorvel_scan(bytes, data.size())); });
  quorvel::security::ThreatReport report;
  const double app = best_mb_per_s(data.size(), [&] { report = quorvel::security::scan(quorvel::test::as_bytes(data)); });
  std::printf("%-46s %7.2f MB  library %8.1f MB/s  wrapper %8.1f MB/s  %s, %zu findings\n", label.c_str(),
              static_cast<double>(data.size()) / 1e6, lib, app, verdict_word(report), report.findings.size());
}

// The file as it stands, then as qpdf writes it without object streams, then encrypted.
void measure_pdf(const std::string& label, const std::string& data) {
  measure(label, data);
  quorvel::test::TempDir dir;
  const bool written = quorvel::test::write_file(dir.file("in.pdf"), data);
  const struct {
    const char* suffix;
    std::vector<std::string> options;
  } variants[] = {
      {", no object streams", {"--object-streams=disable"}},
      {", AES-256", {"--encrypt", "", "owner", "256", "--"}},
  };
  for (const auto& v : variants) {
    std::vector<std::string> argv{"qpdf", "--warning-exit-0"};
    argv.insert(argv.end(), v.options.begin(), v.options.end());
    argv.insert(argv.end(), {"--", dir.file("in.pdf"), dir.file("out.pdf")});
    std::string rewritten;
    if (written && quorvel::test::run_program(argv) == 0) rewritten = quorvel::test::read_file(dir.file("out.pdf"));
    if (rewritten.empty()) {
      std::printf("%-44s (qpdf could not rewrite it)\n", (label + v.suffix).c_str());
      continue;
    }
    measure(label + v.suffix, rewritten);
  }
}

std::string base_name(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

}  // namespace

int main(int argc, char** argv) {
  std::printf("load average: %s\n", quorvel::test::read_file("/proc/loadavg").c_str());
  measure("random bytes", random_bytes(100'000'000));
  std::vector<std::string> files;
  for (const TexManual& m : installedTexManuals()) files.push_back(m.path);
  files.insert(files.end(), argv + 1, argv + argc);
  for (const std::string& path : files) {
    const std::string data = quorvel::test::read_file(path);
    if (data.empty()) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      continue;
    }
    measure_pdf(base_name(path), data);
  }
  const std::string manual = quorvel::test::manual_like_pdf({});
  if (manual.empty()) {
    std::fprintf(stderr, "qpdf could not write the generated manual\n");
    return 1;
  }
  measure_pdf("generated manual, 2500 pages", manual);
  return 0;
}
