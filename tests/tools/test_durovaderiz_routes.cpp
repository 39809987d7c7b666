// The stand-in's document routes over loopback, checked with other programs: the signature
// with openssl, sanitising and optimising with qpdf, tables against a known page, metadata
// with pdfinfo.
#include <gtest/gtest.h>

#include "common/backend_fixtures.h"
#include "common/fixtures.h"
#include "tools/process_helpers.h"

namespace quorvel::test {
namespace {

class Backend : public StandIn {
 public:
  explicit Backend(const TempDir& dir) : StandIn(dir.file("backend.log")), log_(dir.file("backend.log")) {}
  std::string output() const { return read_file(log_); }

 private:
  std::string log_;
};

std::string base64(const std::string& in) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    unsigned n = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) n |= static_cast<unsigned char>(in[i + 1]) << 8;
    if (i + 2 < in.size()) n |= static_cast<unsigned char>(in[i + 2]);
    out.push_back(kAlphabet[(n >> 18) & 63]);
    out.push_back(kAlphabet[(n >> 12) & 63]);
    out.push_back(i + 1 < in.size() ? kAlphabet[(n >> 6) & 63] : '=');
    out.push_back(i + 2 < in.size() ? kAlphabet[n & 63] : '=');
  }
  return out;
}

HttpReply post(int port, const std::string& target, const std::string& body, const std::string& extra_headers = {}) {
  return http_raw(port, "POST " + target + " HTTP/1.1\r\n" + host_line(port) + "Content-Type: application/pdf\r\n" +
                            extra_headers + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

std::string header_value(const HttpReply& r, const std::string& name) {
  const size_t at = r.head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "<none>";
  const size_t from = at + name.size() + 4;
  return r.head.substr(from, r.head.find("\r\n", from) - from);
}

std::string qpdf_json(const std::string& file) {
  std::string out;
  return run_program({"qpdf", "--json", file}, &out) == 0 ? out : std::string{};
}

TEST(DurovaderizRoutes, SignsWithADetachedCadesSignatureThatVerifies) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  const std::string passphrase = "p+ss %41 word";
  const std::string pfx = make_pfx(dir, passphrase);
  ASSERT_FALSE(pfx.empty());
  const std::string header = "X-Signer-Pfx: " + base64(read_file(pfx)) + "\r\n";
  const std::string pdf = text_pdf({"to be signed", "second page"});
  const HttpReply r = post(b.port(), "/pdf/sign?passphrase=p%2Bss%20%2541%20word&field_name=TaviSignature", pdf, header);
  ASSERT_EQ(r.status, 200) << r.body;
  std::string why;
  EXPECT_TRUE(signature_verifies(r.body, dir, &why)) << why;
  EXPECT_NE(r.body.find("/SubFilter /ETSI.CAdES.detached"), std::string::npos);
  EXPECT_NE(r.body.find("/T (TaviSignature)"), std::string::npos);
  EXPECT_NE(r.body.find("/SigFlags 3"), std::string::npos);
  ASSERT_TRUE(write_file(dir.file("signed.pdf"), r.body));
  EXPECT_EQ(run_program({"qpdf", "--check", dir.file("signed.pdf")}), 0);
  // Any change of a signed byte breaks it.
  std::string tampered = r.body;
  tampered[7] = tampered[7] == '7' ? '6' : '7';  // the version in the header
  EXPECT_FALSE(signature_verifies(tampered, dir, nullptr));
  EXPECT_EQ(b.output(), "");
}

TEST(DurovaderizRoutes, RefusesContainersThatDoNotSign) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  const std::string pfx = base64(read_file(make_pfx(dir, "right")));
  ASSERT_FALSE(pfx.empty());
  std::string wrapped = pfx;
  wrapped.insert(64, "\r\n ");  // a folded header line: refused as a whole request
  const std::string pdf = text_pdf({"x"});
  struct Case {
    std::string query, header;
    int status;
  } cases[] = {
      {"passphrase=right&field_name=S", "", 400},
      {"passphrase=right&field_name=S", "X-Signer-Pfx: not base64!\r\n", 400},
      {"passphrase=right&field_name=S", "X-Signer-Pfx: " + base64("just some bytes") + "\r\n", 400},
      {"passphrase=right&field_name=S", "X-Signer-Pfx: " + wrapped + "\r\n", 400},
      {"passphrase=wrong&field_name=S", "X-Signer-Pfx: " + pfx + "\r\n", 403},
      {"field_name=S", "X-Signer-Pfx: " + pfx + "\r\n", 403},
      {"passphrase=right", "X-Signer-Pfx: " + pfx + "\r\n", 400},
  };
  for (const Case& c : cases) {
    const HttpReply r = post(b.port(), "/pdf/sign?" + c.query, pdf, c.header);
    EXPECT_EQ(r.status, c.status) << c.query << " " << c.header.substr(0, 40);
    EXPECT_EQ(r.body.find("right"), std::string::npos);
  }
  EXPECT_EQ(post(b.port(), "/pdf/sign?passphrase=right&field_name=S", "not a pdf", "X-Signer-Pfx: " + pfx + "\r\n").status,
            415);
  EXPECT_EQ(b.output(), "");
}

TEST(DurovaderizRoutes, AcceptsLargeHeadsAndRefusesWhatItDoesNotServe) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  // Room for a signer's container with its chain; far more is refused.
  const std::string big(40 * 1024, 'a');
  EXPECT_EQ(http_raw(b.port(), "GET /health HTTP/1.1\r\n" + host_line(b.port()) + "X-Padding: " + big + "\r\n\r\n").status,
            200);
  EXPECT_EQ(http_raw(b.port(), "GET /health HTTP/1.1\r\nX-Padding: " + std::string(2 * 1024 * 1024, 'a') + "\r\n\r\n")
                .status,
            431);
  for (const char* route : {"/pdf/sign", "/pdf/sanitize", "/pdf/optimize", "/pdf/extract", "/pdf/set-meta"})
    EXPECT_EQ(http_request(b.port(), "GET", route).status, 405) << route;
  EXPECT_EQ(http_request(b.port(), "POST", "/pdf/unknown", text_pdf({"x"})).status, 404);
  EXPECT_EQ(http_raw(b.port(), "POST /pdf/optimize HTTP/1.1\r\nContent-Length: 999999999999\r\n\r\n").status, 413);
}

TEST(DurovaderizRoutes, SanitisesActiveContentAndSaysWhat) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  const std::string before = active_content_pdf();
  ASSERT_TRUE(write_file(dir.file("before.pdf"), before));
  const std::string json_before = qpdf_json(dir.file("before.pdf"));
  for (const char* name : {"/JavaScript", "/OpenAction", "/EmbeddedFiles", "/FileAttachment", "/Launch"})
    ASSERT_NE(json_before.find(name), std::string::npos) << name;

  const HttpReply r = post(b.port(), "/pdf/sanitize", before);
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(header_value(r, "X-Removed"),
            "JavaScript: 1, OpenAction: 1, AA: 2, Launch: 1, SubmitForm: 1, EmbeddedFiles: 1, FileAttachment: 1, "
            "Metadata: 2");
  ASSERT_TRUE(write_file(dir.file("after.pdf"), r.body));
  const std::string json = qpdf_json(dir.file("after.pdf"));
  ASSERT_FALSE(json.empty());
  for (const char* name : {"/JavaScript", "/JS", "/OpenAction", "/AA", "/Launch", "/SubmitForm", "/EmbeddedFiles",
                           "/EmbeddedFile", "/FileAttachment", "/Metadata", "Secret plans"})
    EXPECT_EQ(json.find(name), std::string::npos) << name;
  std::string text;
  ASSERT_EQ(run_program({"pdftotext", dir.file("after.pdf"), "-"}, &text), 0);
  EXPECT_NE(text.find("Hello"), std::string::npos);

  // A document with nothing to remove comes back without the header.
  const HttpReply clean = post(b.port(), "/pdf/sanitize", text_pdf({"plain"}));
  ASSERT_EQ(clean.status, 200);
  EXPECT_EQ(header_value(clean, "X-Removed"), "<none>");
}

TEST(DurovaderizRoutes, OptimisesAndReportsBothSizes) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  // Uncompressed repetitive content and an object nothing refers to.
  std::string content;
  for (int i = 0; i < 200; ++i) content += "BT /F1 12 Tf 72 " + std::to_string(100 + i % 600) + " Td (same line again) Tj ET\n";
  const std::string filler(20000, 'z');
  const std::string pdf = build_pdf(
      {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>",
       "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
       "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
       "<< /Length " + std::to_string(filler.size()) + " >>\nstream\n" + filler + "\nendstream"});
  const HttpReply r = post(b.port(), "/pdf/optimize", pdf);
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(header_value(r, "X-Original-Size"), std::to_string(pdf.size()));
  EXPECT_EQ(header_value(r, "X-Optimized-Size"), std::to_string(r.body.size()));
  EXPECT_LT(r.body.size() * 4, pdf.size());
  ASSERT_TRUE(write_file(dir.file("small.pdf"), r.body));
  EXPECT_EQ(run_program({"qpdf", "--check", dir.file("small.pdf")}), 0);
  std::string text;
  ASSERT_EQ(run_program({"pdftotext", dir.file("small.pdf"), "-"}, &text), 0);
  EXPECT_NE(text.find("same line again"), std::string::npos);
}

TEST(DurovaderizRoutes, ExtractsTablesAsQuotedCsv) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  const std::string q = "/pdf/extract?what=tables&format=csv";
  const HttpReply table = post(b.port(), q, table_pdf());
  ASSERT_EQ(table.status, 200) << table.body;
  EXPECT_EQ(table.body, table_csv());
  EXPECT_NE(table.head.find("Content-Type: text/csv"), std::string::npos);

  const HttpReply prose = post(b.port(), q, text_pdf({"only prose here", "and here"}));
  EXPECT_EQ(prose.status, 200);
  EXPECT_EQ(prose.body, "");

  EXPECT_EQ(post(b.port(), "/pdf/extract?what=images&format=csv", table_pdf()).status, 400);
  EXPECT_EQ(post(b.port(), "/pdf/extract?what=tables&format=xlsx", table_pdf()).status, 400);
  EXPECT_EQ(post(b.port(), q, "%PDF-1.7 but nothing else").status, 422);
}

TEST(DurovaderizRoutes, WritesOnlyTheGivenProperties) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  PageSpec page;
  page.content = "BT /F1 12 Tf 72 720 Td (props) Tj ET";
  const std::string pdf = make_pdf({page}, "<< /Subject (Kept subject) /Title (Old title) >>");
  // "Заголовок  " (with its trailing spaces) and a plain author.
  const HttpReply r = post(b.port(),
                           "/pdf/set-meta?title=%D0%97%D0%B0%D0%B3%D0%BE%D0%BB%D0%BE%D0%B2%D0%BE%D0%BA%20%20"
                           "&author=A%2BB%20Ltd",
                           pdf);
  ASSERT_EQ(r.status, 200) << r.body;
  ASSERT_TRUE(write_file(dir.file("meta.pdf"), r.body));
  std::string info;
  ASSERT_EQ(run_program({"pdfinfo", dir.file("meta.pdf")}, &info), 0);
  EXPECT_NE(info.find("Title:           Заголовок  \n"), std::string::npos) << info;
  EXPECT_NE(info.find("Author:          A+B Ltd\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Subject:         Kept subject\n"), std::string::npos) << info;
  EXPECT_EQ(info.find("Keywords"), std::string::npos) << info;
  // Not ASCII: UTF-16BE with its byte-order mark.
  std::string qdf;
  ASSERT_EQ(run_program({"qpdf", "--qdf", "--object-streams=disable", dir.file("meta.pdf"), "-"}, &qdf), 0);
  EXPECT_NE(qdf.find("/Title <feff0417"), std::string::npos);

  EXPECT_EQ(post(b.port(), "/pdf/set-meta?title=%FF%FE", pdf).status, 400);
}

TEST(DurovaderizRoutes, ListensOnLoopbackOnly) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  std::string ss;
  ASSERT_EQ(run_program({"ss", "-ltnH"}, &ss), 0);
  const std::string port = ":" + std::to_string(b.port()) + " ";
  size_t lines = 0;
  for (size_t at = ss.find(port); at != std::string::npos; at = ss.find(port, at + 1)) {
    const size_t start = ss.rfind('\n', at) + 1;
    const std::string line = ss.substr(start, ss.find('\n', at) - start);
    if (line.find(port) == std::string::npos) continue;
    ++lines;
    EXPECT_NE(line.find("127.0.0.1" + port), std::string::npos) << line;
  }
  EXPECT_EQ(lines, 1u) << ss;
}

}  // namespace
}  // namespace quorvel::test
