// XFDF reading and path decoding on arbitrary bytes. Beyond not crashing: whatever is read
// must write out as clean XML that reads back to the same annotations.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/annot.h"
#include "core/xfdf.h"

using namespace quorvel::annot;

namespace {

// Well-formed UTF-8 of characters XML 1.0 allows, checked independently of the writer.
bool xml_clean(std::string_view s) {
  static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  for (size_t i = 0; i < s.size();) {
    const unsigned c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) {
      cp = c, n = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F, n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F, n = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07, n = 4;
    } else {
      return false;
    }
    if (i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      const unsigned b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = cp << 6 | (b & 0x3F);
    }
    if (cp < kMin[n]) return false;
    const bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
    if (!allowed) return false;
    i += n;
  }
  return true;
}

bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);

  const auto path = decode_path(in);
  check(decode_path(encode_path(path)).size() == path.size());

  const auto annots = from_xfdf(in);
  const std::string xml = to_xfdf(annots, in.substr(0, 128));
  check(xml_clean(xml));
  const auto back = from_xfdf(xml);
  check(back.size() == annots.size());
  for (size_t i = 0; i < annots.size(); ++i) {
    const Annotation& a = annots[i];
    const Annotation& b = back[i];
    const bool lost_arrow = a.type == AnnotType::Arrow && a.points.size() < 2;
    check(b.type == (lost_arrow ? AnnotType::Line : a.type));
    check(b.page == a.page && b.color == a.color);
    check(b.points.size() == a.points.size());
  }

  // Text is cleaned on the first write; from then on a round trip changes nothing but the
  // opacity, which may lose one step to the three decimals.
  const auto again = from_xfdf(to_xfdf(back, ""));
  check(again.size() == back.size());
  for (size_t i = 0; i < back.size(); ++i) {
    const Annotation& a = back[i];
    const Annotation& b = again[i];
    check(b.type == a.type && b.id == a.id && b.text == a.text && b.page == a.page);
    check(same(b.x0, a.x0) && same(b.y0, a.y0) && same(b.x1, a.x1) && same(b.y1, a.y1));
    check(same(b.width, a.width));
    check(b.opacity <= a.opacity && b.opacity + 1 >= a.opacity);
    check(b.points.size() == a.points.size());
    for (size_t k = 0; k < a.points.size(); ++k) {
      check(same(b.points[k].x, a.points[k].x) && same(b.points[k].y, a.points[k].y));
    }
  }
  return 0;
}
