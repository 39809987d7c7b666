// Saved copies, page ranges, splits by bookmarks and merges beside qpdf's command line doing
// the same on the same files, in one run: medians of alternating runs (ours includes opening
// the document, the peer its process start), the ratio ours/peer, and the output sizes.
// Usage: bench_copies [runs] [file.pdf other.pdf]   (without files: the generated 2,500-page
// manual merged with a 2,400-page one, and libtasn1's manual with shared-mime-info-spec.pdf
// when installed; with them, that pair alone)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/figures.h"
#include "common/fixtures.h"
#include "common/manual_like.h"
#include "core/engine.h"

using namespace quorvel;
using quorvel::test::as_bytes;
namespace fs = std::filesystem;

namespace {

double now_ms() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Pair {
  std::string name;
  std::function<bool()> ours;
  std::function<bool()> peer;
  std::string ours_out;  // a file whose size is reported, when there is one
  std::string peer_out;
};

void run_pair(const Pair& p, int runs) {
  std::vector<double> a, b;
  for (int i = 0; i < runs; ++i) {
    double t0 = now_ms();
    if (!p.ours()) {
      std::printf("%-44s ours failed\n", p.name.c_str());
      return;
    }
    a.push_back(now_ms() - t0);
    t0 = now_ms();
    if (!p.peer()) {
      std::printf("%-44s peer failed\n", p.name.c_str());
      return;
    }
    b.push_back(now_ms() - t0);
  }
  const double ours = median(a), peer = median(b);
  std::printf("%-44s ours %8.1f ms  peer %8.1f ms  ratio %5.2f", p.name.c_str(), ours, peer, ours / peer);
  if (!p.ours_out.empty()) {
    std::printf("  size %9lld / %9lld", bytesOf(p.ours_out), bytesOf(p.peer_out));
  }
  std::printf("\n");
}

bool qpdf(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"qpdf"};
  argv.insert(argv.end(), args.begin(), args.end());
  // Exit status 3 is success with warnings.
  const int rc = test::run_program(argv);
  return rc == 0 || rc == 3;
}

// The top-level bookmarks' parts as the split by bookmarks cuts them.
std::vector<std::pair<int, int>> bookmark_parts(IDocument& d) {
  std::vector<int> firsts;
  const int n = d.page_count();
  for (const OutlineItem& item : d.outline())
    if (item.page >= 0 && item.page < n) firsts.push_back(item.page);
  std::sort(firsts.begin(), firsts.end());
  std::vector<std::pair<int, int>> parts;
  for (size_t k = 0; k < firsts.size(); ++k) {
    const int last = k + 1 < firsts.size() ? firsts[k + 1] - 1 : n - 1;
    if (last >= firsts[k]) parts.push_back({firsts[k], last});
  }
  return parts;
}

void bench_file(const std::string& label, const std::string& path, const std::string& other, int runs,
                const test::TempDir& dir) {
  const std::string bytes = test::read_file(path);
  auto engine = make_engine(EngineKind::Pdfium);
  auto probe = engine->open(as_bytes(bytes), "");
  if (!probe) {
    std::printf("%s: does not open\n", label.c_str());
    return;
  }
  const int n = probe->page_count();
  const std::vector<std::pair<int, int>> parts = bookmark_parts(*probe);
  probe.reset();
  std::printf("\n%s: %d pages, %lld bytes, %zu top-level bookmark parts\n", label.c_str(), n,
              static_cast<long long>(bytes.size()), parts.size());

  auto open = [&] { return engine->open(as_bytes(bytes), ""); };
  const std::string ours = dir.file("ours.pdf"), peer = dir.file("peer.pdf");

  run_pair({"saved copy, nothing added",
            [&] {
              auto d = open();
              return d && d->save_as(ours, {});
            },
            [&] { return qpdf({path, peer}); }, ours, peer},
           runs);
  run_pair({"saved copy after one page turned",
            [&] {
              auto d = open();
              return d && d->rotate_page(0, 1) && d->save_as(ours, {});
            },
            [&] { return qpdf({path, peer, "--rotate=+90:1"}); }, ours, peer},
           runs);

  const int first = std::max(0, n / 2 - 25), last = std::min(n - 1, first + 50);
  const std::string range = std::to_string(first + 1) + "-" + std::to_string(last + 1);
  run_pair({"range of " + std::to_string(last - first + 1) + " pages (" + range + ")",
            [&] {
              auto d = open();
              return d && d->save_range(ours, first, last);
            },
            [&] { return qpdf({"--empty", "--pages", path, range, "--", peer}); }, ours, peer},
           runs);

  if (!parts.empty()) {
    const std::string ours_dir = dir.file("ours-parts"), peer_dir = dir.file("peer-parts");
    fs::create_directories(ours_dir);
    fs::create_directories(peer_dir);
    run_pair({"split by " + std::to_string(parts.size()) + " bookmarks",
              [&] {
                auto d = open();
                if (!d) return false;
                std::vector<PageRangeFile> files;
                for (size_t k = 0; k < parts.size(); ++k)
                  files.push_back({ours_dir + "/" + std::to_string(k) + ".pdf", parts[k].first, parts[k].second});
                const std::vector<bool> written = d->save_ranges(files);
                return std::all_of(written.begin(), written.end(), [](bool w) { return w; });
              },
              [&] {
                // qpdf has no split by bookmarks: one run a part.
                for (size_t k = 0; k < parts.size(); ++k) {
                  if (!qpdf({"--empty", "--pages", path,
                             std::to_string(parts[k].first + 1) + "-" + std::to_string(parts[k].second + 1), "--",
                             peer_dir + "/" + std::to_string(k) + ".pdf"}))
                    return false;
                }
                return true;
              },
              "", ""},
             runs);
  }

  const std::string other_bytes = test::read_file(other);
  run_pair({"merge with " + fs::path(other).filename().string() + ", then save",
            [&] {
              auto d = open();
              return d && d->merge(as_bytes(other_bytes), -1) && d->save_as(ours, {});
            },
            [&] { return qpdf({"--empty", "--pages", path, other, "--", peer}); }, ours, peer},
           runs);

  run_pair({"N-up 2x2 (peer: plain rewrite)",
            [&] {
              auto d = open();
              return d && d->save_nup(ours, 2, 2);
            },
            [&] { return qpdf({path, peer}); }, ours, peer},
           runs);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  test::TempDir dir;
  std::printf("runs per figure: %d (medians; alternating ours and peer)\n", runs);
  if (argc > 3) {
    bench_file(argv[2], argv[2], argv[3], runs, dir);
    return 0;
  }
  const std::string manual = dir.file("manual.pdf");
  const std::string manual_b = dir.file("manual-b.pdf");
  test::ManualShape shape;
  if (!test::write_file(manual, test::manual_like_pdf(shape))) return 1;
  shape.pages = 2400;
  shape.outline_entries = 2900;
  if (!test::write_file(manual_b, test::manual_like_pdf(shape))) return 1;
  bench_file("manual-like", manual, manual_b, runs, dir);
  const std::string tasn1 = "/usr/share/doc/libtasn1-doc/libtasn1.pdf";
  const std::string mime = "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf";
  if (fs::exists(tasn1)) bench_file("libtasn1.pdf", tasn1, fs::exists(mime) ? mime : tasn1, runs, dir);
  return 0;
}
