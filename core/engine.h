// The engine contract: the only way any layer above the core touches a PDF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/annot.h"

namespace quorvel {

enum class EngineKind : int { Pdfium = 0 };

struct EngineCapabilities {
  bool renders = false;
  bool reads_text = false;
  bool edits = false;
};

struct PageInfo {
  double width = 0.0;
  double height = 0.0;
  int rotation = 0;
};

struct RenderRequest {
  double scale = 1.0;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  int rotation = 0;
};

struct RenderedTile {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // BGRA, stride width * 4, top row first
};

struct DocMetadata {
  std::string version;
  bool encrypted = false;
  std::string title;
  std::string author;
};

struct CharBox {
  size_t offset = 0;
  double left = 0.0;
  double top = 0.0;
  double right = 0.0;
  double bottom = 0.0;
};

struct TextRun {
  std::string text;
  double left = 0.0;
  double top = 0.0;
  double right = 0.0;
  double bottom = 0.0;
  std::vector<CharBox> chars;
};

struct TextPage {
  std::vector<TextRun> runs;
};

// The page's text as one string: its runs in order, a line feed before each run once text has
// begun. Search, ranking, compare and the entity finder all read pages this way, so offsets
// found in it mean the same everywhere.
inline std::string page_text(const TextPage& page) {
  std::string text;
  for (const TextRun& run : page.runs) {
    if (!text.empty()) text.push_back('\n');
    text += run.text;
  }
  return text;
}

struct Link {
  double x0 = 0.0;
  double y0 = 0.0;
  double x1 = 0.0;
  double y1 = 0.0;
  int page = -1;
  std::string uri;
};

struct OutlineItem {
  std::string title;
  int page = -1;
  std::vector<OutlineItem> children;
};

// One file of a split: pages first..last (inclusive) written to `path`.
struct PageRangeFile {
  std::string path;
  int first = 0;
  int last = 0;
};

// What a text replacement did on one page: occurrences replaced, and those left as they were,
// by why.
struct TextReplacement {
  int operators = 0;       // text-showing operators rewritten
  int replaced = 0;        // occurrences replaced (in the page text and in annotation appearances)
  int moved_words = 0;     // of those, how many moved other words on their line or leaders away
  int missing_glyphs = 0;  // left: the font there holds no glyph for a character of the replacement
  int no_room = 0;         // left: wider than the free space on its line, even narrowed to 90 %
  int not_editable = 0;    // left: text that cannot be rewritten (vertical, Type 3, unknown widths)
  int not_read_back = 0;   // left: the rewritten text did not read back as intended
  int in_fields = 0;       // left: in a form field's appearance, which its value redraws
  std::u32string missing;  // the characters without a glyph
  int left() const { return missing_glyphs + no_room + not_editable + not_read_back + in_fields; }
  TextReplacement& operator+=(const TextReplacement& r) {
    operators += r.operators;
    replaced += r.replaced;
    moved_words += r.moved_words;
    missing_glyphs += r.missing_glyphs;
    no_room += r.no_room;
    not_editable += r.not_editable;
    not_read_back += r.not_read_back;
    in_fields += r.in_fields;
    for (char32_t c : r.missing)
      if (missing.find(c) == std::u32string::npos) missing.push_back(c);
    return *this;
  }
};

struct TextSpan {
  std::string text;
  double x0 = 0.0;
  double y0 = 0.0;
  double x1 = 0.0;
  double y1 = 0.0;
  // Words that follow each other in a list with the same line number (>= 0) are one line of
  // text, read with a space between words; -1 makes the word a line of its own.
  int line = -1;
  // How far the baseline lies above the box's lower edge as the page is shown, in points.
  double descent = 0.0;
};

class IDocument {
 public:
  struct ImageRef {
    int index = 0;
    double left = 0.0;
    double bottom = 0.0;
    double right = 0.0;
    double top = 0.0;
  };

  virtual ~IDocument() = default;

  // Conventions of every operation below. Pages are numbered from 0. Lengths are PDF points
  // (1/72 inch). "Page space" has its origin at the lower-left corner of the page's crop box,
  // x to the right and y up, before the page's own rotation; text, links, images, crops and
  // stamps all use it. An out-of-range page is never an error that throws: reads give an
  // empty or zero value, edits give false or 0 and change nothing. An edit that fails leaves
  // the document as it was unless its line says otherwise.

  // Number of pages, >= 0.
  virtual int page_count() const = 0;
  // Counts the changes of the document: any edit, form input or swap of its file raises it.
  // A rewrite that works on a copy of the file swaps its result in only while this is still
  // what it was when the copy was taken. 0 in engines that do not count.
  virtual uint64_t revision() const { return 0; }
  // Crop-box size in points before the page's own rotation, and that rotation in degrees
  // clockwise (0, 90, 180 or 270); all zero for a page out of range.
  virtual PageInfo page_info(int page) const = 0;
  // One tile of the page drawn at `scale` pixels per point, turned by the page's rotation plus
  // `rotation` quarter turns clockwise; x, y, width, height are pixels of that whole page image
  // (parts off the page stay white). An empty tile (width 0, no pixels) for a page out of
  // range, a non-positive size or scale, or an image too large to hold.
  virtual RenderedTile render_tile(int page, const RenderRequest& req) = 0;
  // render_tile() for a view's paint, which must not wait long for an engine busy with other
  // work (a job's step on any document): when the render cannot start within `wait_ms`, gives
  // an empty tile and sets `busy`, and the caller draws the tile later. The base version
  // renders at once.
  virtual RenderedTile render_tile_soon(int page, const RenderRequest& req, int /*wait_ms*/, bool& busy) {
    busy = false;
    return render_tile(page, req);
  }
  // Lines of text with their boxes in page space (top > bottom); CharBox::offset is the byte
  // offset of the character in its run's UTF-8 text. Empty for a page out of range or without text.
  virtual TextPage extract_text(int page) const = 0;
  // File version ("1.7"; empty when unknown), encryption, and the Info title and author in UTF-8
  // (empty when absent).
  virtual DocMetadata metadata() const = 0;
  // The bookmark tree; an item's page is -1 when its destination is not a page of this file.
  virtual std::vector<OutlineItem> outline() const { return {}; }
  // Whether outline() has an item, without reading the tree (a manual's takes long).
  virtual bool has_outline() const { return !outline().empty(); }
  // outline() for a reader beside the window (a manual's tree takes long): the engine lets
  // other calls in between bookmarks, and asks `stop` there. The tree of revision `since`, or
  // nothing when the document is not at that revision or leaves it before the read ends (the
  // tree could mix two states), or when `stop` said true.
  virtual std::optional<std::vector<OutlineItem>> outline_at(uint64_t since, const std::function<bool()>& stop) const {
    if (stop() || revision() != since) return std::nullopt;
    std::vector<OutlineItem> tree = outline();
    if (revision() != since) return std::nullopt;
    return tree;
  }
  // Links of a page, box in page space; each has a target page (>= 0) or a URI, page -1 for a
  // URI. Empty for a page out of range.
  virtual std::vector<Link> links(int /*page*/) const { return {}; }
  // Pages (0-based, ascending) that cannot be read even from the rebuilt file: their content is
  // unknown, so save_as, save_nup and save_range over them refuse rather than write them empty.
  virtual std::vector<int> unreadable_pages() const { return {}; }
  // Whether the file has an interactive form; without one the form_* calls do nothing.
  virtual bool has_form() const { return false; }
  // A press (down) or release at (x, y) in page space; the page becomes the one that takes
  // typing. Ignored for a page out of range.
  virtual void form_click(int /*page*/, double /*x*/, double /*y*/, bool /*down*/) {}
  // One typed Unicode code point, to the focused field of the last clicked page.
  virtual void form_char(unsigned /*code_point*/) {}
  // A key press or release given as a Windows virtual-key code (8 Backspace, 46 Delete, ...).
  virtual void form_key(int /*key*/, bool /*down*/) {}
  // Writes a copy with `annots` (each on its own 0-based page; ones on missing pages are left
  // out) to `path` atomically, keeping the file's encryption; the open document is unchanged.
  // False: nothing written (the old file at `path`, if any, stays whole).
  virtual bool save_as(const std::string& /*path*/, const std::vector<annot::Annotation>& /*annots*/) {
    return false;
  }
  // Removes a page (also the last one left). False for a page out of range or a page tree
  // whose counts disagree with its kids.
  virtual bool delete_page(int /*page*/) { return false; }
  // Adds quarter turns clockwise to the page's rotation (negative turns counterclockwise,
  // taken modulo 4). False for a page out of range.
  virtual bool rotate_page(int /*page*/, int /*quarter_turns*/) { return false; }
  // Moves page `from` so that it ends up at index `to`. False when either is out of range or
  // they are equal.
  virtual bool move_page(int /*from*/, int /*to*/) { return false; }
  // Inserts every page of the PDF in `pdf` (opened without a password) before page `index`;
  // a negative index, or the page count, appends. False for an index above the page count, an
  // empty buffer, or a file that does not open.
  virtual bool merge(std::span<const std::byte> /*pdf*/, int /*index*/) { return false; }
  // Writes pages first..last (inclusive) as a new file at `path`, atomically, keeping the
  // encryption. False when 0 <= first <= last < page_count() does not hold or nothing was written.
  virtual bool save_range(const std::string& /*path*/, int /*first*/, int /*last*/) { return false; }
  // Each part as save_range writes it, the document read once for all of them; whether each
  // part's file was written, in the order given.
  virtual std::vector<bool> save_ranges(const std::vector<PageRangeFile>& parts) {
    std::vector<bool> written;
    for (const PageRangeFile& p : parts) written.push_back(save_range(p.path, p.first, p.last));
    return written;
  }
  // Writes a file of sheets the size of page 0 (612 x 792 points without pages), each holding
  // cols x rows pages left to right, top to bottom. False for cols or rows below 1 or nothing
  // written.
  virtual bool save_nup(const std::string& /*path*/, int /*cols*/, int /*rows*/) { return false; }
  // A blank page of width x height points inserted before page `index` (0..page_count(); the
  // page count appends). False for an index out of that range or a non-positive size.
  virtual bool insert_blank_page(int /*index*/, double /*width*/, double /*height*/) { return false; }
  // The page's images, each with its index among the page's objects (what delete_image takes)
  // and its bounds in page space. Empty for a page out of range.
  virtual std::vector<ImageRef> list_images(int /*page*/) { return {}; }
  // Removes the image with an ImageRef::index from list_images of the same page; the rest of the
  // page's content keeps its bytes. False when that object is not an image, the page is out of
  // range, or the image cannot be found in the page's own content.
  virtual bool delete_image(int /*page*/, int /*index*/) { return false; }
  // Sets the crop box to (x0, y0)-(x1, y1) in the page space of each page (relative to its
  // current crop box); a negative page crops every page. False when x0 >= x1 or y0 >= y1 or the
  // page is out of range; a failure on one page of all may leave the pages before it cropped.
  virtual bool crop_page(int /*page*/, double /*x0*/, double /*y0*/, double /*x1*/, double /*y1*/) {
    return false;
  }
  // Where the page's crop box (the origin of page space) starts in PDF user space, the space of
  // saved files and XFDF; pass it to the XFDF functions. (0, 0) for a page out of range and in
  // the base version.
  virtual annot::Point crop_origin(int /*page*/) const { return {}; }
  // Takes off the page every glyph whose middle lies in a box, every link over a box together
  // with the other pieces of the same link (same target), and paints each box of positive size
  // black; everything else on the page keeps its place and its bytes. Gives the number of boxes
  // painted; text inside a form XObject goes from a copy of the form that only this page draws.
  // -1 means the redaction failed: text under a box would stay readable (in an annotation's
  // appearance, or in a font whose glyphs cannot be placed, such as Type3 or vertical ones),
  // and the page is left exactly as it was. 0: nothing painted (no such
  // page, no boxes, only boxes without area, or an engine without redaction).
  virtual int redact(int /*page*/, const std::vector<annot::Rect>& /*boxes*/) { return 0; }
  // redact() of several pages at once, in one rewrite of the document: gives what redact() gives
  // for each entry, in order. A page should be listed once. The rewrite works on a copy; when
  // the document changed meanwhile nothing is applied and every page that had boxes gives -1.
  virtual std::vector<int> redact_pages(const std::vector<std::pair<int, std::vector<annot::Rect>>>& pages) {
    std::vector<int> out;
    for (const auto& [page, boxes] : pages) out.push_back(redact(page, boxes));
    return out;
  }
  // For each listed page, the text of every string its content shows, read as the content edits
  // read it (a reader may skip strings that another draws); empty for a page that cannot be read
  // within the bounds those edits keep to. Without a content reader, the extracted text.
  virtual std::vector<std::optional<std::string>> shown_texts(const std::vector<int>& pages) {
    std::vector<std::optional<std::string>> out;
    for (int page : pages) out.push_back(page_text(extract_text(page)));
    return out;
  }
  // Adds each word as invisible (searchable, selectable) text filling its box in page space and
  // reading upright as the page is shown; the words of a line share one size, from the height of
  // their boxes above the baseline. The page's own content is left as it was. Gives the number
  // of words added: 0 for none (words of white space only are none), a page out of range, or a
  // layer that could not be written.
  virtual int add_text_layer(int /*page*/, const std::vector<TextSpan>& /*words*/) { return 0; }
  // add_text_layer() of several pages at once, in one rewrite of the document: what
  // add_text_layer() gives for each entry, in order. As with place_shared_pictures, the rewrite
  // works on a copy that replaces the document at the end; 0 for every entry when it could not
  // be written, or when the document changed meanwhile or after revision `since` (when given:
  // the words were read from that revision), and then nothing is applied.
  virtual std::vector<int> add_text_layers(const std::vector<std::pair<int, std::vector<TextSpan>>>& pages,
                                           std::optional<uint64_t> since = std::nullopt) {
    if (since && *since != revision()) return std::vector<int>(pages.size(), 0);
    std::vector<int> out;
    for (const auto& [page, words] : pages) out.push_back(add_text_layer(page, words));
    return out;
  }
  // The size in pixels of the image with an ImageRef::index from list_images of the same page, as
  // stored in the file; false when that object is not an image or the page is out of range.
  virtual bool image_pixel_size(int /*page*/, int /*index*/, int& /*width*/, int& /*height*/) { return false; }
  // Draws `width` x `height` BGRA pixels (straight alpha, stride width * 4, top row first)
  // stretched over the box with corners (x0, y0) and (x1, y1) in page space, in any order.
  // False for a page out of range, no pixels, a non-positive or oversized image, or a non-finite corner.
  virtual bool place_image(int /*page*/, const uint8_t* /*bgra*/, int /*width*/, int /*height*/,
                           double /*x0*/, double /*y0*/, double /*x1*/, double /*y1*/) {
    return false;
  }
  // place_image for many pages at once. Each picture (pixels as place_image takes them) is
  // written into the document once and every page that shows it shares it; a page's own content
  // stays byte for byte as it was, the picture drawn over it. A placement puts picture `picture`
  // over the box with corners (x0, y0), (x1, y1) in the page space of `page`; placements with
  // a page, picture or box that place_image would refuse are passed over. The work happens on a
  // copy that replaces the document at the end, and nothing is drawn when the document changed
  // meanwhile. `progress`, when set, hears the percentage done and stops the work by returning
  // false. Gives the number of placements drawn; 0 leaves the document as it was (stopped,
  // nothing to draw, a failure, or an engine without the operation).
  struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgra;
  };
  struct PicturePlacement {
    int page = 0;
    int picture = 0;
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
  };
  virtual int place_shared_pictures(const std::vector<Picture>& /*pictures*/,
                                    const std::vector<PicturePlacement>& /*placements*/,
                                    const std::function<bool(int percent)>& /*progress*/ = {}) {
    return 0;
  }
  // Writes `text` (UTF-8) on the page content: baseline start at (x, y) in page space, size in
  // points, colour and opacity 0..255, turned `angle` degrees counterclockwise about (x, y).
  // False for empty text, a page out of range or a non-finite number.
  virtual bool stamp_text(int /*page*/, const std::string& /*text*/, double /*font_size*/, int /*r*/,
                          int /*g*/, int /*b*/, int /*a*/, double /*x*/, double /*y*/,
                          double /*angle*/) {
    return false;
  }
  // Replaces every occurrence of `find` (UTF-8, exact, case-sensitive) in the page's text as
  // search reads it, drawing the replacement in the font of the occurrence's first glyph (its
  // ligatures read as their letters; any glyph the embedded font holds may be used). A wider
  // replacement runs into free room on its line, narrowed to no less than 90 %, the words after
  // it in its operator moving along when needed; what else is on the page stays in place. Gives
  // the number of text-showing operators rewritten. 0: nothing found, `find` empty or a page out
  // of range; -1: found, but no occurrence could be replaced.
  virtual int replace_text(int /*page*/, const std::string& /*find*/, const std::string& /*replacement*/) {
    return 0;
  }
  // replace_text() of several pages at once, in one rewrite of the document: what replace_text()
  // gives for each page, in order. A page should be listed once. As with redact_pages, a
  // document changed meanwhile keeps its state and every page found gives -1.
  virtual std::vector<int> replace_text_pages(const std::vector<int>& pages, const std::string& find,
                                              const std::string& replacement) {
    std::vector<int> out;
    for (int page : pages) out.push_back(replace_text(page, find, replacement));
    return out;
  }
  // The replacement throughout the document, in one rewrite: in the page text of `text_pages`
  // (where search found `find`) and in the appearances of every page's annotations, which search
  // does not read. What it did, by page, for the pages where `find` occurred.
  virtual std::map<int, TextReplacement> replace_text_everywhere(const std::vector<int>& text_pages,
                                                                 const std::string& find,
                                                                 const std::string& replacement) {
    std::map<int, TextReplacement> out;
    const std::vector<int> done = replace_text_pages(text_pages, find, replacement);
    for (size_t i = 0; i < done.size() && i < text_pages.size(); ++i) {
      if (done[i] == 0) continue;
      TextReplacement& r = out[text_pages[i]];
      r.operators = std::max(done[i], 0);
      r.replaced = r.operators;
      r.not_editable = done[i] < 0 ? 1 : 0;
    }
    return out;
  }
  // Adds `text` (UTF-8) with its baseline starting at (x, y) in page space, `font_size` points,
  // colour 0xRRGGBB. False for empty text, a page out of range, a non-finite number, or text
  // beyond Latin-1 when no font for it is at hand.
  virtual bool insert_text(int /*page*/, const std::string& /*text*/, double /*x*/, double /*y*/,
                           double /*font_size*/, unsigned /*rgb*/) {
    return false;
  }

  // Copies for another program (a backend), which must read them without a password.
  // A copy of the bytes the document was opened from, or of those a page edit outside PDFium
  // last rebuilt it from; empty in engines that keep none. Edits made since are not in them,
  // nor are annotations: callers use them only for a document they know to be unchanged. A
  // copy, since a rewrite on another thread may replace those bytes at any time.
  virtual std::vector<std::byte> source_bytes() const { return {}; }
  // `pdf`, a copy of this document with its encryption (source_bytes, or what save_as wrote),
  // written again without it, opened with the password this document was opened with. False
  // when it does not open with that password or cannot be written, and in the base version.
  virtual bool decrypted_copy(std::span<const std::byte> /*pdf*/, std::vector<uint8_t>& /*out*/) const {
    return false;
  }
  // Locks such a copy again once another program has changed it: writes a PDF that opens
  // without a password again with this document's encryption and passwords; false where it
  // cannot. Empty for a document that is not encrypted. It holds what it needs, so it may be
  // used after the document has gone. The base version fails for an encrypted document.
  using Protector = std::function<bool(std::span<const std::byte> pdf, std::vector<uint8_t>& out)>;
  virtual Protector protector() const {
    if (!metadata().encrypted) return {};
    return [](std::span<const std::byte>, std::vector<uint8_t>&) { return false; };
  }
};

// Whether any page of the document can be read. PDFium reports a page tree that holds no page
// as one page (the tree itself), and a tree without kids as none.
inline bool has_readable_page(const IDocument& doc) {
  const int n = doc.page_count();
  return n >= 1 && doc.unreadable_pages().size() < static_cast<size_t>(n);
}

// What the caller already learned by reading the whole file, so an open need not find it again.
struct OpenHints {
  bool no_rotate_key = false;  // no name in the file, object streams included, reads /Rotate
};

class IPdfEngine {
 public:
  virtual ~IPdfEngine() = default;
  virtual std::unique_ptr<IDocument> open(std::span<const std::byte> bytes, std::string_view password) = 0;
  virtual std::unique_ptr<IDocument> open(std::span<const std::byte> bytes, std::string_view password,
                                          const OpenHints&) {
    return open(bytes, password);
  }
  virtual EngineCapabilities capabilities() const = 0;
  virtual bool last_open_needs_password() const { return false; }
};

std::unique_ptr<IPdfEngine> make_engine(EngineKind kind);

// One line naming the engine and its library, for the command line's version output.
std::string engine_version_line();

}  // namespace quorvel
