// Embeds the fallback font into saved copies: PDFium's form layer names it in the appearances
// of fields whose own font lacks their characters, but writes it without its file, and other
// readers then draw those characters in whatever font they substitute, over each other.
#include "core/pdfium/qpdf_rewrite.h"

#include <hb-subset.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "core/pdfium/pdfium_fonts.h"

namespace quorvel::qpdf_bridge {

namespace {

struct HbDeleter {
  void operator()(hb_blob_t* b) const { hb_blob_destroy(b); }
  void operator()(hb_face_t* f) const { hb_face_destroy(f); }
  void operator()(hb_subset_input_t* i) const { hb_subset_input_destroy(i); }
};
template <typename T>
using Hb = std::unique_ptr<T, HbDeleter>;

// Field trees are untrusted: no deeper than this, and every node visited once.
constexpr int kMaxFieldDepth = 64;

void add_utf8(std::set<uint32_t>& out, const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    uint32_t cp = n == 1 ? c : c & (0x3F >> (n - 1));
    for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.insert(cp);
    i += static_cast<size_t>(n);
  }
}

// The characters of every field value: what appearances can draw in the fallback font.
void field_characters(QPDFObjectHandle field, int depth, std::set<QPDFObjGen>& seen, std::set<uint32_t>& out) {
  if (!field.isDictionary() || depth > kMaxFieldDepth) return;
  if (field.isIndirect() && !seen.insert(field.getObjGen()).second) return;
  for (const char* key : {"/V", "/DV"}) {
    QPDFObjectHandle v = field.getKey(key);
    if (v.isString()) add_utf8(out, v.getUTF8Value());
  }
  QPDFObjectHandle kids = field.getKey("/Kids");
  if (kids.isArray()) {
    for (QPDFObjectHandle kid : kids.aitems()) field_characters(kid, depth + 1, seen, out);
  }
}

// The font file cut down to the given characters; empty when that fails.
std::string subset(const std::string& file, const std::set<uint32_t>& chars) {
  Hb<hb_blob_t> blob(hb_blob_create(file.data(), static_cast<unsigned>(file.size()), HB_MEMORY_MODE_READONLY,
                                    nullptr, nullptr));
  Hb<hb_face_t> face(hb_face_create(blob.get(), 0));
  Hb<hb_subset_input_t> input(hb_subset_input_create_or_fail());
  if (!input) return {};
  hb_set_t* unicodes = hb_subset_input_unicode_set(input.get());
  for (uint32_t cp : chars) hb_set_add(unicodes, cp);
  Hb<hb_face_t> cut(hb_subset_or_fail(face.get(), input.get()));
  if (!cut) return {};
  Hb<hb_blob_t> data(hb_face_reference_blob(cut.get()));
  unsigned size = 0;
  const char* bytes = hb_blob_get_data(data.get(), &size);
  return bytes ? std::string(bytes, size) : std::string();
}

// The six capital letters that mark a subset's name, from what it holds.
std::string subset_tag(const std::set<uint32_t>& chars) {
  uint32_t h = 2166136261u;
  for (uint32_t cp : chars) h = (h ^ cp) * 16777619u;
  std::string tag;
  for (int i = 0; i < 6; ++i, h /= 26) tag += static_cast<char>('A' + h % 26);
  return tag;
}

bool lacks_file(QPDFObjectHandle descriptor) {
  return descriptor.isDictionary() && !descriptor.hasKey("/FontFile") && !descriptor.hasKey("/FontFile2") &&
         !descriptor.hasKey("/FontFile3");
}

}  // namespace

bool embed_fallback_fonts(QPDF& q) {
  std::vector<QPDFObjectHandle> fonts;
  for (QPDFObjectHandle o : q.getAllObjects()) {
    if (!o.isDictionary() || !o.getKey("/Type").isNameAndEquals("/Font") ||
        !o.getKey("/Subtype").isNameAndEquals("/TrueType"))
      continue;
    QPDFObjectHandle base = o.getKey("/BaseFont");
    if (base.isName() && pdfium::is_fallback_face(base.getName().substr(1)) && lacks_file(o.getKey("/FontDescriptor")))
      fonts.push_back(o);
  }
  if (fonts.empty()) return true;
  std::string file;
  if (!pdfium::read_fallback_font(file)) return false;

  std::set<uint32_t> chars;
  for (uint32_t c = 0x20; c < 0x7F; ++c) chars.insert(c);  // spaces and digits between the runs
  std::set<QPDFObjGen> seen;
  QPDFObjectHandle fields = q.getRoot().getKey("/AcroForm").getKey("/Fields");
  if (fields.isArray()) {
    for (QPDFObjectHandle f : fields.aitems()) field_characters(f, 0, seen, chars);
  }
  const std::string cut = subset(file, chars);
  if (cut.empty()) return false;
  const std::string name = "/" + subset_tag(chars) + "+" + pdfium::fallback_font_name();
  QPDFObjectHandle stream = QPDFObjectHandle::newStream(&q, cut);
  stream.getDict().replaceKey("/Length1", QPDFObjectHandle::newInteger(static_cast<long long>(cut.size())));
  for (QPDFObjectHandle font : fonts) {
    QPDFObjectHandle descriptor = font.getKey("/FontDescriptor");
    descriptor.replaceKey("/FontFile2", stream);
    descriptor.replaceKey("/FontName", QPDFObjectHandle::newName(name));
    font.replaceKey("/BaseFont", QPDFObjectHandle::newName(name));
  }
  return true;
}

}  // namespace quorvel::qpdf_bridge
