// Text recognition shared by the OCR companion stand-in and the backend stand-in's "/ocr".
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace taviocr {

struct Word {
  std::string text;            // UTF-8
  std::array<int, 4> box{};    // x0, y0, x1, y1 in image pixels, origin top left
  int line = 0;                // index in Result::lines
};

// A line of text as recognised: its words follow each other in reading order.
struct Line {
  std::array<int, 4> box{};
  // Two points of the line the words sit on, left to right, in image pixels.
  bool has_baseline = false;
  std::array<int, 4> baseline{};
};

// The most pixels an image may have: a letter or A4 page scanned at 600 dpi. Recognition needs
// several bytes a pixel and minutes for more, so a larger image is refused from its header.
inline constexpr int64_t kMaxPixels = 40'000'000;

struct Result {
  bool ok = false;
  bool too_large = false;      // refused for its size, before decoding
  bool cancelled = false;
  std::string error;           // why, when not ok
  int width = 0;
  int height = 0;
  std::string text;            // UTF-8, lines separated by line feeds
  std::vector<Word> words;     // none is empty or white space only
  std::vector<Line> lines;     // each holds at least one word
};

// Recognises an image given as the bytes of an image file (PNG, JPEG, ...) in English and
// Russian. `want_words` also fills `words`. `cancelled`, when given, is asked now and then and
// ends the recognition when it says so.
Result recognize(std::string_view image_bytes, bool want_words, const std::function<bool()>& cancelled = {});

// The engine's parallel loops spin on a busy machine and take minutes for a page that one
// thread reads in a second; the thread limit is read when the program loads, so a program
// that recognises calls this first thing in main: it restarts itself once with the limit set.
void run_single_threaded(char** argv);

// The engine's name as the backend reports it.
std::string engine_name();

// `s` as a JSON string literal, quotes included.
std::string json_string(std::string_view s);

// {"width","height","items":[{"text","box":[x0,y0,x1,y1],"line"}],"lines":[{"box","baseline"}]};
// "line" indexes "lines", and a line without a recognised baseline has no "baseline".
std::string words_json(const Result& r);

}  // namespace taviocr
