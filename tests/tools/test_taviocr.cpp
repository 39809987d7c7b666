// The recogniser behind the OCR companion: what its word list holds and says, on pages rendered
// here and on a scan of nothing but noise.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "core/engine.h"
#include "ocr_engine.h"

using namespace quorvel;

namespace {

// An 8-bit grey image as a binary PGM file, which the recogniser reads like any other image.
std::string pgm(int width, int height, const std::vector<uint8_t>& grey) {
  return "P5\n" + std::to_string(width) + ' ' + std::to_string(height) + "\n255\n" + std::string(grey.begin(), grey.end());
}

// Page 0 of `pdf` at `dpi`, in grey.
std::string page_image(const std::string& pdf, double dpi) {
  auto doc = make_engine(EngineKind::Pdfium)->open(test::as_bytes(pdf), {});
  if (!doc) return {};
  const PageInfo info = doc->page_info(0);
  RenderRequest req;
  req.scale = dpi / 72;
  req.width = static_cast<int>(info.width * req.scale);
  req.height = static_cast<int>(info.height * req.scale);
  const RenderedTile t = doc->render_tile(0, req);
  std::vector<uint8_t> grey;
  for (size_t i = 1; i < t.pixels.size(); i += 4) grey.push_back(t.pixels[i]);
  return pgm(t.width, t.height, grey);
}

}  // namespace

TEST(Taviocr, WordListNamesEachWordsLine) {
  taviocr::Result r;
  r.width = 100;
  r.height = 50;
  r.lines = {{{1, 2, 90, 20}, true, {1, 18, 90, 19}}, {{1, 30, 40, 45}, false, {}}};
  r.words = {{"a\"b", {1, 2, 10, 20}, 0}, {"c", {20, 2, 90, 20}, 0}, {"d", {1, 30, 40, 45}, 1}};
  // Readers of the earlier list find width, height and each item's text and box as before.
  EXPECT_EQ(taviocr::words_json(r),
            R"({"width":100,"height":50,"items":[{"text":"a\"b","box":[1,2,10,20],"line":0},)"
            R"({"text":"c","box":[20,2,90,20],"line":0},{"text":"d","box":[1,30,40,45],"line":1}],)"
            R"("lines":[{"box":[1,2,90,20],"baseline":[1,18,90,19]},{"box":[1,30,40,45]}]})");
}

TEST(Taviocr, ReadsLinesWithTheirBaselines) {
  const std::vector<std::string> lines{"The quick brown fox", "jumps over the lazy", "dog again and again"};
  std::string content;
  for (size_t i = 0; i < lines.size(); ++i)
    content += "BT /F1 20 Tf 72 " + std::to_string(700 - 40 * static_cast<int>(i)) + " Td " + test::pdf_literal(lines[i]) + " Tj ET\n";
  const std::string image = page_image(test::make_pdf({test::PageSpec{612, 792, content, {}, {}}}), 150);
  ASSERT_FALSE(image.empty());
  const taviocr::Result r = taviocr::recognize(image, true);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.lines.size(), lines.size());
  std::vector<std::string> read(lines.size());
  for (const taviocr::Word& w : r.words) {
    ASSERT_GE(w.line, 0);
    ASSERT_LT(w.line, static_cast<int>(lines.size()));
    const taviocr::Line& l = r.lines[static_cast<size_t>(w.line)];
    EXPECT_TRUE(w.box[0] >= l.box[0] && w.box[1] >= l.box[1] && w.box[2] <= l.box[2] && w.box[3] <= l.box[3]) << w.text;
    std::string& text = read[static_cast<size_t>(w.line)];
    text += (text.empty() ? "" : " ") + w.text;
  }
  EXPECT_EQ(read, lines);
  for (const taviocr::Line& l : r.lines) {
    ASSERT_TRUE(l.has_baseline);
    // Below the middle of the line and above its lowest point (the descenders).
    for (int y : {l.baseline[1], l.baseline[3]}) {
      EXPECT_GT(y, (l.box[1] + l.box[3]) / 2);
      EXPECT_LE(y, l.box[3]);
    }
  }
}

// The recogniser finds a "word" of spaces in noise: it is no word, and makes no line.
TEST(Taviocr, NoiseGivesNoWords) {
  const int w = 600, h = 400;
  std::vector<uint8_t> grey(static_cast<size_t>(w) * h);
  uint32_t state = 7;
  for (uint8_t& p : grey) {
    state = state * 1664525u + 1013904223u;
    p = (state >> 24) < 30 ? 0 : 255;
  }
  const taviocr::Result r = taviocr::recognize(pgm(w, h, grey), true);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.words.empty()) << r.words.front().text << '|';
  EXPECT_TRUE(r.lines.empty());
  EXPECT_EQ(taviocr::words_json(r), R"({"width":600,"height":400,"items":[],"lines":[]})");
}
