#include "core/xfdf.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <map>
#include <utility>

#include <expat.h>

#include "core/c_locale.h"

namespace quorvel::annot {

namespace {

constexpr size_t npos = std::string_view::npos;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

struct TagType {
  std::string_view name;
  AnnotType type;
};

constexpr TagType kTags[] = {
    {"highlight", AnnotType::Highlight}, {"underline", AnnotType::Underline},
    {"strikeout", AnnotType::StrikeOut}, {"squiggly", AnnotType::Squiggly},
    {"ink", AnnotType::Ink},             {"text", AnnotType::Note},
    {"square", AnnotType::Rectangle},    {"circle", AnnotType::Ellipse},
    {"line", AnnotType::Line},           {"freetext", AnnotType::FreeText},
};

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

// XML reads a carriage return as a line feed, and in an attribute value every line break and
// tab as a space; written as references they come back as they were.
std::string xml_escape(std::string_view s, bool attribute = false) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    switch (s[i]) {
      case '&': out += "&amp;"; ++i; continue;
      case '<': out += "&lt;"; ++i; continue;
      case '>': out += "&gt;"; ++i; continue;
      case '"': out += "&quot;"; ++i; continue;
      case '\'': out += "&apos;"; ++i; continue;
      case '\r': out += "&#13;"; ++i; continue;
      case '\n':
      case '\t':
        if (attribute) {
          out += s[i] == '\n' ? "&#10;" : "&#9;";
          ++i;
          continue;
        }
        break;
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

// The value of an attribute among expat's name and value pairs; empty when it is absent.
std::string_view attr(const XML_Char** atts, std::string_view name) {
  for (size_t i = 0; atts[i] && atts[i + 1]; i += 2) {
    if (name == atts[i]) return atts[i + 1];
  }
  return {};
}

void read_attributes(const XML_Char** tag, Annotation& a) {
  a.id = attr(tag, "name");
  if (const std::string_view v = attr(tag, "page"); !v.empty()) a.page = parse_page(v);
  parse_color(attr(tag, "color"), &a.color);
  if (const std::string_view v = attr(tag, "width"); !v.empty()) a.width = c_strtod(v);
  if (const std::string_view v = attr(tag, "opacity"); !v.empty()) {
    const double o = c_strtod(v);
    if (std::isfinite(o)) {
      // Clamped before converting: 256 must not wrap to an invisible 0.
      a.opacity = static_cast<uint8_t>(std::clamp(o <= 1.0 ? o * 255.0 : o, 0.0, 255.0));
    }
  }
  if (const std::string_view v = attr(tag, "rect"); !v.empty()) {
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
  append_attr(out, "name", xml_escape(a.id, true));
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

const TagType* annotation_tag(std::string_view name) {
  for (const TagType& t : kTags) {
    if (t.name == name) return &t;
  }
  return nullptr;
}

// An XML reader over the document: comments, processing instructions and CDATA sections are
// what XML says they are, never elements. An annotation is a recognised element outside any
// other annotation; its text is that of its first contents child, an ink's points those of its
// first gesture. Reading stops at the first error of the document, keeping the annotations
// that ended before it.
class Reader {
 public:
  explicit Reader(const PageOrigins& origins) : origins_(origins) {}
  ~Reader() {
    if (parser_) XML_ParserFree(parser_);
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  XfdfRead result;

  void run(std::string_view xml, const ReadStep& step) {
    parser_ = XML_ParserCreate(nullptr);  // the encoding the document declares
    if (!parser_) return;
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &Reader::on_start, &Reader::on_end);
    XML_SetCharacterDataHandler(parser_, &Reader::on_text);
    // No entity a document declares is ever expanded: such a document is refused whole.
    XML_SetEntityDeclHandler(parser_, &Reader::on_entity);
    XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
    // expat takes an int length: large inputs go in pieces, which also pace the steps.
    constexpr size_t kPiece = size_t{1} << 20;
    size_t at = 0;
    do {
      const size_t n = std::min(kPiece, xml.size() - at);
      const bool last = at + n == xml.size();
      if (XML_Parse(parser_, xml.data() + at, static_cast<int>(n), last) != XML_STATUS_OK) break;
      at += n;
      if (step && !step(at, xml.size())) break;
    } while (at < xml.size());
  }

 private:
  static void on_start(void* self, const XML_Char* name, const XML_Char** atts) {
    static_cast<Reader*>(self)->start(name, atts);
  }
  static void on_end(void* self, const XML_Char*) { static_cast<Reader*>(self)->end(); }
  static void on_text(void* self, const XML_Char* s, int len) {
    auto* r = static_cast<Reader*>(self);
    if (r->capture_) r->capture_->append(s, static_cast<size_t>(len));
  }
  static void on_entity(void* self, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
                        const XML_Char*, const XML_Char*) {
    XML_StopParser(static_cast<Reader*>(self)->parser_, XML_FALSE);
  }

  void start(std::string_view name, const XML_Char** atts) {
    ++depth_;
    if (skip_depth_ > 0) return;
    if (annot_depth_ == 0) {
      if (const TagType* tag = annotation_tag(name)) {
        annot_depth_ = depth_;
        current_ = Annotation{};
        current_.type = tag->type;
        read_attributes(atts, current_);
        has_text_ = has_gesture_ = false;
        gesture_.clear();
      } else if (name == "annots") {
        annots_depth_ = depth_;
      } else if (annots_depth_ > 0 && depth_ == annots_depth_ + 1) {
        ++result.unknown;  // a kind of annotation this model does not have, with all it holds
        skip_depth_ = depth_;
      }
      return;
    }
    if (capture_) return;
    if (name == "contents" && depth_ == annot_depth_ + 1 && !has_text_) {
      has_text_ = true;
      capture_ = &current_.text;
      capture_depth_ = depth_;
    } else if (name == "gesture" && current_.type == AnnotType::Ink && !has_gesture_) {
      has_gesture_ = true;
      capture_ = &gesture_;
      capture_depth_ = depth_;
    }
  }

  void end() {
    if (capture_ && depth_ == capture_depth_) capture_ = nullptr;
    if (annot_depth_ > 0 && depth_ == annot_depth_) {
      annot_depth_ = 0;
      if (current_.type == AnnotType::Ink) current_.points = decode_path(gesture_);
      const Point o = origins_.of(current_.page);
      shift(current_, -o.x, -o.y);
      result.annotations.push_back(std::move(current_));
    }
    if (depth_ == annots_depth_) annots_depth_ = 0;
    if (depth_ == skip_depth_) skip_depth_ = 0;
    --depth_;
  }

  XML_Parser parser_ = nullptr;
  OriginCache origins_;
  int depth_ = 0;
  int annots_depth_ = 0;
  int annot_depth_ = 0;  // of the annotation being read, 0 outside one
  int skip_depth_ = 0;   // of the unknown kind being stepped over
  Annotation current_;
  std::string gesture_;
  bool has_text_ = false, has_gesture_ = false;
  std::string* capture_ = nullptr;  // where character data goes, if anywhere
  int capture_depth_ = 0;
};

}  // namespace

std::string to_xfdf(const std::vector<Annotation>& annots, std::string_view pdf_name,
                    const PageOrigins& origins) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<xfdf xmlns=\"http://ns.adobe.com/xfdf/\" xml:space=\"preserve\">\n";
  if (!pdf_name.empty()) {
    out += "  <f href=\"";
    out += xml_escape(pdf_name, true);
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

XfdfRead read_xfdf(std::string_view xml, const PageOrigins& origins, const ReadStep& step) {
  Reader reader(origins);
  reader.run(xml, step);
  return std::move(reader.result);
}

std::vector<Annotation> from_xfdf(std::string_view xml, const PageOrigins& origins) {
  return read_xfdf(xml, origins).annotations;
}

}  // namespace quorvel::annot
