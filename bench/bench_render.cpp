// Renders every page of a PDF at 96 and 144 dpi into memory, then extracts the text of every
// page, and prints pages per second and the peak resident memory after each phase.
//   bench_render FILE.pdf [PAGES]    (PAGES: only the first so many pages)
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/engine.h"

namespace {

double peak_mib() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

std::unique_ptr<quorvel::IDocument> open(const std::vector<char>& bytes) {
  static auto engine = quorvel::make_engine(quorvel::EngineKind::Pdfium);
  return engine->open({reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()}, "");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.pdf [PAGES]\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto doc = open(bytes);
  if (!doc) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  int pages = doc->page_count();
  if (argc > 2) pages = std::min(pages, std::atoi(argv[2]));
  std::printf("file: %s, pages: %d\n", argv[1], pages);

  using clock = std::chrono::steady_clock;
  for (const int dpi : {96, 144}) {
    // A fresh document per pass, so that the page cache of one pass does not help the next.
    doc = open(bytes);
    const double scale = dpi / 72.0;
    unsigned long long checksum = 0;
    const auto t0 = clock::now();
    for (int p = 0; p < pages; ++p) {
      const quorvel::PageInfo info = doc->page_info(p);
      const bool odd = (info.rotation / 90) % 2 == 1;
      const double w = odd ? info.height : info.width, h = odd ? info.width : info.height;
      const quorvel::RenderedTile t = doc->render_tile(
          p, {scale, 0, 0, static_cast<int>(std::lround(w * scale)), static_cast<int>(std::lround(h * scale)), 0});
      if (!t.pixels.empty()) checksum += t.pixels[t.pixels.size() / 2];
    }
    const double s = std::chrono::duration<double>(clock::now() - t0).count();
    std::printf("render %3d dpi: %8.2f s  %8.1f pages/s  peak %7.1f MiB  (checksum %llu)\n", dpi, s, pages / s,
                peak_mib(), checksum);
  }

  doc = open(bytes);
  size_t bytes_of_text = 0;
  const auto t0 = clock::now();
  for (int p = 0; p < pages; ++p) {
    for (const quorvel::TextRun& run : doc->extract_text(p).runs) bytes_of_text += run.text.size();
  }
  const double s = std::chrono::duration<double>(clock::now() - t0).count();
  std::printf("extract text:   %8.2f s  %8.1f pages/s  peak %7.1f MiB  (%zu bytes of text)\n", s, pages / s,
              peak_mib(), bytes_of_text);
  return 0;
}
