// Personal-data redaction of every installed TeX manual, in the window's path (the job's work
// run in this process) and in the batch (the application run on a folder holding the manual).
// For each: whether the copy was written, how many values pdftotext still reads in it, how many
// pixels poppler draws differently outside the blacked-out boxes, the time and the peak memory.
// The floor is the reading of every page's text alone, in the same run, as a ratio.
// Usage: bench_redact [manual-name-part]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "core/engine.h"
#include "core/extract.h"
#include "core/pii_redaction.h"
#include "process_status.h"
#include "tex_manuals.h"
#include "timed_run.h"

using namespace quorvel;
namespace fs = std::filesystem;

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::unique_ptr<IDocument> open_path(IPdfEngine& engine, const std::string& path, std::string& bytes) {
  bytes = test::read_file(path);
  return engine.open(test::as_bytes(bytes), "");
}

// What the window's job does, in a child of its own so that its peak memory is its own: the
// figures and the boxes go back through a file.
struct WindowRun {
  bool written = false;
  int unredacted = -1;
  double seconds = 0, peak_mb = 0, floor_seconds = 0;
  std::vector<std::string> values;
  std::map<int, std::vector<annot::Rect>> boxes;
};

WindowRun window_path(const std::string& manual, const std::string& copy, const std::string& report) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    auto engine = make_engine(EngineKind::Pdfium);
    std::string bytes;
    auto doc = open_path(*engine, manual, bytes);
    std::ofstream out(report);
    if (!doc) _exit(1);
    auto t0 = std::chrono::steady_clock::now();
    const extract::RedactionOutcome o = extract::redact_personal_data(*doc);
    const bool written = o.done() && doc->save_as(copy, {});
    const double secs = seconds_since(t0);
    const double peak = statusMb("VmHWM");
    // The floor: every page's text read once from a fresh document.
    auto fresh = open_path(*engine, manual, bytes);
    t0 = std::chrono::steady_clock::now();
    for (int i = 0; fresh && i < fresh->page_count(); ++i) fresh->extract_text(i);
    out << written << ' ' << o.unredacted << ' ' << secs << ' ' << peak << ' ' << seconds_since(t0) << '\n';
    for (const std::string& v : o.found) out << "V " << v.size() << ' ' << v << '\n';
    for (const auto& [page, rects] : o.boxes)
      for (const annot::Rect& r : rects) out << "B " << page << ' ' << r.x0 << ' ' << r.y0 << ' ' << r.x1 << ' ' << r.y1 << '\n';
    out.close();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  WindowRun run;
  std::ifstream in(report);
  in >> run.written >> run.unredacted >> run.seconds >> run.peak_mb >> run.floor_seconds;
  std::string kind;
  while (in >> kind) {
    if (kind == "V") {
      size_t n = 0;
      in >> n;
      in.get();
      std::string v(n, '\0');
      in.read(v.data(), static_cast<std::streamsize>(n));
      run.values.push_back(v);
    } else {
      int page = 0;
      annot::Rect r;
      in >> page >> r.x0 >> r.y0 >> r.x1 >> r.y1;
      run.boxes[page].push_back(r);
    }
  }
  return run;
}

// The application's batch on a folder holding the manual alone: seconds and peak memory.
bool batch_path(const std::string& app, const std::string& manual, const fs::path& work, double& seconds,
                double& peak_mb, fs::path& copy) {
  const fs::path in = work / "in", out = work / "out";
  fs::create_directories(in);
  fs::create_directories(out);
  fs::create_symlink(manual, in / fs::path(manual).filename());
  copy = out / fs::path(manual).filename();
  int status = -1;
  double cpu = 0;
  seconds = timed_run({app, "--batch", in.string(), "--batch-op", "redact", "--batch-out", out.string()}, status, cpu,
                      &peak_mb);
  return status == 0 && fs::exists(copy);
}

// Values of `values` that pdftotext reads as whole tokens in the copy.
int readable_values(const fs::path& copy, const std::vector<std::string>& values) {
  std::string text;
  if (test::run_program({"pdftotext", copy.string(), "-"}, &text) != 0) return -1;
  int n = 0;
  for (const std::string& v : values) n += extract::holds_token(text, v);
  return n;
}

// One page as poppler draws it, grey, one pixel a point.
struct Grey {
  int width = 0, height = 0;
  std::vector<unsigned char> pixels;
};

Grey render(const fs::path& pdf, int page, const fs::path& scratch) {
  const std::string n = std::to_string(page + 1);
  Grey g;
  if (test::run_program({"pdftoppm", "-r", "72", "-gray", "-f", n, "-l", n, "-singlefile", pdf.string(),
                         scratch.string()}) != 0)
    return g;
  std::ifstream f(scratch.string() + ".pgm", std::ios::binary);
  std::string magic;
  int max = 0;
  f >> magic >> g.width >> g.height >> max;
  f.get();
  g.pixels.resize(static_cast<size_t>(g.width) * static_cast<size_t>(g.height));
  f.read(reinterpret_cast<char*>(g.pixels.data()), static_cast<std::streamsize>(g.pixels.size()));
  return g;
}

// Pixels of the redacted pages that differ outside the boxes (widened by a pixel for rounding).
long long changed_outside(IDocument& original, const fs::path& source, const fs::path& copy,
                          const std::map<int, std::vector<annot::Rect>>& boxes, const fs::path& scratch) {
  long long changed = 0;
  for (const auto& [page, rects] : boxes) {
    const Grey a = render(source, page, scratch), b = render(copy, page, scratch);
    if (a.pixels.empty() || a.width != b.width || a.height != b.height) return -1;
    const double height = original.page_info(page).height;
    for (int y = 0; y < a.height; ++y) {
      for (int x = 0; x < a.width; ++x) {
        const size_t i = static_cast<size_t>(y) * static_cast<size_t>(a.width) + static_cast<size_t>(x);
        if (a.pixels[i] == b.pixels[i]) continue;
        const double px = x + 0.5, py = height - (y + 0.5);
        bool inside = false;
        for (const annot::Rect& r : rects)
          inside = inside || (px >= std::min(r.x0, r.x1) - 1.5 && px <= std::max(r.x0, r.x1) + 1.5 &&
                              py >= std::min(r.y0, r.y1) - 1.5 && py <= std::max(r.y0, r.y1) + 1.5);
        changed += !inside;
      }
    }
  }
  return changed;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  const fs::path here = fs::canonical("/proc/self/exe").parent_path();
  const std::string app = (here.parent_path() / "quorvel").string();
  char tmpl[] = "/tmp/quorvel-bench-redact-XXXXXX";
  const fs::path work = mkdtemp(tmpl);
  auto engine = make_engine(EngineKind::Pdfium);
  std::printf("%-26s %-6s %6s %7s %9s %10s %8s %9s %8s\n", "manual", "path", "pages", "copy", "readable",
              "px outside", "seconds", "floor x", "peak MB");
  for (const TexManual& m : installedTexManuals()) {
    if (!only.empty() && std::string(m.name).find(only) == std::string::npos) continue;
    std::string bytes;
    auto original = open_path(*engine, m.path, bytes);
    if (!original) {
      std::printf("%-26s does not open\n", m.name);
      continue;
    }
    const fs::path dir = work / m.name;
    fs::create_directories(dir);
    const fs::path copy = dir / "window.pdf";
    const WindowRun w = window_path(m.path, copy.string(), (dir / "report").string());
    const int pages = original->page_count();
    auto row = [&](const char* path, bool written, const fs::path& file, double secs, double peak) {
      const int readable = written ? readable_values(file, w.values) : -1;
      const long long outside = written ? changed_outside(*original, m.path, file, w.boxes, dir / "page") : -1;
      std::printf("%-26s %-6s %6d %7s %9d %10lld %8.1f %9.2f %8.0f\n", m.name, path, pages,
                  written ? "yes" : "NO", readable, outside, secs, w.floor_seconds > 0 ? secs / w.floor_seconds : 0,
                  peak);
    };
    row("window", w.written, copy, w.seconds, w.peak_mb);
    if (!w.written) std::printf("%-26s refused at page %d\n", "", w.unredacted + 1);
    double secs = 0, peak = 0;
    fs::path batch_copy;
    const bool written = batch_path(app, m.path, dir / "batch", secs, peak, batch_copy);
    row("batch", written, batch_copy, secs, peak);
    std::printf("%-26s values found %zu, boxes on %zu pages, floor (text of every page) %.1f s\n", "",
                w.values.size(), w.boxes.size(), w.floor_seconds);
    std::fflush(stdout);
  }
  std::error_code ec;
  fs::remove_all(work, ec);
  return 0;
}
