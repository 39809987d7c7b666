// Edits of page content (redaction, text replacement, image removal) on pages of the kinds real
// producers write: the page must look and read as before everywhere but where it was edited.
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "core/extract.h"
#include "core/search.h"
#include "test_edit_support.h"

using namespace quorvel;
using namespace quorvel::test;
using annot::Rect;

namespace {

// Pixels, outside every box widened by `margin` points, that differ between two renders.
int differing_outside(const Raster& a, const Raster& b, const std::vector<Rect>& boxes, double margin = 2) {
  return test::differing_outside(a, b, a.height, [&](double px, double py) {
    for (const Rect& r : boxes)
      if (px >= std::min(r.x0, r.x1) - margin && px <= std::max(r.x0, r.x1) + margin &&
          py >= std::min(r.y0, r.y1) - margin && py <= std::max(r.y0, r.y1) + margin)
        return true;
    return false;
  });
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The lines of `before` that `after` lacks (pdftotext of one page each), leaving out lines
// that hold `edited`.
std::vector<std::string> lost_lines(const std::string& before, const std::string& after, const std::string& edited) {
  std::vector<std::string> kept = lines_of(after), lost;
  for (const std::string& line : lines_of(before)) {
    if (!edited.empty() && line.find(edited) != std::string::npos) continue;
    auto it = std::find(kept.begin(), kept.end(), line);
    if (it == kept.end()) lost.push_back(line);
    else kept.erase(it);
  }
  return lost;
}

// The boxes of every case-sensitive hit of `word` on the page, widened by a point.
std::vector<Rect> hit_boxes(const IDocument& doc, int page, const std::string& word) {
  std::vector<Rect> out;
  const TextPage text = doc.extract_text(page);
  for (const TextRun& run : text.runs) {
    search::Options exact;
    exact.case_sensitive = true;
    for (const search::Match& m : search::find_all(run.text, word, exact)) {
      Rect r{1e9, 1e9, -1e9, -1e9};
      for (const CharBox& c : run.chars) {
        if (c.offset < m.offset || c.offset >= m.offset + m.length) continue;
        r = {std::min(r.x0, c.left), std::min(r.y0, c.bottom), std::max(r.x1, c.right), std::max(r.y1, c.top)};
      }
      if (r.x0 < r.x1) out.push_back({r.x0 - 1, r.y0 - 1, r.x1 + 1, r.y1 + 1});
    }
  }
  return out;
}

// What an edit did to one page, seen by poppler in the saved copies.
struct Comparison {
  int pixels = -1;                 // differing outside the edited places
  std::vector<std::string> lost;   // lines gone or changed that held nothing edited
  std::string text_after;
};

Comparison compare(const std::string& original, IDocument& edited, int page, const std::vector<Rect>& boxes,
                   const std::string& edited_word) {
  TempDir dir;
  Comparison c;
  if (!edited.save_as(dir.file("after.pdf"), {})) return c;
  const Raster a = render_poppler(original, page), b = render_poppler(dir.file("after.pdf"), page);
  c.pixels = differing_outside(a, b, boxes);
  c.text_after = pdftotext(dir.file("after.pdf"), page);
  c.lost = lost_lines(pdftotext(original, page), c.text_after, edited_word);
  return c;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += "«" + l + "» ";
  return out;
}

// A page laid out as TeX writes it: each line one TJ array whose word gaps are adjustments.
std::string tex_like_page() {
  return multi_stream_pdf({"BT /F1 11 Tf 72 700 Td 14 TL "
                           "[(Sets)-333(tics)-333(at)-333(the)-333(border,)-333(tics)-333(text)]TJ T* "
                           "[(Make)-333(tics)-333(at)-333(0,)-333(0.5,)-333(1)-333(mail:)-333(ivan@example.org)]TJ T* "
                           "[(-5,)-250(0,)-250(5,)-250(10)-1000(W)80(ord)-333(the)-333(end)]TJ ET"});
}

// A page as Qt's PDF writer makes it: a flipped transform left open, then every glyph placed by
// its own Td and Tj in a text matrix that flips back (in Courier, so that the steps are widths).
std::string qt_like_page() {
  auto line = [](double y, const std::string& text) {
    std::string s = "q BT /F1 14 Tf 1 0 0 -1 0 0 Tm 60 " + std::to_string(-y) + " Td ";
    static const char* digits = "0123456789ABCDEF";
    for (size_t i = 0; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (i) s += "8.4 0 Td ";
      s += std::string("<") + digits[c >> 4] + digits[c & 15] + "> Tj ";
    }
    return s + "ET Q ";
  };
  return build_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 4 0 R >> >> "
                    "/Contents 5 0 R >>",
                    "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding /WinAnsiEncoding >>",
                    stream_object("1 0 0 -1 10 832 cm " + line(80, "Contract 17 of 01.02.2024") +
                                  line(108, "Romashka LLC, tel. +7 (495) 123-45-67") +
                                  line(136, "Account 40702810900000012345") + line(164, "Romashka will deliver"))});
}

// A page that draws a form XObject holding text of its own, beside its own text.
std::string form_page() {
  const std::string form = "BT /F1 12 Tf 0 0 Td (Stamp in a form) Tj ET";
  return build_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> "
                    "/XObject << /Fm1 5 0 R >> >> /Contents 6 0 R >>",
                    "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
                    stream_object(form, "/Type /XObject /Subtype /Form /BBox [0 0 300 40] "
                                        "/Resources << /Font << /F1 4 0 R >> >>"),
                    stream_object("q 1 0 0 1 72 500 cm /Fm1 Do Q BT /F1 12 Tf 72 720 Td [(Name:)-300(SECRET-1)"
                                  "-300(and)-300(the)-300(rest)] TJ ET")});
}

// A fixture written to a file, the original of the comparisons, and opened.
struct Original {
  TempDir dir;
  std::string path = dir.file("in.pdf");
  std::unique_ptr<IDocument> doc;
  explicit Original(const std::string& pdf) {
    if (write_file(path, pdf)) doc = open_pdf(pdf);
  }
};

}  // namespace

TEST(ContentEdit, RedactionKeepsTheRestOfThePage) {
  struct Case {
    const char* what;
    std::string pdf;
    std::string value;
  } cases[] = {
      {"TJ lines", tex_like_page(), "ivan@example.org"},
      {"Qt writer's page", qt_like_page(), "123-45-67"},
      {"several streams", multi_stream_pdf({"BT /F1 12 Tf 72 720 Td (Name: SECRET-1 and more) Tj ET",
                                            "BT /F1 12 Tf 72 700 Td [(after)-500(it)] TJ ET"}), "SECRET-1"},
      {"a form XObject beside", form_page(), "SECRET-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Original o(c.pdf);
    ASSERT_TRUE(o.doc);
    IDocument& doc = *o.doc;
    const std::vector<Rect> boxes = extract::pii_rects(doc.extract_text(0), {c.value});
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(doc.redact(0, boxes), static_cast<int>(boxes.size()));
    const Comparison r = compare(o.path, doc, 0, boxes, c.value);
    EXPECT_EQ(r.pixels, 0);
    EXPECT_TRUE(r.lost.empty()) << joined(r.lost);
    EXPECT_EQ(r.text_after.find(c.value), std::string::npos) << r.text_after;
    const std::string kept = page_text(doc, 0);
    EXPECT_EQ(kept.find(c.value), std::string::npos) << kept;
  }
}

TEST(ContentEdit, ReplacementKeepsTheRestOfThePage) {
  struct Case {
    const char* what;
    std::string pdf, find, with;
  } cases[] = {
      {"word of a TJ line", tex_like_page(), "the", "teh"},
      {"word split over TJ strings", tex_like_page(), "Word", "Term"},
      {"glyph by glyph", qt_like_page(), "Romashka", "Lavanda"},
      {"deleted between spaces", text_pdf({"Hello world replace-me token"}), "replace-me", ""},
      {"wider, into the free end of its line", text_pdf({"Xtics list"}), "Xtics list", "Xtics LIST"},
      {"a form XObject beside", form_page(), "the", "teh"},
      {"word inside a form XObject", form_page(), "Stamp", "Stump"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Original o(c.pdf);
    ASSERT_TRUE(o.doc);
    IDocument& doc = *o.doc;
    std::vector<Rect> boxes = hit_boxes(doc, 0, c.find);
    ASSERT_FALSE(boxes.empty());
    EXPECT_GT(doc.replace_text(0, c.find, c.with), 0);
    // A wider word may take free room beside it: the words themselves are what changed.
    if (!c.with.empty())
      for (const Rect& b : hit_boxes(doc, 0, c.with)) boxes.push_back(b);
    const Comparison r = compare(o.path, doc, 0, boxes, c.find);
    EXPECT_EQ(r.pixels, 0);
    EXPECT_TRUE(r.lost.empty()) << joined(r.lost);
    const std::string text = page_text(doc, 0);
    EXPECT_EQ(text.find(c.find), std::string::npos) << text;
    if (!c.with.empty()) {
      EXPECT_NE(text.find(c.with), std::string::npos) << text;
    }
  }
}

TEST(ContentEdit, ImageRemovalKeepsTheRestOfThePage) {
  struct Case {
    const char* what;
    std::string pdf;
  } cases[] = {
      {"image XObject between TJ lines",
       multi_stream_pdf({"BT /F1 12 Tf 72 720 Td [(Untouched)-600(first)] TJ ET "
                         "q 50 0 0 40 100 500 cm /Im1 Do Q BT /F1 12 Tf 72 400 Td [(Untouched)-600(second)] TJ ET"},
                        true)},
      {"inline image in its own stream",
       multi_stream_pdf({"BT /F1 12 Tf 72 720 Td [(Kept)-600(line)] TJ ET",
                         "q 50 0 0 40 100 500 cm BI /W 2 /H 2 /CS /G /BPC 8 ID \x10\x80\x80\x10 EI Q",
                         "BT /F1 12 Tf 72 400 Td (last) Tj ET"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Original o(c.pdf);
    ASSERT_TRUE(o.doc);
    IDocument& doc = *o.doc;
    const std::vector<IDocument::ImageRef> images = doc.list_images(0);
    ASSERT_EQ(images.size(), 1u);
    ASSERT_TRUE(doc.delete_image(0, images[0].index));
    EXPECT_TRUE(doc.list_images(0).empty());
    const Rect box{images[0].left, images[0].bottom, images[0].right, images[0].top};
    const Comparison r = compare(o.path, doc, 0, {box}, "");
    EXPECT_EQ(r.pixels, 0);
    EXPECT_TRUE(r.lost.empty()) << joined(r.lost);
  }
}

// The installed manuals, as real TeX output: every edit kind on a page of each.
TEST(ContentEdit, RealManuals) {
  for (const char* path : {"/usr/share/doc/libtasn1-doc/libtasn1.pdf",
                           "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf"}) {
    SCOPED_TRACE(path);
    if (!std::filesystem::exists(path)) continue;
    const std::string bytes = read_file(path);
    // A page of running text.
    int page = -1;
    {
      auto doc = open_pdf(bytes);
      ASSERT_TRUE(doc);
      for (int i = 1; i < doc->page_count() && page < 0; ++i)
        if (hit_boxes(*doc, i, "the").size() >= 5) page = i;
    }
    ASSERT_GE(page, 0);
    {
      auto doc = open_pdf(bytes);
      const std::vector<Rect> boxes = hit_boxes(*doc, page, "the");
      EXPECT_GT(doc->replace_text(page, "the", "teh"), 0);
      const Comparison r = compare(path, *doc, page, boxes, "the");
      EXPECT_EQ(r.pixels, 0);
      EXPECT_TRUE(r.lost.empty()) << joined(r.lost);
      EXPECT_NE(r.text_after.find("teh"), std::string::npos);
    }
    {
      auto doc = open_pdf(bytes);
      const std::vector<Rect> boxes = hit_boxes(*doc, page, "the");
      EXPECT_EQ(doc->redact(page, boxes), static_cast<int>(boxes.size()));
      const Comparison r = compare(path, *doc, page, boxes, "the");
      EXPECT_EQ(r.pixels, 0);
      EXPECT_TRUE(r.lost.empty()) << joined(r.lost);
    }
  }
}
