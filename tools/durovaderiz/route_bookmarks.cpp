// POST /pdf/set-bookmarks: replaces the document's outline with the tree of the request. A
// bookmark whose page lies in the document points at it (fit in window); any other has no
// destination.
#include <cmath>
#include <vector>

#include <qpdf/QPDFPageDocumentHelper.hh>

#include "pdf_io.h"
#include "routes.h"

namespace durovaderiz {

namespace {

struct Mark {
  std::string title;
  long long page = -1;
  std::vector<Mark> children;
};

// A deeper tree than this is refused rather than followed down the stack.
constexpr int kMaxDepth = 64;

bool read_marks(const JSON& array, int depth, std::vector<Mark>& out) {
  if (!array.isArray() || depth > kMaxDepth) return false;
  bool ok = true;
  array.forEachArrayItem([&](JSON item) {
    if (!ok) return;
    Mark m;
    const std::optional<JSON> title = item.isDictionary() ? json_member(item, "title") : std::nullopt;
    const std::optional<JSON> page = item.isDictionary() ? json_member(item, "page") : std::nullopt;
    const double number = page ? json_number(*page).value_or(NAN) : NAN;
    if (!title || !title->getString(m.title) || !std::isfinite(number) || number != std::floor(number)) {
      ok = false;
      return;
    }
    // Only pages inside the document matter; the rest all mean "no destination".
    m.page = std::fabs(number) < 1e15 ? static_cast<long long>(number) : -1;
    if (const std::optional<JSON> kids = json_member(item, "children"))
      ok = read_marks(*kids, depth + 1, m.children);
    if (ok) out.push_back(std::move(m));
  });
  return ok;
}

// Links the items under `parent` and gives the number of items below it.
int add_items(QPDF& pdf, const std::vector<QPDFPageObjectHelper>& pages, QPDFObjectHandle parent,
              const std::vector<Mark>& marks) {
  QPDFObjectHandle prev;
  int count = 0;
  for (const Mark& m : marks) {
    QPDFObjectHandle item = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    item.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(m.title));
    item.replaceKey("/Parent", parent);
    if (m.page >= 0 && m.page < static_cast<long long>(pages.size())) {
      QPDFObjectHandle dest = QPDFObjectHandle::newArray();
      dest.appendItem(pages[static_cast<size_t>(m.page)].getObjectHandle());
      dest.appendItem(QPDFObjectHandle::newName("/Fit"));
      item.replaceKey("/Dest", dest);
    }
    if (prev.isInitialized()) {
      prev.replaceKey("/Next", item);
      item.replaceKey("/Prev", prev);
    } else {
      parent.replaceKey("/First", item);
    }
    parent.replaceKey("/Last", item);
    const int below = add_items(pdf, pages, item, m.children);
    if (below > 0) item.replaceKey("/Count", QPDFObjectHandle::newInteger(below));
    count += 1 + below;
    prev = item;
  }
  return count;
}

}  // namespace

Response handle_pdf_set_bookmarks(const Request& req) {
  return with_json_pdf(req, [](QPDF& pdf, const JSON& body) {
    std::vector<Mark> marks;
    const std::optional<JSON> tree = json_member(body, "bookmarks");
    if (!tree || !read_marks(*tree, 0, marks)) return text_reply(400, "bookmarks is not a tree of {title, page}");
    const std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    QPDFObjectHandle root = pdf.getRoot();
    if (marks.empty()) {
      root.removeKey("/Outlines");
    } else {
      QPDFObjectHandle outlines = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
      outlines.replaceKey("/Type", QPDFObjectHandle::newName("/Outlines"));
      outlines.replaceKey("/Count", QPDFObjectHandle::newInteger(add_items(pdf, pages, outlines, marks)));
      root.replaceKey("/Outlines", outlines);
    }
    QPDFWriter writer(pdf);
    return pdf_reply(written(writer));
  });
}

}  // namespace durovaderiz
