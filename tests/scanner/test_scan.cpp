// The library's scan: rule table, link schemes, verdicts, the report's text form, and the
// bounds that keep hostile inputs cheap.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "common/time_bound.h"
#include "scanner/scan.h"
#include "scanner/security.h"

namespace {

using quorvel_scan::Severity;
using quorvel_scan::ThreatKind;
using quorvel_scan::ThreatReport;
using quorvel_scan::Verdict;

ThreatReport scan_text(const std::string& s) {
  return quorvel_scan::scan({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
}

TEST(Scan, EmptyInput) {
  const ThreatReport r = quorvel_scan::scan({});
  EXPECT_FALSE(r.is_pdf);
  EXPECT_EQ(r.verdict, Verdict::Clean);
  EXPECT_TRUE(r.findings.empty());
  EXPECT_FALSE(r.max_severity());
}

TEST(Scan, PdfHeaderOnlyAtTheStart) {
  const struct {
    std::string input;
    bool is_pdf;
  } cases[] = {
      {"%PDF", false},     {"%PDF-", true},      {"%PDF-1.7\n", true},
      {" %PDF-1.7", false}, {"%pdf-1.7", false}, {"junk\n%PDF-1.7", false},
  };
  for (const auto& c : cases) EXPECT_EQ(scan_text(c.input).is_pdf, c.is_pdf) << c.input;
}

TEST(Scan, RuleTable) {
  const struct {
    std::string name;
    ThreatKind kind;
    Severity severity;
  } rules[] = {
      {"JavaScript", ThreatKind::JavaScript, Severity::High},
      {"JS", ThreatKind::JavaScript, Severity::High},
      {"OpenAction", ThreatKind::OpenAction, Severity::High},
      {"AA", ThreatKind::AdditionalActions, Severity::High},
      {"Launch", ThreatKind::Launch, Severity::High},
      {"EmbeddedFile", ThreatKind::EmbeddedFile, Severity::Medium},
      {"SubmitForm", ThreatKind::SubmitForm, Severity::Medium},
      {"RichMedia", ThreatKind::RichMedia, Severity::Medium},
      {"XFA", ThreatKind::Xfa, Severity::Medium},
      {"GoToR", ThreatKind::GoToRemote, Severity::Low},
      {"Encrypt", ThreatKind::Encrypted, Severity::Info},
  };
  for (const auto& rule : rules) {
    SCOPED_TRACE(rule.name);
    // At the very end of the input, and mid-dictionary.
    for (const std::string& input : {"%PDF-1.7\n/" + rule.name, "<</" + rule.name + " 1>>"}) {
      const ThreatReport r = scan_text(input);
      ASSERT_EQ(r.findings.size(), 1u);
      EXPECT_EQ(r.findings[0].kind, rule.kind);
      EXPECT_EQ(r.findings[0].severity, rule.severity);
      EXPECT_EQ(r.findings[0].offset, input.rfind('/'));
      EXPECT_FALSE(r.findings[0].detail);
    }
    // Exact, case-sensitive, whole name.
    for (const std::string& near : {rule.name + "X", "X" + rule.name, rule.name.substr(1)}) {
      EXPECT_TRUE(scan_text("/" + near).findings.empty()) << near;
    }
  }
  for (const char* miss : {"/javascript", "/Js", "/js", "/JAVASCRIPT", "/Encrypted", "/GoTo",
                           "/URI", "/S", "/JS\x0B", "/JS#4"}) {
    EXPECT_TRUE(scan_text(miss).findings.empty()) << miss;
  }
}

TEST(Scan, NamesAreFoundWhereverTheyStandInTheRawBytes) {
  const struct {
    std::string input;
    std::uint64_t offset;
  } cases[] = {
      {"/Java#53cript", 0},
      {"x /#4A#53 y", 2},
      {"% comment /JS\n", 10},
      {"(a string with /JS inside)", 15},
      {"<< /Length 9 >>\nstream\nxx/JS yyy\nendstream", 25},
      {"/Name/JS", 5},
  };
  for (const auto& c : cases) {
    const ThreatReport r = scan_text(c.input);
    ASSERT_EQ(r.findings.size(), 1u) << c.input;
    EXPECT_EQ(r.findings[0].kind, ThreatKind::JavaScript);
    EXPECT_EQ(r.findings[0].offset, c.offset) << c.input;
  }
}

TEST(Scan, EveryOccurrenceInInputOrder) {
  const ThreatReport r = scan_text("/JS/JS /AA /OpenAction /JS");
  std::vector<std::uint64_t> offsets;
  for (const auto& f : r.findings) offsets.push_back(f.offset);
  EXPECT_EQ(offsets, (std::vector<std::uint64_t>{0, 3, 7, 11, 23}));
  EXPECT_EQ(r.findings[2].kind, ThreatKind::AdditionalActions);
}

TEST(Scan, LinkSchemes) {
  const struct {
    std::string input;
    std::optional<std::string> detail;  // none: no finding at all
  } cases[] = {
      {"/URI (  JavaScript:alert(1))", "  JavaScript:alert(1)"},
      {"/URI(javascript:x)", "javascript:x"},
      {"/URI(FILE:///etc/passwd)", "FILE:///etc/passwd"},
      {"/URI(data:text/html,hi)", "data:text/html,hi"},
      {"/URI(VBScript:msgbox)", "VBScript:msgbox"},
      {"/URI(file:)", "file:"},
      {"/URI(file:", "file:"},                           // unterminated
      {"/URI\n\r\t(data:x)", "data:x"},
      {"/URI(\t\n\x0B\f\r javascript:x)", "\t\n\x0B\f\r javascript:x"},
      // Unicode white space before the scheme: NEL, NBSP, ideographic space, U+2028.
      {"/URI(\xC2\x85\xC2\xA0\xE3\x80\x80\xE2\x80\xA8javascript:x)",
       "\xC2\x85\xC2\xA0\xE3\x80\x80\xE2\x80\xA8javascript:x"},
      {"/URI(java\\script:x)", "javascript:x"},          // escapes are read before the test
      {"/URI(javascript:a(b)c)", "javascript:a(b)c"},
      {"/URI(javascript:\x80)", "javascript:\xEF\xBF\xBD"},
      {"/URI(mailto:x)", std::nullopt},
      {"/URI(https://example.org)", std::nullopt},
      {"/URI(xjavascript:)", std::nullopt},
      {"/URI(java script:x)", std::nullopt},
      {"/URI(javascript)", std::nullopt},
      {"/URI(\xEF\xBB\xBFjavascript:x)", std::nullopt},  // a BOM is not white space
      {"/URI(\x80javascript:x)", std::nullopt},
      {"/URI <6A6176>", std::nullopt},
      {"/URI 12 0 R", std::nullopt},
      {"/URI /JavaScript", std::nullopt},               // only the /JavaScript name
      {"/URI", std::nullopt},
      {"/URI\x0B(javascript:x)", std::nullopt},          // the name is "URI\v"
      {"/UR#49(javascript:x)", "javascript:x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    const ThreatReport r = scan_text(c.input);
    std::vector<quorvel_scan::Finding> links;
    for (const auto& f : r.findings) {
      if (f.kind == ThreatKind::SuspiciousUri) links.push_back(f);
    }
    if (!c.detail) {
      EXPECT_TRUE(links.empty());
      continue;
    }
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].offset, 0u);
    EXPECT_EQ(links[0].severity, Severity::Medium);
    EXPECT_EQ(links[0].detail, c.detail);
  }
}

TEST(Scan, VerdictFromTheHighestSeverity) {
  const struct {
    std::string input;
    Verdict verdict;
  } cases[] = {
      {"", Verdict::Clean},
      {"/Type /Page", Verdict::Clean},
      {"/Encrypt 5 0 R", Verdict::Clean},
      {"/Encrypt /Encrypt", Verdict::Clean},
      {"/Encrypt /GoToR", Verdict::Suspicious},
      {"/XFA", Verdict::Suspicious},
      {"/URI(file:x)", Verdict::Suspicious},
      {"/Encrypt /GoToR /AA", Verdict::Dangerous},
      {"/AA /GoToR", Verdict::Dangerous},
  };
  for (const auto& c : cases) EXPECT_EQ(scan_text(c.input).verdict, c.verdict) << c.input;
}

TEST(Scan, MaxSeverityAndHas) {
  const ThreatReport r = scan_text("/GoToR /XFA /Encrypt");
  EXPECT_EQ(r.max_severity(), Severity::Medium);
  EXPECT_TRUE(r.has(ThreatKind::Xfa));
  EXPECT_FALSE(r.has(ThreatKind::JavaScript));
}

TEST(Scan, TextForm) {
  EXPECT_EQ(scan_text("%PDF-1.4").to_text(),
            "PDF threat report: Clean\n  (no risky constructs detected)\n");
  EXPECT_EQ(scan_text("/Encrypt /URI(file:a b) /JS").to_text(),
            "PDF threat report: Dangerous\n"
            "  [Info] Encrypted document @ byte 0\n"
            "  [Medium] Suspicious URI scheme @ byte 9 \xE2\x80\x94 file:a b\n"
            "  [High] Embedded JavaScript @ byte 24\n");
}

TEST(Scan, LinkDetailsAreCappedBetweenCharacters) {
  // 2 KiB of text ends inside the last 'é' when the scheme is followed by them.
  std::string link = "javascript:";
  while (link.size() < 3000) link += "\xC3\xA9";
  const ThreatReport r = scan_text("/URI(" + link + ")");
  ASSERT_EQ(r.findings.size(), 1u);
  const std::string& d = *r.findings[0].detail;
  EXPECT_LE(d.size(), quorvel_scan::kDetailCap);
  EXPECT_GT(d.size(), quorvel_scan::kDetailCap - 2);
  EXPECT_EQ(d, link.substr(0, d.size()));
  EXPECT_EQ(static_cast<unsigned char>(d.back()), 0xA9);  // ends on a whole character
}

TEST(Scan, LinkDetailsShrinkOnceTheReportHoldsItsBudget) {
  const std::string link = "javascript:" + std::string(3000, 'x');
  const std::size_t full = quorvel_scan::kDetailBudget / quorvel_scan::kDetailCap;
  std::string input;
  for (std::size_t i = 0; i < full + 10; ++i) input += "/URI(" + link + ")";
  const ThreatReport r = scan_text(input);
  ASSERT_EQ(r.findings.size(), full + 10);
  for (std::size_t i = 0; i < r.findings.size(); ++i) {
    const std::size_t want = i < full ? quorvel_scan::kDetailCap : quorvel_scan::kDetailCapOverBudget;
    ASSERT_EQ(r.findings[i].detail->size(), want) << i;
    ASSERT_EQ(*r.findings[i].detail, link.substr(0, want));
  }
}

// Hostile inputs must stay linear and small, through the wrapper that copies the report.
// The bound is on the scan's own peak: the process's peak is reset before each case.
long status_kb(const std::string& key) {
  std::ifstream f("/proc/self/status");
  for (std::string line; std::getline(f, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

// Resets the process's peak resident set to the current one; false where that is refused,
// and the peak then counts from the start of the process.
bool reset_peak_rss() {
  std::ofstream f("/proc/self/clear_refs");
  f << "5";
  f.flush();
  return static_cast<bool>(f);
}

TEST(Scan, HostileInputsStayLinearAndSmall) {
  // An object stream whose data is a zlib stream of "/JS" (stored).
  const char packed[] = "1 0 obj<</Type/ObjStm/Filter/FlateDecode>>stream\n\x78\x01\x01\x03\x00\xFC\xFF/JS\n";
  const std::string packed_js(packed, sizeof packed - 1);
  const struct {
    std::string unit;
    bool findings;
    bool complete;
  } cases[] = {
      {"/URI(javascript:", true, true},  // nested, unterminated, each one a finding
      {"/URI(x", false, true},           // nested, unterminated, none a finding
      {"/URI(", false, true},
      {"/URI( ", false, true},
      {packed_js, true, true},                                // each one read, inflated and rated
      {"1 0 obj<</ObjStm ", false, true},                     // each one's dictionary read
      {"1 0 obj<</Type/ObjStm/X(", false, false},             // each string runs over the next
      {"1 0 obj<</Type/ObjStm/X[[[<<", false, true},          // each array ends at the next "obj"
      // each one's data no zlib stream beyond its header: unreadable, so not complete
      {"1 0 obj<</Type/ObjStm/Filter/FlateDecode>>stream\n\x78\x01", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unit);
    std::string input;
    input.reserve((1u << 20) + c.unit.size());
    while (input.size() < (1u << 20)) input += c.unit;
    const long base_kb = reset_peak_rss() ? status_kb("VmRSS") : 0;
    const auto t0 = std::chrono::steady_clock::now();
    const auto r = quorvel::security::scan(
        {reinterpret_cast<const std::byte*>(input.data()), input.size()});
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    EXPECT_EQ(r.failed, !c.complete);
    EXPECT_EQ(!r.findings.empty(), c.findings);
    EXPECT_LT(ms.count(), quorvel::test::time_bound_ms(1000));
    EXPECT_LT(status_kb("VmHWM") - base_kb, 100 * 1000);
  }
}

}  // namespace
