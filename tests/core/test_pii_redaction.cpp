// Redaction of the personal data found on every page, as the window and the batch run it: what
// is found is taken out exactly, and a value that would stay readable to some reader fails the
// file instead of passing as redacted.
#include <gtest/gtest.h>

#include "core/extract.h"
#include "core/pii_redaction.h"
#include "test_edit_support.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

std::string line(double y, const std::string& text) {
  return "BT /F1 12 Tf 72 " + std::to_string(static_cast<int>(y)) + " Td (" + text + ") Tj ET\n";
}

std::string link(const std::string& uri, double y) {
  const std::string b = std::to_string(static_cast<int>(y));
  return "<< /Type /Annot /Subtype /Link /Rect [72 " + b + " 200 " + std::to_string(static_cast<int>(y) + 12) +
         "] /Border [0 0 0] /A << /S /URI /URI (" + uri + ") >> >>";
}

struct Case {
  const char* name;
  std::string pdf;
  int unredacted;     // the page the redaction fails on; -1 when it succeeds
  const char* kept;   // text pdftotext must still read in the copy
  const char* gone;   // a value pdftotext must no longer read there
};

}  // namespace

TEST(PiiRedaction, TakesOutExactlyTheValuesOrFails) {
  PageSpec sum_and_sections;
  sum_and_sections.content = line(720, "Summa 11.10 rub") + line(700, "11.10.1 Frontend") + line(680, "1.10.1 Backend") + line(660, "3.11.10 Lists");
  PageSpec sum, doi;
  doi.content = line(720, "See the paper");
  doi.extra = "/Annots [" + link("https://doi.org/10.1145/50063.51907", 718) + "]";
  PageSpec mail, naming;
  mail.content = line(720, "Write to ann@example.com");
  naming.content = line(720, "Contact");
  naming.extra = "/Annots [" + link("mailto:ann@example.com", 718) + "]";
  PageSpec again;
  sum.content = line(720, "Total 0.11 rub") + line(700, "Fee 0.01 rub");
  again.content = line(720, "The default is 0.01.") + line(700, "Not 10.01.2 nor 0.011");
  PageSpec foreign;
  foreign.content = line(720, "Paid 12.50") +
                    "BT /F1 12 Tf 72 650 Td [(Hel) /Name (lo) << /A 1 >> true null [1 2] (john.doe@example.com) "
                    "1e999 (x)] TJ ET\n";
  std::string million = "BT /F1 12 Tf 72 700 Td ";
  million.reserve(2'100'000);
  for (int i = 0; i < 1'000'000; ++i) million += "1 ";
  million += "(john.doe@example.com) Tj ET";

  const Case cases[] = {
      {"section numbers beside a sum stay", make_pdf({sum_and_sections}), -1, "11.10.1 Frontend", "11.10 rub"},
      {"a link holding the value inside a longer token stays", make_pdf({sum, doi}), -1, "Total", "0.11"},
      {"a value found on one page goes where it stands on another", make_pdf({sum, again}), -1,
       "Not 10.01.2 nor 0.011", "is 0.01"},
      {"a link elsewhere naming the value fails its page", make_pdf({mail, naming}), 1, nullptr, nullptr},
      {"strings PDFium skips in a TJ array", make_pdf({foreign}), 0, nullptr, nullptr},
      {"a value split over two content streams",
       multi_stream_pdf({"BT /F1 12 Tf 72 700 Td (john.doe@exa", "mple.com) Tj ET"}), 0, nullptr, nullptr},
      {"a million operands", multi_stream_pdf({million}), 0, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto doc = open_pdf(c.pdf);
    ASSERT_TRUE(doc);
    const extract::RedactionOutcome o = extract::redact_personal_data(*doc);
    EXPECT_EQ(o.unredacted, c.unredacted);
    EXPECT_EQ(o.done(), c.unredacted < 0);
    if (!o.done()) continue;
    TempDir dir;
    ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
    std::string text;
    for (int page = 0; page < doc->page_count(); ++page) text += pdftotext(dir.file("out.pdf"), page);
    EXPECT_NE(text.find(c.kept), std::string::npos) << text;
    EXPECT_EQ(text.find(c.gone), std::string::npos) << text;
    for (const std::string& v : o.found) EXPECT_FALSE(extract::holds_token(text, v)) << v;
  }
}

TEST(PiiRedaction, ValuesMatchAsWholeTokens) {
  const struct {
    const char* text;
    const char* value;
    bool holds;
  } cases[] = {
      {"https://doi.org/10.1145/50063.51907", "0.11", false},
      {"11.10.1 Frontend", "11.10", false},
      {"1.10.1 Frontend", "1.10", false},
      {"Sum: 11.10.", "11.10", true},
      {"mailto:ann@example.com", "ann@example.com", true},
      {"a@b.ru,c@d.ru", "a@b.ru", true},
      {"xann@example.com", "ann@example.com", false},
  };
  for (const auto& c : cases) EXPECT_EQ(extract::holds_token(c.text, c.value), c.holds) << c.text << " / " << c.value;
}
