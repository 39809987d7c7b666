// Renders every page of a PDF at 96 and 144 dpi into memory, through the engine and through a
// plain loop over the same PDFium library (load the page, render it, keep it open, as the page
// cache does), and prints both and their ratio. Before that it prints resident memory after
// one pass and times page_info over all pages; after it, it extracts the text of every page.
//   bench_render FILE.pdf [PAGES]     (PAGES: only the first so many pages)
//   bench_render --generate=N [PAGES] (a document of N letter pages of forty text lines)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "core/engine.h"
#include "core/pdfium/pdfium_api.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point t0) {
  return std::chrono::duration<double>(clock_type::now() - t0).count();
}

double peak_mib() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

double resident_mib() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

std::unique_ptr<quorvel::IDocument> open(const std::vector<char>& bytes) {
  static auto engine = quorvel::make_engine(quorvel::EngineKind::Pdfium);
  return engine->open({reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()}, "");
}

// The same shape as the start-up benchmark's document.
std::string generated_pdf(int pages) { return quorvel::test::build_pdf(quorvel::test::forty_line_pages(pages)); }

struct Pass {
  double seconds = 0;
  double resident = 0;
  unsigned long long checksum = 0;
};

// What the viewer does per page: its shape, then one tile of the whole page.
Pass engine_pass(const std::vector<char>& bytes, int pages, double scale) {
  auto doc = open(bytes);
  Pass r;
  const auto t0 = clock_type::now();
  for (int p = 0; p < pages; ++p) {
    const quorvel::PageInfo info = doc->page_info(p);
    const bool odd = (info.rotation / 90) % 2 == 1;
    const double w = odd ? info.height : info.width, h = odd ? info.width : info.height;
    const quorvel::RenderedTile t = doc->render_tile(
        p, {scale, 0, 0, static_cast<int>(std::lround(w * scale)), static_cast<int>(std::lround(h * scale)), 0});
    if (!t.pixels.empty()) {
      r.checksum += t.pixels[static_cast<size_t>(t.height / 2) * static_cast<size_t>(t.width) * 4 +
                             static_cast<size_t>(t.width / 2) * 4];
    }
  }
  r.seconds = seconds_since(t0);
  r.resident = resident_mib();
  return r;
}

// The floor: nothing but PDFium, every page kept open. The engine has started the library, and
// nothing else runs, so the engine's lock is not needed.
Pass floor_pass(const std::vector<char>& bytes, int pages, double scale) {
  std::vector<char> copy = bytes;
  Pass r;
  FPDF_DOCUMENT doc = FPDF_LoadMemDocument(copy.data(), static_cast<int>(copy.size()), nullptr);
  if (!doc) return r;
  std::vector<FPDF_PAGE> kept;
  const auto t0 = clock_type::now();
  for (int p = 0; p < pages; ++p) {
    FPDF_PAGE page = FPDF_LoadPage(doc, p);
    if (!page) continue;
    kept.push_back(page);
    const int w = static_cast<int>(std::lround(FPDF_GetPageWidthF(page) * scale));
    const int h = static_cast<int>(std::lround(FPDF_GetPageHeightF(page) * scale));
    FPDF_BITMAP bmp = FPDFBitmap_CreateEx(w, h, QV_FPDFBitmap_BGRA, nullptr, 0);
    if (!bmp) continue;
    FPDFBitmap_FillRect(bmp, 0, 0, w, h, 0xFFFFFFFF);
    FPDF_RenderPageBitmap(bmp, page, 0, 0, w, h, 0, QV_FPDF_ANNOT);
    const auto* px = static_cast<const unsigned char*>(FPDFBitmap_GetBuffer(bmp));
    r.checksum += px[(static_cast<size_t>(h / 2) * FPDFBitmap_GetStride(bmp)) + static_cast<size_t>(w / 2) * 4];
    FPDFBitmap_Destroy(bmp);
  }
  r.seconds = seconds_since(t0);
  r.resident = resident_mib();
  for (FPDF_PAGE page : kept) FPDF_ClosePage(page);
  FPDF_CloseDocument(doc);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.pdf|--generate=N [PAGES]\n", argv[0]);
    return 2;
  }
  std::vector<char> bytes;
  const std::string source = argv[1];
  if (source.rfind("--generate=", 0) == 0) {
    const std::string pdf = generated_pdf(std::max(1, std::atoi(source.c_str() + 11)));
    bytes.assign(pdf.begin(), pdf.end());
  } else {
    std::ifstream in(source, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  auto doc = open(bytes);
  if (!doc) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  int pages = doc->page_count();
  if (argc > 2) pages = std::min(pages, std::atoi(argv[2]));
  std::printf("file: %s, pages: %d\n", argv[1], pages);

  // Memory first, while the process has touched little else: one document open, every page
  // rendered once, as a scroll through the whole document does.
  doc.reset();
  {
    const double at_start = resident_mib();
    const Pass once = engine_pass(bytes, pages, 96 / 72.0);
    std::printf("resident after rendering every page once: %7.1f MiB (%7.1f MiB before)\n", once.resident,
                at_start);
  }

  // page_info over all pages of a freshly opened document, as the layout asks at open, and
  // again after a page is deleted, as the layout asks after the edit.
  {
    doc = open(bytes);
    auto all_shapes = [&](const char* when, int count) {
      double area = 0;
      const auto t0 = clock_type::now();
      for (int p = 0; p < count; ++p) {
        const quorvel::PageInfo info = doc->page_info(p);
        area += info.width * info.height;
      }
      std::printf("page_info, all pages%s: %8.1f ms  (area %.0f)\n", when, seconds_since(t0) * 1e3, area);
    };
    all_shapes("", pages);
    if (pages > 1 && doc->delete_page(0)) all_shapes(" after deleting one", pages - 1);
  }
  doc.reset();

  for (const int dpi : {96, 144}) {
    const double scale = dpi / 72.0;
    // Alternating runs; the fastest of each keeps a busy machine's noise out of the ratio.
    Pass ours, floor;
    const auto t0 = clock_type::now();
    for (int round = 0; round < 2 || (round < 7 && seconds_since(t0) < 4.0); ++round) {
      const Pass o = engine_pass(bytes, pages, scale);
      const Pass f = floor_pass(bytes, pages, scale);
      if (round == 0 || o.seconds < ours.seconds) ours = o;
      if (round == 0 || f.seconds < floor.seconds) floor = f;
    }
    std::printf("render %3d dpi: ours %8.1f pages/s  floor %8.1f pages/s  ratio %.3f  (checksums %llu %llu)\n",
                dpi, pages / ours.seconds, pages / floor.seconds, ours.seconds / floor.seconds, ours.checksum,
                floor.checksum);
  }

  doc = open(bytes);
  size_t bytes_of_text = 0;
  const auto t0 = clock_type::now();
  for (int p = 0; p < pages; ++p) {
    for (const quorvel::TextRun& run : doc->extract_text(p).runs) bytes_of_text += run.text.size();
  }
  const double s = seconds_since(t0);
  std::printf("extract text:   %8.2f s  %8.1f pages/s  peak %7.1f MiB  (%zu bytes of text)\n", s, pages / s,
              peak_mib(), bytes_of_text);
  return 0;
}
