// The engine contract: the only way any layer above the core touches a PDF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
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

struct TextSpan {
  std::string text;
  double x0 = 0.0;
  double y0 = 0.0;
  double x1 = 0.0;
  double y1 = 0.0;
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

  virtual int page_count() const = 0;
  virtual PageInfo page_info(int page) const = 0;
  virtual RenderedTile render_tile(int page, const RenderRequest& req) = 0;
  virtual TextPage extract_text(int page) const = 0;
  virtual DocMetadata metadata() const = 0;
  virtual std::vector<OutlineItem> outline() const { return {}; }
  virtual std::vector<Link> links(int /*page*/) const { return {}; }
  virtual bool has_form() const { return false; }
  virtual void form_click(int /*page*/, double /*x*/, double /*y*/, bool /*down*/) {}
  virtual void form_char(unsigned /*code_point*/) {}
  virtual void form_key(int /*key*/, bool /*down*/) {}
  virtual bool save_as(const std::string& /*path*/, const std::vector<annot::Annotation>& /*annots*/) {
    return false;
  }
  virtual bool delete_page(int /*page*/) { return false; }
  virtual bool rotate_page(int /*page*/, int /*quarter_turns*/) { return false; }
  virtual bool move_page(int /*from*/, int /*to*/) { return false; }
  virtual bool merge(std::span<const std::byte> /*pdf*/, int /*index*/) { return false; }
  virtual bool save_range(const std::string& /*path*/, int /*first*/, int /*last*/) { return false; }
  virtual bool save_nup(const std::string& /*path*/, int /*cols*/, int /*rows*/) { return false; }
  virtual bool insert_blank_page(int /*index*/, double /*width*/, double /*height*/) { return false; }
  virtual std::vector<ImageRef> list_images(int /*page*/) { return {}; }
  virtual bool delete_image(int /*page*/, int /*index*/) { return false; }
  virtual bool crop_page(int /*page*/, double /*x0*/, double /*y0*/, double /*x1*/, double /*y1*/) {
    return false;
  }
  // Where the page's crop box (the origin of page space) starts in PDF user space, the space of
  // saved files and XFDF; pass it to the XFDF functions. (0, 0) for a page out of range and in
  // the base version.
  virtual annot::Point crop_origin(int /*page*/) const { return {}; }
  // Takes every text object and every link that overlaps a box off the page and paints each
  // box of positive size black; gives the number of boxes painted. -1 means the redaction
  // failed: text under a box would stay readable (inside a form XObject or an annotation's
  // appearance), and the page is left exactly as it was, nothing removed and nothing painted.
  // 0: nothing painted (no such page, no boxes, only boxes without area, or an engine without
  // redaction).
  virtual int redact(int /*page*/, const std::vector<annot::Rect>& /*boxes*/) { return 0; }
  virtual int add_text_layer(int /*page*/, const std::vector<TextSpan>& /*words*/) { return 0; }
  virtual bool place_image(int /*page*/, const uint8_t* /*bgra*/, int /*width*/, int /*height*/,
                           double /*x0*/, double /*y0*/, double /*x1*/, double /*y1*/) {
    return false;
  }
  virtual bool stamp_text(int /*page*/, const std::string& /*text*/, double /*font_size*/, int /*r*/,
                          int /*g*/, int /*b*/, int /*a*/, double /*x*/, double /*y*/,
                          double /*angle*/) {
    return false;
  }
  virtual int replace_text(int /*page*/, const std::string& /*find*/, const std::string& /*replacement*/) {
    return 0;
  }
  virtual bool insert_text(int /*page*/, const std::string& /*text*/, double /*x*/, double /*y*/,
                           double /*font_size*/, unsigned /*rgb*/) {
    return false;
  }
};

class IPdfEngine {
 public:
  virtual ~IPdfEngine() = default;
  virtual std::unique_ptr<IDocument> open(std::span<const std::byte> bytes, std::string_view password) = 0;
  virtual EngineCapabilities capabilities() const = 0;
  virtual bool last_open_needs_password() const { return false; }
};

std::unique_ptr<IPdfEngine> make_engine(EngineKind kind);

// One line naming the engine and its library, for the command line's version output.
std::string engine_version_line();

}  // namespace quorvel
