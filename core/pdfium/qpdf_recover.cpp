// Rebuilding damaged PDFs with qpdf's recovery. qpdf reconstructs a lost cross-reference table
// by scanning for objects, but it still needs a trailer that names the catalog; when none
// survives, one is appended that names the object holding /Type /Catalog.
#include "core/pdfium/qpdf_recover.h"
#include "core/pdfium/qpdf_internal.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::qpdf_bridge {

namespace {

bool is_space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; }
bool is_delimiter(char c) { return c != '\0' && std::strchr("()<>[]{}/%", c) != nullptr; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool ends_token(std::string_view s, size_t at) { return at >= s.size() || is_space(s[at]) || is_delimiter(s[at]); }

// Runs of whitespace and digits in object headers are short in every real file; the caps keep
// the backward reads bounded whatever the input holds.
constexpr size_t kMaxSpaces = 64;
constexpr size_t kMaxDigits = 10;

// Moves `i` back over at most `cap` characters matching `pred`; gives how many it passed.
template <typename Pred>
size_t back_over(std::string_view s, size_t& i, size_t cap, Pred pred) {
  size_t n = 0;
  while (i > 0 && n < cap && pred(s[i - 1])) {
    --i;
    ++n;
  }
  return n;
}

long long number_at(std::string_view s, size_t from, size_t to) {
  long long v = 0;
  for (size_t k = from; k < to; ++k) v = v * 10 + (s[k] - '0');
  return v;
}

// Reads "N G obj" whose keyword starts at `o`.
bool object_header(std::string_view s, size_t o, ObjectRef& ref) {
  if (!ends_token(s, o + 3)) return false;
  size_t i = o;
  if (back_over(s, i, kMaxSpaces, is_space) == 0) return false;
  const size_t gen_end = i;
  if (back_over(s, i, kMaxDigits, is_digit) == 0) return false;
  const size_t gen_begin = i;
  if (back_over(s, i, kMaxSpaces, is_space) == 0) return false;
  const size_t num_end = i;
  if (back_over(s, i, kMaxDigits, is_digit) == 0) return false;
  if (i > 0 && !is_space(s[i - 1]) && !is_delimiter(s[i - 1])) return false;
  ref = {number_at(s, i, num_end), number_at(s, gen_begin, gen_end)};
  return ref.number > 0;
}

// "/Catalog" at `at` as the value of a /Type key.
bool catalog_type_at(std::string_view s, size_t at) {
  if (!ends_token(s, at + 8)) return false;
  size_t i = at;
  back_over(s, i, kMaxSpaces, is_space);
  return i >= 5 && s.substr(i - 5, 5) == "/Type";
}

}  // namespace

bool write_preserving(QPDF& q, Bytes& out) {
  QPDFWriter w(q);
  w.setOutputMemory();
  w.setDecodeLevel(qpdf_dl_none);
  w.setCompressStreams(false);
  w.write();
  const std::shared_ptr<Buffer> buf = w.getBufferSharedPointer();
  if (!buf || buf->getSize() == 0) return false;
  out.assign(buf->getBuffer(), buf->getBuffer() + buf->getSize());
  return true;
}

namespace {

// Pages lost with the damage (a download cut in the middle) would be written as holes in the
// page tree, which PDFium's page edits crash on; the pages that survive get a flat tree of
// their own, in their order, with what they inherited copied onto them.
bool keep_readable_pages(QPDF& q) {
  const std::vector<QPDFObjectHandle> pages = q.getAllPages();
  std::vector<QPDFObjectHandle> readable;
  for (QPDFObjectHandle page : pages) {
    if (page.isDictionary()) readable.push_back(page);
  }
  if (readable.empty()) return false;
  if (readable.size() == pages.size()) return true;
  q.pushInheritedAttributesToPage();
  QPDFObjectHandle tree = q.getRoot().getKey("/Pages");
  if (!tree.isDictionary()) return false;
  for (QPDFObjectHandle page : readable) page.replaceKey("/Parent", tree);
  tree.replaceKey("/Kids", QPDFObjectHandle::newArray(readable));
  tree.replaceKey("/Count", QPDFObjectHandle::newInteger(static_cast<long long>(readable.size())));
  q.updateAllPagesCache();
  return q.getAllPages().size() == readable.size();
}

Recovery attempt(const char* data, size_t size, std::string_view password, Bytes& out) {
  try {
    QPDF q;
    open(q, data, size, password);
    QPDFObjectHandle trailer = q.getTrailer();
    if (!trailer.getKey("/Root").isDictionary()) return Recovery::failed;
    if (!keep_readable_pages(q)) return Recovery::failed;
    // The writer only updates a /Size the trailer has; a trailer supplied here has none.
    if (!trailer.hasKey("/Size")) trailer.replaceKey("/Size", QPDFObjectHandle::newInteger(0));
    Bytes result;
    if (!write_preserving(q, result)) return Recovery::failed;
    out.swap(result);
    return Recovery::repaired;
  } catch (const QPDFExc& e) {
    return e.getErrorCode() == qpdf_e_password ? Recovery::needs_password : Recovery::failed;
  } catch (...) {
    return Recovery::failed;
  }
}

}  // namespace

std::vector<ObjectRef> find_catalogs(std::string_view s, size_t limit) {
  // Most recent first, each once; only `limit` are kept, whatever the file holds.
  std::vector<ObjectRef> refs;
  ObjectRef current;
  bool inside = false;
  size_t keyword = s.find("obj");
  for (size_t cat = s.find("/Catalog"); cat != std::string_view::npos; cat = s.find("/Catalog", cat + 8)) {
    // Follow the object headers and ends up to this name, so that it is known which object
    // (if any) it lies in.
    for (; keyword != std::string_view::npos && keyword < cat; keyword = s.find("obj", keyword + 3)) {
      ObjectRef ref;
      if (keyword >= 3 && s.substr(keyword - 3, 3) == "end") {
        inside = false;
      } else if (object_header(s, keyword, ref)) {
        current = ref;
        inside = true;
      }
    }
    if (limit == 0 || !inside || !catalog_type_at(s, cat)) continue;
    std::erase(refs, current);
    refs.insert(refs.begin(), current);
    if (refs.size() > limit) refs.pop_back();
  }
  return refs;
}

Recovery recover(std::span<const uint8_t> in, std::string_view password, Bytes& out) {
  if (in.empty()) return Recovery::failed;
  const char* data = reinterpret_cast<const char*>(in.data());
  // qpdf first takes the file as it stands: its reconstruction uses a trailer that survives.
  const Recovery as_is = attempt(data, in.size(), password, out);
  if (as_is != Recovery::failed) return as_is;
  try {
    // Each try is a full reconstruction, so only the most recent few catalogs are tried.
    for (const ObjectRef& root : find_catalogs({data, in.size()}, 3)) {
      const std::string trailer = "\ntrailer\n<< /Root " + std::to_string(root.number) + " " +
                                  std::to_string(root.generation) + " R >>\n";
      std::string patched;
      patched.reserve(in.size() + trailer.size());
      patched.append(data, in.size());
      patched += trailer;
      const Recovery r = attempt(patched.data(), patched.size(), password, out);
      if (r != Recovery::failed) return r;
    }
  } catch (...) {
  }
  return Recovery::failed;
}

}  // namespace quorvel::qpdf_bridge
