// A page's content read as PDF operators, with the graphics and text state that places every
// glyph and image, and the rewriting of single operators so that every byte not edited stays
// exactly as it was. Works on qpdf objects; knows nothing of PDFium.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::content {

// PDF's row-vector convention: a point p goes to p x M.
struct Matrix {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
  // This transform first, then `m`.
  Matrix then(const Matrix& m) const;
  void apply(double x, double y, double& ox, double& oy) const;
  bool inverse(Matrix& out) const;
};

struct Token {
  enum Kind { Number, Name, String, ArrayOpen, ArrayClose, DictOpen, DictClose, Other };
  Kind kind = Other;
  std::string value;  // a string's bytes, a name without its slash, a number as written
  size_t begin = 0;   // the token's bytes in its stream
  size_t end = 0;
  double number() const;
};

struct Op {
  std::string name;             // the operator; "BI" stands for a whole inline image
  std::vector<Token> operands;  // without white space and comments
  size_t begin = 0;             // from the first operand to the end of the operator ("EI")
  size_t end = 0;
};

// The operators of one stream; false when it does not read as content (a bad token, an inline
// image without its end) or holds more operators and operands than `items` allows, which is
// lowered by what it does hold.
bool parse_ops(std::string_view data, std::vector<Op>& out, size_t* items = nullptr);

// The top-level items of a TJ operator's array (operand indices), and whether any of them is
// neither a string nor a number: readers differ on such an array, one skips the operator, another
// draws its strings.
std::vector<size_t> array_items(const std::vector<Token>& operands, bool* foreign = nullptr);

// What reading one page may cost; a page past it is refused rather than read in part.
struct Budget {
  size_t items = 1'000'000;              // operators, operands and glyphs
  size_t bytes = size_t{64} << 20;       // decoded content, each form counted once
  size_t form_draws = 10'000;            // drawings of forms, nested ones included
};

// What placing and re-encoding text needs of a font.
class Font {
 public:
  enum class Kind { Simple, Composite, Type3, Unknown };
  Kind kind = Kind::Unknown;
  bool vertical = false;
  bool monospaced = false;  // every glyph as wide as the next (program text, tables)

  struct Code {
    uint32_t value = 0;
    size_t length = 1;  // bytes
  };
  // The codes of a shown string, by the font's code space.
  std::vector<Code> split(std::string_view bytes) const;
  // Horizontal displacement of a code for a font size of 1 (text space); empty when unknown.
  std::optional<double> width(uint32_t code) const;
  // The width PDFium uses: it keeps the widths of simple and CID fonts as whole thousandths,
  // cut towards zero, so its characters stand slightly off where other readers draw them.
  std::optional<double> reader_width(uint32_t code) const;
  // The bytes that show `code`.
  std::string bytes(uint32_t code, size_t length) const;
  // A code that shows `c` and that the font is known to hold a glyph for; empty when none.
  std::optional<Code> encode(char32_t c) const;
  // Codes that show `text`, by the font's ligatures where it has them (read back as their
  // letters) and single letters otherwise; a space the font lacks becomes a word gap (a code of
  // length 0). False with `missing` holding the characters no glyph of the font shows.
  bool encode_text(std::u32string_view text, std::vector<Code>& out, std::u32string& missing) const;
  // What a reader reads for a code (a ligature gives its letters); empty when unknown.
  std::u32string text(uint32_t code) const;
  // Adds what a reader of the page saw a code stand for, so that encode() can use it.
  void learn(uint32_t code, size_t length, const std::u32string& text);

  // Widths of the standard fonts that files may use without /Widths: the width of `unicode` in
  // `base_font` for a size of 1, or empty.
  using StandardWidth = std::function<std::optional<double>(const std::string& base_font, char32_t unicode)>;
  static std::shared_ptr<Font> load(QPDFObjectHandle dict, const StandardWidth& standard);

 private:
  struct Range {
    size_t length;
    uint32_t low, high;
  };
  std::vector<Range> codespace_;       // composite fonts; simple fonts read one byte a code
  bool identity_cids_ = true;          // composite: CID = code unless cids_ says otherwise
  std::map<uint32_t, uint32_t> cids_;  // composite: code to CID from an embedded CMap
  std::map<uint32_t, double> widths_;  // by code (simple) or CID (composite), text space
  std::optional<double> default_width_;
  std::map<uint32_t, std::u32string> unicode_;  // code to the characters it stands for
  std::map<char32_t, Code> encoding_;           // character to the code that shows it
  std::map<std::u32string, Code> ligatures_;    // letters to the ligature that shows them
  std::set<uint32_t> not_held_;                 // codes whose glyph the embedded program lacks
  std::function<std::optional<double>(uint32_t)> fallback_;  // simple standard fonts
  friend struct FontLoader;
};

// One glyph of a text-showing operator.
struct Glyph {
  size_t element = 0;  // the operand (string token) it comes from
  Font::Code code;
  double advance = 0;  // pen move after it, text space before horizontal scaling
  Matrix place;        // glyph space of size 1 to user space, at its origin
  double reader_x = 0, reader_y = 0;  // the origin PDFium reports for the glyph's character
  bool known = false;  // width and position known
  // The point that decides whether the glyph lies in a box: half its width, a third of the
  // font size above the baseline.
  void centre(double& x, double& y) const;
  double width = 0;    // the glyph's own width, size 1
};

// A text-showing operator (Tj, TJ, ', ").
struct Show {
  size_t stream = 0;
  size_t op = 0;
  std::shared_ptr<Font> font;
  double size = 0, hscale = 1, char_spacing = 0, word_spacing = 0;
  bool editable = false;  // horizontal, sized, of a known font with known widths and position
  bool movable = false;   // its glyphs can be drawn further along: editable, or of a Type 3 font
  bool foreign = false;   // a TJ array holding items other than strings and numbers
  size_t first = 0;       // its glyphs in PageContent::glyphs
  size_t count = 0;
};

// An image drawn by the page itself: an image XObject's Do or an inline image.
struct ImageUse {
  size_t stream = 0;
  size_t op = 0;
  Matrix ctm;
};

// One Do of a form XObject in the page (or in a form it draws): its content is read like the
// page's, as a stream of its own after the page's streams, parsed once however often it is drawn.
struct FormUse {
  QPDFObjectHandle xobject;
  size_t stream = 0;         // its content in PageContent::data and ops, shared by its drawings
  size_t parent_stream = 0;  // the stream and operator of the Do that draws it
  size_t parent_op = 0;
};

struct PageContent {
  std::vector<QPDFObjectHandle> streams;  // the page's own; data and ops go on with the forms'
  std::vector<std::string> data;
  std::vector<std::vector<Op>> ops;
  std::vector<FormUse> forms;
  std::vector<Show> shows;
  std::vector<Glyph> glyphs;
  std::vector<ImageUse> images;  // the page's own, not those of its forms
  int final_depth = 0;  // q levels left open at the end
  bool underflow = false;  // a Q had nothing to restore
  bool open_text = false;  // the content ends inside BT ... ET
  Matrix final_ctm;
};

// Reads the page's content and that of the forms it draws. False when a stream of the page or of
// a form cannot be decoded or does not read as content, or when the page is past `budget`.
bool read_page(QPDFPageObjectHelper& page, const Font::StandardWidth& standard, PageContent& out,
               const Budget& budget = {});

// The characters each glyph of a show draws, as its font maps them (a ligature gives its
// letters; printable ASCII for a simple font that maps nothing); a code without a known
// character is U+FFFD.
std::vector<std::u32string> shown_characters(const PageContent& page, const Show& show);

// Reads a form XObject (an annotation's appearance) on its own, as stream 0 with its own
// resources, like a page. False when it does not read as content.
bool read_form(QPDFObjectHandle xobject, const Font::StandardWidth& standard, PageContent& out,
               const Budget& budget = {});

// What happens to one glyph of a rewritten operator.
struct GlyphEdit {
  bool drop = false;
  // Shown at the glyph's place instead of it (implies drop); a code of length 0 is a word gap.
  std::vector<Font::Code> insert;
  // Room the inserted glyphs may take, text space before horizontal scaling; wider text is
  // narrowed to fit rather than drawn over what follows. Negative: no limit.
  double room = -1;
  // A kept glyph, or the inserted ones, drawn this much further along (text space; negative is
  // back), making room for a wider word on the line.
  double shift = 0;
};

// The width `codes` take when shown by `show`, in text space before horizontal scaling (a code
// of length 0 is a word gap of a third of the size); negative when a width is unknown.
double inserted_width(const Show& show, const std::vector<Font::Code>& codes);

// The operator rewritten with `edits` (one per glyph): kept glyphs stay where they were, and so
// does the pen after the operator. Empty when the show is not editable (one that is only
// movable may shift its glyphs) or an inserted code has no known width.
std::string rewrite_show(const PageContent& page, const Show& show, const std::vector<GlyphEdit>& edits);

// Puts the page's content back with the given operators replaced (by stream and op index; an
// empty text deletes the operator) and `append` drawn last in the page's initial state. Streams
// without a change keep their objects; changed ones become new streams of this page only, and a
// changed form becomes a copy that only this drawing of it uses.
void write_page(QPDFPageObjectHelper& page, const PageContent& content,
                const std::map<std::pair<size_t, size_t>, std::string>& replaced, const std::string& append);

// The text of stream `stream` with the given operators replaced and every other byte as it was.
std::string spliced_stream(const PageContent& content, size_t stream,
                           const std::map<std::pair<size_t, size_t>, std::string>& replaced);

// Numbers as content streams write them: "C" locale, at most `decimals` places, no trailing zeros.
std::string number_text(double v, int decimals = 4);

}  // namespace quorvel::content
