// POST /pdf/set-meta: writes the document information entries the query names, and only those.
#include <qpdf/QUtil.hh>

#include "pdf_io.h"
#include "routes.h"

namespace durovaderiz {

namespace {

bool valid_utf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t len = 0;
    char32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > s.size()) return false;
    for (size_t k = 1; k < len; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

// ASCII as it stands; anything else as UTF-16BE with its byte-order mark.
QPDFObjectHandle info_string(const std::string& value) {
  const bool ascii = std::all_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return QPDFObjectHandle::newString(ascii ? value : QUtil::utf8_to_utf16(value));
}

}  // namespace

Response handle_pdf_set_meta(const Request& req) {
  static const std::pair<const char*, const char*> kEntries[] = {
      {"title", "/Title"}, {"author", "/Author"}, {"subject", "/Subject"}, {"keywords", "/Keywords"}};
  for (const auto& [item, key] : kEntries) {
    if (const std::string* v = req.query_value(item); v && !valid_utf8(*v))
      return text_reply(400, std::string(item) + " is not UTF-8");
  }
  return with_pdf(req, [&req](QPDF& pdf) {
    QPDFObjectHandle trailer = pdf.getTrailer();
    QPDFObjectHandle info = trailer.getKey("/Info");
    if (!info.isDictionary()) {
      info = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
      trailer.replaceKey("/Info", info);
    }
    for (const auto& [item, key] : kEntries) {
      if (const std::string* v = req.query_value(item)) info.replaceKey(key, info_string(*v));
    }
    QPDFWriter writer(pdf);
    return pdf_reply(written(writer));
  });
}

}  // namespace durovaderiz
