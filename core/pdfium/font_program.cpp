// Reading what glyphs an embedded font program holds. Every offset and count comes from the
// file, so each is checked against the data before it is used.
#include "core/pdfium/font_program.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string>
#include <vector>

namespace quorvel::content {

namespace {

// Character names of the codes 32..126 as text fonts name them.
constexpr std::array<const char*, 95> kAsciiNames = {
    "space", "exclam", "quotedbl", "numbersign", "dollar", "percent", "ampersand", "quotesingle",
    "parenleft", "parenright", "asterisk", "plus", "comma", "hyphen", "period", "slash", "zero", "one",
    "two", "three", "four", "five", "six", "seven", "eight", "nine", "colon", "semicolon", "less",
    "equal", "greater", "question", "at", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L",
    "M", "N", "O", "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z", "bracketleft", "backslash",
    "bracketright", "asciicircum", "underscore", "grave", "a", "b", "c", "d", "e", "f", "g", "h", "i",
    "j", "k", "l", "m", "n", "o", "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "braceleft",
    "bar", "braceright", "asciitilde"};

// Names of U+00A1..U+00FF (the Latin-1 letters and signs); no name for the soft hyphen.
constexpr std::array<const char*, 95> kLatin1Names = {
    "exclamdown", "cent", "sterling", "currency", "yen", "brokenbar", "section", "dieresis", "copyright",
    "ordfeminine", "guillemotleft", "logicalnot", "", "registered", "macron", "degree", "plusminus",
    "twosuperior", "threesuperior", "acute", "mu", "paragraph", "periodcentered", "cedilla", "onesuperior",
    "ordmasculine", "guillemotright", "onequarter", "onehalf", "threequarters", "questiondown", "Agrave",
    "Aacute", "Acircumflex", "Atilde", "Adieresis", "Aring", "AE", "Ccedilla", "Egrave", "Eacute",
    "Ecircumflex", "Edieresis", "Igrave", "Iacute", "Icircumflex", "Idieresis", "Eth", "Ntilde", "Ograve",
    "Oacute", "Ocircumflex", "Otilde", "Odieresis", "multiply", "Oslash", "Ugrave", "Uacute", "Ucircumflex",
    "Udieresis", "Yacute", "Thorn", "germandbls", "agrave", "aacute", "acircumflex", "atilde", "adieresis",
    "aring", "ae", "ccedilla", "egrave", "eacute", "ecircumflex", "edieresis", "igrave", "iacute",
    "icircumflex", "idieresis", "eth", "ntilde", "ograve", "oacute", "ocircumflex", "otilde", "odieresis",
    "divide", "oslash", "ugrave", "uacute", "ucircumflex", "udieresis", "yacute", "thorn", "ydieresis"};

struct Named {
  const char* name;
  const char32_t* text;
};
constexpr Named kOtherNames[] = {
    {"ff", U"ff"},           {"fi", U"fi"},          {"fl", U"fl"},          {"ffi", U"ffi"},
    {"ffl", U"ffl"},         {"quoteright", U"\u2019"}, {"quoteleft", U"\u2018"}, {"quotedblleft", U"\u201C"},
    {"quotedblright", U"\u201D"}, {"quotesinglbase", U"\u201A"}, {"quotedblbase", U"\u201E"},
    {"endash", U"\u2013"},   {"emdash", U"\u2014"},  {"bullet", U"\u2022"},  {"ellipsis", U"\u2026"},
    {"minus", U"\u2212"},    {"dotlessi", U"\u0131"}, {"OE", U"\u0152"},     {"oe", U"\u0153"},
    {"Lslash", U"\u0141"},   {"lslash", U"\u0142"},  {"Scaron", U"\u0160"},  {"scaron", U"\u0161"},
    {"Zcaron", U"\u017D"},   {"zcaron", U"\u017E"},  {"Ydieresis", U"\u0178"}, {"florin", U"\u0192"},
    {"dagger", U"\u2020"},   {"daggerdbl", U"\u2021"}, {"perthousand", U"\u2030"}, {"trademark", U"\u2122"},
    {"Euro", U"\u20AC"},     {"guilsinglleft", U"\u2039"}, {"guilsinglright", U"\u203A"},
    {"circumflex", U"\u02C6"}, {"tilde", U"\u02DC"}, {"nbspace", U"\u00A0"}, {"sfthyphen", U"\u00AD"},
};

// The Cyrillic letters as the old Adobe names number them: afii10017 is А, afii10065 is а.
constexpr std::u32string_view kCyrillicUpper = U"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ";
constexpr std::u32string_view kCyrillicLower = U"абвгдеёжзийклмнопрстуфхцчшщъыьэюя";

uint32_t be(std::string_view d, size_t at, size_t n) {
  if (at > d.size() || d.size() - at < n) return 0;
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v = (v << 8) | static_cast<unsigned char>(d[at + i]);
  return v;
}

bool fits(std::string_view d, size_t at, size_t n) { return at <= d.size() && d.size() - at >= n; }

char32_t hex_value(std::string_view s) {
  if (s.empty() || s.size() > 6) return 0;
  char32_t v = 0;
  for (char ch : s) {
    const int d = ch >= '0' && ch <= '9' ? ch - '0' : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10 : -1;
    if (d < 0) return 0;
    v = v * 16 + static_cast<char32_t>(d);
  }
  return v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF) ? 0 : v;
}

// One cmap subtable: code to glyph id, for the formats fonts in PDF files use.
void read_cmap_subtable(std::string_view d, size_t at, std::map<uint32_t, uint32_t>& out) {
  constexpr size_t kMax = 1 << 17;
  const uint32_t format = be(d, at, 2);
  if (format == 0 && fits(d, at, 6 + 256)) {
    for (uint32_t c = 0; c < 256; ++c) out[c] = be(d, at + 6 + c, 1);
  } else if (format == 4 && fits(d, at, 14)) {
    const size_t segs = be(d, at + 6, 2) / 2;
    const size_t ends = at + 14, starts = ends + 2 * segs + 2, deltas = starts + 2 * segs, offsets = deltas + 2 * segs;
    if (!fits(d, offsets, 2 * segs)) return;
    for (size_t s = 0; s < segs; ++s) {
      const uint32_t end = be(d, ends + 2 * s, 2), start = be(d, starts + 2 * s, 2);
      const uint32_t delta = be(d, deltas + 2 * s, 2), range = be(d, offsets + 2 * s, 2);
      for (uint32_t c = start; c <= end && c != 0xFFFF && out.size() < kMax; ++c) {
        uint32_t gid = 0;
        if (range == 0) {
          gid = (c + delta) & 0xFFFF;
        } else {
          const size_t where = offsets + 2 * s + range + 2 * (c - start);
          gid = be(d, where, 2);
          if (gid != 0) gid = (gid + delta) & 0xFFFF;
        }
        out[c] = gid;
      }
    }
  } else if (format == 6 && fits(d, at, 10)) {
    const uint32_t first = be(d, at + 6, 2), count = be(d, at + 8, 2);
    for (uint32_t i = 0; i < count && fits(d, at + 10 + 2 * i, 2); ++i) out[first + i] = be(d, at + 10 + 2 * i, 2);
  } else if (format == 12 && fits(d, at, 16)) {
    const uint32_t groups = be(d, at + 12, 4);
    for (uint32_t g = 0; g < groups && fits(d, at + 16 + 12 * g, 12); ++g) {
      const size_t e = at + 16 + 12 * g;
      const uint32_t lo = be(d, e, 4), hi = be(d, e + 4, 4), gid = be(d, e + 8, 4);
      for (uint32_t c = lo; c <= hi && c - lo < kMax && out.size() < kMax; ++c) out[c] = gid + (c - lo);
    }
  }
}

}  // namespace

std::string standard_name(uint32_t code) {
  if (code < 32 || code > 126) return {};
  if (code == 0x27) return "quoteright";
  if (code == 0x60) return "quoteleft";
  return kAsciiNames[code - 32];
}

std::u32string glyph_text(const std::string& name) {
  for (size_t i = 0; i < kAsciiNames.size(); ++i)
    if (name == kAsciiNames[i]) return std::u32string(1, static_cast<char32_t>(32 + i));
  for (size_t i = 0; i < kLatin1Names.size(); ++i)
    if (*kLatin1Names[i] && name == kLatin1Names[i]) return std::u32string(1, static_cast<char32_t>(0xA1 + i));
  for (const Named& n : kOtherNames)
    if (name == n.name) return n.text;
  if (name.size() == 9 && name.compare(0, 4, "afii") == 0) {
    const std::string digits = name.substr(4);
    if (std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
      const int n = std::stoi(digits);
      if (n >= 10017 && n < 10017 + static_cast<int>(kCyrillicUpper.size())) return {kCyrillicUpper[n - 10017]};
      if (n >= 10065 && n < 10065 + static_cast<int>(kCyrillicLower.size())) return {kCyrillicLower[n - 10065]};
    }
  }
  // uniXXXX and uXXXX[XX] name their character directly.
  if (name.size() == 7 && name.compare(0, 3, "uni") == 0) {
    if (char32_t c = hex_value(std::string_view(name).substr(3))) return {c};
  }
  if (name.size() >= 5 && name.size() <= 7 && name[0] == 'u') {
    if (char32_t c = hex_value(std::string_view(name).substr(1))) return {c};
  }
  return {};
}

std::string glyph_name(char32_t c) {
  if (c >= 32 && c <= 126) return kAsciiNames[c - 32];
  if (c >= 0xA1 && c <= 0xFF) return kLatin1Names[c - 0xA1];
  for (const Named& n : kOtherNames)
    if (std::u32string_view(n.text) == std::u32string_view(&c, 1)) return n.name;
  if (size_t i = kCyrillicUpper.find(c); i != std::u32string_view::npos) return "afii" + std::to_string(10017 + i);
  if (size_t i = kCyrillicLower.find(c); i != std::u32string_view::npos) return "afii" + std::to_string(10065 + i);
  return {};
}

std::set<std::string> charset_names(std::string_view charset) {
  std::set<std::string> out;
  size_t i = 0;
  while (i < charset.size()) {
    if (charset[i] != '/') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < charset.size() && charset[j] != '/' && !std::isspace(static_cast<unsigned char>(charset[j]))) ++j;
    if (j > i + 1) out.emplace(charset.substr(i + 1, j - i - 1));
    i = j;
  }
  return out;
}

ProgramGlyphs read_type1(std::string_view text) {
  ProgramGlyphs out;
  const size_t enc = text.find("/Encoding");
  if (enc == std::string_view::npos) return out;
  const std::string_view rest = text.substr(enc + 9);
  if (rest.substr(0, 40).find("StandardEncoding") != std::string_view::npos) {
    out.standard_encoding = true;
    return out;
  }
  // "dup <code> /<name> put" up to the end of the array.
  const size_t end = rest.find("readonly def") != std::string_view::npos ? rest.find("readonly def") : rest.find(" def");
  const std::string_view body = rest.substr(0, end);
  size_t at = 0;
  while ((at = body.find("dup", at)) != std::string_view::npos) {
    at += 3;
    size_t p = at;
    while (p < body.size() && std::isspace(static_cast<unsigned char>(body[p]))) ++p;
    size_t q = p;
    while (q < body.size() && std::isdigit(static_cast<unsigned char>(body[q]))) ++q;
    if (q == p || q - p > 3) continue;
    uint32_t code = 0;
    std::from_chars(body.data() + p, body.data() + q, code);  // at most three digits: always fits
    while (q < body.size() && std::isspace(static_cast<unsigned char>(body[q]))) ++q;
    if (q >= body.size() || body[q] != '/' || code > 255) continue;
    size_t r = q + 1;
    while (r < body.size() && !std::isspace(static_cast<unsigned char>(body[r])) && body[r] != '/') ++r;
    const std::string name(body.substr(q + 1, r - q - 1));
    if (!name.empty() && name != ".notdef") {
      out.encoding[code] = name;
      out.names.insert(name);
    }
    at = r;
  }
  return out;
}

ProgramGlyphs read_truetype(std::string_view d) {
  ProgramGlyphs out;
  const uint32_t tables = be(d, 4, 2);
  std::map<std::string, std::pair<size_t, size_t>> dir;
  for (uint32_t i = 0; i < tables && fits(d, 12 + 16 * i, 16); ++i) {
    const size_t e = 12 + 16 * i;
    const size_t offset = be(d, e + 8, 4), length = be(d, e + 12, 4);
    if (fits(d, offset, length)) dir[std::string(d.substr(e, 4))] = {offset, length};
  }
  auto table = [&](const char* tag) -> std::pair<size_t, size_t> {
    auto it = dir.find(tag);
    return it == dir.end() ? std::pair<size_t, size_t>{0, 0} : it->second;
  };
  if (auto [at, n] = table("maxp"); n >= 6) out.glyph_count = be(d, at + 4, 2);
  if (out.glyph_count == 0) return out;
  // Glyphs without an outline, from the glyph locations.
  if (auto [head, hn] = table("head"); hn >= 54) {
    const bool wide = be(d, head + 50, 2) == 1;
    const auto [loca, ln] = table("loca");
    const size_t step = wide ? 4 : 2;
    if (ln >= step * (static_cast<size_t>(out.glyph_count) + 1)) {
      for (uint32_t g = 0; g < out.glyph_count; ++g) {
        const uint32_t a = be(d, loca + step * g, step), b = be(d, loca + step * (g + 1), step);
        if (a == b) out.empty_gids.insert(g);
      }
    }
  }
  if (auto [cmap, cn] = table("cmap"); cn >= 4) {
    const std::string_view c = d.substr(cmap, cn);
    const uint32_t n = be(c, 2, 2);
    for (uint32_t i = 0; i < n && fits(c, 4 + 8 * i, 8); ++i) {
      const uint32_t platform = be(c, 4 + 8 * i, 2), encoding = be(c, 6 + 8 * i, 2), offset = be(c, 8 + 8 * i, 4);
      std::map<uint32_t, uint32_t> map;
      read_cmap_subtable(c, offset, map);
      if ((platform == 3 && (encoding == 1 || encoding == 10)) || platform == 0) {
        for (const auto& [code, gid] : map) out.unicode_gids.emplace(static_cast<char32_t>(code), gid);
      } else if (platform == 3 && encoding == 0) {
        // Symbolic: codes often sit at F000 plus the byte.
        for (const auto& [code, gid] : map) out.code_gids.emplace(code >= 0xF000 && code <= 0xF0FF ? code - 0xF000 : code, gid);
      } else if (platform == 1 && encoding == 0) {
        for (const auto& [code, gid] : map) out.code_gids.emplace(code, gid);
      }
    }
  }
  if (auto [post, pn] = table("post"); pn >= 34 && be(d, post, 4) == 0x00020000) {
    const uint32_t n = be(d, post + 32, 2);
    const size_t names_at = post + 34 + 2 * static_cast<size_t>(n);
    std::vector<std::string> extra;
    for (size_t p = names_at; p < post + pn && fits(d, p, 1);) {
      const size_t len = be(d, p, 1);
      if (!fits(d, p + 1, len)) break;
      extra.emplace_back(d.substr(p + 1, len));
      p += 1 + len;
    }
    for (uint32_t g = 0; g < n && g < out.glyph_count; ++g) {
      const uint32_t index = be(d, post + 34 + 2 * g, 2);
      std::string name;
      // The standard Macintosh order puts the printable ASCII glyphs at 3..97.
      if (index >= 3 && index <= 97) name = kAsciiNames[index - 3];
      else if (index >= 258 && index - 258 < extra.size()) name = extra[index - 258];
      if (!name.empty()) out.name_gids.emplace(name, g);
    }
  }
  return out;
}

}  // namespace quorvel::content
