// What one request may make the stand-in do: images measured from their header, streams that
// decode to far more than they are, memory that qpdf takes while opening, and time.
#include <gtest/gtest.h>
#include <zlib.h>

#include "common/fixtures.h"
#include "memory.h"
#include "routes.h"
#include "tools/process_helpers.h"

namespace durovaderiz {
namespace {

using quorvel::test::build_pdf;

constexpr size_t kMB = 1024 * 1024;

// `n` zero bytes, deflated.
std::string deflated_zeros(size_t n) {
  const std::string raw(n, '\0');
  uLongf size = compressBound(raw.size());
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 9);
  out.resize(size);
  return out;
}

std::string big_endian(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string png_chunk(const std::string& type, const std::string& data) {
  const std::string td = type + data;
  return big_endian(static_cast<uint32_t>(data.size())) + td +
         big_endian(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(td.data()), td.size())));
}

// A PNG whose header says `w` × `h` grey pixels; with `whole`, black ones, else far too little
// image data behind it.
std::string png_claiming(uint32_t w, uint32_t h, bool whole = false) {
  return std::string("\x89PNG\r\n\x1a\n", 8) +
         png_chunk("IHDR", big_endian(w) + big_endian(h) + std::string("\x08\x00\x00\x00\x00", 5)) +
         png_chunk("IDAT", deflated_zeros(whole ? (w + 1) * h : 64)) + png_chunk("IEND", "");
}

// One page whose content stream is `data` with `filter`.
std::string page_with_stream(const std::string& filter, const std::string& data) {
  return build_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
                    "<< /Length " + std::to_string(data.size()) + " /Filter " + filter + " >>\nstream\n" + data +
                        "\nendstream"});
}

// A document whose cross-reference stream, read before anything else, decodes to `n` bytes.
std::string xref_stream_bomb(size_t n) {
  std::string out = "%PDF-1.5\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
                    "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n";
  const std::string data = deflated_zeros(n);
  const size_t xref = out.size();
  out += "3 0 obj\n<< /Type /XRef /Size 4 /W [1 4 2] /Root 1 0 R /Filter /FlateDecode /Length " +
         std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
  return out + "startxref\n" + std::to_string(xref) + "\n%%EOF\n";
}

// A valid document whose page tree sits in an object stream that decodes to `n` bytes: the
// objects at its start, zeros after them.
std::string object_stream_bomb(size_t n) {
  const std::string objects = "<< /Type /Pages /Kids [] /Count 0 >>";
  const std::string header = "2 0 ";
  std::string plain = header + objects;
  plain.resize(std::max(n, plain.size()), ' ');
  uLongf size = compressBound(plain.size());
  std::string data(size, '\0');
  compress2(reinterpret_cast<Bytef*>(data.data()), &size, reinterpret_cast<const Bytef*>(plain.data()), plain.size(), 9);
  data.resize(size);

  std::string out = "%PDF-1.5\n";
  const size_t catalog = out.size();
  out += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  const size_t objstm = out.size();
  out += "3 0 obj\n<< /Type /ObjStm /N 1 /First " + std::to_string(header.size()) + " /Filter /FlateDecode /Length " +
         std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
  const size_t xref = out.size();
  // Entries of 1 + 4 + 2 bytes: 0 free, 1 in the file, 2 in object stream 3, 3 in the file, 4 the table.
  auto entry = [](int type, uint32_t field2, uint16_t field3) {
    return std::string(1, static_cast<char>(type)) + big_endian(field2) +
           std::string{static_cast<char>(field3 >> 8), static_cast<char>(field3)};
  };
  const std::string table = entry(0, 0, 65535) + entry(1, static_cast<uint32_t>(catalog), 0) + entry(2, 3, 0) +
                            entry(1, static_cast<uint32_t>(objstm), 0) + entry(1, static_cast<uint32_t>(xref), 0);
  out += "4 0 obj\n<< /Type /XRef /Size 5 /W [1 4 2] /Root 1 0 R /Length " + std::to_string(table.size()) +
         " >>\nstream\n" + table + "\nendstream\nendobj\n";
  return out + "startxref\n" + std::to_string(xref) + "\n%%EOF\n";
}

Response call(const std::string& path, const std::string& body, const WorkLimits& limits = {}) {
  Request req;
  req.method = "POST";
  req.path = path;
  req.body = body;
  req.work = std::make_shared<Work>(limits);
  const auto q = path.find('?');
  if (q != std::string::npos) {
    req.path = path.substr(0, q);
    req.query = {{"what", "tables"}, {"format", "csv"}};
  }
  try {
    return dispatch(req);
  } catch (const WorkRefused& r) {
    return json_error(r.status, r.what);
  }
}

TEST(DurovaderizDocumentLimits, MeasuresImagesFromTheirHeaderBeforeDecoding) {
  struct Case {
    uint32_t w, h;
    int status;
  } cases[] = {
      {30000, 30000, 413},
      {6400, 6400, 413},   // 41 million pixels
      {6000, 6000, 400},   // 36 million: decoded, and found to hold too little data
      {100, 100, 400},
  };
  for (const Case& c : cases) {
    const Response r = call("/ocr", png_claiming(c.w, c.h));
    EXPECT_EQ(r.status, c.status) << c.w << "x" << c.h << ": " << r.body;
    if (c.status == 413) {
      EXPECT_NE(r.body.find("million pixels"), std::string::npos) << r.body;
    }
  }
  // The recognition program refuses it the same way.
  quorvel::test::TempDir dir;
  ASSERT_TRUE(quorvel::test::write_file(dir.file("huge.png"), png_claiming(30000, 30000)));
  const quorvel::test::RunResult r = quorvel::test::run({quorvel::test::built("taviocr"), dir.file("huge.png")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("million pixels"), std::string::npos) << r.err;
}

TEST(DurovaderizDocumentLimits, StopsDecodingAtTheRequestsLimit) {
  WorkLimits small;
  small.decoded = 1 * kMB;
  const std::string zeros = deflated_zeros(2 * kMB);
  // A writer decodes what is not plain Flate to compress it again; a page reader decodes all.
  EXPECT_EQ(call("/pdf/optimize", page_with_stream("[/FlateDecode]", zeros), small).status, 413);
  EXPECT_EQ(call("/pdf/sanitize", page_with_stream("[/FlateDecode]", zeros), small).status, 413);
  EXPECT_EQ(call("/pdf/extract?what=tables&format=csv", page_with_stream("/FlateDecode", zeros), small).status, 413);
  // Within the limit the same documents go through.
  EXPECT_EQ(call("/pdf/optimize", page_with_stream("[/FlateDecode]", zeros)).status, 200);
  EXPECT_EQ(call("/pdf/extract?what=tables&format=csv", page_with_stream("/FlateDecode", zeros)).status, 200);
  // Plain Flate is copied as it is, never decoded: the bomb leaves as small as it came.
  const Response copied = call("/pdf/optimize", page_with_stream("/FlateDecode", zeros), small);
  EXPECT_EQ(copied.status, 200);
  EXPECT_LT(copied.body.size(), 10 * 1024u);
}

TEST(DurovaderizDocumentLimits, BoundsWhatOpeningADocumentTakes) {
  WorkLimits small;
  small.memory = 16 * kMB;
  const size_t before = memory::held();
  for (const std::string& bomb : {xref_stream_bomb(64 * kMB), object_stream_bomb(64 * kMB)}) {
    const Response r = call("/pdf/optimize", bomb, small);
    EXPECT_EQ(r.status, 413) << r.body;
    EXPECT_NE(r.body.find("of memory"), std::string::npos) << r.body;
    EXPECT_EQ(memory::held(), before) << "the request's share was not given back";
  }
  // The same shapes at a sane size open and are rewritten.
  EXPECT_EQ(call("/pdf/optimize", object_stream_bomb(1 * kMB), small).status, 200);
  // What all requests hold together is a bound too: with it taken, a request gets no memory.
  ASSERT_TRUE(memory::take(memory::budget() - 2 * kMB));
  const Response busy = call("/pdf/optimize", object_stream_bomb(8 * kMB));
  memory::give(memory::budget() - 2 * kMB);
  EXPECT_EQ(busy.status, 503) << busy.body;
}

TEST(DurovaderizDocumentLimits, StopsWorkNobodyWaitsFor) {
  // Enough objects that opening and writing look at the request many times.
  std::vector<std::string> objects = quorvel::test::forty_line_pages(200);
  Request req;
  req.method = "POST";
  req.path = "/pdf/optimize";
  req.body = build_pdf(objects);
  req.work = std::make_shared<Work>();
  req.work->cancel();
  const Response r = dispatch(req);
  EXPECT_EQ(r.status, 503);
  EXPECT_NE(r.body.find("took longer"), std::string::npos) << r.body;

  // Recognition stops the same way, and says so rather than giving an empty text.
  Request ocr;
  ocr.method = "POST";
  ocr.path = "/ocr";
  ocr.body = png_claiming(400, 300, true);
  ocr.work = std::make_shared<Work>();
  ocr.work->cancel();
  EXPECT_THROW(dispatch(ocr), WorkRefused);
  ocr.work = std::make_shared<Work>();
  EXPECT_EQ(dispatch(ocr).status, 200);
}

}  // namespace
}  // namespace durovaderiz
