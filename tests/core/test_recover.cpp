// Damaged files that PDFium refuses on its own and that open through qpdf's reconstruction.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>

#include "common/fixtures.h"
#include "test_edit_support.h"
#include "core/engine.h"
#include "core/pdfium/pdfium_api.h"
#include "core/pdfium/pdfium_document.h"
#include "core/pdfium/qpdf_recover.h"

using namespace quorvel;
using quorvel::qpdf_bridge::ObjectRef;
using quorvel::test::as_bytes;

namespace {

const std::vector<std::string> kTexts = {"Alpha page", "Beta page", "Gamma page"};

using quorvel::test::page_texts;

// Everything written to the process's stdout and stderr while it lives, at the descriptor
// level, so that C stdio, iostreams and direct writes are all caught.
class OutputCapture {
 public:
  OutputCapture() {
    std::fflush(nullptr);
    std::cout.flush();
    std::cerr.flush();
    file_ = std::tmpfile();
    for (int fd : {1, 2}) {
      saved_[fd - 1] = dup(fd);
      dup2(fileno(file_), fd);
    }
  }
  ~OutputCapture() { restore(); if (file_) std::fclose(file_); }
  std::string text() {
    restore();
    std::string out;
    std::rewind(file_);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
    return out;
  }

 private:
  void restore() {
    if (saved_[0] < 0) return;
    std::fflush(nullptr);
    std::cout.flush();
    std::cerr.flush();
    for (int fd : {1, 2}) {
      dup2(saved_[fd - 1], fd);
      close(saved_[fd - 1]);
      saved_[fd - 1] = -1;
    }
  }
  std::FILE* file_ = nullptr;
  int saved_[2] = {-1, -1};
};

// What PDFium makes of the bytes on its own: whether it loads them, and its error code.
bool pdfium_alone_loads(const std::string& bytes) {
  pdfium::ensure_initialized();
  std::lock_guard<std::mutex> g(pdfium::lock());
  FPDF_DOCUMENT doc = FPDF_LoadMemDocument(bytes.data(), static_cast<int>(bytes.size()), nullptr);
  if (!doc) return false;
  FPDF_CloseDocument(doc);
  return true;
}

// Opens through the engine; `output` receives what was written to stdout and stderr meanwhile.
std::unique_ptr<IDocument> open_quietly(IPdfEngine& e, const std::string& bytes, const std::string& pw,
                                        std::string& output) {
  OutputCapture capture;
  auto doc = e.open(as_bytes(bytes), pw);
  output = capture.text();
  return doc;
}

// `pdf` rewritten by the qpdf program with `options`.
std::string qpdf_rewrite(const std::string& pdf, const std::vector<std::string>& options) {
  test::TempDir dir;
  test::write_file(dir.file("in.pdf"), pdf);
  std::vector<std::string> argv{"qpdf", "--warning-exit-0"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), {dir.file("in.pdf"), dir.file("out.pdf")});
  if (test::run_program(argv) != 0) return {};
  return test::read_file(dir.file("out.pdf"));
}

// The file as an interrupted download leaves it: everything from the cross-reference table on
// is missing.
std::string cut_before_xref(const std::string& pdf) {
  return pdf.substr(0, pdf.rfind("xref", pdf.rfind("startxref") - 1));
}

std::string without_header(const std::string& pdf) {
  // Same length, so the offsets in the cross-reference table stay right.
  std::string out = pdf;
  const std::string junk = "%\xE2\xE3\xCF\xD3\x01\x02\x03\x04";
  EXPECT_EQ(out.compare(0, 9, "%PDF-1.7\n"), 0);
  out.replace(0, 8, junk.substr(0, 8));
  return out;
}

// No startxref and %%EOF, and a trailer whose /ID string holds bytes no string may hold.
std::string junk_in_trailer_id(const std::string& pdf) {
  std::string out = pdf.substr(0, pdf.rfind("startxref"));
  const size_t root = out.rfind("/Root 1 0 R");
  static const char id[] = "/ID [(\x8F\x00(junk\xFF) <0123456789abcdef>] ";
  out.insert(root, std::string(id, sizeof id - 1));
  return out;
}

// An object stream whose /Type names something else, in a file with a cross-reference stream.
std::string wrong_object_stream_type(const std::string& pdf) {
  std::string out = qpdf_rewrite(pdf, {"--object-streams=generate"});
  EXPECT_NE(out.find("/Type /XRef"), std::string::npos);
  const size_t at = out.find("/Type /ObjStm");
  EXPECT_NE(at, std::string::npos);
  if (at != std::string::npos) out.replace(at, 13, "/Type /XObjec");
  return out;
}

// The start of the last page's object and no further.
std::string cut_inside_last_page(const std::string& pdf) {
  return pdf.substr(0, pdf.find(std::to_string(3 + 2 * kTexts.size()) + " 0 obj") + 30);
}

TEST(Recover, DamagedKindsOpenWithTheirPagesAndText) {
  const std::string sound = test::text_pdf(kTexts);
  const std::vector<std::string> first_two(kTexts.begin(), kTexts.begin() + 2);
  const struct {
    const char* name;
    std::string bytes;
    std::vector<std::string> texts;
  } table[] = {
      {"cut off before the cross-reference table", cut_before_xref(sound), kTexts},
      {"cut off inside the last page", cut_inside_last_page(sound), first_two},
      {"no header", without_header(sound), kTexts},
      {"junk in the trailer's /ID, no startxref", junk_in_trailer_id(sound), kTexts},
      {"object stream of the wrong type", wrong_object_stream_type(sound), kTexts},
  };
  auto e = make_engine(EngineKind::Pdfium);
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    EXPECT_FALSE(pdfium_alone_loads(row.bytes));
    std::string output;
    auto doc = open_quietly(*e, row.bytes, "", output);
    EXPECT_EQ(output, "");
    ASSERT_NE(doc, nullptr);
    EXPECT_FALSE(e->last_open_needs_password());
    EXPECT_EQ(page_texts(*doc), row.texts);
  }
}

// A document written without object streams whose last 2,000 bytes are lost opens with the
// pages and text of the whole one.
TEST(Recover, DocumentWithItsEndCutOff) {
  std::vector<std::string> many;
  for (int i = 1; i <= 60; ++i) many.push_back("Generated page " + std::to_string(i));
  std::vector<std::pair<std::string, std::string>> sources{{"generated", test::text_pdf(many)}};
  for (const char* path : {"/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf",
                           "/usr/share/doc/libtasn1-doc/libtasn1.pdf"}) {
    if (std::filesystem::exists(path)) sources.emplace_back(path, test::read_file(path));
  }
  auto e = make_engine(EngineKind::Pdfium);
  for (const auto& [name, original] : sources) {
    const std::string whole = qpdf_rewrite(original, {"--object-streams=disable"});
    ASSERT_GT(whole.size(), 10000u) << name;
    ASSERT_EQ(whole.find("/ObjStm"), std::string::npos) << name;
    const std::string cut = whole.substr(0, whole.size() - 2000);
    EXPECT_FALSE(pdfium_alone_loads(cut)) << name;
    auto reference = e->open(as_bytes(whole), "");
    ASSERT_NE(reference, nullptr) << name;
    std::string output;
    auto doc = open_quietly(*e, cut, "", output);
    EXPECT_EQ(output, "") << name;
    ASSERT_NE(doc, nullptr) << name;
    EXPECT_GT(doc->page_count(), 1) << name;
    EXPECT_EQ(page_texts(*doc), page_texts(*reference)) << name;
  }
}

// The repaired copy is what the document is: page edits and saves start from it, and what is
// saved opens without any repair.
TEST(Recover, RepairedDocumentEditsAndSaves) {
  auto e = make_engine(EngineKind::Pdfium);
  // The lost page leaves the rebuilt page tree, so edits meet no hole where it was.
  auto doc = e->open(as_bytes(cut_inside_last_page(test::text_pdf(kTexts))), "");
  ASSERT_NE(doc, nullptr);
  ASSERT_EQ(doc->page_count(), 2);
  ASSERT_TRUE(doc->move_page(1, 0));
  ASSERT_TRUE(doc->insert_blank_page(2, 300, 300));
  const std::vector<std::string> edited = {kTexts[1], kTexts[0], ""};
  EXPECT_EQ(page_texts(*doc), edited);
  test::TempDir dir;
  ASSERT_TRUE(doc->save_as(dir.file("saved.pdf"), {}));
  const std::string saved = test::read_file(dir.file("saved.pdf"));
  EXPECT_TRUE(pdfium_alone_loads(saved));
  auto again = e->open(as_bytes(saved), "");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(page_texts(*again), edited);
}

// A page tree whose middle node carries the size, rotation and fonts of its pages, with one of
// them lost: the pages left keep what they inherited.
TEST(Recover, PagesLeftKeepWhatTheyInherited) {
  auto tree = [](const std::string& kids, int count) {
    const auto content = [](const std::string& text) {
      const std::string ops = "BT /F1 12 Tf 72 200 Td " + test::pdf_literal(text) + " Tj ET";
      return "<< /Length " + std::to_string(ops.size()) + " >>\nstream\n" + ops + "\nendstream";
    };
    return test::build_pdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count " + std::to_string(count) + " >>",
        "<< /Type /Pages /Parent 2 0 R /Kids [" + kids + "] /Count " + std::to_string(count) +
            " /MediaBox [0 0 300 400] /Rotate 90 /Resources << /Font << /F1 8 0 R >> >> >>",
        "<< /Type /Page /Parent 3 0 R /Contents 5 0 R >>",
        content(kTexts[0]),
        "<< /Type /Page /Parent 3 0 R /Contents 7 0 R >>",
        content(kTexts[2]),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    });
  };
  auto e = make_engine(EngineKind::Pdfium);
  auto reference = e->open(as_bytes(tree("4 0 R 6 0 R", 2)), "");
  ASSERT_NE(reference, nullptr);
  auto doc = e->open(as_bytes(cut_before_xref(tree("4 0 R 9 0 R 6 0 R", 3))), "");
  ASSERT_NE(doc, nullptr);
  ASSERT_EQ(doc->page_count(), 2);
  EXPECT_EQ(page_texts(*doc), (std::vector<std::string>{kTexts[0], kTexts[2]}));
  for (int i = 0; i < 2; ++i) {
    const PageInfo want = reference->page_info(i);
    const PageInfo got = doc->page_info(i);
    EXPECT_EQ(got.width, want.width) << i;
    EXPECT_EQ(got.height, want.height) << i;
    EXPECT_EQ(got.rotation, want.rotation) << i;
  }
  EXPECT_EQ(doc->page_info(1).rotation, 90);
}

// A file that only needs its password asks for it; a damaged one that is also locked does too,
// and opens with the password. So does one whose encryption dictionary only the rebuilt table
// reaches, which PDFium alone takes for an unencrypted file and shows as ciphertext.
TEST(Recover, LockedFilesStillAskForThePassword) {
  const std::string locked = test::qpdf_encrypt(test::text_pdf(kTexts), "user-pw", "owner-pw");
  ASSERT_FALSE(locked.empty()) << "qpdf could not make the fixture";
  std::string headless = locked;  // damaged as well as locked
  ASSERT_EQ(headless.compare(0, 5, "%PDF-"), 0);
  headless.replace(0, 5, "%\xE2\xE3\xCF\xD3");
  ASSERT_FALSE(pdfium_alone_loads(headless));
  const size_t encrypt = locked.find("/Encrypt ");
  ASSERT_NE(encrypt, std::string::npos);
  const std::string hidden_encryption = test::break_object(locked, std::atoi(locked.c_str() + encrypt + 9));
  ASSERT_FALSE(hidden_encryption.empty());
  ASSERT_TRUE(pdfium_alone_loads(hidden_encryption));
  auto e = make_engine(EngineKind::Pdfium);
  for (const auto& [name, bytes] : {std::pair{"locked", locked}, std::pair{"locked, no header", headless},
                                    std::pair{"locked, encryption out of PDFium's reach", hidden_encryption}}) {
    for (const char* wrong : {"", "nope"}) {
      std::string output;
      EXPECT_EQ(open_quietly(*e, bytes, wrong, output), nullptr) << name << " / " << wrong;
      EXPECT_TRUE(e->last_open_needs_password()) << name << " / " << wrong;
      EXPECT_EQ(output, "") << name;
    }
    auto doc = e->open(as_bytes(bytes), "user-pw");
    ASSERT_NE(doc, nullptr) << name;
    EXPECT_FALSE(e->last_open_needs_password()) << name;
    EXPECT_EQ(page_texts(*doc), kTexts) << name;
  }
}

// A file that opens with one page whose dictionary PDFium cannot reach (its cross-reference entry
// points elsewhere) is opened from qpdf's rebuild, as other readers read it; where no reader
// finds the page, the document still opens but nothing writes it without that page.
TEST(Recover, APageOutOfPdfiumsReach) {
  const std::string sound = test::text_pdf(kTexts);
  const std::string moved = test::break_object(sound, 7);
  ASSERT_FALSE(moved.empty());
  auto e = make_engine(EngineKind::Pdfium);
  std::string output;
  auto doc = open_quietly(*e, moved, "", output);
  EXPECT_EQ(output, "");
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(page_texts(*doc), kTexts);
  EXPECT_TRUE(doc->unreadable_pages().empty());
  test::TempDir dir;
  ASSERT_TRUE(doc->save_as(dir.file("saved.pdf"), {}));
  EXPECT_TRUE(test::qpdf_check(dir.file("saved.pdf")));
  EXPECT_NE(test::pdftotext(dir.file("saved.pdf"), 1).find(kTexts[1]), std::string::npos);

  auto lost = e->open(as_bytes(test::break_object(sound, 7, true)), "");
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(lost->unreadable_pages(), std::vector<int>{1});
  EXPECT_EQ(page_texts(*lost), (std::vector<std::string>{kTexts[0], "", kTexts[2]}));
  annot::Annotation note;
  note.type = annot::AnnotType::Note;
  note.page = 2;
  note.x0 = note.y0 = 10;
  note.x1 = note.y1 = 30;
  EXPECT_FALSE(lost->save_as(dir.file("lost.pdf"), {note}));
  EXPECT_FALSE(lost->save_as(dir.file("lost.pdf"), {}));
  EXPECT_FALSE(lost->save_nup(dir.file("lost-nup.pdf"), 2, 2));
  EXPECT_FALSE(lost->save_range(dir.file("lost-range.pdf"), 0, 1));
  EXPECT_FALSE(std::filesystem::exists(dir.file("lost.pdf")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("lost-nup.pdf")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("lost-range.pdf")));
  // Parts without that page are written.
  const std::vector<bool> parts =
      lost->save_ranges({{dir.file("p0.pdf"), 0, 0}, {dir.file("p1.pdf"), 1, 2}, {dir.file("p2.pdf"), 2, 2}});
  EXPECT_EQ(parts, (std::vector<bool>{true, false, true}));
  EXPECT_NE(test::pdftotext(dir.file("p2.pdf")).find(kTexts[2]), std::string::npos);
}

TEST(Recover, UnreadableFilesStayRefused) {
  std::mt19937 rng(17);
  std::string noise(64 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  const std::string catalog_only = "%PDF-1.7\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
  const std::string no_pages =
      "%PDF-1.7\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
      "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n";
  std::string many_catalogs = "%PDF-1.7\n";
  for (int i = 1; i <= 20000; ++i) {
    many_catalogs += std::to_string(i) + " 0 obj << /Type /Catalog /Pages 99999 0 R >> endobj\n";
  }
  const struct {
    const char* name;
    std::string bytes;
  } table[] = {
      {"noise", noise},
      {"header and noise", "%PDF-1.7\n" + noise},
      {"first 40 bytes", test::text_pdf(kTexts).substr(0, 40)},
      {"catalog without pages", catalog_only},
      {"empty page tree", no_pages},
      {"many catalogs, no pages", many_catalogs},
  };
  auto e = make_engine(EngineKind::Pdfium);
  for (const auto& row : table) {
    std::string output;
    EXPECT_EQ(open_quietly(*e, row.bytes, "", output), nullptr) << row.name;
    EXPECT_FALSE(e->last_open_needs_password()) << row.name;
    EXPECT_EQ(output, "") << row.name;
  }
}

TEST(Recover, FindsTheObjectHoldingTheCatalog) {
  const struct {
    const char* name;
    std::string bytes;
    size_t limit;
    std::vector<ObjectRef> expected;
  } table[] = {
      {"plain", "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj", 3, {{1, 0}}},
      {"no spaces, generation", "%x\n12 3 obj<</Type/Catalog/Pages 2 0 R>>endobj", 3, {{12, 3}}},
      {"line breaks", "7\r\n0\robj\r<<\n/Type\n/Catalog\n>>", 3, {{7, 0}}},
      {"catalog late in a long dictionary",
       "5 0 obj << /Names << /A [" + std::string(200000, ' ') + "] >> /Type /Catalog >> endobj", 3, {{5, 0}}},
      {"later revision first, once each",
       "1 0 obj <</Type /Catalog>> endobj 9 0 obj <</Type /Catalog>> endobj 1 0 obj <</Type /Catalog>> endobj",
       3, {{1, 0}, {9, 0}}},
      {"limit", "1 0 obj <</Type /Catalog>> endobj 2 0 obj <</Type /Catalog>> endobj 3 0 obj <</Type /Catalog>> endobj",
       2, {{3, 0}, {2, 0}}},
      {"other names", "1 0 obj << /Type /Catalogue /Kind /Catalog /SubType /Catalog >> endobj", 3, {}},
      {"outside any object", "1 0 obj << >> endobj /Type /Catalog", 3, {}},
      {"not an object header", "x1 0 obj << /Type /Catalog >> 1 0 objx << /Type /Catalog >>", 3, {}},
      {"empty", "", 3, {}},
  };
  for (const auto& row : table) {
    EXPECT_EQ(qpdf_bridge::find_catalogs(row.bytes, row.limit), row.expected) << row.name;
  }
}

}  // namespace
