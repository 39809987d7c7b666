// POST /pdf/add-form-fields: adds text fields and check boxes. Every field is checked before
// the document is touched, so a refused request changes nothing.
#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>
#include <vector>

#include <qpdf/QPDFPageDocumentHelper.hh>

#include "pdf_io.h"
#include "routes.h"

namespace durovaderiz {

namespace {

struct Field {
  bool checkbox = false;
  std::string name;
  size_t page = 0;
  double llx = 0, lly = 0, urx = 0, ury = 0;
};

std::string number(double v) {
  std::ostringstream s;
  s.imbue(std::locale::classic());
  s << v;
  return s.str();
}

QPDFObjectHandle stream(QPDF& pdf, double w, double h, const std::string& content) {
  QPDFObjectHandle s = QPDFObjectHandle::newStream(&pdf, content);
  QPDFObjectHandle dict = s.getDict();
  dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
  dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
  dict.replaceKey("/BBox", QPDFObjectHandle::newArray(std::vector<QPDFObjectHandle>{
                               QPDFObjectHandle::newReal(0.0, 2), QPDFObjectHandle::newReal(0.0, 2),
                               QPDFObjectHandle::newReal(w, 2), QPDFObjectHandle::newReal(h, 2)}));
  return s;
}

// The "on" look of a check box is a tick drawn with lines, so it needs no font.
std::string tick(double w, double h) {
  return "q 0 g 0 G " + number(std::max(1.0, std::min(w, h) / 8)) + " w " + number(w * 0.2) + " " +
         number(h * 0.5) + " m " + number(w * 0.42) + " " + number(h * 0.22) + " l " + number(w * 0.8) + " " +
         number(h * 0.8) + " l S Q\n";
}

std::string existing_name(QPDFObjectHandle field) {
  QPDFObjectHandle t = field.isDictionary() ? field.getKey("/T") : QPDFObjectHandle::newNull();
  return t.isString() ? t.getUTF8Value() : std::string();
}

}  // namespace

Response handle_pdf_add_form_fields(const Request& req) {
  return with_json_pdf(req, [](QPDF& pdf, const JSON& body) {
    const std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    QPDFObjectHandle root = pdf.getRoot();
    QPDFObjectHandle acroform = root.getKey("/AcroForm");
    std::set<std::string> names;
    if (acroform.isDictionary() && acroform.getKey("/Fields").isArray()) {
      for (QPDFObjectHandle f : acroform.getKey("/Fields").aitems()) names.insert(existing_name(f));
    }

    const std::optional<JSON> list = json_member(body, "fields");
    if (!list || !list->isArray()) return text_reply(400, "fields is not an array");
    std::vector<Field> fields;
    std::string refusal;
    list->forEachArrayItem([&](JSON item) {
      if (!refusal.empty()) return;
      Field f;
      std::string type;
      const std::optional<JSON> t = item.isDictionary() ? json_member(item, "type") : std::nullopt;
      const std::optional<JSON> n = item.isDictionary() ? json_member(item, "name") : std::nullopt;
      const std::optional<JSON> p = item.isDictionary() ? json_member(item, "page") : std::nullopt;
      const std::optional<JSON> r = item.isDictionary() ? json_member(item, "rect") : std::nullopt;
      if (!t || !t->getString(type) || (type != "text" && type != "checkbox")) {
        refusal = "unknown field type";
        return;
      }
      f.checkbox = type == "checkbox";
      if (!n || !n->getString(f.name) || f.name.empty()) {
        refusal = "a field has no name";
        return;
      }
      if (!names.insert(f.name).second) {
        refusal = "duplicate field name: " + f.name;
        return;
      }
      const std::optional<double> page = p ? json_number(*p) : std::nullopt;
      if (!page || *page != std::floor(*page) || *page < 0 || *page >= static_cast<double>(pages.size())) {
        refusal = "page out of range";
        return;
      }
      f.page = static_cast<size_t>(*page);
      std::vector<double> rect;
      if (r && r->isArray()) {
        r->forEachArrayItem([&](JSON v) {
          const std::optional<double> d = json_number(v);
          rect.push_back(d ? *d : NAN);
        });
      }
      if (rect.size() != 4 || !std::all_of(rect.begin(), rect.end(), [](double d) { return std::isfinite(d); })) {
        refusal = "rect is not four finite numbers";
        return;
      }
      f.llx = std::min(rect[0], rect[2]), f.urx = std::max(rect[0], rect[2]);
      f.lly = std::min(rect[1], rect[3]), f.ury = std::max(rect[1], rect[3]);
      fields.push_back(std::move(f));
    });
    if (!refusal.empty()) return text_reply(400, refusal);

    if (!acroform.isDictionary()) {
      acroform = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
      root.replaceKey("/AcroForm", acroform);
    }
    if (!acroform.getKey("/Fields").isArray()) acroform.replaceKey("/Fields", QPDFObjectHandle::newArray());
    acroform.replaceKey("/NeedAppearances", QPDFObjectHandle::newBool(true));
    if (!acroform.getKey("/DA").isString()) acroform.replaceKey("/DA", QPDFObjectHandle::newString("/Helv 0 Tf 0 g"));
    QPDFObjectHandle dr = acroform.getKey("/DR");
    if (!dr.isDictionary()) {
      dr = QPDFObjectHandle::newDictionary();
      acroform.replaceKey("/DR", dr);
    }
    QPDFObjectHandle fonts = dr.getKey("/Font");
    if (!fonts.isDictionary()) {
      fonts = QPDFObjectHandle::newDictionary();
      dr.replaceKey("/Font", fonts);
    }
    if (!fonts.hasKey("/Helv")) {
      fonts.replaceKey("/Helv", pdf.makeIndirectObject(QPDFObjectHandle::parse(
                                    "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")));
    }

    QPDFObjectHandle all = acroform.getKey("/Fields");
    for (const Field& f : fields) {
      QPDFObjectHandle page = pages[f.page].getObjectHandle();
      QPDFObjectHandle w = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
      w.replaceKey("/Type", QPDFObjectHandle::newName("/Annot"));
      w.replaceKey("/Subtype", QPDFObjectHandle::newName("/Widget"));
      w.replaceKey("/T", QPDFObjectHandle::newUnicodeString(f.name));
      w.replaceKey("/Rect", QPDFObjectHandle::newArray(std::vector<QPDFObjectHandle>{
                                QPDFObjectHandle::newReal(f.llx, 3), QPDFObjectHandle::newReal(f.lly, 3),
                                QPDFObjectHandle::newReal(f.urx, 3), QPDFObjectHandle::newReal(f.ury, 3)}));
      w.replaceKey("/F", QPDFObjectHandle::newInteger(4));
      w.replaceKey("/P", page);
      w.replaceKey("/MK", QPDFObjectHandle::parse("<< /BC [0 0 0] >>"));
      const double width = f.urx - f.llx, height = f.ury - f.lly;
      if (f.checkbox) {
        w.replaceKey("/FT", QPDFObjectHandle::newName("/Btn"));
        w.replaceKey("/V", QPDFObjectHandle::newName("/Off"));
        w.replaceKey("/AS", QPDFObjectHandle::newName("/Off"));
        QPDFObjectHandle normal = QPDFObjectHandle::newDictionary();
        normal.replaceKey("/On", stream(pdf, width, height, tick(width, height)));
        normal.replaceKey("/Off", stream(pdf, width, height, ""));
        QPDFObjectHandle ap = QPDFObjectHandle::newDictionary();
        ap.replaceKey("/N", normal);
        w.replaceKey("/AP", ap);
      } else {
        w.replaceKey("/FT", QPDFObjectHandle::newName("/Tx"));
        w.replaceKey("/DA", QPDFObjectHandle::newString("/Helv 0 Tf 0 g"));
        w.replaceKey("/V", QPDFObjectHandle::newUnicodeString(""));
      }
      QPDFObjectHandle annots = page.getKey("/Annots");
      if (!annots.isArray()) {
        annots = QPDFObjectHandle::newArray();
        page.replaceKey("/Annots", annots);
      }
      annots.appendItem(w);
      all.appendItem(w);
    }
    QPDFWriter writer(pdf);
    return pdf_reply(written(writer));
  });
}

}  // namespace durovaderiz
