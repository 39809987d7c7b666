// Page rotations straight from the page tree, through qpdf.
#include "core/pdfium/qpdf_page_tree.h"
#include "core/pdfium/qpdf_internal.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <set>

namespace quorvel::qpdf_bridge {

namespace {

constexpr int kMaxDepth = 256;
constexpr long long kMaxRotate = 1000000;

struct Walk {
  std::set<QPDFObjGen> seen;
  std::vector<int> turns;
};

// PDFium reads /Rotate as an int divided by 90, modulo 4; -1 where it may read it otherwise.
int turns(QPDFObjectHandle value) {
  if (!value.isInteger()) return -1;
  const long long v = value.getIntValue();
  if (v < -kMaxRotate || v > kMaxRotate) return -1;
  const int t = static_cast<int>(v / 90 % 4);
  return t < 0 ? t + 4 : t;
}

// The page's own /Rotate, or the nearest node's above it.
int rotation_of(QPDFObjectHandle page) {
  QPDFObjectHandle value = page.getKey("/Rotate");
  if (!value.isNull()) return turns(value);
  std::set<QPDFObjGen> up;
  QPDFObjectHandle node = page.getKey("/Parent");
  for (int depth = 0; node.isDictionary(); ++depth) {
    if (depth > kMaxDepth) return -1;
    if (node.isIndirect() && !up.insert(node.getObjGen()).second) break;
    value = node.getKey("/Rotate");
    if (!value.isNull()) break;
    node = node.getKey("/Parent");
  }
  if (value.isNull()) return 0;
  // qpdf does not tell a null entry from a missing one, and PDFium stops at a null entry with
  // no turn: an inherited turn is left to PDFium, an inherited zero is zero either way.
  return turns(value) == 0 ? 0 : -1;
}

bool walk(Walk& w, QPDFObjectHandle node, int depth) {
  if (depth > kMaxDepth) return false;
  QPDFObjectHandle kids = node.getKey("/Kids");
  QPDFObjectHandle count = node.getKey("/Count");
  if (!kids.isArray() || !count.isInteger()) return false;
  const size_t before = w.turns.size();
  for (QPDFObjectHandle kid : kids.aitems()) {
    // PDFium counts such a kid as a page that will not load.
    if (!kid.isDictionary()) {
      w.turns.push_back(-1);
      continue;
    }
    if (kid.isIndirect() && !w.seen.insert(kid.getObjGen()).second) return false;
    if (kid.hasKey("/Kids")) {
      if (!walk(w, kid, depth + 1)) return false;
    } else {
      w.turns.push_back(rotation_of(kid));
    }
  }
  return count.getIntValue() == static_cast<long long>(w.turns.size() - before);
}

}  // namespace

bool page_rotations(const std::vector<uint8_t>& in, std::string_view password, std::vector<int>& out) {
  try {
    QPDF q;
    open(q, in, password);
    QPDFObjectHandle root = q.getRoot().getKey("/Pages");
    if (!root.isDictionary() || !root.isIndirect()) return false;
    Walk w;
    w.seen.insert(root.getObjGen());
    if (!walk(w, root, 0)) return false;
    // Repairs qpdf made may not be the ones PDFium made.
    if (q.anyWarnings()) return false;
    out.swap(w.turns);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace quorvel::qpdf_bridge
