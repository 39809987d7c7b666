// Pages as poppler draws and reads them, for checks that an edit changed nothing else: the
// tests and the benchmarks compare the same way. No test framework here, so benchmarks link it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/fixtures.h"

namespace quorvel::test {

// RGB pixels of one page at 72 dpi.
struct Raster {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  // Pixels inside the box (page points, origin bottom left) that are not white.
  int inked(double x0, double y0, double x1, double y1) const {
    int n = 0;
    for (int y = 0; y < height; ++y) {
      const double py = height - y - 0.5;
      if (py < y0 || py > y1) continue;
      for (int x = 0; x < width; ++x) {
        const double px = x + 0.5;
        if (px < x0 || px > x1) continue;
        const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        if (p[0] < 235 || p[1] < 235 || p[2] < 235) ++n;
      }
    }
    return n;
  }
  const uint8_t* at(double px, double py) const {
    const int x = static_cast<int>(px), y = height - 1 - static_cast<int>(py);
    return &rgb[(static_cast<size_t>(y) * width + x) * 3];
  }
};

// poppler's rendering of the crop box, as readers show the page, read from the binary PPM that
// pdftoppm writes.
inline Raster render_poppler(const std::string& path, int page) {
  TempDir dir;
  const std::string n = std::to_string(page + 1);
  if (run_program({"pdftoppm", "-cropbox", "-r", "72", "-f", n, "-l", n, "-singlefile", path, dir.file("p")}) != 0) {
    return {};
  }
  const std::string ppm = read_file(dir.file("p.ppm"));
  Raster r;
  int maxval = 0;
  int consumed = 0;
  if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &r.width, &r.height, &maxval, &consumed) != 3) return {};
  const size_t start = static_cast<size_t>(consumed) + 1;
  const size_t size = static_cast<size_t>(r.width) * r.height * 3;
  if (maxval != 255 || ppm.size() < start + size) return {};
  r.rgb.assign(ppm.begin() + static_cast<long>(start), ppm.begin() + static_cast<long>(start + size));
  return r;
}

inline std::string pdftotext(const std::string& path, int page = 0) {
  std::string out;
  const std::string n = std::to_string(page + 1);
  TempDir dir;
  if (run_program({"pdftotext", "-f", n, "-l", n, "-enc", "UTF-8", path, dir.file("t.txt")}) != 0) return {};
  return read_file(dir.file("t.txt"));
}

// Pixels whose colour differs by more than a faint edge between two renders of a page
// `page_height` points high, leaving out those where `edited(x, y)` (page points, origin bottom
// left) holds; -1 when the renders differ in size. `found(x, y)` hears of each one counted.
template <typename Edited, typename Found = void (*)(double, double)>
int differing_outside(const Raster& a, const Raster& b, double page_height, Edited edited,
                      Found found = [](double, double) {}) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return -1;
  int n = 0;
  for (int y = 0; y < a.height; ++y) {
    const double py = page_height - y - 0.5;
    for (int x = 0; x < a.width; ++x) {
      const double px = x + 0.5;
      if (edited(px, py)) continue;
      const size_t i = (static_cast<size_t>(y) * a.width + x) * 3;
      for (int c = 0; c < 3; ++c) {
        if (std::abs(a.rgb[i + c] - b.rgb[i + c]) > 24) {
          ++n;
          found(px, py);
          break;
        }
      }
    }
  }
  return n;
}

}  // namespace quorvel::test
