#include "core/xfdf.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <map>
#include <utility>

#include "core/c_locale.h"

namespace quorvel::annot {

namespace {

constexpr size_t npos = std::string_view::npos;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

struct TagType {
  std::string_view name;
  std::string_view closing;
  AnnotType type;
};

constexpr TagType kTags[] = {
    {"highlight", "</highlight>", AnnotType::Highlight},
    {"underline", "</underline>", AnnotType::Underline},
    {"strikeout", "</strikeout>", AnnotType::StrikeOut},
    {"squiggly", "</squiggly>", AnnotType::Squiggly},
    {"ink", "</ink>", AnnotType::Ink},
    {"text", "</text>", AnnotType::Note},
    {"square", "</square>", AnnotType::Rectangle},
    {"circle", "</circle>", AnnotType::Ellipse},
    {"line", "</line>", AnnotType::Line},
    {"freetext", "</freetext>", AnnotType::FreeText},
};
constexpr size_t kTagCount = std::size(kTags);

const char* element_name(AnnotType type) {
  switch (type) {
    case AnnotType::Highlight: return "highlight";
    case AnnotType::Ink: return "ink";
    case AnnotType::Note: return "text";
    case AnnotType::Underline: return "underline";
    case AnnotType::StrikeOut: return "strikeout";
    case AnnotType::Squiggly: return "squiggly";
    case AnnotType::Rectangle: return "square";
    case AnnotType::Ellipse: return "circle";
    case AnnotType::Line: return "line";
    case AnnotType::Arrow: return "line";
    case AnnotType::FreeText: return "freetext";
  }
  return nullptr;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string fmt(double v) {
  std::string s;
  append_fixed(s, v, 3);
  return s;
}

// Length of the UTF-8 sequence at s[i] and whether it is a well-formed character that XML 1.0
// allows. An ill-formed sequence spans its longest valid prefix (at least one byte), so that
// each one becomes exactly one replacement character.
std::pair<size_t, bool> next_char(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return {1, c >= 0x20 || c == '\t' || c == '\n' || c == '\r'};
  int need = 0;
  uint32_t cp = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 2;
    cp = c & 0x0F;
    if (c == 0xE0) lo = 0xA0;  // overlong
    if (c == 0xED) hi = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 3;
    cp = c & 0x07;
    if (c == 0xF0) lo = 0x90;  // overlong
    if (c == 0xF4) hi = 0x8F;  // beyond U+10FFFF
  } else {
    return {1, false};
  }
  size_t n = 1;
  for (int k = 0; k < need; ++k, ++n) {
    if (i + n >= s.size()) return {n, false};
    const auto b = static_cast<unsigned char>(s[i + n]);
    if (b < lo || b > hi) return {n, false};
    lo = 0x80;
    hi = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
  }
  return {n, cp != 0xFFFE && cp != 0xFFFF};
}

std::string xml_escape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    switch (s[i]) {
      case '&': out += "&amp;"; ++i; continue;
      case '<': out += "&lt;"; ++i; continue;
      case '>': out += "&gt;"; ++i; continue;
      case '"': out += "&quot;"; ++i; continue;
      case '\'': out += "&apos;"; ++i; continue;
      default: break;
    }
    const auto [len, ok] = next_char(s, i);
    if (ok) {
      out.append(s.substr(i, len));
    } else {
      out.append(kReplacement);
    }
    i += len;
  }
  return out;
}

std::string xml_unescape(std::string_view s) {
  static constexpr std::pair<std::string_view, char> kRefs[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    bool decoded = false;
    if (s[i] == '&') {
      for (const auto& [ref, ch] : kRefs) {
        if (s.substr(i, ref.size()) == ref) {
          out.push_back(ch);
          i += ref.size();
          decoded = true;
          break;
        }
      }
    }
    if (!decoded) out.push_back(s[i++]);
  }
  return out;
}

// The attribute is found by its whole name, and quoted values are stepped over as a whole, so
// neither "interior-color" nor text inside another value passes for "color".
std::string attr(std::string_view tag, std::string_view name) {
  size_t i = 0;
  while (i < tag.size() && !is_space(tag[i])) ++i;  // the element name
  while (i < tag.size()) {
    const char c = tag[i];
    if (is_space(c) || c == '=') {
      ++i;
      continue;
    }
    if (c == '"' || c == '\'') {
      const size_t close = tag.find(c, i + 1);
      if (close == npos) return {};
      i = close + 1;
      continue;
    }
    const size_t start = i;
    while (i < tag.size() && !is_space(tag[i]) && tag[i] != '=' && tag[i] != '"' &&
           tag[i] != '\'') {
      ++i;
    }
    if (i + 1 < tag.size() && tag[i] == '=' && tag[i + 1] == '"') {
      const size_t close = tag.find('"', i + 2);
      if (close == npos) return {};
      if (tag.substr(start, i - start) == name) {
        return xml_unescape(tag.substr(i + 2, close - i - 2));
      }
      i = close + 1;
    }
  }
  return {};
}

// Only a whole element name counts: "<contents" must not stop at "<contents-richtext>".
std::string child_text(std::string_view body, std::string_view name) {
  const std::string open = "<" + std::string(name);
  const std::string closing = "</" + std::string(name) + ">";
  for (size_t from = 0;;) {
    const size_t at = body.find(open, from);
    if (at == npos) return {};
    const size_t after = at + open.size();
    if (after < body.size() &&
        (body[after] == '>' || body[after] == '/' || is_space(body[after]))) {
      const size_t gt = body.find('>', after);
      if (gt == npos || body[gt - 1] == '/') return {};
      const size_t close = body.find(closing, gt + 1);
      if (close == npos) return {};
      return xml_unescape(body.substr(gt + 1, close - gt - 1));
    }
    from = at + 1;
  }
}

int csv_doubles(std::string_view text, double* out, int max) {
  int n = 0;
  for (size_t pos = 0; n < max;) {
    const size_t comma = text.find(',', pos);
    out[n++] = c_strtod(text.substr(pos, comma == npos ? npos : comma - pos));
    if (comma == npos) break;
    pos = comma + 1;
  }
  return n;
}

// The leading decimal integer, clamped to int instead of overflowing.
int parse_page(std::string_view v) {
  size_t i = 0;
  while (i < v.size() && (is_space(v[i]) || v[i] == '\v' || v[i] == '\f')) ++i;
  bool negative = false;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
  constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1;
  long long n = 0;
  for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
    n = std::min(n * 10 + (v[i] - '0'), kLimit);
  }
  if (negative) return static_cast<int>(-n);  // -kLimit is INT_MIN
  return static_cast<int>(std::min<long long>(n, INT_MAX));
}

bool parse_color(std::string_view v, uint32_t* out) {
  if (v.size() != 7 || v[0] != '#') return false;
  if (!std::all_of(v.begin() + 1, v.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      })) {
    return false;
  }
  uint32_t value = 0;
  std::from_chars(v.data() + 1, v.data() + v.size(), value, 16);
  *out = value;
  return true;
}

bool is_arrow_ending(std::string_view v) {
  return v == "OpenArrow" || v == "ClosedArrow" || v == "ROpenArrow" || v == "RClosedArrow";
}

void read_attributes(std::string_view tag, Annotation& a) {
  a.id = attr(tag, "name");
  if (const std::string v = attr(tag, "page"); !v.empty()) a.page = parse_page(v);
  parse_color(attr(tag, "color"), &a.color);
  if (const std::string v = attr(tag, "width"); !v.empty()) a.width = c_strtod(v);
  if (const std::string v = attr(tag, "opacity"); !v.empty()) {
    const double o = c_strtod(v);
    if (std::isfinite(o)) {
      // Clamped before converting: 256 must not wrap to an invisible 0.
      a.opacity = static_cast<uint8_t>(std::clamp(o <= 1.0 ? o * 255.0 : o, 0.0, 255.0));
    }
  }
  if (const std::string v = attr(tag, "rect"); !v.empty()) {
    double r[4];
    if (csv_doubles(v, r, 4) == 4) {
      a.x0 = r[0];
      a.y0 = r[1];
      a.x1 = r[2];
      a.y1 = r[3];
    }
  }
  if (a.type != AnnotType::Line) return;
  double s[2], e[2];
  if (csv_doubles(attr(tag, "start"), s, 2) == 2 && csv_doubles(attr(tag, "end"), e, 2) == 2) {
    a.points = {{s[0], s[1]}, {e[0], e[1]}};
  }
  // head is the ending at the start point, tail the one at the end point; the model draws its
  // arrowhead at the end point.
  const bool head = is_arrow_ending(attr(tag, "head"));
  const bool tail = is_arrow_ending(attr(tag, "tail"));
  if (head || tail) {
    a.type = AnnotType::Arrow;
    if (head && !tail && a.points.size() == 2) std::swap(a.points[0], a.points[1]);
  }
}

void append_attr(std::string& out, const char* name, std::string_view value) {
  out += ' ';
  out += name;
  out += "=\"";
  out += value;
  out += '"';
}

void append_annotation(std::string& out, const Annotation& a) {
  const char* element = element_name(a.type);
  if (!element) return;
  const Rect r = bounding_rect(a);
  out += "    <";
  out += element;
  append_attr(out, "page", int_text(a.page));
  append_attr(out, "rect", fmt(r.x0) + "," + fmt(r.y0) + "," + fmt(r.x1) + "," + fmt(r.y1));
  char color[8];
  constexpr char kHex[] = "0123456789ABCDEF";
  color[0] = '#';
  for (int k = 0; k < 6; ++k) color[1 + k] = kHex[(a.color >> (20 - 4 * k)) & 0xF];
  append_attr(out, "color", std::string_view(color, 7));
  append_attr(out, "name", xml_escape(a.id));
  append_attr(out, "width", fmt(a.width));
  append_attr(out, "opacity", fmt(a.opacity / 255.0));
  if (is_text_markup(a.type)) {
    const std::string x0 = fmt(a.x0), y0 = fmt(a.y0), x1 = fmt(a.x1), y1 = fmt(a.y1);
    append_attr(out, "coords",
                x0 + "," + y1 + "," + x1 + "," + y1 + "," + x0 + "," + y0 + "," + x1 + "," + y0);
  }
  if ((a.type == AnnotType::Line || a.type == AnnotType::Arrow) && a.points.size() >= 2) {
    append_attr(out, "start", fmt(a.points[0].x) + "," + fmt(a.points[0].y));
    append_attr(out, "end", fmt(a.points[1].x) + "," + fmt(a.points[1].y));
    if (a.type == AnnotType::Arrow) {
      append_attr(out, "head", "None");
      append_attr(out, "tail", "ClosedArrow");
    }
  }
  const bool ink = a.type == AnnotType::Ink && !a.points.empty();
  if (!ink && a.text.empty()) {
    out += "/>\n";
    return;
  }
  out += '>';
  if (ink) {
    out += "<inklist><gesture>";
    out += encode_path(a.points);
    out += "</gesture></inklist>";
  }
  if (!a.text.empty()) {
    out += "<contents>";
    out += xml_escape(a.text);
    out += "</contents>";
  }
  out += "</";
  out += element;
  out += ">\n";
}

const TagType* match_tag(std::string_view xml, size_t pos) {
  for (const TagType& t : kTags) {
    const size_t after = pos + t.name.size();
    if (after < xml.size() && xml.compare(pos, t.name.size(), t.name) == 0 &&
        (xml[after] == ' ' || xml[after] == '\t')) {
      return &t;
    }
  }
  return nullptr;
}

// The origins of the pages met so far; each page is asked for once.
class OriginCache {
 public:
  explicit OriginCache(const PageOrigins& origins) : origins_(origins) {}
  Point of(int page) {
    if (!origins_) return {};
    const auto it = known_.find(page);
    if (it != known_.end()) return it->second;
    const Point p = origins_(page);
    // A corner that is no number moves nothing rather than turning every coordinate into NaN.
    const Point safe{std::isfinite(p.x) ? p.x : 0.0, std::isfinite(p.y) ? p.y : 0.0};
    known_.emplace(page, safe);
    return safe;
  }

 private:
  const PageOrigins& origins_;
  std::map<int, Point> known_;
};

// Moves the annotation's geometry by (dx, dy): its box and its points.
void shift(Annotation& a, double dx, double dy) {
  if (dx == 0 && dy == 0) return;
  a.x0 += dx;
  a.x1 += dx;
  a.y0 += dy;
  a.y1 += dy;
  for (Point& p : a.points) {
    p.x += dx;
    p.y += dy;
  }
}

}  // namespace

std::string to_xfdf(const std::vector<Annotation>& annots, std::string_view pdf_name,
                    const PageOrigins& origins) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<xfdf xmlns=\"http://ns.adobe.com/xfdf/\" xml:space=\"preserve\">\n";
  if (!pdf_name.empty()) {
    out += "  <f href=\"";
    out += xml_escape(pdf_name);
    out += "\"/>\n";
  }
  out += "  <annots>\n";
  OriginCache cache(origins);
  for (const Annotation& a : annots) {
    const Point o = cache.of(a.page);
    if (o.x == 0 && o.y == 0) {
      append_annotation(out, a);
    } else {
      Annotation user = a;
      shift(user, o.x, o.y);
      append_annotation(out, user);
    }
  }
  out += "  </annots>\n</xfdf>\n";
  return out;
}

std::vector<Annotation> from_xfdf(std::string_view xml, const PageOrigins& origins) {
  std::vector<Annotation> out;
  OriginCache cache(origins);
  // Where the search for each closing tag already came up empty: a later search from there
  // would fail again, and repeating it for every unclosed element would be quadratic.
  size_t no_closing_from[kTagCount];
  std::fill(std::begin(no_closing_from), std::end(no_closing_from), npos);
  size_t gt = 0;  // the first '>' at or after pos, while gt >= pos
  size_t pos = 0;
  while (pos < xml.size()) {
    const size_t lt = xml.find('<', pos);
    if (lt == npos) break;
    pos = lt + 1;
    const TagType* tag = match_tag(xml, pos);
    if (!tag) continue;
    if (gt < pos) {
      gt = xml.find('>', pos);
      if (gt == npos) break;
    }
    const std::string_view tag_text = xml.substr(pos, gt - pos);
    // A start tag cannot hold '<'. Skipping such a broken one keeps the tag texts apart, so no
    // byte is read as part of more than one tag.
    if (tag_text.find('<') != npos) continue;

    Annotation a;
    a.type = tag->type;
    read_attributes(tag_text, a);
    if (xml[gt - 1] == '/') {
      pos = gt + 1;
    } else {
      std::string_view body;
      size_t& failed = no_closing_from[tag - kTags];
      if (gt + 1 < failed) {
        const size_t close = xml.find(tag->closing, gt + 1);
        if (close == npos) {
          failed = gt + 1;
        } else {
          body = xml.substr(gt + 1, close - gt - 1);
          pos = close + tag->closing.size();
        }
      }
      a.text = child_text(body, "contents");
      if (a.type == AnnotType::Ink) a.points = decode_path(child_text(body, "gesture"));
    }
    const Point o = cache.of(a.page);
    shift(a, -o.x, -o.y);
    out.push_back(std::move(a));
  }
  return out;
}

}  // namespace quorvel::annot
