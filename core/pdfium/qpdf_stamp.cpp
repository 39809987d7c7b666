// Pictures over many pages with qpdf: one image a picture, shared by every page that shows it,
// and two small content streams a page around the page's own, which stay as they were.
//
// qpdf reads objects only when asked, so an unencrypted file is changed by appending an update
// section that holds the new objects and those it changed, and a large manual costs what its
// pages cost, not what all its objects cost: creating objects in qpdf, or its own page walk,
// would read every object of the file. An encrypted file, whose new objects qpdf alone can
// encrypt, or a page tree out of the ordinary is written whole by qpdf instead.
#include "core/pdfium/qpdf_stamp.h"
#include "core/pdfium/qpdf_internal.h"

#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/Pl_String.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

#include "core/c_locale.h"

namespace quorvel::qpdf_bridge {

namespace {

using Picture = IDocument::Picture;
using Placement = IDocument::PicturePlacement;

// As for place_image: far beyond any picture the tools place.
constexpr size_t kMaxPictureBytes = size_t{1} << 30;
// Deeper page trees are not plain (PDFium gives up on them too).
constexpr int kMaxTreeDepth = 64;
// The highest object number a cross-reference table may hold.
constexpr long long kMaxObjectNumber = 8388607;

// Thrown through qpdf when the caller stops the work; guarded() makes it a failure.
struct Stopped {};

class Progress {
 public:
  explicit Progress(const std::function<bool(int)>& callback) : callback_(callback) {}
  void operator()(int percent) {
    if (!callback_ || percent == last_) return;
    last_ = percent;
    if (!callback_(percent)) throw Stopped{};
  }

 private:
  const std::function<bool(int)>& callback_;
  int last_ = -1;
};

bool usable(const Picture& p) {
  if (p.width <= 0 || p.height <= 0) return false;
  const size_t stride = static_cast<size_t>(p.width) * 4;
  if (static_cast<size_t>(p.height) > kMaxPictureBytes / stride) return false;
  return p.bgra.size() == stride * static_cast<size_t>(p.height);
}

// A number a content stream can hold.
bool storable(double v) { return std::isfinite(v) && std::fabs(v) <= FLT_MAX; }

struct Box {
  double l = 0, b = 0, r = 0, t = 0;
  bool empty() const { return !(r > l) || !(t > b); }
};

Box box_of(QPDFObjectHandle o) {
  if (!o.isRectangle()) return {};
  const QPDFObjectHandle::Rectangle r = o.getArrayAsRectangle();
  return {std::min(r.llx, r.urx), std::min(r.lly, r.ury), std::max(r.llx, r.urx), std::max(r.lly, r.ury)};
}

// The value of an inheritable page attribute and the node that holds it; null when no node does.
QPDFObjectHandle inherited(QPDFObjectHandle page, const char* key, QPDFObjectHandle* holder = nullptr) {
  QPDFObjectHandle node = page;
  for (int depth = 0; depth <= kMaxTreeDepth && node.isDictionary(); ++depth) {
    if (node.hasKey(key)) {
      if (holder) *holder = node;
      return node.getKey(key);
    }
    node = node.getKey("/Parent");
  }
  return QPDFObjectHandle::newNull();
}

// Where page space starts in user space, as PDFium finds it: the lower-left corner of the crop
// box within the media box; the media box without a crop box; US Letter without either.
Box page_box(QPDFObjectHandle page) {
  Box media = box_of(inherited(page, "/MediaBox"));
  if (media.empty()) media = {0, 0, 612, 792};
  Box crop = box_of(inherited(page, "/CropBox"));
  if (crop.empty()) return media;
  crop = {std::max(crop.l, media.l), std::max(crop.b, media.b), std::min(crop.r, media.r), std::min(crop.t, media.t)};
  if (crop.l > crop.r || crop.b > crop.t) return {};
  return crop;
}

// New objects and changed ones go out through one of two writers: an update section appended
// to the file, or qpdf writing the whole file.
class Output {
 public:
  virtual ~Output() = default;
  // A new stream: `dict` holds its keys but /Length and /Filter; gives a reference to it.
  virtual QPDFObjectHandle add_stream(QPDFObjectHandle dict, std::string data) = 0;
  // `object`, indirect, was changed.
  virtual void changed(QPDFObjectHandle /*object*/) {}
};

class WholeFile final : public Output {
 public:
  explicit WholeFile(QPDF& q) : q_(q) {}
  QPDFObjectHandle add_stream(QPDFObjectHandle dict, std::string data) override {
    QPDFObjectHandle s = q_.newStream(data);
    for (const std::string& key : dict.getKeys()) s.getDict().replaceKey(key, dict.getKey(key));
    return s;  // the writer compresses it
  }

 private:
  QPDF& q_;
};

class UpdateSection final : public Output {
 public:
  UpdateSection(QPDF& q, long long first_free) : q_(q), next_(first_free) {}

  QPDFObjectHandle add_stream(QPDFObjectHandle dict, std::string data) override {
    if (next_ > kMaxObjectNumber) throw std::length_error("no object number left");
    const int number = static_cast<int>(next_++);
    // A direct placeholder makes the number known to qpdf, so that references to it are kept,
    // without the reading of every object that making a real object would start.
    q_.replaceObject(number, 0, QPDFObjectHandle::newInteger(0));
    // Pictures are worth compressing; the small drawing streams are not.
    if (data.size() > 256) {
      std::string packed;
      Pl_String sink("picture", nullptr, packed);
      Pl_Flate flate("picture", &sink, Pl_Flate::a_deflate);
      flate.write(reinterpret_cast<const unsigned char*>(data.data()), data.size());
      flate.finish();
      data.swap(packed);
      dict.replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
    }
    dict.replaceKey("/Length", QPDFObjectHandle::newInteger(static_cast<long long>(data.size())));
    added_.push_back({number, dict.unparse(), std::move(data)});
    return q_.getObject(number, 0);
  }
  void changed(QPDFObjectHandle object) override {
    if (object.isIndirect()) changed_.emplace(object.getObjGen(), object);
  }

  // `in` with the section after it, its table leading back to the table that `in` ends with.
  bool write(const Bytes& in, Bytes& out) {
    const long long prev = last_table(in);
    if (prev < 0) return false;
    std::string s = "\n";
    std::map<int, std::pair<int, long long>> offsets;  // number: generation, offset
    const auto at = [&] { return static_cast<long long>(in.size() + s.size()); };
    for (auto& [og, object] : changed_) {
      offsets[og.getObj()] = {og.getGen(), at()};
      s += int_text(og.getObj()) + ' ' + int_text(og.getGen()) + " obj\n" + object.unparseResolved() + "\nendobj\n";
    }
    for (const Added& a : added_) {
      offsets[a.number] = {0, at()};
      s += int_text(a.number) + " 0 obj\n" + a.dict + "\nstream\n" + a.data + "\nendstream\nendobj\n";
    }
    const long long table = at();
    QPDFObjectHandle trailer = q_.getTrailer();
    std::string keys;
    for (const char* key : {"/Root", "/Info", "/ID"}) {
      if (trailer.hasKey(key)) keys += std::string(" ") + key + ' ' + trailer.getKey(key).unparse();
    }
    keys += " /Prev " + int_text(prev);
    if (ends_with_stream(in, prev)) {
      // A reader that meets a table after a cross-reference stream may keep the stream's
      // entries for objects that live in object streams: the update is a stream too.
      const long long self = next_;
      offsets[static_cast<int>(self)] = {0, table};
      std::string rows, index;
      for (auto it = offsets.begin(); it != offsets.end();) {
        auto end = it;
        int count = 0;
        while (end != offsets.end() && end->first == it->first + count) ++end, ++count;
        index += ' ' + int_text(it->first) + ' ' + int_text(count);
        for (; it != end; ++it) {
          const long long offset = it->second.second;
          rows += '\1';
          for (int shift = 32; shift >= 0; shift -= 8) rows += static_cast<char>((offset >> shift) & 0xFF);
          rows += static_cast<char>((it->second.first >> 8) & 0xFF);
          rows += static_cast<char>(it->second.first & 0xFF);
        }
      }
      s += int_text(self) + " 0 obj\n<< /Type /XRef /Size " + int_text(self + 1) + " /W [1 5 2] /Index [" +
           index.substr(1) + "]" + keys + " /Length " + int_text(static_cast<long long>(rows.size())) +
           " >>\nstream\n" + rows + "\nendstream\nendobj\n";
    } else {
      s += "xref\n0 1\n0000000000 65535 f \n";
      for (auto it = offsets.begin(); it != offsets.end();) {
        auto end = it;
        int count = 0;
        while (end != offsets.end() && end->first == it->first + count) ++end, ++count;
        s += int_text(it->first) + ' ' + int_text(count) + '\n';
        for (; it != end; ++it) s += entry(it->second.second, it->second.first);
      }
      s += "trailer\n<< /Size " + int_text(next_) + keys + " >>\n";
    }
    s += "startxref\n" + int_text(table) + "\n%%EOF\n";
    out.reserve(in.size() + s.size());
    out.assign(in.begin(), in.end());
    out.insert(out.end(), s.begin(), s.end());
    return true;
  }

 private:
  struct Added {
    int number;
    std::string dict;
    std::string data;
  };

  // An entry of a cross-reference table: twenty bytes.
  static std::string entry(long long offset, int generation) {
    std::string e = int_text(offset);
    e.insert(0, 10 - std::min<size_t>(10, e.size()), '0');
    std::string g = int_text(generation);
    g.insert(0, 5 - std::min<size_t>(5, g.size()), '0');
    return e + ' ' + g + " n \n";
  }

  // Whether the section at `offset` is a cross-reference stream rather than a table.
  static bool ends_with_stream(const Bytes& in, long long offset) {
    const size_t at = static_cast<size_t>(offset);
    const std::string_view head(reinterpret_cast<const char*>(in.data()) + at, std::min<size_t>(in.size() - at, 4));
    return head != "xref";
  }
  // Where the file's last cross-reference section starts, by the number after its final
  // "startxref"; -1 when that cannot be read.
  static long long last_table(const Bytes& in) {
    const std::string_view tail(reinterpret_cast<const char*>(in.data()) + (in.size() > 1024 ? in.size() - 1024 : 0),
                                std::min<size_t>(in.size(), 1024));
    const size_t key = tail.rfind("startxref");
    if (key == std::string_view::npos) return -1;
    size_t i = key + 9;
    while (i < tail.size() && (tail[i] == ' ' || tail[i] == '\r' || tail[i] == '\n')) ++i;
    long long v = -1;
    for (; i < tail.size() && tail[i] >= '0' && tail[i] <= '9' && v < (1LL << 40); ++i) v = (v < 0 ? 0 : v * 10) + (tail[i] - '0');
    return v < static_cast<long long>(in.size()) ? v : -1;
  }

  QPDF& q_;
  long long next_;
  std::map<QPDFObjGen, QPDFObjectHandle> changed_;
  std::vector<Added> added_;
};

// The pages in the order of the tree's kids when the tree is plain: every node an indirect
// dictionary reached once, a node being what has /Kids, as PDFium reads it.
bool plain_pages(QPDF& q, std::vector<QPDFObjectHandle>& pages) {
  std::set<QPDFObjGen> seen;
  std::function<bool(QPDFObjectHandle, int)> walk = [&](QPDFObjectHandle node, int depth) {
    if (depth > kMaxTreeDepth || !node.isIndirect() || !node.isDictionary() || !seen.insert(node.getObjGen()).second)
      return false;
    QPDFObjectHandle kids = node.getKey("/Kids");
    if (!kids.isArray()) {
      pages.push_back(node);
      return true;
    }
    for (int i = 0; i < kids.getArrayNItems(); ++i) {
      if (!walk(kids.getArrayItem(i), depth + 1)) return false;
    }
    return true;
  };
  return walk(q.getRoot().getKey("/Pages"), 0);
}

QPDFObjectHandle image_dict(int width, int height, const char* colour_space) {
  QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
  dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
  dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
  dict.replaceKey("/Width", QPDFObjectHandle::newInteger(width));
  dict.replaceKey("/Height", QPDFObjectHandle::newInteger(height));
  dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(colour_space));
  dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
  return dict;
}

// The colours as an RGB image and the alpha as its soft mask, which an opaque picture needs not.
QPDFObjectHandle make_image(Output& output, const Picture& p) {
  const size_t n = static_cast<size_t>(p.width) * static_cast<size_t>(p.height);
  std::string rgb(n * 3, '\0');
  std::string alpha(n, '\0');
  bool opaque = true;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* px = p.bgra.data() + i * 4;
    rgb[i * 3] = static_cast<char>(px[2]);
    rgb[i * 3 + 1] = static_cast<char>(px[1]);
    rgb[i * 3 + 2] = static_cast<char>(px[0]);
    alpha[i] = static_cast<char>(px[3]);
    opaque = opaque && px[3] == 0xFF;
  }
  QPDFObjectHandle dict = image_dict(p.width, p.height, "/DeviceRGB");
  if (!opaque) dict.replaceKey("/SMask", output.add_stream(image_dict(p.width, p.height, "/DeviceGray"), std::move(alpha)));
  return output.add_stream(dict, std::move(rgb));
}

// The page's name for `image`: the one it already has there, else the first free one. Shared or
// inherited resources take the name where they are, which is harmless to the other pages.
std::string name_on(Output& output, QPDFObjectHandle page, QPDFObjectHandle image) {
  QPDFObjectHandle owner = page;  // the indirect object whose text holds what changes
  QPDFObjectHandle resources = inherited(page, "/Resources", &owner);
  if (!resources.isDictionary()) {
    owner = page;
    resources = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Resources", resources);
  } else if (resources.isIndirect()) {
    owner = resources;
  }
  QPDFObjectHandle xobjects = resources.getKey("/XObject");
  if (!xobjects.isDictionary()) {
    xobjects = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
  } else if (xobjects.isIndirect()) {
    owner = xobjects;
  }
  for (long long k = 0;; ++k) {
    const std::string name = "/QvPic" + int_text(k);
    if (!xobjects.hasKey(name)) {
      xobjects.replaceKey(name, image);
      output.changed(owner);
      return name;
    }
    if (xobjects.getKey(name).getObjGen() == image.getObjGen()) return name;
  }
}

// Closes the "q" put before the page's content, so that whatever state that content leaves, the
// picture is drawn in the page's own user space.
std::string drawing(const std::string& name, double a, double d, double e, double f) {
  std::string s = "\nQ\nq ";
  append_fixed(s, a, 4);
  s += " 0 0 ";
  append_fixed(s, d, 4);
  s += ' ';
  append_fixed(s, e, 4);
  s += ' ';
  append_fixed(s, f, 4);
  s += " cm ";
  s += name;
  s += " Do Q\n";
  return s;
}

// The page's contents between `first` and `last`; what they held stays, entry by entry.
void wrap_contents(QPDFObjectHandle page, QPDFObjectHandle first, QPDFObjectHandle last) {
  QPDFObjectHandle contents = page.getKey("/Contents");
  std::vector<QPDFObjectHandle> items{first};
  if (contents.isArray()) {
    for (int i = 0; i < contents.getArrayNItems(); ++i) items.push_back(contents.getArrayItem(i));
  } else if (contents.isStream()) {
    items.push_back(contents);
  }
  items.push_back(last);
  page.replaceKey("/Contents", QPDFObjectHandle::newArray(items));
}

// Draws every usable placement; gives how many were drawn.
int draw(Output& output, const std::vector<QPDFObjectHandle>& pages, const std::vector<Picture>& pictures,
         const std::vector<Placement>& placements, Progress& progress, int share) {
  std::vector<QPDFObjectHandle> images(pictures.size());
  // Pages of one size draw the same bytes: they share the streams, as they share the picture.
  QPDFObjectHandle opening;
  std::map<std::string, QPDFObjectHandle> drawings;
  int drawn = 0;
  for (size_t i = 0; i < placements.size(); ++i) {
    const Placement& p = placements[i];
    progress(static_cast<int>((i + 1) * static_cast<size_t>(share) / placements.size()));
    if (p.page < 0 || static_cast<size_t>(p.page) >= pages.size()) continue;
    if (p.picture < 0 || static_cast<size_t>(p.picture) >= pictures.size()) continue;
    const Picture& picture = pictures[static_cast<size_t>(p.picture)];
    if (!usable(picture) || !storable(p.x0) || !storable(p.y0) || !storable(p.x1) || !storable(p.y1)) continue;
    QPDFObjectHandle page = pages[static_cast<size_t>(p.page)];
    const Box box = page_box(page);
    const double a = std::fabs(p.x1 - p.x0), d = std::fabs(p.y1 - p.y0);
    const double e = std::min(p.x0, p.x1) + box.l, f = std::min(p.y0, p.y1) + box.b;
    if (!storable(a) || !storable(d) || !storable(e) || !storable(f)) continue;
    QPDFObjectHandle& image = images[static_cast<size_t>(p.picture)];
    if (!image.isInitialized()) image = make_image(output, picture);
    const std::string name = name_on(output, page, image);
    if (!opening.isInitialized()) opening = output.add_stream(QPDFObjectHandle::newDictionary(), "q\n");
    std::string text = drawing(name, a, d, e, f);
    QPDFObjectHandle& drawn_by = drawings[text];
    if (!drawn_by.isInitialized()) drawn_by = output.add_stream(QPDFObjectHandle::newDictionary(), std::move(text));
    wrap_contents(page, opening, drawn_by);
    output.changed(page);
    ++drawn;
  }
  return drawn;
}

}  // namespace

int stamp_pictures(const Bytes& in, std::string_view password, const std::vector<Picture>& pictures,
                   const std::vector<Placement>& placements, const std::function<bool(int percent)>& progress,
                   Bytes& out) {
  int drawn = 0;
  const bool ok = guarded(out, [&](Bytes& result) {
    Progress report(progress);
    report(0);
    QPDF q;
    open(q, in, password);
    std::vector<QPDFObjectHandle> pages;
    if (!q.isEncrypted() && plain_pages(q, pages)) {
      long long size = q.getTrailer().getKey("/Size").isInteger() ? q.getTrailer().getKey("/Size").getIntValue() : 0;
      for (const auto& [og, entry] : q.getXRefTable()) size = std::max<long long>(size, og.getObj() + 1LL);
      UpdateSection section(q, std::max(size, 1LL));
      drawn = draw(section, pages, pictures, placements, report, 90);
      if (drawn == 0 || !section.write(in, result)) return false;
      report(100);
      return true;
    }
    pages.clear();
    for (QPDFObjectHandle page : q.getAllPages()) {
      // qpdf reads an object it cannot parse as null; such a page would be written as a hole.
      if (!page.isDictionary()) return false;
      pages.push_back(page);
    }
    WholeFile whole(q);
    constexpr int kPagesShare = 30;
    drawn = draw(whole, pages, pictures, placements, report, kPagesShare);
    if (drawn == 0) return false;
    QPDFWriter w(q);
    w.setOutputMemory();
    // Soft masks came with PDF 1.4.
    w.setMinimumPDFVersion("1.4");
    w.registerProgressReporter(std::make_shared<QPDFWriter::FunctionProgressReporter>(
        [&](int percent) { report(kPagesShare + std::clamp(percent, 0, 100) * (100 - kPagesShare) / 100); }));
    w.write();
    const std::shared_ptr<Buffer> buf = w.getBufferSharedPointer();
    if (!buf || buf->getSize() == 0) return false;
    result.assign(buf->getBuffer(), buf->getBuffer() + buf->getSize());
    return true;
  });
  return ok ? drawn : 0;
}

}  // namespace quorvel::qpdf_bridge
