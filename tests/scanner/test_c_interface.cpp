// The library seen only through its function interface, as the wrapper sees it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "scanner/quorvel_scan.h"

namespace {

struct Free {
  void operator()(quorvel_report* r) const { quorvel_report_free(r); }
};
using Report = std::unique_ptr<quorvel_report, Free>;

Report scan(const std::string& s) {
  return Report(quorvel_scan(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
}

std::string detail(const quorvel_report* r, size_t i) {
  const size_t n = quorvel_report_finding_detail(r, i, nullptr, 0);
  std::string out(n, '\0');
  quorvel_report_finding_detail(r, i, out.data(), n + 1);
  return out;
}

TEST(CInterface, NullReportAndNullArguments) {
  EXPECT_EQ(quorvel_report_is_pdf(nullptr), -1);
  EXPECT_EQ(quorvel_report_names_rotate(nullptr), -1);
  EXPECT_EQ(quorvel_report_verdict(nullptr), -1);
  EXPECT_EQ(quorvel_report_finding_count(nullptr), 0u);
  quorvel_finding rec{};
  EXPECT_EQ(quorvel_report_finding(nullptr, 0, &rec), 0);
  char buf[8] = "keep";
  EXPECT_EQ(quorvel_report_finding_detail(nullptr, 0, buf, sizeof buf), 0u);
  EXPECT_STREQ(buf, "keep");
  quorvel_report_free(nullptr);

  EXPECT_EQ(quorvel_scan(nullptr, 1), nullptr);
  const Report empty(quorvel_scan(nullptr, 0));
  ASSERT_TRUE(empty);
  EXPECT_EQ(quorvel_report_is_pdf(empty.get()), 0);
  EXPECT_EQ(quorvel_report_verdict(empty.get()), 0);
  EXPECT_EQ(quorvel_report_finding_count(empty.get()), 0u);

  const Report r = scan("/JS");
  EXPECT_EQ(quorvel_report_finding(r.get(), 0, nullptr), 0);
}

TEST(CInterface, EveryKindWithItsInterfaceCode) {
  const struct {
    std::string name;
    uint32_t code;
    uint32_t severity;
    int verdict;
  } cases[] = {
      {"/JavaScript", 0, 3, 2},   {"/JS", 0, 3, 2},          {"/OpenAction", 1, 3, 2},
      {"/AA", 2, 3, 2},           {"/Launch", 3, 3, 2},      {"/EmbeddedFile", 4, 2, 1},
      {"/SubmitForm", 5, 2, 1},   {"/RichMedia", 6, 2, 1},   {"/GoToR", 7, 1, 1},
      {"/URI(file:x)", 8, 2, 1},  {"/Encrypt", 9, 0, 0},     {"/XFA", 10, 2, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string input = "%PDF-1.7\n" + c.name;
    const Report r = scan(input);
    ASSERT_TRUE(r);
    EXPECT_EQ(quorvel_report_is_pdf(r.get()), 1);
    EXPECT_EQ(quorvel_report_verdict(r.get()), c.verdict);
    ASSERT_EQ(quorvel_report_finding_count(r.get()), 1u);
    quorvel_finding rec{};
    ASSERT_EQ(quorvel_report_finding(r.get(), 0, &rec), 1);
    EXPECT_EQ(rec.kind, c.code);
    EXPECT_EQ(rec.severity, c.severity);
    EXPECT_EQ(rec.offset, 9u);
    EXPECT_EQ(rec.has_detail, c.code == 8 ? 1u : 0u);
  }
}

TEST(CInterface, RecordWritesOnlyItsFields) {
  const Report r = scan("/URI(data:x)");
  unsigned char raw[sizeof(quorvel_finding)];
  std::memset(raw, 0xCD, sizeof raw);
  quorvel_finding rec;
  std::memcpy(&rec, raw, sizeof rec);

  // An index equal to the count leaves the record as it was.
  EXPECT_EQ(quorvel_report_finding(r.get(), 1, &rec), 0);
  EXPECT_EQ(std::memcmp(&rec, raw, sizeof rec), 0);
  EXPECT_EQ(quorvel_report_finding(r.get(), SIZE_MAX, &rec), 0);

  ASSERT_EQ(quorvel_report_finding(r.get(), 0, &rec), 1);
  unsigned char after[sizeof rec];
  std::memcpy(after, &rec, sizeof rec);
  for (size_t i = 20; i < 24; ++i) EXPECT_EQ(after[i], 0xCD) << "padding byte " << i;
  EXPECT_EQ(rec.kind, 8u);
  EXPECT_EQ(rec.offset, 0u);
  EXPECT_EQ(rec.has_detail, 1u);
}

TEST(CInterface, TwoCallDetailProtocol) {
  const std::string link = "javascript:alert(1)";  // 19 bytes
  const Report r = scan("/JS /URI(" + link + "X)");
  ASSERT_EQ(quorvel_report_finding_count(r.get()), 2u);
  const size_t n = link.size() + 1;  // 20

  // Length only: nothing written.
  char buf[32];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(quorvel_report_finding_detail(r.get(), 1, nullptr, 0), n);
  EXPECT_EQ(quorvel_report_finding_detail(r.get(), 1, nullptr, sizeof buf), n);
  EXPECT_EQ(quorvel_report_finding_detail(r.get(), 1, buf, 0), n);
  EXPECT_EQ(buf[0], '#');

  // A 4-byte buffer takes 3 bytes and a terminator.
  EXPECT_EQ(quorvel_report_finding_detail(r.get(), 1, buf, 4), n);
  EXPECT_EQ(std::string(buf, 5), std::string("jav\0#", 5));

  // A 1-byte buffer takes the terminator only.
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(quorvel_report_finding_detail(r.get(), 1, buf, 1), n);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[1], '#');

  // n + 1 bytes take it all.
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(quorvel_report_finding_detail(r.get(), 1, buf, n + 1), n);
  EXPECT_EQ(std::string(buf), link + "X");
  EXPECT_EQ(buf[n + 1], '#');

  // No detail, or no such finding: 0 and nothing written.
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(quorvel_report_finding_detail(r.get(), 0, buf, sizeof buf), 0u);
  EXPECT_EQ(quorvel_report_finding_detail(r.get(), 2, buf, sizeof buf), 0u);
  EXPECT_EQ(buf[0], '#');
}

TEST(CInterface, ReportOutlivesTheInput) {
  std::string input = "/URI(vbscript:run)";
  const Report r = scan(input);
  input.assign(input.size(), 'z');
  input.clear();
  input.shrink_to_fit();
  EXPECT_EQ(detail(r.get(), 0), "vbscript:run");
}

}  // namespace

namespace {

TEST(CInterface, ScanWithPasswordTellsWhyThereIsNoReport) {
  // A stored zlib stream whose content is "/JS", in an object stream.
  const char raw[] = "1 0 obj<</Type/ObjStm/Filter/FlateDecode>>stream\n\x78\x01\x01\x03\x00\xFC\xFF/JS\n";
  const std::string packed(raw, sizeof raw - 1);
  // An encryption dictionary whose user key the empty password does not match.
  const std::string locked = "%PDF-1.7\n1 0 obj<</Type/ObjStm/Filter/FlateDecode>>stream\nxx\nendstream endobj\n"
                             "trailer<</Encrypt<</Filter/Standard/V 2/R 3/Length 128/P -4/O<" +
                             std::string(64, '1') + ">/U<" + std::string(64, '2') + ">>>/ID[<00><00>]>>\n";
  const struct {
    const char* what;
    std::string input;
    const char* password;
    size_t password_len;
    int status;
  } cases[] = {
      {"a report", packed, nullptr, 0, QUORVEL_SCAN_DONE},
      {"an unknown filter", "1 0 obj<</Type/ObjStm/Filter/X>>stream\n/JS", nullptr, 0, QUORVEL_SCAN_INCOMPLETE},
      {"a password that does not open the file", locked, "x", 1, QUORVEL_SCAN_NEEDS_PASSWORD},
      {"a null password with a length", packed, nullptr, 1, QUORVEL_SCAN_FAILED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int status = -1;
    const Report r(quorvel_scan_with_password(reinterpret_cast<const uint8_t*>(c.input.data()), c.input.size(),
                                              c.password, c.password_len, &status));
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(r != nullptr, c.status == QUORVEL_SCAN_DONE);
    if (r) {
      EXPECT_EQ(quorvel_report_verdict(r.get()), 2);
    }
  }
  int status = -1;
  EXPECT_EQ(quorvel_scan_with_password(nullptr, 1, nullptr, 0, &status), nullptr);
  EXPECT_EQ(status, QUORVEL_SCAN_FAILED);
  // Without a place for the outcome, the report alone answers.
  EXPECT_EQ(Report(quorvel_scan_with_password(reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), "", 0,
                                              nullptr)) != nullptr,
            true);
}

}  // namespace
