// The invisible text layer as a content stream appended with qpdf. PDFium's page objects cannot
// place the words of one line each in its own box within one text object, and text written
// through PDFium needs a font for the script (the whole of a TrueType file for Cyrillic); this
// layer is written directly, in a font of empty glyphs that encodes any character in two bytes
// and is shared by all pages.
#include "core/pdfium/qpdf_text_layer.h"
#include "core/pdfium/qpdf_internal.h"

#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quorvel::qpdf_bridge {

namespace {

constexpr const char* kFontName = "/QuorvelOcrLayer";
constexpr int kUnitsPerEm = 1000;
constexpr int kAdvance = static_cast<int>(kLayerGlyphAdvance * kUnitsPerEm);
constexpr int kAscent = static_cast<int>(kLayerAscent * kUnitsPerEm);
constexpr int kDescent = -static_cast<int>(kLayerDescent * kUnitsPerEm);

struct BigEndian {
  std::string bytes;
  BigEndian& u16(int v) {
    bytes += static_cast<char>((v >> 8) & 0xFF);
    bytes += static_cast<char>(v & 0xFF);
    return *this;
  }
  BigEndian& u32(uint32_t v) { return u16(static_cast<int>(v >> 16)).u16(static_cast<int>(v & 0xFFFF)); }
};

uint32_t table_checksum(const std::string& data) {
  uint32_t sum = 0;
  for (size_t i = 0; i < data.size(); i += 4) {
    uint32_t word = 0;
    for (size_t k = 0; k < 4; ++k) {
      word = (word << 8) | (i + k < data.size() ? static_cast<unsigned char>(data[i + k]) : 0u);
    }
    sum += word;
  }
  return sum;
}

// A TrueType program of two glyphs: .notdef, empty, and the box every character is drawn as.
// Its outline is what readers measure a character by; the layer is never painted.
std::string layer_font_program() {
  BigEndian head, hhea, maxp, hmtx, loca, glyf, cmap, name, post;
  head.u32(0x00010000).u32(0x00010000).u32(0).u32(0x5F0F3CF5).u16(3).u16(kUnitsPerEm);
  head.u32(0).u32(0).u32(0).u32(0);  // created, modified
  head.u16(0).u16(kDescent).u16(kAdvance).u16(kAscent).u16(0).u16(8).u16(2).u16(0).u16(0);
  hhea.u32(0x00010000).u16(kAscent).u16(kDescent).u16(0).u16(kAdvance).u16(0).u16(0).u16(kAdvance);
  hhea.u16(1).u16(0).u16(0).u16(0).u16(0).u16(0).u16(0).u16(0).u16(2);
  maxp.u32(0x00010000).u16(2).u16(4).u16(1).u16(0).u16(0).u16(2);
  for (int i = 0; i < 8; ++i) maxp.u16(0);
  hmtx.u16(kAdvance).u16(0).u16(kAdvance).u16(0);
  // One contour through the four corners, clockwise, coordinates as 16-bit deltas.
  glyf.u16(1).u16(0).u16(kDescent).u16(kAdvance).u16(kAscent).u16(3).u16(0);
  glyf.bytes += std::string(4, '\x01');
  glyf.u16(0).u16(0).u16(kAdvance).u16(0);
  glyf.u16(kDescent).u16(kAscent - kDescent).u16(0).u16(kDescent - kAscent);
  loca.u16(0).u16(0).u16(static_cast<int>(glyf.bytes.size() / 2));
  // Readers look the glyphs up through the font's CID map, not by character.
  cmap.u16(0).u16(1).u16(3).u16(1).u32(12);
  cmap.u16(4).u16(24).u16(0).u16(2).u16(2).u16(0).u16(0).u16(0xFFFF).u16(0).u16(0xFFFF).u16(1).u16(0);
  const std::string family = "QuorvelOcrLayer";
  name.u16(0).u16(1).u16(18).u16(3).u16(1).u16(0x409).u16(1).u16(static_cast<int>(family.size() * 2)).u16(0);
  for (char c : family) name.u16(static_cast<unsigned char>(c));
  post.u32(0x00030000).u32(0).u16(-100).u16(50).u32(1).u32(0).u32(0).u32(0).u32(0);

  const std::pair<const char*, std::string*> tables[] = {
      {"cmap", &cmap.bytes}, {"glyf", &glyf.bytes}, {"head", &head.bytes}, {"hhea", &hhea.bytes}, {"hmtx", &hmtx.bytes},
      {"loca", &loca.bytes}, {"maxp", &maxp.bytes}, {"name", &name.bytes}, {"post", &post.bytes}};
  const int count = static_cast<int>(std::size(tables));
  BigEndian font;
  font.u32(0x00010000).u16(count).u16(128).u16(3).u16(count * 16 - 128);
  uint32_t offset = 12 + 16 * static_cast<uint32_t>(count);
  std::string data;
  size_t head_at = 0;
  for (const auto& [tag, table] : tables) {
    font.bytes += tag;
    font.u32(table_checksum(*table)).u32(offset).u32(static_cast<uint32_t>(table->size()));
    if (std::string(tag) == "head") head_at = offset;
    std::string padded = *table;
    padded.resize((padded.size() + 3) / 4 * 4, '\0');
    data += padded;
    offset += static_cast<uint32_t>(padded.size());
  }
  font.bytes += data;
  BigEndian adjustment;
  adjustment.u32(0xB1B0AFBAu - table_checksum(font.bytes));
  font.bytes.replace(head_at + 8, 4, adjustment.bytes);
  return font.bytes;
}

// Character codes are UTF-16 units; surrogates are never written.
std::string to_unicode_cmap() {
  std::vector<int> highs;
  for (int h = 0; h < 256; ++h) {
    if (h < 0xD8 || h > 0xDF) highs.push_back(h);
  }
  std::string out =
      "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
      "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
  for (size_t i = 0; i < highs.size(); i += 100) {
    const size_t n = std::min<size_t>(100, highs.size() - i);
    out += std::to_string(n) + " beginbfrange\n";
    for (size_t k = i; k < i + n; ++k) {
      char line[32];
      std::snprintf(line, sizeof line, "<%02X00> <%02XFF> <%02X00>\n", highs[k], highs[k], highs[k]);
      out += line;
    }
    out += "endbfrange\n";
  }
  return out + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
}

QPDFObjectHandle flate_stream(QPDF& q, const std::string& data) {
  Pl_Buffer buffer("layer");
  Pl_Flate flate("layer", &buffer, Pl_Flate::a_deflate);
  flate.write(reinterpret_cast<const unsigned char*>(data.data()), data.size());
  flate.finish();
  const std::shared_ptr<Buffer> packed = buffer.getBufferSharedPointer();
  QPDFObjectHandle stream = QPDFObjectHandle::newStream(&q);
  stream.replaceStreamData(std::string(reinterpret_cast<const char*>(packed->getBuffer()), packed->getSize()),
                           QPDFObjectHandle::newName("/FlateDecode"), QPDFObjectHandle::newNull());
  return stream;
}

QPDFObjectHandle make_layer_font(QPDF& q) {
  const std::string program = layer_font_program();
  QPDFObjectHandle file = flate_stream(q, program);
  file.getDict().replaceKey("/Length1", QPDFObjectHandle::newInteger(static_cast<long long>(program.size())));
  const std::string bbox = "[0 " + std::to_string(kDescent) + ' ' + std::to_string(kAdvance) + ' ' + std::to_string(kAscent) + ']';
  QPDFObjectHandle descriptor = q.makeIndirectObject(QPDFObjectHandle::parse(
      std::string("<< /Type /FontDescriptor /FontName ") + kFontName + " /Flags 5 /FontBBox " + bbox +
      " /ItalicAngle 0 /Ascent " + std::to_string(kAscent) + " /Descent " + std::to_string(kDescent) +
      " /CapHeight " + std::to_string(kAscent) + " /StemV 80 >>"));
  descriptor.replaceKey("/FontFile2", file);
  std::string gids(size_t{2} << 16, '\0');
  for (size_t i = 1; i < gids.size(); i += 2) gids[i] = '\x01';
  QPDFObjectHandle cid = q.makeIndirectObject(QPDFObjectHandle::parse(
      std::string("<< /Type /Font /Subtype /CIDFontType2 /BaseFont ") + kFontName +
      " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /DW " + std::to_string(kAdvance) + " >>"));
  cid.replaceKey("/FontDescriptor", descriptor);
  cid.replaceKey("/CIDToGIDMap", flate_stream(q, gids));
  QPDFObjectHandle font = q.makeIndirectObject(QPDFObjectHandle::parse(
      std::string("<< /Type /Font /Subtype /Type0 /BaseFont ") + kFontName + " /Encoding /Identity-H >>"));
  font.replaceKey("/DescendantFonts", QPDFObjectHandle::newArray(std::vector<QPDFObjectHandle>{cid}));
  font.replaceKey("/ToUnicode", flate_stream(q, to_unicode_cmap()));
  return font;
}

bool is_layer_font(QPDFObjectHandle font) {
  return font.isIndirect() && font.isDictionary() && font.getKey("/Subtype").isNameAndEquals("/Type0") &&
         font.getKey("/BaseFont").isNameAndEquals(kFontName) && font.getKey("/Encoding").isNameAndEquals("/Identity-H");
}

// The font a layer written earlier put on some page, or a new one.
QPDFObjectHandle layer_font(QPDF& q, std::vector<QPDFPageObjectHelper>& pages) {
  for (QPDFPageObjectHelper& page : pages) {
    QPDFObjectHandle fonts = page.getAttribute("/Resources", false).getKeyIfDict("/Font");
    if (!fonts.isDictionary()) continue;
    for (const std::string& key : fonts.getKeys()) {
      if (is_layer_font(fonts.getKey(key))) return fonts.getKey(key);
    }
  }
  return make_layer_font(q);
}

// How many graphics states the page's content leaves saved: each needs its Q before the layer.
class OpenStates : public QPDFObjectHandle::TokenFilter {
 public:
  int depth = 0;
  void handleToken(QPDFTokenizer::Token const& token) override {
    if (token.getType() != QPDFTokenizer::tt_word) return;
    if (token.getValue() == "q") ++depth;
    if (token.getValue() == "Q" && depth > 0) --depth;
  }
};

// A page qpdf could not read would be written as a hole in the page tree.
bool all_pages_readable(QPDF& q) {
  for (QPDFObjectHandle page : q.getAllPages()) {
    if (!page.isDictionary()) return false;
  }
  return true;
}

}  // namespace

bool add_text_layers(const Bytes& in, std::string_view password, int page_count, const std::vector<int>& indices,
                     const std::function<std::string(size_t k, const std::string& font)>& content, Bytes& out) {
  return guarded(out, [&](Bytes& result) {
    QPDF q;
    open(q, in, password);
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(q).getAllPages();
    if (static_cast<int>(pages.size()) != page_count) return false;
    for (int index : indices) {
      if (index < 0 || index >= page_count) return false;
    }
    const QPDFObjectHandle font = layer_font(q, pages);
    for (size_t k = 0; k < indices.size(); ++k) {
      QPDFPageObjectHelper& page = pages[static_cast<size_t>(indices[k])];
      // Resources and fonts of this page only: dictionaries shared with other pages are copied.
      QPDFObjectHandle resources = page.getAttribute("/Resources", true);
      if (!resources.isDictionary()) {
        resources = QPDFObjectHandle::newDictionary();
        page.getObjectHandle().replaceKey("/Resources", resources);
      }
      QPDFObjectHandle fonts = resources.getKey("/Font");
      fonts = fonts.isDictionary() ? fonts.shallowCopy() : QPDFObjectHandle::newDictionary();
      resources.replaceKey("/Font", fonts);
      std::string name;
      for (const std::string& key : fonts.getKeys()) {
        if (fonts.getKey(key).getObjGen() == font.getObjGen()) name = key;
      }
      for (int n = 1; name.empty(); ++n) {
        const std::string candidate = "/QvOcr" + std::to_string(n);
        if (!fonts.hasKey(candidate)) name = candidate;
      }
      fonts.replaceKey(name, font);

      OpenStates states;
      try {
        page.filterContents(&states);
      } catch (...) {
        states.depth = 0;  // content qpdf cannot read: readers recover from it their own way
      }
      page.addPageContents(QPDFObjectHandle::newStream(&q, "q\n"), true);
      std::string closing;
      for (int i = 0; i <= states.depth; ++i) closing += "Q\n";
      page.addPageContents(flate_stream(q, closing + content(k, name.substr(1))), false);
    }
    // The pages' own content stays byte for byte, and images cost only their copy.
    return all_pages_readable(q) && write_preserving(q, result);
  });
}

}  // namespace quorvel::qpdf_bridge
