// Batch mode over a generated folder of 1,000 small PDFs: the open check ("verify") and the
// text export ("text"), each run as the real application would be, timed from outside.
// Usage: bench_batch [files] [runs]
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "timed_run.h"

namespace {

namespace fs = std::filesystem;

// A small text document of one to three pages, with a valid cross-reference table.
std::string small_pdf(int n) {
  const int pages = 1 + n % 3;
  std::vector<std::string> objs;
  std::string kids;
  for (int p = 0; p < pages; ++p) kids += std::to_string(4 + 2 * p) + " 0 R ";
  objs.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objs.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  objs.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  for (int p = 0; p < pages; ++p) {
    std::string content = "BT /F1 12 Tf 72 720 Td 14 TL";
    for (int line = 0; line < 20; ++line) {
      content += " (Document " + std::to_string(n) + " page " + std::to_string(p + 1) + " line " +
                 std::to_string(line) + ": contact user" + std::to_string(n) + "@example.com) '";
    }
    content += " ET";
    objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                   "/Contents " + std::to_string(5 + 2 * p) + " 0 R >>");
    objs.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  }
  return quorvel::test::build_pdf(objs);
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  char self[PATH_MAX] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
  const std::string app = (fs::path(self).parent_path().parent_path() / "quorvel").string();

  std::string tmpl = (fs::temp_directory_path() / "quorvel-bench-batch-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return 1;
  const fs::path root = tmpl;
  const fs::path in = root / "in";
  fs::create_directory(in);
  size_t bytes = 0;
  for (int i = 0; i < files; ++i) {
    const std::string pdf = small_pdf(i);
    bytes += pdf.size();
    std::ofstream(in / ("doc-" + std::to_string(i) + ".pdf"), std::ios::binary) << pdf;
  }
  std::printf("batch over %d generated PDFs (%.1f KiB on average), %d runs each\n", files,
              bytes / 1024.0 / files, runs);
  int failures = 0;
  for (const char* op : {"verify", "text"}) {
    std::vector<double> secs;
    std::vector<double> cpus;
    for (int r = 0; r < runs; ++r) {
      int status = 0;
      double cpu = 0;
      const fs::path out = root / ("out-" + std::string(op) + "-" + std::to_string(r));
      secs.push_back(timed_run({app, "--batch", in.string(), "--batch-op", op, "--batch-out", out.string()}, status, cpu));
      cpus.push_back(cpu);
      if (status != 0) ++failures;
    }
    std::sort(secs.begin(), secs.end());
    std::sort(cpus.begin(), cpus.end());
    std::printf("%-7s wall best %.2f s  median %.2f s (%.2f ms per file); cpu median %.2f s\n", op, secs.front(),
                secs[secs.size() / 2], secs[secs.size() / 2] * 1000.0 / files, cpus[cpus.size() / 2]);
  }
  if (failures) std::printf("runs that did not end with status 0: %d\n", failures);
  std::error_code ec;
  fs::remove_all(root, ec);
  return failures ? 1 : 0;
}
