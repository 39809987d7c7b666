// The qpdf bridge on its own: inputs the document adapter never hands it, page attributes that
// live in the page tree rather than on the pages, and encryption carried into new files.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "common/fixtures.h"
#include "core/engine.h"
#include "core/pdfium/qpdf_bridge.h"

using namespace quorvel;
namespace qb = quorvel::qpdf_bridge;

namespace {

qb::Bytes bytes_of(const std::string& s) { return qb::Bytes(s.begin(), s.end()); }

// One range as a file of its own; `out` is touched only when it was made.
bool extract_range(const qb::Bytes& in, std::string_view pw, int first, int last, qb::Bytes& out) {
  qb::Bytes part;
  const std::vector<bool> made = qb::extract_ranges(in, pw, {{first, last}}, false, [&](size_t, const qb::Bytes& b) {
    part = b;
    return true;
  });
  if (made.front()) out.swap(part);
  return made.front();
}

std::unique_ptr<IDocument> open_bytes(const qb::Bytes& b, const std::string& pw = "") {
  return make_engine(EngineKind::Pdfium)->open({reinterpret_cast<const std::byte*>(b.data()), b.size()}, pw);
}

std::vector<std::string> texts(const IDocument& d) {
  std::vector<std::string> out;
  for (int i = 0; i < d.page_count(); ++i) {
    std::string s;
    for (const TextRun& r : d.extract_text(i).runs) s += r.text;
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    out.push_back(s);
  }
  return out;
}

std::string stream(const std::string& data) {
  return "<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// Two pages that take their box, rotation and fonts from the page tree node.
std::string inherited_pdf() {
  const std::vector<std::string> objs{
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 /MediaBox [0 0 300 500] /Rotate 90 "
      "/Resources << /Font << /F1 3 0 R >> >> >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
      "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>",
      stream("BT /F1 12 Tf 20 400 Td (first) Tj ET"),
      "<< /Type /Page /Parent 2 0 R /Contents 7 0 R >>",
      stream("BT /F1 12 Tf 20 400 Td (second) Tj ET"),
  };
  return test::build_pdf(objs);
}

TEST(QpdfBridge, RefusalsLeaveTheOutputAlone) {
  const qb::Bytes doc = bytes_of(test::text_pdf({"a", "b", "c"}));
  const qb::Bytes junk = bytes_of("this is not a PDF");
  const std::string other = test::text_pdf({"x"});
  const std::string locked_other = test::qpdf_encrypt(other, "pw", "owner");
  const qb::Bytes locked = bytes_of(test::qpdf_encrypt(test::text_pdf({"a", "b"}), "pw", "owner"));
  ASSERT_FALSE(locked_other.empty());
  ASSERT_FALSE(locked.empty());
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // qpdf reads a page whose dictionary holds an integer beyond 64 bits as null.
  test::PageSpec bad_page;
  bad_page.media_box = "[0 0 " + std::string(60, '9') + " 100]";
  const std::string unreadable = test::make_pdf({bad_page});
  const struct {
    const char* name;
    std::function<bool(qb::Bytes&)> call;
  } table[] = {
      {"move: input no PDF", [&](qb::Bytes& o) { return qb::move_page(junk, "", 0, 1, o); }},
      {"move: empty input", [&](qb::Bytes& o) { return qb::move_page({}, "", 0, 1, o); }},
      {"move: onto itself", [&](qb::Bytes& o) { return qb::move_page(doc, "", 1, 1, o); }},
      {"move: to the count", [&](qb::Bytes& o) { return qb::move_page(doc, "", 0, 3, o); }},
      {"move: from negative", [&](qb::Bytes& o) { return qb::move_page(doc, "", -1, 0, o); }},
      {"move: no password", [&](qb::Bytes& o) { return qb::move_page(locked, "", 0, 1, o); }},
      {"move: wrong password", [&](qb::Bytes& o) { return qb::move_page(locked, "nope", 0, 1, o); }},
      {"merge: input no PDF", [&](qb::Bytes& o) { return qb::merge(junk, "", test::as_bytes(other), -1, o); }},
      {"merge: other no PDF", [&](qb::Bytes& o) { return qb::merge(doc, "", test::as_bytes("junk"), -1, o); }},
      {"merge: other empty", [&](qb::Bytes& o) { return qb::merge(doc, "", {}, -1, o); }},
      {"merge: other locked", [&](qb::Bytes& o) { return qb::merge(doc, "", test::as_bytes(locked_other), -1, o); }},
      {"merge: other page unreadable", [&](qb::Bytes& o) { return qb::merge(doc, "", test::as_bytes(unreadable), -1, o); }},
      {"merge: above the count", [&](qb::Bytes& o) { return qb::merge(doc, "", test::as_bytes(other), 4, o); }},
      {"range: last at the count", [&](qb::Bytes& o) { return extract_range(doc, "", 0, 3, o); }},
      {"range: first above last", [&](qb::Bytes& o) { return extract_range(doc, "", 2, 1, o); }},
      {"range: negative first", [&](qb::Bytes& o) { return extract_range(doc, "", -1, 1, o); }},
      {"range: wrong password", [&](qb::Bytes& o) { return extract_range(locked, "x", 0, 0, o); }},
      {"nup: no columns", [&](qb::Bytes& o) { return qb::nup(doc, "", 0, 2, 612, 792, o); }},
      {"nup: negative rows", [&](qb::Bytes& o) { return qb::nup(doc, "", 2, -2, 612, 792, o); }},
      {"nup: zero sheet", [&](qb::Bytes& o) { return qb::nup(doc, "", 2, 2, 0, 792, o); }},
      {"nup: NaN sheet", [&](qb::Bytes& o) { return qb::nup(doc, "", 2, 2, 612, nan, o); }},
      {"nup: input no PDF", [&](qb::Bytes& o) { return qb::nup(junk, "", 2, 2, 612, 792, o); }},
  };
  for (const auto& row : table) {
    qb::Bytes out{1, 2, 3};
    EXPECT_FALSE(row.call(out)) << row.name;
    EXPECT_EQ(out, (qb::Bytes{1, 2, 3})) << row.name;
  }
}

TEST(QpdfBridge, InheritedAttributesTravelWithCopiedPages) {
  const qb::Bytes tree = bytes_of(inherited_pdf());
  qb::Bytes merged, sheets;
  ASSERT_TRUE(qb::merge(bytes_of(test::text_pdf({"a"})), "", test::as_bytes(inherited_pdf()), 0, merged));
  ASSERT_TRUE(qb::nup(tree, "", 1, 2, 612, 792, sheets));

  auto m = open_bytes(merged);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(texts(*m), (std::vector<std::string>{"first", "second", "a"}));
  for (int i = 0; i < 2; ++i) {
    const PageInfo info = m->page_info(i);
    EXPECT_DOUBLE_EQ(info.width, 300) << i;
    EXPECT_DOUBLE_EQ(info.height, 500) << i;
    EXPECT_EQ(info.rotation, 90) << i;
  }
  // On a sheet the rotated pages keep their turn: their text runs bottom to top.
  auto s = open_bytes(sheets);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->page_count(), 1);
  const TextPage t = s->extract_text(0);
  ASSERT_EQ(t.runs.size(), 2u);
  for (const TextRun& run : t.runs) EXPECT_GT(run.top - run.bottom, run.right - run.left) << run.text;
}

TEST(QpdfBridge, EncryptedInputGivesEncryptedOutput) {
  const qb::Bytes locked = bytes_of(test::qpdf_encrypt(test::text_pdf({"a", "b", "c"}), "pw", "owner"));
  ASSERT_FALSE(locked.empty());
  qb::Bytes moved, merged, range, sheets;
  ASSERT_TRUE(qb::move_page(locked, "pw", 2, 0, moved));
  ASSERT_TRUE(qb::merge(locked, "owner", test::as_bytes(test::text_pdf({"x"})), 1, merged));
  ASSERT_TRUE(extract_range(locked, "pw", 1, 2, range));
  ASSERT_TRUE(qb::nup(locked, "pw", 2, 2, 612, 792, sheets));
  const struct {
    const char* name;
    const qb::Bytes* bytes;
    std::vector<std::string> pages;
  } table[] = {
      {"move", &moved, {"c", "a", "b"}},
      {"merge", &merged, {"a", "x", "b", "c"}},
      {"range", &range, {"b", "c"}},
      {"nup", &sheets, {"a bc"}},  // PDFium's space for the gap between a and b on one row
  };
  for (const auto& row : table) {
    EXPECT_EQ(open_bytes(*row.bytes), nullptr) << row.name;
    auto d = open_bytes(*row.bytes, "pw");
    ASSERT_NE(d, nullptr) << row.name;
    EXPECT_TRUE(d->metadata().encrypted) << row.name;
    EXPECT_EQ(texts(*d), row.pages) << row.name;
  }
}

}  // namespace
