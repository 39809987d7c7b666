// What placing glyphs and encoding new text needs of a PDF font: its code space, its widths and
// which characters its codes stand for.
#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <array>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <optional>

#include "core/pdfium/content_stream.h"
#include "core/pdfium/font_program.h"

namespace quorvel::content {

namespace {

// A CMap or ToUnicode map holds no more entries than this; larger ranges are cut.
constexpr size_t kMaxMapEntries = 1 << 17;

uint32_t big_endian(std::string_view s) {
  uint32_t v = 0;
  for (size_t i = 0; i < s.size() && i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(s[i]);
  return v;
}

// The characters of UTF-16BE bytes; empty when they hold none, an unpaired surrogate, or more
// than a ligature's three.
std::u32string chars_of(std::string_view utf16) {
  std::u32string out;
  for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
    const uint32_t u = big_endian(utf16.substr(i, 2));
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < utf16.size()) {
      const uint32_t lo = big_endian(utf16.substr(i + 2, 2));
      if (lo < 0xDC00 || lo > 0xDFFF) return {};
      out.push_back(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
      i += 2;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      return {};
    } else {
      out.push_back(u);
    }
  }
  if (out.size() > 3 || (out.size() == 1 && out[0] == 0)) return {};
  return out;
}

struct CMapToken {
  QPDFTokenizer::token_type_e type;
  std::string value;
};

std::vector<CMapToken> cmap_tokens(QPDFObjectHandle stream) {
  std::vector<CMapToken> out;
  if (!stream.isStream()) return out;
  auto data = stream.getStreamData(qpdf_dl_generalized);
  auto input = std::make_shared<BufferInputSource>("cmap", data.get());
  QPDFTokenizer tokenizer;
  tokenizer.allowEOF();
  for (;;) {
    QPDFTokenizer::Token t = tokenizer.readToken(input, "cmap", true);
    if (t.getType() == QPDFTokenizer::tt_eof || t.getType() == QPDFTokenizer::tt_bad) break;
    out.push_back({t.getType(), t.getValue()});
  }
  return out;
}

// The entries between "begin<what>" and "end<what>", in order, each section's tokens joined.
std::vector<CMapToken> section(const std::vector<CMapToken>& tokens, const std::string& what) {
  std::vector<CMapToken> out;
  bool in = false;
  for (const CMapToken& t : tokens) {
    if (t.type == QPDFTokenizer::tt_word && t.value == "begin" + what) {
      in = true;
    } else if (t.type == QPDFTokenizer::tt_word && t.value == "end" + what) {
      in = false;
    } else if (in) {
      out.push_back(t);
    }
  }
  return out;
}

bool is_string(const CMapToken& t) { return t.type == QPDFTokenizer::tt_string; }

// The characters of the codes 0x80..0x9F in WinAnsiEncoding; 0 where it has none.
constexpr std::array<char16_t, 32> kWinAnsiHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t base_encoding(const std::string& encoding, uint32_t code) {
  if (code < 32 || code > 255) return 0;
  if (encoding == "WinAnsiEncoding") {
    if (code < 127) return code;
    if (code >= 0x80 && code <= 0x9F) return kWinAnsiHigh[code - 0x80];
    return code >= 0xA0 ? code : 0;
  }
  if (code >= 127) return 0;  // the other encodings' upper halves are not needed here
  if (encoding == "StandardEncoding") return code == 0x27 ? 0x2019 : code == 0x60 ? 0x2018 : code;
  if (encoding == "MacRomanEncoding") return code;
  return 0;
}

bool standard_font(const std::string& name) {
  static const char* const kNames[] = {"Helvetica", "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique",
                                       "Times-Roman", "Times-Bold", "Times-Italic", "Times-BoldItalic", "Courier",
                                       "Courier-Bold", "Courier-Oblique", "Courier-BoldOblique", "Symbol",
                                       "ZapfDingbats"};
  for (const char* n : kNames)
    if (name == n) return true;
  return false;
}

double number_of(QPDFObjectHandle o, double fallback = 0) {
  return o.isNumber() ? o.getNumericValue() : fallback;
}

// A code or CID from the file: a whole number within 32 bits, else nothing. Converting a negative,
// fractional or huge number to an unsigned type would be undefined or wrong.
std::optional<uint32_t> code_number(double v) {
  if (!(v >= 0 && v <= 4294967295.0) || v != std::floor(v)) return std::nullopt;
  return static_cast<uint32_t>(v);
}

std::optional<uint32_t> code_number(QPDFObjectHandle o) {
  return o.isNumber() ? code_number(o.getNumericValue()) : std::nullopt;
}

// The same for an integer token of a CMap, whose digits may run past any integer type.
std::optional<uint32_t> code_number(const std::string& digits) {
  uint32_t v = 0;
  const char* end = digits.data() + digits.size();
  const auto [at, error] = std::from_chars(digits.data(), end, v);
  if (error != std::errc() || at != end) return std::nullopt;
  return v;
}

}  // namespace

namespace {

// The embedded program of a font descriptor, read for the glyphs it holds.
ProgramGlyphs program_of(QPDFObjectHandle descriptor) {
  if (!descriptor.isDictionary()) return {};
  try {
    QPDFObjectHandle type1 = descriptor.getKey("/FontFile"), truetype = descriptor.getKey("/FontFile2");
    if (type1.isStream()) {
      std::shared_ptr<Buffer> data = type1.getStreamData(qpdf_dl_generalized);
      size_t clear = data->getSize();
      QPDFObjectHandle length1 = type1.getDict().getKey("/Length1");
      if (length1.isInteger() && length1.getIntValue() > 0 && static_cast<size_t>(length1.getIntValue()) < clear)
        clear = static_cast<size_t>(length1.getIntValue());
      return read_type1(std::string_view(reinterpret_cast<const char*>(data->getBuffer()), clear));
    }
    if (truetype.isStream()) {
      std::shared_ptr<Buffer> data = truetype.getStreamData(qpdf_dl_generalized);
      return read_truetype(std::string_view(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()));
    }
  } catch (...) {
  }
  return {};
}

}  // namespace

struct FontLoader {
  Font& font;
  // A composite font's embedded TrueType program and its CID to glyph map (empty: identity).
  ProgramGlyphs cid_program;
  std::vector<uint32_t> cid_to_gid;
  bool identity_gids = true;

  bool lacks_cid_glyph(uint32_t code, const std::u32string& text) const {
    if (font.kind != Font::Kind::Composite || cid_program.glyph_count == 0) return false;
    uint32_t cid = code;
    if (!font.identity_cids_) {
      auto it = font.cids_.find(code);
      cid = it == font.cids_.end() ? 0 : it->second;
    }
    const uint32_t gid = identity_gids ? cid : cid < cid_to_gid.size() ? cid_to_gid[cid] : 0;
    return !cid_program.draws(gid, text == U" ");
  }

  void to_unicode(QPDFObjectHandle stream) {
    const std::vector<CMapToken> tokens = cmap_tokens(stream);
    size_t entries = 0;
    auto put = [&](uint32_t code, const std::u32string& c) {
      if (!c.empty() && entries++ < kMaxMapEntries) font.unicode_.emplace(code, c);
    };
    const std::vector<CMapToken> chars = section(tokens, "bfchar");
    for (size_t i = 0; i + 1 < chars.size(); i += 2) {
      if (is_string(chars[i]) && is_string(chars[i + 1])) put(big_endian(chars[i].value), chars_of(chars[i + 1].value));
    }
    const std::vector<CMapToken> ranges = section(tokens, "bfrange");
    for (size_t i = 0; i + 2 < ranges.size();) {
      if (!is_string(ranges[i]) || !is_string(ranges[i + 1])) {
        ++i;
        continue;
      }
      const uint32_t lo = big_endian(ranges[i].value), hi = big_endian(ranges[i + 1].value);
      if (ranges[i + 2].type == QPDFTokenizer::tt_array_open) {
        size_t k = i + 3;
        for (uint32_t code = lo; k < ranges.size() && ranges[k].type != QPDFTokenizer::tt_array_close; ++k, ++code) {
          if (is_string(ranges[k]) && code <= hi) put(code, chars_of(ranges[k].value));
        }
        i = k + 1;
      } else if (is_string(ranges[i + 2])) {
        const std::u32string first = chars_of(ranges[i + 2].value);
        for (uint32_t code = lo; first.size() == 1 && code <= hi && code - lo < kMaxMapEntries; ++code)
          put(code, std::u32string(1, first[0] + (code - lo)));
        i += 3;
      } else {
        i += 3;
      }
    }
  }

  bool encoding_cmap(QPDFObjectHandle stream) {
    const std::vector<CMapToken> tokens = cmap_tokens(stream);
    const std::vector<CMapToken> space = section(tokens, "codespacerange");
    for (size_t i = 0; i + 1 < space.size(); i += 2) {
      if (!is_string(space[i]) || !is_string(space[i + 1])) continue;
      const size_t n = space[i].value.size();
      if (n < 1 || n > 4) continue;
      font.codespace_.push_back({n, big_endian(space[i].value), big_endian(space[i + 1].value)});
    }
    font.identity_cids_ = false;
    size_t entries = 0;
    const std::vector<CMapToken> chars = section(tokens, "cidchar");
    for (size_t i = 0; i + 1 < chars.size(); i += 2) {
      if (!is_string(chars[i]) || chars[i + 1].type != QPDFTokenizer::tt_integer || entries++ >= kMaxMapEntries) continue;
      if (const std::optional<uint32_t> cid = code_number(chars[i + 1].value)) font.cids_[big_endian(chars[i].value)] = *cid;
    }
    const std::vector<CMapToken> ranges = section(tokens, "cidrange");
    for (size_t i = 0; i + 2 < ranges.size(); i += 3) {
      if (!is_string(ranges[i]) || !is_string(ranges[i + 1]) || ranges[i + 2].type != QPDFTokenizer::tt_integer)
        continue;
      const uint32_t lo = big_endian(ranges[i].value), hi = big_endian(ranges[i + 1].value);
      const std::optional<uint32_t> cid = code_number(ranges[i + 2].value);
      if (!cid || hi < lo || hi - lo > UINT32_MAX - *cid) continue;
      for (uint32_t code = lo; code <= hi && entries++ < kMaxMapEntries; ++code) {
        font.cids_[code] = *cid + (code - lo);
        if (code == UINT32_MAX) break;
      }
    }
    for (const CMapToken& t : tokens) {
      // A CMap built on another one needs that one's ranges, which are not at hand.
      if (t.type == QPDFTokenizer::tt_word && t.value == "usecmap") return false;
    }
    return !font.codespace_.empty();
  }

  void composite(QPDFObjectHandle dict) {
    QPDFObjectHandle encoding = dict.getKey("/Encoding");
    if (encoding.isName() && (encoding.getName() == "/Identity-H" || encoding.getName() == "/Identity-V")) {
      font.codespace_.push_back({2, 0, 0xFFFF});
      font.vertical = encoding.getName() == "/Identity-V";
    } else if (encoding.isStream()) {
      if (!encoding_cmap(encoding)) return;
      font.vertical = number_of(encoding.getDict().getKey("/WMode")) == 1;
    } else {
      return;  // a predefined CMap: its code space is not known here
    }
    QPDFObjectHandle kids = dict.getKey("/DescendantFonts");
    QPDFObjectHandle cid = kids.isArray() && kids.getArrayNItems() > 0 ? kids.getArrayItem(0) : QPDFObjectHandle();
    if (!cid.isDictionary()) return;
    font.default_width_ = number_of(cid.getKey("/DW"), 1000) / 1000;
    QPDFObjectHandle w = cid.getKey("/W");
    const int n = w.isArray() ? w.getArrayNItems() : 0;
    size_t entries = 0;
    for (int i = 0; i + 1 < n && entries < kMaxMapEntries;) {
      QPDFObjectHandle first = w.getArrayItem(i), next = w.getArrayItem(i + 1);
      const std::optional<uint32_t> start = code_number(first);
      if (!start) break;
      if (next.isArray()) {
        for (int k = 0; k < next.getArrayNItems() && entries++ < kMaxMapEntries; ++k) {
          if (static_cast<uint64_t>(*start) + static_cast<uint64_t>(k) > UINT32_MAX) break;
          font.widths_[*start + static_cast<uint32_t>(k)] = number_of(next.getArrayItem(k)) / 1000;
        }
        i += 2;
      } else if (i + 2 < n && next.isNumber()) {
        const std::optional<uint32_t> last = code_number(next);
        if (!last) break;
        const double width = number_of(w.getArrayItem(i + 2)) / 1000;
        for (uint32_t c = *start; c <= *last && entries++ < kMaxMapEntries; ++c) {
          font.widths_[c] = width;
          if (c == UINT32_MAX) break;
        }
        i += 3;
      } else {
        break;
      }
    }
    QPDFObjectHandle descriptor = cid.getKey("/FontDescriptor");
    if (descriptor.isDictionary() && descriptor.getKey("/FontFile2").isStream()) {
      cid_program = program_of(descriptor);
      QPDFObjectHandle map = cid.getKey("/CIDToGIDMap");
      if (map.isStream()) {
        try {
          std::shared_ptr<Buffer> data = map.getStreamData(qpdf_dl_generalized);
          const unsigned char* b = data->getBuffer();
          for (size_t i = 0; i + 1 < data->getSize() && cid_to_gid.size() < kMaxMapEntries; i += 2)
            cid_to_gid.push_back((static_cast<uint32_t>(b[i]) << 8) | b[i + 1]);
          identity_gids = false;
        } catch (...) {
          cid_program = {};
        }
      }
    }
    font.kind = Font::Kind::Composite;
  }

  void simple(QPDFObjectHandle dict, const Font::StandardWidth& standard, bool type3) {
    double scale = 1.0 / 1000;
    if (type3) {
      QPDFObjectHandle m = dict.getKey("/FontMatrix");
      if (!m.isArray() || m.getArrayNItems() != 6) return;
      scale = number_of(m.getArrayItem(0));
    }
    QPDFObjectHandle widths = dict.getKey("/Widths");
    QPDFObjectHandle descriptor = dict.getKey("/FontDescriptor");
    const double missing = descriptor.isDictionary() ? number_of(descriptor.getKey("/MissingWidth")) : 0;
    std::string base = dict.getKey("/BaseFont").isName() ? dict.getKey("/BaseFont").getName().substr(1) : "";
    if (base.size() > 7 && base[6] == '+') base = base.substr(7);  // subset prefix

    // Which character each code stands for, from the encoding.
    QPDFObjectHandle enc = dict.getKey("/Encoding");
    std::string base_enc;
    QPDFObjectHandle differences;
    if (enc.isName()) {
      base_enc = enc.getName().substr(1);
    } else if (enc.isDictionary()) {
      if (enc.getKey("/BaseEncoding").isName()) base_enc = enc.getKey("/BaseEncoding").getName().substr(1);
      differences = enc.getKey("/Differences");
    }
    const bool embedded = descriptor.isDictionary() && (descriptor.hasKey("/FontFile") ||
                                                        descriptor.hasKey("/FontFile2") || descriptor.hasKey("/FontFile3"));
    if (base_enc.empty() && !embedded && !type3 && standard_font(base) && base != "Symbol" && base != "ZapfDingbats")
      base_enc = "StandardEncoding";
    // Glyph names by code: the program's own encoding, then the named one, then /Differences.
    const ProgramGlyphs program = type3 ? ProgramGlyphs{} : program_of(descriptor);
    std::map<uint32_t, std::string> names = program.encoding;
    if (program.standard_encoding || (!embedded && base_enc.empty() && !type3))
      for (uint32_t code = 32; code < 127; ++code) names[code] = standard_name(code);
    std::map<uint32_t, char32_t> from_encoding;
    for (uint32_t code = 32; code < 256 && !base_enc.empty(); ++code) {
      if (char32_t c = base_encoding(base_enc, code)) {
        from_encoding[code] = c;
        if (std::string n = glyph_name(c); !n.empty()) names[code] = n;
      }
    }
    if (differences.isArray()) {
      uint32_t code = 0;
      for (int i = 0; i < differences.getArrayNItems(); ++i) {
        QPDFObjectHandle item = differences.getArrayItem(i);
        if (item.isNumber()) {
          const double v = item.getNumericValue();
          code = v >= 0 && v < 256 ? static_cast<uint32_t>(v) : 256;
        } else if (item.isName()) {
          if (code < 256) {
            const std::string name = item.getName().substr(1);
            names[code] = name;
            const std::u32string c = glyph_text(name);
            if (c.size() == 1) from_encoding[code] = c[0];
            else from_encoding.erase(code);
          }
          ++code;
        }
      }
    }
    for (const auto& [code, name] : names) {
      const std::u32string text = glyph_text(name);
      // A ligature's name reads as one character to some readers: only a ToUnicode map or the
      // page itself says it reads as its letters.
      if (text.size() == 1) font.unicode_.emplace(code, text);
    }
    for (const auto& [code, c] : from_encoding) font.unicode_.emplace(code, std::u32string(1, c));

    // Which codes' glyphs the embedded program lacks, where that can be told.
    std::set<std::string> held = program.names;
    if (descriptor.isDictionary() && descriptor.getKey("/CharSet").isString())
      held = charset_names(descriptor.getKey("/CharSet").getStringValue());
    if (program.glyph_count > 0) {
      for (uint32_t code = 0; code < 256; ++code) {
        auto name = names.find(code);
        auto text = font.unicode_.find(code);
        const bool blank = text != font.unicode_.end() && text->second == U" ";
        uint32_t gid = 0;
        if (!program.code_gids.empty()) {
          if (auto it = program.code_gids.find(code); it != program.code_gids.end()) gid = it->second;
        } else if (name != names.end() && program.name_gids.count(name->second)) {
          gid = program.name_gids.at(name->second);
        } else if (text != font.unicode_.end() && text->second.size() == 1 &&
                   program.unicode_gids.count(text->second[0])) {
          gid = program.unicode_gids.at(text->second[0]);
        }
        if (!program.draws(gid, blank)) font.not_held_.insert(code);
      }
    } else if (!held.empty()) {
      for (uint32_t code = 0; code < 256; ++code) {
        auto name = names.find(code);
        if (name == names.end() || !held.count(name->second)) font.not_held_.insert(code);
      }
    }

    if (widths.isArray()) {
      // A simple font's codes are bytes: a first code past them places no width.
      const uint32_t first = code_number(dict.getKey("/FirstChar")).value_or(0);
      for (int i = 0; i < widths.getArrayNItems() && i < 256 && first < 256; ++i)
        font.widths_[first + static_cast<uint32_t>(i)] = number_of(widths.getArrayItem(i)) * scale;
      font.default_width_ = missing * scale;
    } else if (!type3 && standard_font(base) && standard) {
      font.fallback_ = [standard, base, from_encoding](uint32_t code) -> std::optional<double> {
        auto it = from_encoding.find(code);
        if (it == from_encoding.end()) return std::nullopt;
        return standard(base, it->second);
      };
    }
    font.kind = type3 ? Font::Kind::Type3 : Font::Kind::Simple;
  }
};

std::shared_ptr<Font> Font::load(QPDFObjectHandle dict, const StandardWidth& standard) {
  auto font = std::make_shared<Font>();
  if (!dict.isDictionary()) return font;
  FontLoader loader{*font, {}, {}, true};
  const std::string subtype = dict.getKey("/Subtype").isName() ? dict.getKey("/Subtype").getName() : "";
  if (subtype == "/Type0") {
    loader.composite(dict);
  } else if (subtype == "/Type1" || subtype == "/MMType1" || subtype == "/TrueType" || subtype == "/Type3") {
    loader.simple(dict, standard, subtype == "/Type3");
  }
  if (font->kind == Kind::Unknown) return font;
  if (dict.getKey("/ToUnicode").isStream()) {
    // The ToUnicode map says what the codes stand for better than the encoding does.
    std::map<uint32_t, std::u32string> from_encoding;
    from_encoding.swap(font->unicode_);
    loader.to_unicode(dict.getKey("/ToUnicode"));
    font->unicode_.merge(from_encoding);
  }
  for (const auto& [code, c] : font->unicode_) {
    size_t length = 1;
    if (font->kind == Kind::Composite) {
      length = 0;
      for (const Range& r : font->codespace_)
        if (code >= r.low && code <= r.high) length = r.length;
      if (length == 0) continue;
    }
    if (font->not_held_.count(code) || loader.lacks_cid_glyph(code, c) || !font->width(code)) continue;
    if (c.size() == 1) font->encoding_.emplace(c[0], Code{code, length});
    else font->ligatures_.emplace(c, Code{code, length});
  }
  // Subsets seldom say they are fixed-pitch; their widths do.
  std::set<double> drawn;
  for (const auto& [code, w] : font->widths_)
    if (w > 0) drawn.insert(std::round(w * 1e4));
  QPDFObjectHandle descriptor = dict.getKey("/FontDescriptor");
  const bool flagged = descriptor.isDictionary() && descriptor.getKey("/Flags").isInteger() &&
                       (descriptor.getKey("/Flags").getIntValue() & 1) != 0;
  font->monospaced = flagged || (drawn.size() == 1 && font->widths_.size() >= 3);
  return font;
}

std::vector<Font::Code> Font::split(std::string_view bytes) const {
  std::vector<Code> out;
  if (kind != Kind::Composite) {
    for (unsigned char b : bytes) out.push_back({b, 1});
    return out;
  }
  size_t shortest = 4;
  for (const Range& r : codespace_) shortest = std::min(shortest, r.length);
  size_t at = 0;
  while (at < bytes.size()) {
    size_t length = 0;
    for (size_t n = 1; n <= 4 && at + n <= bytes.size() && length == 0; ++n) {
      const uint32_t v = big_endian(bytes.substr(at, n));
      for (const Range& r : codespace_)
        if (r.length == n && v >= r.low && v <= r.high) length = n;
    }
    if (length == 0) length = std::min(shortest, bytes.size() - at);
    out.push_back({big_endian(bytes.substr(at, length)), length});
    at += length;
  }
  return out;
}

std::optional<double> Font::width(uint32_t code) const {
  if (kind == Kind::Unknown) return std::nullopt;
  uint32_t key = code;
  if (kind == Kind::Composite && !identity_cids_) {
    auto it = cids_.find(code);
    key = it == cids_.end() ? 0 : it->second;
  }
  if (auto it = widths_.find(key); it != widths_.end()) return it->second;
  if (fallback_) return fallback_(code);
  return default_width_;
}

std::optional<double> Font::reader_width(uint32_t code) const {
  std::optional<double> w = width(code);
  if (!w || kind == Kind::Type3) return w;
  const double thousandths = *w * 1000;
  return std::trunc(thousandths + (thousandths >= 0 ? 1e-3 : -1e-3)) / 1000;
}

std::string Font::bytes(uint32_t code, size_t length) const {
  std::string out(length, '\0');
  for (size_t i = 0; i < length; ++i) out[length - 1 - i] = static_cast<char>((code >> (8 * i)) & 0xFF);
  return out;
}

std::optional<Font::Code> Font::encode(char32_t c) const {
  auto it = encoding_.find(c);
  if (it == encoding_.end()) return std::nullopt;
  return it->second;
}

bool Font::encode_text(std::u32string_view text, std::vector<Code>& out, std::u32string& missing) const {
  out.clear();
  for (size_t i = 0; i < text.size();) {
    bool done = false;
    for (size_t n = 3; n >= 2 && !done; --n) {
      if (i + n > text.size()) continue;
      auto it = ligatures_.find(std::u32string(text.substr(i, n)));
      if (it != ligatures_.end()) {
        out.push_back(it->second);
        i += n;
        done = true;
      }
    }
    if (done) continue;
    if (std::optional<Code> code = encode(text[i])) out.push_back(*code);
    else if (text[i] == ' ') out.push_back({0, 0});
    else if (missing.find(text[i]) == std::u32string::npos) missing.push_back(text[i]);
    ++i;
  }
  return missing.empty();
}

std::u32string Font::text(uint32_t code) const {
  auto it = unicode_.find(code);
  return it == unicode_.end() ? std::u32string() : it->second;
}

void Font::learn(uint32_t code, size_t length, const std::u32string& text) {
  if (text.empty() || text.size() > 3 || !width(code)) return;
  // What the font says the code stands for wins over a reader that saw only part of a ligature.
  if (auto it = unicode_.find(code); it != unicode_.end() && it->second != text) return;
  if (text.size() == 1) encoding_.insert_or_assign(text[0], Code{code, length});
  else ligatures_.insert_or_assign(text, Code{code, length});
}

}  // namespace quorvel::content
