// Page rotations straight from the page tree, through qpdf.
#include "core/pdfium/qpdf_page_tree.h"
#include "core/pdfium/qpdf_internal.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstring>
#include <memory>
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

// White space and delimiters end a name.
bool ends_name(unsigned char c) {
  switch (c) {
    case 0: case '\t': case '\n': case '\f': case '\r': case ' ':
    case '(': case ')': case '<': case '>': case '[': case ']': case '{': case '}': case '/': case '%':
      return true;
    default:
      return false;
  }
}

// Whether a name in `data` may read Rotate: spelled so, or six characters written with #
// escapes, which PDFium may decode to it. Strings are not told from names, so a false alarm
// costs only the walk.
bool may_name_rotate(const unsigned char* data, size_t size) {
  const unsigned char* const end = data + size;
  const unsigned char* p = data;
  while ((p = static_cast<const unsigned char*>(std::memchr(p, '/', static_cast<size_t>(end - p))))) {
    const unsigned char* name = ++p;
    bool escaped = false;
    while (p < end && !ends_name(*p)) escaped |= *p++ == '#';
    const size_t n = static_cast<size_t>(p - name);
    if (escaped ? n >= 6 && n <= 18 : n == 6 && std::memcmp(name, "Rotate", 6) == 0) return true;
  }
  return false;
}

// Whether `h`, or a container written inside it, has a /Rotate key. Indirect values are objects
// of their own. PDFium takes a stream's dictionary where it expects one, so those count too.
bool holds_rotate_key(QPDFObjectHandle h, int depth) {
  if (depth > kMaxDepth) return true;
  if (h.isStream()) h = h.getDict();
  if (h.isDictionary()) {
    for (auto const& [key, value] : h.ditems()) {
      if (key == "/Rotate") return true;
      if (!value.isIndirect() && holds_rotate_key(value, depth + 1)) return true;
    }
  } else if (h.isArray()) {
    for (QPDFObjectHandle item : h.aitems())
      if (!item.isIndirect() && holds_rotate_key(item, depth + 1)) return true;
  }
  return false;
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

// Resolving one object of an object stream makes qpdf parse the whole stream, so a walk parses
// nearly every object of a large manual; here the objects in streams are only searched as text.
// The objects written plainly, the few streams of such a file, are read through qpdf.
bool nothing_turned(const uint8_t* data, size_t size, std::string_view password) {
  try {
    QPDF q;
    open(q, reinterpret_cast<const char*>(data), size, password);
    std::set<int> streams;
    std::vector<QPDFObjGen> plain;
    for (const auto& [og, entry] : q.getXRefTable()) {
      if (entry.getType() == 2)
        streams.insert(entry.getObjStreamNumber());
      else if (entry.getType() == 1)
        plain.push_back(og);
    }
    // Without object streams the walk reads one object a page, which is cheap already.
    if (streams.empty() || holds_rotate_key(q.getTrailer(), 0)) return false;
    for (const QPDFObjGen& og : plain)
      if (holds_rotate_key(q.getObject(og), 0)) return false;
    for (const int n : streams) {
      QPDFObjectHandle stream = q.getObjectByID(n, 0);
      if (!stream.isStream()) return false;
      const std::shared_ptr<Buffer> text = stream.getStreamData(qpdf_dl_generalized);
      if (!text || may_name_rotate(text->getBuffer(), text->getSize())) return false;
    }
    return !q.anyWarnings();
  } catch (...) {
    return false;
  }
}

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

bool tree_has_page(const std::vector<uint8_t>& in, std::string_view password) {
  try {
    QPDF q;
    open(q, in, password);
    for (QPDFObjectHandle page : q.getAllPages())
      if (page.isDictionary()) return true;
    return false;
  } catch (...) {
    return true;
  }
}

}  // namespace quorvel::qpdf_bridge
