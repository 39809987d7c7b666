// Encrypted files as qpdf writes them: object streams are decrypted with the empty password,
// or with the password the user gives, as the user's or the owner's, before they are rated.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "common/fixtures.h"
#include "scanner/scan.h"
#include "scanner/security.h"

namespace {

using quorvel::test::as_bytes;
using quorvel_scan::ThreatKind;
using quorvel_scan::ThreatReport;
using quorvel_scan::Verdict;

ThreatReport scan_text(const std::string& s, std::string_view password = {}) {
  return quorvel_scan::scan({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}, password);
}

// JavaScript that only the object streams hold: a document-level script and a page's
// additional action.
std::string scripted_pdf() {
  return quorvel::test::build_pdf({
      "<< /Type /Catalog /Pages 2 0 R /Names 6 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /AA << /O 5 0 R >> >>",
      "<< /S /JavaScript /JS (app.alert\\(1\\)) >>",
      "<< /S /JavaScript /JS (app.alert\\(2\\)) >>",
      "<< /JavaScript << /Names [(a) 4 0 R] >> >>",
  });
}

std::string qpdf(const std::string& pdf, std::vector<std::string> args) {
  quorvel::test::TempDir dir;
  quorvel::test::write_file(dir.file("in.pdf"), pdf);
  std::vector<std::string> argv{"qpdf", "--object-streams=generate"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.insert(argv.end(), {"--", dir.file("in.pdf"), dir.file("out.pdf")});
  if (quorvel::test::run_program(argv) != 0) return {};
  return quorvel::test::read_file(dir.file("out.pdf"));
}

std::vector<std::string> encrypt(const std::string& user, const std::string& bits, std::vector<std::string> more = {}) {
  std::vector<std::string> args{"--allow-weak-crypto", "--encrypt", user, "boss", bits};
  args.insert(args.end(), more.begin(), more.end());
  args.push_back("--");
  return args;
}

const struct Method {
  const char* what;
  std::string bits;
  std::vector<std::string> more;
} kMethods[] = {
    {"AES-256, revision 6", "256", {}},
    {"AES-256, revision 5", "256", {"--force-R5"}},
    {"AES-128, revision 4", "128", {"--use-aes=y"}},
    {"RC4-128, revision 3", "128", {"--use-aes=n"}},
    {"RC4-40, revision 2", "40", {}},
};

void expect_scripts_found(const ThreatReport& r) {
  EXPECT_TRUE(r.complete);
  EXPECT_FALSE(r.needs_password);
  EXPECT_EQ(r.verdict, Verdict::Dangerous);
  EXPECT_TRUE(r.has(ThreatKind::JavaScript));
  EXPECT_TRUE(r.has(ThreatKind::AdditionalActions));
  EXPECT_TRUE(r.has(ThreatKind::Encrypted));
}

TEST(Encrypted, ObjectStreamsAreReadWithTheEmptyPassword) {
  for (const Method& m : kMethods) {
    SCOPED_TRACE(m.what);
    const std::string file = qpdf(scripted_pdf(), encrypt("", m.bits, m.more));
    ASSERT_FALSE(file.empty());
    // Nothing of the scripts shows in the stored bytes.
    ASSERT_EQ(file.find("JavaScript"), std::string::npos);
    ASSERT_EQ(file.find("/AA"), std::string::npos);
    expect_scripts_found(scan_text(file));
    // Through the application's wrapper too.
    const auto app = quorvel::security::scan(as_bytes(file));
    EXPECT_FALSE(app.failed);
    EXPECT_EQ(app.verdict, quorvel::security::Verdict::Dangerous);
  }
}

TEST(Encrypted, ALockedFileIsReadOnceThePasswordIsGiven) {
  for (const Method& m : kMethods) {
    SCOPED_TRACE(m.what);
    const std::string file = qpdf(scripted_pdf(), encrypt("secret", m.bits, m.more));
    ASSERT_FALSE(file.empty());
    for (const char* wrong : {"", "Secret"}) {
      const ThreatReport locked = scan_text(file, wrong);
      EXPECT_FALSE(locked.complete);
      EXPECT_TRUE(locked.needs_password);
    }
    expect_scripts_found(scan_text(file, "secret"));  // the user's password
    expect_scripts_found(scan_text(file, "boss"));    // the owner's
  }
  const std::string file = qpdf(scripted_pdf(), encrypt("secret", "256"));
  const auto locked = quorvel::security::scan(as_bytes(file));
  EXPECT_TRUE(locked.failed);
  EXPECT_TRUE(locked.needs_password);
  EXPECT_NE(locked.verdict, quorvel::security::Verdict::Clean);
  const auto open = quorvel::security::scan(as_bytes(file), "secret");
  EXPECT_FALSE(open.failed);
  EXPECT_EQ(open.verdict, quorvel::security::Verdict::Dangerous);
}

TEST(Encrypted, WhatTheScanCannotOpenIsNeverClean) {
  const std::string file = qpdf(scripted_pdf(), encrypt("", "256"));
  ASSERT_FALSE(file.empty());
  const std::size_t filter = file.find("/Filter /Standard");
  ASSERT_NE(filter, std::string::npos);
  std::string other_handler = file;
  other_handler.replace(filter, 17, "/Filter /Unknown_");
  const std::size_t u = file.find("/U <");
  ASSERT_NE(u, std::string::npos);
  std::string damaged_key = file;
  damaged_key[u + 5] = damaged_key[u + 5] == '0' ? '1' : '0';
  for (const std::string* f : {&other_handler, &damaged_key}) {
    const ThreatReport r = scan_text(*f);
    EXPECT_FALSE(r.complete);
  }
}

TEST(Encrypted, AnIdentityCryptFilterLeavesAStreamUnencrypted) {
  const std::string file = qpdf(scripted_pdf(), encrypt("", "128", {"--use-aes=y"}));
  ASSERT_FALSE(file.empty());
  const std::string js = "4 0 << /S /Launch /F (calc) >>";
  uLongf n = compressBound(static_cast<uLong>(js.size()));
  std::string z(n, '\0');
  ASSERT_EQ(compress(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(js.data()), js.size()), Z_OK);
  z.resize(n);
  const auto appended = [&](const std::string& filter) {
    return file + "20 0 obj\n<< /Type /ObjStm /N 1 /First 4 " + filter + " >>\nstream\n" + z + "\nendstream\nendobj\n";
  };
  // Without encryption, a name "Encrypt" that leads to some other dictionary changes nothing.
  const std::string plain = "%PDF-1.7\n20 0 obj\n<< /Type /ObjStm /N 1 /First 4 /Filter /FlateDecode >>\nstream\n" + z +
                            "\nendstream\nendobj\n% /Encrypt 20 0 R\n";
  EXPECT_TRUE(scan_text(plain).complete);
  EXPECT_TRUE(scan_text(plain).has(ThreatKind::Launch));
  // Stored plainly in an encrypted file, the stream is read only where its filter says so.
  const ThreatReport identity = scan_text(appended("/Filter [/Crypt /FlateDecode] /DecodeParms [<< /Name /Identity >> null]"));
  EXPECT_TRUE(identity.complete);
  EXPECT_TRUE(identity.has(ThreatKind::Launch));
  const ThreatReport decrypted = scan_text(appended("/Filter /FlateDecode"));
  EXPECT_FALSE(decrypted.complete);
  // The file's own crypt filter by name decrypts as the default does.
  const ThreatReport named = scan_text(appended("/Filter [/Crypt /FlateDecode] /DecodeParms [<< /Name /StdCF >> null]"));
  EXPECT_FALSE(named.complete);
}

}  // namespace
