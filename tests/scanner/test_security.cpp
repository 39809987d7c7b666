// The application's view of the scanner: plain reports, kinds mapped back from the interface
// codes, and a scan that cannot finish never reading as clean.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "scanner/security.h"

// Allocation failure on demand: the n-th allocation after arming throws. The replacements
// pair malloc with free, which GCC cannot see through.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
long g_allocs_until_failure = -1;
bool g_failure_hit = false;
}  // namespace

void* operator new(std::size_t size) {
  if (g_allocs_until_failure == 0) {
    g_allocs_until_failure = -1;
    g_failure_hit = true;
    throw std::bad_alloc();
  }
  if (g_allocs_until_failure > 0) --g_allocs_until_failure;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using quorvel::security::Severity;
using quorvel::security::ThreatKind;
using quorvel::security::ThreatReport;
using quorvel::security::Verdict;
using quorvel::test::as_bytes;

ThreatReport scan(const std::string& s) { return quorvel::security::scan(as_bytes(s)); }

TEST(SecurityScan, EmptyIsTheDefaultReport) {
  const ThreatReport r = quorvel::security::scan({});
  EXPECT_FALSE(r.is_pdf);
  EXPECT_EQ(r.verdict, Verdict::Clean);
  EXPECT_TRUE(r.findings.empty());
  EXPECT_FALSE(r.failed);
  EXPECT_FALSE(r.has(ThreatKind::Xfa));
}

TEST(SecurityScan, KindsComeBackInTheLibraryOrder) {
  const struct {
    std::string name;
    ThreatKind kind;
    int value;
    Severity severity;
    Verdict verdict;
  } cases[] = {
      {"/JavaScript", ThreatKind::JavaScript, 0, Severity::High, Verdict::Dangerous},
      {"/JS", ThreatKind::JavaScript, 0, Severity::High, Verdict::Dangerous},
      {"/OpenAction", ThreatKind::OpenAction, 1, Severity::High, Verdict::Dangerous},
      {"/AA", ThreatKind::AdditionalActions, 2, Severity::High, Verdict::Dangerous},
      {"/Launch", ThreatKind::Launch, 3, Severity::High, Verdict::Dangerous},
      {"/EmbeddedFile", ThreatKind::EmbeddedFile, 4, Severity::Medium, Verdict::Suspicious},
      {"/SubmitForm", ThreatKind::SubmitForm, 5, Severity::Medium, Verdict::Suspicious},
      {"/RichMedia", ThreatKind::RichMedia, 6, Severity::Medium, Verdict::Suspicious},
      {"/XFA", ThreatKind::Xfa, 7, Severity::Medium, Verdict::Suspicious},
      {"/GoToR", ThreatKind::GoToRemote, 8, Severity::Low, Verdict::Suspicious},
      {"/URI(file:x)", ThreatKind::SuspiciousUri, 9, Severity::Medium, Verdict::Suspicious},
      {"/Encrypt", ThreatKind::Encrypted, 10, Severity::Info, Verdict::Clean},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ThreatReport r = scan("%PDF-1.7\n" + c.name);
    EXPECT_TRUE(r.is_pdf);
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(r.verdict, c.verdict);
    ASSERT_EQ(r.findings.size(), 1u);
    EXPECT_EQ(static_cast<int>(r.findings[0].kind), c.value);
    EXPECT_EQ(r.findings[0].kind, c.kind);
    EXPECT_EQ(r.findings[0].severity, c.severity);
    EXPECT_EQ(r.findings[0].offset, 9u);
    EXPECT_EQ(r.findings[0].detail.has_value(), c.kind == ThreatKind::SuspiciousUri);
    EXPECT_TRUE(r.has(c.kind));
  }
}

TEST(SecurityScan, LinkTextComesThroughByteForByte) {
  const struct {
    std::string link;
    std::size_t kept;  // bytes of it in the detail
  } cases[] = {
      {"javascript:x", 12},
      {std::string("javascript:a\0b", 14), 14},                 // a zero byte is text too
      {"data:" + std::string(1500, 'q'), 1505},
      {"data:" + std::string(5000, 'q'), 2048},                 // capped
      {"  FILE:\xC3\xA9\xE2\x82\xAC", 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link.size());
    const ThreatReport r = scan("/Annots [<< /A << /S /URI /URI (" + c.link + ") >> >>]");
    ASSERT_EQ(r.findings.size(), 1u);
    ASSERT_TRUE(r.findings[0].detail);
    EXPECT_EQ(*r.findings[0].detail, c.link.substr(0, c.kept));
  }
}

TEST(SecurityScan, FindingsInFileOrderWithoutMerging) {
  const ThreatReport r = scan("/JS /JS /URI(file:a) /URI(file:a) /Encrypt");
  ASSERT_EQ(r.findings.size(), 5u);
  EXPECT_EQ(r.findings[2].detail, "file:a");
  EXPECT_EQ(r.findings[3].detail, "file:a");
  for (std::size_t i = 1; i < r.findings.size(); ++i) {
    EXPECT_LT(r.findings[i - 1].offset, r.findings[i].offset);
  }
}

TEST(SecurityScan, AScanThatCannotFinishIsFailedAndDangerous) {
  const std::string input = "%PDF-1.7\n/Encrypt /URI(javascript:a) /GoToR /URI(file:" +
                            std::string(300, 'b') + ")";
  const ThreatReport full = scan(input);
  ASSERT_EQ(full.findings.size(), 4u);
  ASSERT_FALSE(full.failed);
  ASSERT_EQ(full.verdict, Verdict::Suspicious);
  ASSERT_TRUE(full.no_rotate_key);

  // Fail each allocation in turn, in the library and in the wrapper alike: every outcome is
  // either the whole report or a failed one, never a partial or clean one.
  int failures = 0;
  for (long k = 0;; ++k) {
    g_failure_hit = false;
    g_allocs_until_failure = k;
    const ThreatReport r = scan(input);
    g_allocs_until_failure = -1;
    if (!g_failure_hit) break;
    ++failures;
    SCOPED_TRACE("allocation " + std::to_string(k));
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.verdict, Verdict::Dangerous);
    EXPECT_TRUE(r.findings.empty());
    EXPECT_FALSE(r.is_pdf);
    EXPECT_FALSE(r.no_rotate_key);
  }
  EXPECT_GE(failures, 3);  // the library's report and findings, the wrapper's copies
}

TEST(SecurityScan, EncryptedCopyMadeByQpdf) {
  const std::string plain = quorvel::test::text_pdf({"secret page"});
  EXPECT_TRUE(scan(plain).findings.empty());
  const std::string enc = quorvel::test::qpdf_encrypt(plain, "user", "owner");
  ASSERT_FALSE(enc.empty()) << "qpdf could not encrypt";
  const ThreatReport r = scan(enc);
  EXPECT_TRUE(r.is_pdf);
  EXPECT_TRUE(r.has(ThreatKind::Encrypted));
  for (const auto& f : r.findings) {
    if (f.kind == ThreatKind::Encrypted) {
      EXPECT_EQ(f.severity, Severity::Info);
    }
  }
  EXPECT_EQ(r.verdict, Verdict::Clean);
}

std::vector<ThreatKind> kinds_of(const ThreatReport& r) {
  std::vector<ThreatKind> out;
  for (const auto& f : r.findings) out.push_back(f.kind);
  std::sort(out.begin(), out.end());
  return out;
}

// qpdf's copy of a file, written with or without object streams.
std::string rewritten(const std::string& pdf, const char* object_streams) {
  quorvel::test::TempDir dir;
  if (!quorvel::test::write_file(dir.file("in.pdf"), pdf)) return {};
  if (quorvel::test::run_program({"qpdf", "--warning-exit-0", std::string("--object-streams=") + object_streams,
                                  "--", dir.file("in.pdf"), dir.file("out.pdf")}) != 0)
    return {};
  return quorvel::test::read_file(dir.file("out.pdf"));
}

TEST(SecurityScan, ActiveContentPackedInObjectStreamsIsFoundAsWrittenPlainly) {
  const std::string src = quorvel::test::build_pdf({
      "<< /Type /Catalog /Pages 2 0 R /OpenAction 4 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [5 0 R] >>",
      "<< /S /JavaScript /JS (app.alert\\(1\\)) >>",
      "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /A << /S /Launch /F (calc.exe) >> >>",
  });
  const std::string plain = rewritten(src, "disable");
  const std::string packed = rewritten(src, "generate");
  ASSERT_FALSE(plain.empty() || packed.empty()) << "qpdf could not rewrite the file";
  for (const char* name : {"/OpenAction", "/JavaScript", "/JS", "/Launch"}) {
    ASSERT_EQ(packed.find(name), std::string::npos) << name << " stands outside the object streams";
  }

  const ThreatReport open = scan(plain);
  const ThreatReport r = scan(packed);
  const std::vector<ThreatKind> expected = {ThreatKind::JavaScript, ThreatKind::JavaScript, ThreatKind::OpenAction,
                                            ThreatKind::Launch};
  EXPECT_EQ(kinds_of(open), expected);
  EXPECT_EQ(kinds_of(r), expected);
  EXPECT_FALSE(r.failed);
  EXPECT_EQ(r.verdict, Verdict::Dangerous);
  for (const auto& f : r.findings) {
    EXPECT_EQ(f.severity, Severity::High);
    // At the first byte of an object stream's data.
    ASSERT_GT(f.offset, 7u);
    const std::string before = packed.substr(0, f.offset);
    EXPECT_TRUE(before.ends_with("stream\n") || before.ends_with("stream\r\n")) << f.offset;
    EXPECT_NE(packed.rfind("/ObjStm", f.offset), std::string::npos);
  }
}

// A report that no page is turned spares the engine its own search of the object streams, so
// a turn must be seen wherever a reader would find one; a doubt only costs that search.
TEST(SecurityScan, NoRotateKeyOnlyWhereNoPageCanBeTurned) {
  const auto pages = [](const std::string& node, const std::string& page) {
    return quorvel::test::build_pdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 " + node + " >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + page + " >>",
    });
  };
  const struct {
    const char* name;
    std::string pdf;
    bool packed;  // rewritten by qpdf into compressed object streams
    bool no_rotate_key;
  } table[] = {
      {"nothing turned", pages("", ""), false, true},
      {"nothing turned, packed", pages("", ""), true, true},
      {"page turned", pages("", "/Rotate 90"), false, false},
      {"page turned, packed", pages("", "/Rotate 90"), true, false},
      {"inherited turn, packed", pages("/Rotate 180", ""), true, false},
      {"turn zero still names the key", pages("", "/Rotate 0"), false, false},
      {"escaped name", pages("", "/Ro#74ate 90"), false, false},
      {"escaped first letter", pages("", "/#52otate 90"), false, false},
      {"lookalike in a string is a doubt", pages("", "/Annots [<< /Subtype /Link /A << /URI (x:/Rotate) >> >>]"),
       true, false},
      {"longer name", pages("", "/Rotated 90"), false, true},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    const std::string pdf = row.packed ? rewritten(row.pdf, "generate") : row.pdf;
    ASSERT_FALSE(pdf.empty());
    if (row.packed) {
      ASSERT_NE(pdf.find("/ObjStm"), std::string::npos);
    }
    const ThreatReport r = scan(pdf);
    ASSERT_FALSE(r.failed);
    EXPECT_EQ(r.no_rotate_key, row.no_rotate_key);
  }
}

TEST(SecurityScan, InstalledManualsRateAsTheirCopiesWithoutObjectStreams) {
  for (const char* path : {"/usr/share/doc/libtasn1-doc/libtasn1.pdf",
                           "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf"}) {
    SCOPED_TRACE(path);
    const std::string manual = quorvel::test::read_file(path);
    ASSERT_FALSE(manual.empty()) << "set-up installs it";
    ASSERT_NE(manual.find("/ObjStm"), std::string::npos);
    const std::string plain = rewritten(manual, "disable");
    ASSERT_FALSE(plain.empty());
    const ThreatReport r = scan(manual);
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(kinds_of(r), kinds_of(scan(plain)));
    EXPECT_EQ(r.verdict, scan(plain).verdict);
    EXPECT_EQ(r.no_rotate_key, scan(plain).no_rotate_key);
  }
}

}  // namespace
