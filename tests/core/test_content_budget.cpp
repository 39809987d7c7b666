// Hostile page content read by the content edits: a small file that inflates to a huge page, a
// huge string, forms drawn from forms without end. Each such page is refused within a bounded
// amount of memory rather than read in part or without end.
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "core/pii_redaction.h"
#include "test_edit_support.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

// The process's peak resident memory in MB since the last reset.
double peak_mb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return -1;
}

void reset_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// One page whose content stream is `repeat` copies of `unit` between `head` and `tail`, written
// to disk piece by piece and compressed by qpdf, so that the test itself never holds it.
std::string inflating_pdf(const TempDir& dir, const std::string& head, const std::string& unit, size_t repeat,
                          const std::string& tail) {
  const std::string plain = dir.file("plain.pdf"), packed = dir.file("packed.pdf");
  const size_t length = head.size() + unit.size() * repeat + tail.size();
  {
    std::ofstream f(plain, std::ios::binary);
    f << "%PDF-1.7\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
         "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
         "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> "
         "/Contents 5 0 R >> endobj\n"
         "4 0 obj << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> endobj\n"
         "5 0 obj << /Length " << length << " >>\nstream\n" << head;
    for (size_t i = 0; i < repeat; ++i) f << unit;
    f << tail << "\nendstream endobj\ntrailer << /Root 1 0 R /Size 6 >>\n%%EOF\n";
  }
  // qpdf rebuilds the missing cross-reference table and compresses the stream.
  run_program({"qpdf", "--compress-streams=y", plain, packed});
  std::filesystem::remove(plain);
  return read_file(packed);
}

// Forms `depth` levels deep, each drawing the next ten times; the last shows a value.
std::string fan_out_pdf(int depth) {
  std::vector<std::string> objs{
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> "
      "/XObject << /X 5 0 R >> >> /Contents " + std::to_string(5 + depth) + " 0 R >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
  };
  for (int level = 0; level < depth; ++level) {
    std::string body;
    std::string resources = "/Font << /F1 4 0 R >>";
    if (level + 1 < depth) {
      for (int i = 0; i < 10; ++i) body += "/X Do ";
      resources += " /XObject << /X " + std::to_string(6 + level) + " 0 R >>";
    } else {
      body = "BT /F1 12 Tf 72 700 Td (ann@example.com) Tj ET";
    }
    objs.push_back(stream_object(body, "/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << " +
                                           resources + " >>"));
  }
  objs.push_back(stream_object("/X Do"));
  return build_pdf(objs);
}

}  // namespace

TEST(ContentBudget, HostilePagesAreRefusedWithinBoundedMemory) {
  TempDir dir;
  const struct {
    const char* name;
    std::string pdf;
  } cases[] = {
      // 70 MB of path operators from a file of a few hundred KB.
      {"operator bomb", inflating_pdf(dir, "", "0 0 m 1 1 l S\n", 70'000'000 / 14, "")},
      // A single 10 MB string.
      {"string bomb", inflating_pdf(dir, "BT /F1 12 Tf 72 700 Td (", "A", 10'000'000, ") Tj ET")},
      // Eight levels of ten drawings each: 10^7 drawings of the last form.
      {"form fan-out", fan_out_pdf(8)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_LT(c.pdf.size(), size_t{1} << 20);
    auto doc = open_pdf(c.pdf);
    ASSERT_TRUE(doc);
    reset_peak();
    const double before = peak_mb();
    EXPECT_FALSE(doc->shown_texts({0}).front().has_value());
    // The page is refused before PDFium, which holds all of a page it reads, is asked for it.
    EXPECT_EQ(extract::redact_personal_data(*doc).unredacted, 0);
    const double used = peak_mb() - before;
    std::printf("%s: peak %.0f MB over %.0f MB\n", c.name, used, before);
    EXPECT_LT(used, 400.0);
  }
}

TEST(ContentBudget, AFormDrawnOftenIsReadEveryTime) {
  // Three drawings of one form, each shown in its place; the value in it is found thrice.
  std::vector<std::string> objs{
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /X 5 0 R >> >> "
      "/Contents 6 0 R >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
      stream_object("BT /F1 12 Tf 0 0 Td (ann@example.com) Tj ET",
                    "/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >>"),
      stream_object("q 1 0 0 1 72 700 cm /X Do Q q 1 0 0 1 72 600 cm /X Do Q q 1 0 0 1 72 500 cm /X Do Q"),
  };
  auto doc = open_pdf(build_pdf(objs));
  ASSERT_TRUE(doc);
  const std::optional<std::string> text = doc->shown_texts({0}).front();
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, "ann@example.com\nann@example.com\nann@example.com");
}
