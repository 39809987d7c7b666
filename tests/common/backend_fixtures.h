// Documents and a signer's container for the tests of the backend tools, and a check of a
// signed file's signature with the openssl program.
#pragma once

#include <charconv>
#include <string>
#include <vector>

#include "common/fixtures.h"

namespace quorvel::test {

// A page that shows "Hello" and a document that does things by itself and carries things along:
// a JavaScript name tree, an OpenAction, page and annotation additional actions, a Launch link,
// a SubmitForm action, an embedded file with its attachment annotation, XMP and Info metadata.
inline std::string active_content_pdf() {
  const std::string content = "BT /F1 12 Tf 72 720 Td (Hello) Tj ET";
  const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
  return build_pdf(
      {"<< /Type /Catalog /Pages 2 0 R /Names << /JavaScript 6 0 R /EmbeddedFiles 8 0 R >> "
       "/OpenAction 7 0 R /Metadata 11 0 R >>",
       "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
       "/Resources << /Font << /F1 5 0 R >> >> /AA << /O 7 0 R >> /Annots [9 0 R 10 0 R 14 0 R] >>",
       "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
       "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
       "<< /Names [(init) 7 0 R] >>",
       "<< /S /JavaScript /JS (app.alert\\(1\\)) >>",
       "<< /Names [(a.txt) 12 0 R] >>",
       "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /A << /S /Launch /F (calc.exe) >> >>",
       "<< /Type /Annot /Subtype /FileAttachment /Rect [20 20 30 30] /FS 12 0 R >>",
       "<< /Type /Metadata /Subtype /XML /Length " + std::to_string(xmp.size()) + " >>\nstream\n" + xmp +
           "\nendstream",
       "<< /Type /Filespec /F (a.txt) /EF << /F 13 0 R >> >>",
       "<< /Type /EmbeddedFile /Length 5 >>\nstream\nhello\nendstream",
       "<< /Type /Annot /Subtype /Link /Rect [40 40 50 50] /A << /S /SubmitForm /F (http://x.test/) >> "
       "/AA << /E << /S /URI /URI (http://x.test/) >> >> >>",
       "<< /Title (Secret plans) /Author (Someone) >>"},
      "/Info 15 0 R");
}

// One page: a three-column table of three rows in 10-point Helvetica, then a line of prose.
inline std::string table_pdf() {
  std::string content;
  auto cell = [&content](int x, int y, const std::string& text) {
    content += "BT /F1 10 Tf " + std::to_string(x) + " " + std::to_string(y) + " Td " + text + " Tj ET\n";
  };
  cell(72, 700, "(Name)"), cell(200, 700, "(Qty)"), cell(300, 700, "(Note)");
  cell(72, 685, "(Caf\\351)"), cell(200, 685, "(3)"), cell(300, 685, "(red, \"sweet\")");
  cell(72, 670, "(Pear)"), cell(200, 670, "(12)"), cell(300, 670, "(green)");
  cell(72, 600, "(This line is prose and stands in no table at all.)");
  PageSpec page;
  page.content = content;
  return make_pdf({page});
}

inline const char* table_csv() {
  return "\"Name\",\"Qty\",\"Note\"\n\"Café\",\"3\",\"red, \"\"sweet\"\"\"\n\"Pear\",\"12\",\"green\"\n";
}

// A one-page document with a signature field whose value holds `contents` (hex digits) and a
// /ByteRange worked out as a signer writes it: all of the file around the hex string.
// `gap_shift` moves the first range's end into the string; `tail` is appended afterwards, as an
// update made after signing would be.
inline std::string whole_file_signed_pdf(const std::string& contents = "3082010a" + std::string(56, '0'),
                                         int gap_shift = 0, const std::string& tail = "") {
  const std::string placeholder = "[0000000000 0000000000 0000000000 0000000000]";
  std::string pdf = build_pdf({
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R] /SigFlags 3 >> >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [4 0 R] >>",
      "<< /Type /Annot /Subtype /Widget /FT /Sig /T (Signature) /Rect [0 0 0 0] /P 3 0 R /V 5 0 R >>",
      "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached /ByteRange " + placeholder +
          " /Contents <" + contents + "> >>",
  });
  const size_t open = pdf.find("/Contents <") + 10;
  const size_t close = pdf.find('>', open) + 1;
  const auto digits = [](size_t v) {
    std::string d = std::to_string(v);
    return std::string(10 - d.size(), '0') + d;
  };
  const std::string range = "[" + digits(0) + " " + digits(open + static_cast<size_t>(gap_shift)) + " " +
                            digits(close) + " " + digits(pdf.size() - close) + "]";
  pdf.replace(pdf.find(placeholder), placeholder.size(), range);
  return pdf + tail;
}

// A self-signed certificate and its key in a PKCS#12 file, made with the openssl program; the
// passphrase reaches it through a file, never its command line. Gives the path, "" on failure.
inline std::string make_pfx(const TempDir& dir, const std::string& passphrase, const std::string& name = "signer") {
  const std::string key = dir.file(name + ".key"), cert = dir.file(name + ".crt"), pass = dir.file(name + ".pass");
  const std::string pfx = dir.file(name + ".p12");
  if (run_program({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                   "-subj", "/CN=Quorvel Test Signer", "-days", "2"}) != 0)
    return {};
  if (!write_file(pass, passphrase + "\n")) return {};
  if (run_program({"openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx, "-passout",
                   "file:" + pass}) != 0)
    return {};
  return pfx;
}

// Whether the signed file's /ByteRange covers all but its /Contents and the CMS value there
// verifies over those bytes (the certificate itself is not checked against any trust store).
inline bool signature_verifies(const std::string& pdf, const TempDir& dir, std::string* why) {
  auto fail = [why](const char* what) {
    if (why) *why = what;
    return false;
  };
  const size_t key = pdf.rfind("/ByteRange");
  if (key == std::string::npos) return fail("no /ByteRange");
  size_t at = pdf.find('[', key) + 1;
  long long r[4];
  for (long long& v : r) {
    while (at < pdf.size() && pdf[at] == ' ') ++at;
    const auto [p, ec] = std::from_chars(pdf.data() + at, pdf.data() + pdf.size(), v);
    if (ec != std::errc{}) return fail("unreadable /ByteRange");
    at = static_cast<size_t>(p - pdf.data());
  }
  if (r[0] != 0 || r[2] + r[3] != static_cast<long long>(pdf.size()) || r[1] >= r[2])
    return fail("the range does not cover the file around /Contents");
  const std::string hex = pdf.substr(static_cast<size_t>(r[1]), static_cast<size_t>(r[2] - r[1]));
  if (hex.front() != '<' || hex.back() != '>') return fail("the gap is not a hex string");
  std::string der;
  for (size_t i = 1; i + 2 < hex.size(); i += 2) der.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  // The value is padded with zeros; the DER length says where it ends.
  if (der.size() < 4 || static_cast<unsigned char>(der[0]) != 0x30) return fail("not DER");
  size_t len = static_cast<unsigned char>(der[1]), head = 2;
  if (len & 0x80) {
    const size_t n = len & 0x7F;
    len = 0;
    for (size_t i = 0; i < n; ++i) len = (len << 8) | static_cast<unsigned char>(der[2 + i]);
    head = 2 + n;
  }
  if (head + len > der.size()) return fail("DER longer than the gap");
  const std::string covered = pdf.substr(0, static_cast<size_t>(r[1])) + pdf.substr(static_cast<size_t>(r[2]));
  if (!write_file(dir.file("sig.der"), der.substr(0, head + len)) || !write_file(dir.file("covered.bin"), covered))
    return fail("cannot write the check's files");
  if (run_program({"openssl", "cms", "-verify", "-binary", "-inform", "DER", "-noverify", "-in",
                   dir.file("sig.der"), "-content", dir.file("covered.bin"), "-out", "/dev/null"}) != 0)
    return fail("openssl cms -verify refused it");
  return true;
}

}  // namespace quorvel::test
