// Small PDFs and helpers that the tests make for themselves.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace quorvel::test {

struct PageSpec {
  double width = 612;
  double height = 792;
  std::string content;       // page content stream; empty for a blank page
  std::string extra;         // further entries of the page dictionary, e.g. "/Rotate 90"
  std::string media_box;     // overrides "[0 0 width height]" when set
};

// A PDF of the given objects, numbered from 1 with object 1 the catalog, and a cross-reference
// table; `trailer_extra` adds entries to the trailer, e.g. "/Info 4 0 R".
std::string build_pdf(const std::vector<std::string>& objects, const std::string& trailer_extra = "",
                      const std::string& header = "%PDF-1.7\n");

// A document whose pages use the standard font /F1 (Helvetica) in their resources.
std::string make_pdf(const std::vector<PageSpec>& pages, const std::string& info = "");

// One page per text, each text drawn once at (72, 720) in 12-point Helvetica.
std::string text_pdf(const std::vector<std::string>& page_texts);

// The objects of a document of `pages` letter pages with forty lines of Helvetica text each:
// 1 catalog, 2 page tree, 3 font, then page i as object 4 + 2i and its content as 5 + 2i.
// Callers may replace the catalog and append objects before `build_pdf`.
std::vector<std::string> forty_line_pages(int pages);

// `pdf` as build_pdf writes it, with object `number` out of PDFium's reach: its cross-reference
// entry points a few bytes into the object, which readers that rebuild the table recover; with
// `lost`, the object's header is broken too, so that no reader finds it. Empty when `pdf` holds
// no such object. (make_pdf and text_pdf put page i in object 5 + 2i.)
std::string break_object(const std::string& pdf, int number, bool lost = false);

// PDF string literal with (, ) and \ escaped.
std::string pdf_literal(const std::string& text);

std::span<const std::byte> as_bytes(const std::string& s);

std::string read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& data);

// Runs a program with arguments (no shell); gives its exit status, -1 when it could not start.
int run_program(const std::vector<std::string>& argv, std::string* out = nullptr);

// A fresh folder below TMPDIR, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// qpdf-made encrypted copy (AES-256 unless bits says otherwise).
std::string qpdf_encrypt(const std::string& pdf, const std::string& user_pw,
                         const std::string& owner_pw, int bits = 256);

// A document whose page tree (object 2) is `tree`, a /Pages dictionary; object 3 is a Letter
// page with the text "kid" that the tree may name as a kid, e.g. "/Kids [3 0 R] /Count 1".
std::string tree_pdf(const std::string& tree);

// `encrypted`, an AES-256 file qpdf wrote, with its /P changed so that the sealed copy of the
// permissions in /Perms disagrees: qpdf and other readers open it with its password, PDFium
// refuses every password. Empty when `encrypted` has no /P.
std::string permissions_disagree(const std::string& encrypted);

// Folder of the test data kept in the tree.
std::string data_dir();

}  // namespace quorvel::test
