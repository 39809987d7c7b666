// Helpers shared by the tests of saving and content edits: opening, reading back and
// rendering copies with PDFium and with poppler, and checking files with qpdf.
#pragma once

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/fixtures.h"
#include "common/raster.h"
#include "core/engine.h"
#include "core/pdfium/pdfium_fonts.h"

namespace quorvel::test {

// Restores the default font list after a test that replaced it.
struct FontPaths {
  std::vector<std::string> saved = pdfium::text_font_paths();
  explicit FontPaths(std::vector<std::string> paths) { pdfium::set_text_font_paths(std::move(paths)); }
  ~FontPaths() { pdfium::set_text_font_paths(saved); }
};

inline bool have_dejavu() {
  for (const std::string& p : pdfium::text_font_paths()) {
    if (std::filesystem::exists(p)) return true;
  }
  return false;
}

inline std::string stream_object(const std::string& data, const std::string& dict = "") {
  return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// A 2 x 2 grey image.
inline std::string image_object() {
  return stream_object("\x10\x80\x80\x10", "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8");
}

// One page whose /Contents is an array of the given streams, with /F1 Helvetica and, when
// `image` is set, the image /Im1 in its resources.
inline std::string multi_stream_pdf(const std::vector<std::string>& streams, bool image = false) {
  std::string refs;
  for (size_t i = 0; i < streams.size(); ++i) refs += std::to_string(6 + i) + " 0 R ";
  std::vector<std::string> objs{
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >>" +
          std::string(image ? " /XObject << /Im1 5 0 R >>" : "") + " >> /Contents [" + refs + "] >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      image_object(),
  };
  for (const std::string& c : streams) objs.push_back(stream_object(c));
  return build_pdf(objs);
}

// One page with one empty text field (named "name") over (100, 600)-(400, 640); `field_keys`
// are added to the field's dictionary (" /Ff 4096" makes it multi-line).
inline std::string one_field_form_pdf(const std::string& field_keys = "") {
  return build_pdf({
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] /DA (/Helv 12 Tf 0 g) "
      "/DR << /Font << /Helv 3 0 R >> >> >> >>",
      "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [5 0 R] >>",
      "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /Rect [100 600 400 640] /P 4 0 R "
      "/DA (/Helv 12 Tf 0 g) /F 4" + field_keys + " >>",
  });
}

// Clicks into that field and types `text` through the form layer; the field keeps the focus.
inline void type_into_field(IDocument& doc, const std::string& text) {
  doc.form_click(0, 200, 620, true);
  doc.form_click(0, 200, 620, false);
  for (char c : text) doc.form_char(static_cast<unsigned char>(c));
}

inline std::unique_ptr<IDocument> open_pdf(const std::string& bytes, const std::string& password = "") {
  auto engine = make_engine(EngineKind::Pdfium);
  return engine->open(as_bytes(bytes), password);
}

inline std::unique_ptr<IDocument> open_file(const std::string& path, const std::string& password = "") {
  return open_pdf(read_file(path), password);
}

inline std::string page_text(const IDocument& doc, int page) {
  std::string out;
  for (const TextRun& r : doc.extract_text(page).runs) {
    std::string t = r.text;
    while (!t.empty() && (t.back() == '\r' || t.back() == '\n' || t.back() == ' ')) t.pop_back();
    if (t.empty()) continue;
    if (!out.empty()) out += ' ';
    out += t;
  }
  return out;
}

// Each page's text as PDFium gives it: runs joined as they stand, trailing white space dropped.
inline std::vector<std::string> page_texts(const IDocument& doc) {
  std::vector<std::string> out;
  for (int i = 0; i < doc.page_count(); ++i) {
    std::string s;
    for (const TextRun& r : doc.extract_text(i).runs) s += r.text;
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    out.push_back(std::move(s));
  }
  return out;
}

inline bool qpdf_check(const std::string& path) {
  std::string out;
  return run_program({"qpdf", "--check", path}, &out) == 0;
}

// The file in qpdf's readable form: every stream uncompressed, no object streams, and objects
// that nothing refers to kept, since they are in the file all the same.
inline std::string qdf_text(const std::string& path, const std::string& password = "") {
  TempDir dir;
  std::vector<std::string> argv{"qpdf", "--qdf", "--object-streams=disable", "--preserve-unreferenced"};
  if (!password.empty()) {
    argv.push_back("--password=" + password);
    argv.push_back("--decrypt");
  }
  argv.push_back(path);
  argv.push_back(dir.file("qdf.pdf"));
  const int rc = run_program(argv);
  if (rc != 0 && rc != 3) return {};  // 3: written with warnings
  return read_file(dir.file("qdf.pdf"));
}

inline std::string hex_of(const std::string& s) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

inline Raster render_pdfium(IDocument& doc, int page) {
  const PageInfo info = doc.page_info(page);
  RenderRequest req;
  req.width = static_cast<int>(info.width);
  req.height = static_cast<int>(info.height);
  const RenderedTile t = doc.render_tile(page, req);
  Raster r{t.width, t.height, {}};
  for (size_t i = 0; i + 3 < t.pixels.size(); i += 4) {
    r.rgb.push_back(t.pixels[i + 2]);
    r.rgb.push_back(t.pixels[i + 1]);
    r.rgb.push_back(t.pixels[i]);
  }
  return r;
}


}  // namespace quorvel::test
