// Text replacement over the installed TeX manuals. From sampled pages of each manual, words are
// taken (every ligature word of the page and one more) and each is replaced by its upper-case
// form, by a word of the same length and by a longer one made of its own letters. Prints the
// share of occurrences replaced, what was left and why, the pixels that changed outside the
// replaced words (2 points of anti-aliasing margin) and the lines pdftotext reads differently
// among those that hold neither word. Usage: bench_replace_text [pages per manual, default 24];
// BENCH_VERBOSE=1 lists each replacement that left something; BENCH_MANUAL=name takes only the
// manuals whose file name holds it.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "common/raster.h"
#include "core/engine.h"
#include "core/search.h"
#include "tex_manuals.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct Box {
  double x0, y0, x1, y1;
};

std::vector<Box> hit_boxes(const IDocument& doc, int page, const std::string& word) {
  std::vector<Box> out;
  search::Options exact;
  exact.case_sensitive = true;
  for (const TextRun& run : doc.extract_text(page).runs) {
    for (const search::Match& m : search::find_all(run.text, word, exact)) {
      Box b{1e9, 1e9, -1e9, -1e9};
      for (const CharBox& c : run.chars) {
        if (c.offset < m.offset || c.offset >= m.offset + m.length) continue;
        b = {std::min(b.x0, c.left), std::min(b.y0, c.bottom), std::max(b.x1, c.right), std::max(b.y1, c.top)};
      }
      if (b.x0 < b.x1) out.push_back(b);
    }
  }
  return out;
}

// Pixels outside every box (widened by 2 points) whose colour differs by more than a faint edge;
// `where` spans them (page points from the bottom).
int differing_outside(const Raster& a, const Raster& b, const std::vector<Box>& boxes, double page_height,
                      Box& where) {
  where = {1e9, 1e9, -1e9, -1e9};
  if (a.width == 0) return -1;  // poppler drew nothing
  return test::differing_outside(
      a, b, page_height,
      [&](double px, double py) {
        for (const Box& r : boxes)
          if (px >= r.x0 - 2 && px <= r.x1 + 2 && py >= r.y0 - 2 && py <= r.y1 + 2) return true;
        return false;
      },
      [&](double x, double y) {
        where = {std::min(where.x0, x), std::min(where.y0, y), std::max(where.x1, x), std::max(where.y1, y)};
      });
}


std::vector<Box> char_boxes(const IDocument& doc, int page) {
  std::vector<Box> out;
  for (const TextRun& run : doc.extract_text(page).runs)
    for (const CharBox& c : run.chars)
      if (c.right > c.left) out.push_back({c.left, c.bottom, c.right, c.top});
  return out;
}

// Where words moved along the line of a replaced word: from the first character of that line
// (the band of `word`) that is not where it was, before or after, to the last one.
Box moved_part(const Box& word, const std::vector<Box>& before, const std::vector<Box>& after) {
  Box span = word;
  auto same = [](const Box& a, const Box& b) {
    return std::fabs(a.x0 - b.x0) < 0.001 && std::fabs(a.x1 - b.x1) < 0.001 && std::fabs(a.y0 - b.y0) < 0.001 &&
           std::fabs(a.y1 - b.y1) < 0.001;
  };
  for (const auto* set : {&before, &after}) {
    const std::vector<Box>& other = set == &before ? after : before;
    for (const Box& c : *set) {
      const double mid = (c.y0 + c.y1) / 2;
      const double h = (word.y1 - word.y0) / 2;
      if (mid < word.y0 - h || mid > word.y1 + h) continue;
      if (std::any_of(other.begin(), other.end(), [&](const Box& o) { return same(c, o); })) continue;
      span = {std::min(span.x0, c.x0), span.y0, std::max(span.x1, c.x1), span.y1};
    }
  }
  return span;
}

// Lines of `before` that `after` lacks, among those holding neither word. With `edited`, the
// lines that held `a` are looked for with it replaced by `b` (every occurrence was): those read
// otherwise are counted there.
int lost_lines(const std::string& before, const std::string& after, const std::string& a, const std::string& b,
               bool verbose, std::pair<long, long>* edited) {
  std::vector<std::string> kept;
  std::istringstream in_after(after);
  for (std::string line; std::getline(in_after, line);) kept.push_back(line);
  // A longer entry may take the place of leader dots: an edited line's rows of them match
  // whatever their length.
  const std::regex leaders("( \\.)+ ");
  auto take = [&](const std::string& line, bool any_leaders = false) {
    const std::string short_leaders = any_leaders ? std::regex_replace(line, leaders, " . ") : line;
    auto it = std::find_if(kept.begin(), kept.end(), [&](const std::string& k) {
      return k == line || (any_leaders && std::regex_replace(k, leaders, " . ") == short_leaders);
    });
    if (it == kept.end()) return false;
    kept.erase(it);
    return true;
  };
  int lost = 0;
  std::istringstream in_before(before);
  for (std::string line; std::getline(in_before, line);) {
    if (!b.empty() && line.find(b) != std::string::npos) continue;
    if (line.find(a) != std::string::npos) {
      if (!edited) continue;
      std::string want = line;
      for (size_t p = want.find(a); p != std::string::npos; p = want.find(a, p + b.size())) want.replace(p, a.size(), b);
      ++edited->second;
      if (take(want, true)) continue;
      ++edited->first;
      if (verbose) std::printf("  edited line read differently: «%s»\n", want.c_str());
      continue;
    }
    if (take(line)) continue;
    ++lost;
    if (verbose) std::printf("  line read differently: «%s»\n", line.c_str());
  }
  return lost;
}

bool ligature_word(const std::string& w) {
  return w.find("ff") != std::string::npos || w.find("fi") != std::string::npos || w.find("fl") != std::string::npos;
}

// Words of ASCII letters, three or more long, in the order of the page. A word that touches a
// letter or mark outside ASCII is part of a longer one ("Märkisch" drawn with a separate
// dieresis), which other readers read whole: it is not taken.
std::vector<std::string> words_of(const IDocument& doc, int page) {
  std::vector<std::string> out;
  for (const TextRun& run : doc.extract_text(page).runs) {
    std::string w;
    bool touches = false;
    for (char ch : run.text + " ") {
      const auto byte = static_cast<unsigned char>(ch);
      if (std::isalpha(byte)) {
        w += ch;
      } else {
        if (w.size() >= 3 && !touches && byte < 0x80) out.push_back(w);
        w.clear();
        touches = byte >= 0x80;
      }
    }
  }
  return out;
}

struct Tally {
  long found = 0;
  TextReplacement all;
  long pixels = 0, lost = 0, cases = 0, bad_pixels = 0;
  std::pair<long, long> edited{0, 0};  // lines holding the word: read otherwise, all
};

}  // namespace

int main(int argc, char** argv) {
  const int per_manual = argc > 1 ? std::max(1, std::atoi(argv[1])) : 24;
  // Every occurrence left, with its reason, when asked for.
  const bool verbose = std::getenv("BENCH_VERBOSE") != nullptr;
  auto engine = make_engine(EngineKind::Pdfium);
  // "held": the share among occurrences whose replacement the font has every glyph for.
  std::printf("%-26s %6s %-6s %6s %6s %8s %8s %6s %7s %7s %7s %7s %7s %7s\n", "manual", "pages", "kind", "found", "repl.",
              "share", "held", "moved", "glyph", "room", "edit", "check", "pixels", "lines");
  const char* only = std::getenv("BENCH_MANUAL");
  for (const TexManual& m : installedTexManuals()) {
    if (only && std::string(m.name).find(only) == std::string::npos) continue;
    TempDir dir;
    // The sampled pages as a document of their own: the same content and fonts, each edit
    // rewriting a small file instead of the whole manual.
    std::unique_ptr<IDocument> whole = engine->open(as_bytes(read_file(m.path)), "");
    if (!whole) continue;
    const int total = whole->page_count();
    whole.reset();
    const int take = std::min(per_manual, total);
    std::string range;
    for (int i = 0; i < take; ++i) range += (i ? "," : "") + std::to_string(1 + static_cast<long long>(i) * total / take);
    const std::string sample = dir.file("sample.pdf");
    if (run_program({"qpdf", "--empty", "--pages", m.path, range, "--", sample}) > 3) continue;
    const std::string bytes = read_file(sample);
    std::map<std::string, Tally> tallies;
    for (int page = 0; page < take; ++page) {
      std::unique_ptr<IDocument> original = engine->open(as_bytes(bytes), "");
      if (!original) break;
      const std::vector<std::string> words = words_of(*original, page);
      std::vector<std::string> chosen;
      for (const std::string& w : words)
        if (ligature_word(w) && std::find(chosen.begin(), chosen.end(), w) == chosen.end()) chosen.push_back(w);
      if (!words.empty()) {
        const std::string& middle = words[words.size() / 2];
        if (std::find(chosen.begin(), chosen.end(), middle) == chosen.end()) chosen.push_back(middle);
      }
      const Raster before = render_poppler(sample, page);
      const std::string text_before = pdftotext(sample, page);
      const double height = original->page_info(page).height;
      const std::vector<Box> before_chars = char_boxes(*original, page);
      for (const std::string& w : chosen) {
        std::string upper = w, same(w.rbegin(), w.rend()), longer = w + w.substr(0, 2);
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        for (const auto& [kind, with] : std::vector<std::pair<std::string, std::string>>{
                 {"upper", upper}, {"same", same}, {"longer", longer}}) {
          Tally& t = tallies[kind];
          std::unique_ptr<IDocument> doc = engine->open(as_bytes(bytes), "");
          std::vector<Box> boxes = hit_boxes(*doc, page, w);
          const std::map<int, TextReplacement> done = doc->replace_text_everywhere({page}, w, with);
          TextReplacement all;
          for (const auto& [p, r] : done) all += r;
          t.found += all.replaced + all.left();
          t.all += all;
          if (verbose) {
            for (const auto& [p, r] : done)
              if (r.left() > 0)
                std::printf("  %s p%d %s -> %s: glyph %d room %d edit %d check %d\n", m.name, page + 1, w.c_str(),
                            with.c_str(), r.missing_glyphs, r.no_room, r.not_editable, r.not_read_back);
          }
          // Where words moved along their line to make room, the part of that line they span
          // changed too, with their ascenders and descenders.
          bool moved = false;
          for (const auto& [p, r] : done) moved = moved || r.moved_words > 0;
          const std::vector<Box> after_chars = moved ? char_boxes(*doc, page) : std::vector<Box>();
          std::vector<Box> words = boxes;
          for (const Box& b : hit_boxes(*doc, page, with)) words.push_back(b);
          for (const Box& b : words) {
            if (!moved) {
              boxes.push_back(b);
              continue;
            }
            const double h = (b.y1 - b.y0) / 2;
            const Box part = moved_part(b, before_chars, after_chars);
            boxes.push_back({part.x0, b.y0 - h, part.x1, b.y1 + h});
          }
          const std::string after = dir.file("after.pdf");
          ++t.cases;
          if (!doc->save_as(after, {})) {
            ++t.bad_pixels;
            continue;
          }
          Box where;
          const int px = differing_outside(before, render_poppler(after, page), boxes, height, where);
          if (verbose && px > 0) {
            std::printf("  %s p%d %s -> %s: %d pixels in x %.0f-%.0f, y %.0f-%.0f\n", m.name, page + 1, w.c_str(),
                        with.c_str(), px, where.x0, where.x1, where.y0, where.y1);
          }
          t.pixels += std::max(px, 0);
          t.bad_pixels += px != 0 ? 1 : 0;
          t.lost += lost_lines(text_before, pdftotext(after, page), w, with, verbose,
                               all.left() == 0 ? &t.edited : nullptr);
        }
      }
    }
    for (const char* kind : {"upper", "same", "longer"}) {
      const Tally& t = tallies[kind];
      std::string missing;
      for (char32_t c : t.all.missing) missing += c < 128 ? std::string(1, static_cast<char>(c)) : "?";
      // Lines holding a replaced word that pdftotext reads other than with the word replaced,
      // of those checked (pages where every occurrence was replaced).
      const std::string edited =
          "edited lines read otherwise: " + std::to_string(t.edited.first) + "/" + std::to_string(t.edited.second);
      const long held = t.found - t.all.missing_glyphs;
      std::printf("%-26s %6d %-6s %6ld %6ld %7.2f%% %7.2f%% %6ld %7ld %7ld %7ld %7ld %7ld %7ld %s%s\n", m.name, take, kind,
                  t.found, static_cast<long>(t.all.replaced), t.found ? 100.0 * t.all.replaced / t.found : 100.0,
                  held > 0 ? 100.0 * t.all.replaced / held : 100.0, static_cast<long>(t.all.moved_words), static_cast<long>(t.all.missing_glyphs),
                  static_cast<long>(t.all.no_room), static_cast<long>(t.all.not_editable),
                  static_cast<long>(t.all.not_read_back), t.pixels, t.lost, edited.c_str(),
                  missing.empty() ? "" : ("; missing: " + missing).c_str());
      std::fflush(stdout);
    }
  }
  return 0;
}
