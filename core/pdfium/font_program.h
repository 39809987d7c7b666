// What an embedded font program says about the glyphs it holds: its own encoding and glyph
// names (Type 1), its character maps and names (TrueType). Text replacement may draw any glyph
// the program holds, not only those a page happens to show.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace quorvel::content {

struct ProgramGlyphs {
  std::map<uint32_t, std::string> encoding;  // the program's own encoding: code to glyph name
  bool standard_encoding = false;            // the program says it uses StandardEncoding
  std::set<std::string> names;               // glyph names known to be held; empty when unknown
  // TrueType: glyph ids by character (a Unicode cmap) and by code (a symbolic cmap).
  std::map<char32_t, uint32_t> unicode_gids;
  std::map<uint32_t, uint32_t> code_gids;
  std::map<std::string, uint32_t> name_gids;  // from the post table
  uint32_t glyph_count = 0;
  std::set<uint32_t> empty_gids;  // glyphs without an outline (a subset drops the unused ones)
  // Whether the glyph exists and draws something (a blank glyph only for a blank character).
  bool draws(uint32_t gid, bool blank) const {
    return gid != 0 && gid < glyph_count && (blank || !empty_gids.count(gid));
  }
};

// The clear-text part of a Type 1 program.
ProgramGlyphs read_type1(std::string_view clear_text);
// A TrueType (or OpenType with glyf) program; nothing when it does not read as one.
ProgramGlyphs read_truetype(std::string_view data);
// The names of a font descriptor's /CharSet string ("/A/B/fi").
std::set<std::string> charset_names(std::string_view charset);

// The characters a glyph name stands for ("fi" is two), or empty when the name is not known.
std::u32string glyph_text(const std::string& name);
// The usual glyph name of a character, or empty.
std::string glyph_name(char32_t c);
// The glyph names of StandardEncoding's codes 32..126.
std::string standard_name(uint32_t code);

}  // namespace quorvel::content
