#include "ocr_engine.h"

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace taviocr {

namespace {

struct PixDeleter {
  void operator()(Pix* p) const { pixDestroy(&p); }
};

// Leptonica prints its complaints about unreadable data to standard error; ours are enough.
void quiet_leptonica() {
  static const bool once = [] {
    setMsgSeverity(L_SEVERITY_NONE);
    return true;
  }();
  (void)once;
}

std::string trim_right(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\r' || s.back() == '\t')) s.pop_back();
  return s;
}

// The engine adds blank lines between blocks; a text reads as its non-empty lines.
std::string drop_blank_lines(const std::string& s) {
  std::string out;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find('\n', start);
    if (end == std::string::npos) end = s.size();
    const std::string line = trim_right(s.substr(start, end - start));
    if (line.find_first_not_of(" \t") != std::string::npos) {
      if (!out.empty()) out += '\n';
      out += line;
    }
    start = end + 1;
  }
  return out;
}

bool blank(const char* s) {
  for (; *s; ++s) {
    if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r') return false;
  }
  return true;
}

std::string box_json(const std::array<int, 4>& b) {
  return '[' + std::to_string(b[0]) + ',' + std::to_string(b[1]) + ',' + std::to_string(b[2]) + ',' +
         std::to_string(b[3]) + ']';
}

}  // namespace

Result recognize(std::string_view image_bytes, bool want_words, const std::function<bool()>& cancelled) {
  Result r;
  quiet_leptonica();
  const auto* data = reinterpret_cast<const l_uint8*>(image_bytes.data());
  l_int32 format = 0, w = 0, h = 0, bps = 0, spp = 0, cmap = 0;
  if (pixReadHeaderMem(data, image_bytes.size(), &format, &w, &h, &bps, &spp, &cmap) != 0 || w <= 0 || h <= 0) {
    r.error = "not a readable image";
    return r;
  }
  if (int64_t(w) * h > kMaxPixels) {
    r.too_large = true;
    r.error = "the image has " + std::to_string(int64_t(w) * h / 1'000'000) + " million pixels, more than the " +
              std::to_string(kMaxPixels / 1'000'000) + " million recognised";
    return r;
  }
  std::unique_ptr<Pix, PixDeleter> pix(pixReadMem(data, image_bytes.size()));
  if (!pix) {
    r.error = "not a readable image";
    return r;
  }
  r.width = static_cast<int>(pixGetWidth(pix.get()));
  r.height = static_cast<int>(pixGetHeight(pix.get()));
  tesseract::TessBaseAPI api;
  if (api.Init(nullptr, "eng+rus") != 0) {
    r.error = "the recognition data (eng, rus) is not installed";
    return r;
  }
  api.SetPageSegMode(tesseract::PSM_AUTO);
  api.SetImage(pix.get());
  // The window writes the resolution it rendered at into the image; other images may carry none.
  if (pixGetXRes(pix.get()) <= 0) api.SetSourceResolution(150);
  tesseract::ETEXT_DESC monitor;
  if (cancelled) {
    monitor.cancel = [](void* ask, int) { return (*static_cast<const std::function<bool()>*>(ask))(); };
    monitor.cancel_this = const_cast<std::function<bool()>*>(&cancelled);
  }
  if (api.Recognize(cancelled ? &monitor : nullptr) != 0 || (cancelled && cancelled())) {
    r.cancelled = cancelled && cancelled();
    r.error = r.cancelled ? "recognition was cancelled" : "recognition failed";
    return r;
  }
  std::unique_ptr<char[]> all(api.GetUTF8Text());
  r.text = all ? drop_blank_lines(all.get()) : std::string();
  if (want_words) {
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (it) {
      bool line_begins = true;
      do {
        // Noise gives words of nothing but spaces: no word to find, and no line for them.
        line_begins = line_begins || it->IsAtBeginningOf(tesseract::RIL_TEXTLINE);
        std::unique_ptr<char[]> w(it->GetUTF8Text(tesseract::RIL_WORD));
        if (!w || blank(w.get())) continue;
        if (line_begins) {
          Line line;
          it->BoundingBox(tesseract::RIL_TEXTLINE, &line.box[0], &line.box[1], &line.box[2], &line.box[3]);
          line.has_baseline = it->Baseline(tesseract::RIL_TEXTLINE, &line.baseline[0], &line.baseline[1],
                                           &line.baseline[2], &line.baseline[3]);
          r.lines.push_back(line);
          line_begins = false;
        }
        Word word;
        word.text = w.get();
        it->BoundingBox(tesseract::RIL_WORD, &word.box[0], &word.box[1], &word.box[2], &word.box[3]);
        word.line = static_cast<int>(r.lines.size()) - 1;
        r.words.push_back(std::move(word));
      } while (it->Next(tesseract::RIL_WORD));
    }
  }
  api.End();
  r.ok = true;
  return r;
}

void run_single_threaded(char** argv) {
  if (std::getenv("OMP_THREAD_LIMIT")) return;
  setenv("OMP_THREAD_LIMIT", "1", 1);
  execv("/proc/self/exe", argv);
  // Not restarted: recognition still works, only slower.
}

std::string engine_name() { return std::string("tesseract ") + tesseract::TessBaseAPI::Version(); }

std::string json_string(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (u < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", u);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::string words_json(const Result& r) {
  std::string out = "{\"width\":" + std::to_string(r.width) + ",\"height\":" + std::to_string(r.height) + ",\"items\":[";
  for (size_t i = 0; i < r.words.size(); ++i) {
    const Word& w = r.words[i];
    if (i) out += ',';
    out += "{\"text\":" + json_string(w.text) + ",\"box\":" + box_json(w.box) + ",\"line\":" + std::to_string(w.line) + '}';
  }
  out += "],\"lines\":[";
  for (size_t i = 0; i < r.lines.size(); ++i) {
    const Line& l = r.lines[i];
    if (i) out += ',';
    out += "{\"box\":" + box_json(l.box);
    if (l.has_baseline) out += ",\"baseline\":" + box_json(l.baseline);
    out += '}';
  }
  out += "]}";
  return out;
}

}  // namespace taviocr
