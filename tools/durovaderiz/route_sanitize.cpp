// POST /pdf/sanitize: removes what a document can do by itself (scripts, automatic and launch
// actions, form submission) and what it carries along (attached files, metadata), and says what
// it removed in X-Removed.
#include <qpdf/QPDFNameTreeObjectHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "pdf_io.h"
#include "routes.h"

namespace durovaderiz {

namespace {

struct Removed {
  int javascript = 0;
  int open_action = 0;
  int additional_actions = 0;
  int launch = 0;
  int submit = 0;
  int embedded_files = 0;
  int attachment_annotations = 0;
  int metadata = 0;

  std::string text() const {
    std::string out;
    auto item = [&out](const char* name, int n) {
      if (n == 0) return;
      if (!out.empty()) out += ", ";
      out += name;
      out += ": " + std::to_string(n);
    };
    item("JavaScript", javascript);
    item("OpenAction", open_action);
    item("AA", additional_actions);
    item("Launch", launch);
    item("SubmitForm", submit);
    item("EmbeddedFiles", embedded_files);
    item("FileAttachment", attachment_annotations);
    item("Metadata", metadata);
    return out;
  }
};

// Counts the action if it is one we remove; true when it is.
bool unwanted_action(QPDFObjectHandle action, Removed& r) {
  if (!action.isDictionary()) return false;
  QPDFObjectHandle s = action.getKey("/S");
  if (s.isNameAndEquals("/JavaScript")) return ++r.javascript, true;
  if (s.isNameAndEquals("/Launch")) return ++r.launch, true;
  if (s.isNameAndEquals("/SubmitForm")) return ++r.submit, true;
  return false;
}

// Cleans one dictionary and the direct objects inside it; indirect ones are visited on their own.
void clean(QPDFObjectHandle oh, Removed& r, int depth) {
  if (depth > 64) return;
  if (oh.isStream()) oh = oh.getDict();
  if (oh.isArray()) {
    for (QPDFObjectHandle item : oh.getArrayAsVector())
      if (!item.isIndirect()) clean(item, r, depth + 1);
    return;
  }
  if (!oh.isDictionary()) return;
  if (oh.hasKey("/AA")) {
    oh.removeKey("/AA");
    ++r.additional_actions;
  }
  if (unwanted_action(oh.getKey("/A"), r)) oh.removeKey("/A");
  QPDFObjectHandle next = oh.getKey("/Next");
  if (unwanted_action(next, r)) {
    oh.removeKey("/Next");
  } else if (next.isArray()) {
    for (int i = next.getArrayNItems() - 1; i >= 0; --i)
      if (unwanted_action(next.getArrayItem(i), r)) next.eraseItem(i);
  }
  for (const std::string& key : oh.getKeys()) {
    QPDFObjectHandle v = oh.getKey(key);
    if (!v.isIndirect()) clean(v, r, depth + 1);
  }
}

// Entries of a name tree; a damaged tree counts what could be read, it is removed all the same.
int tree_size(QPDFObjectHandle tree, QPDF& pdf) {
  int n = 0;
  try {
    for (auto it : QPDFNameTreeObjectHelper(tree, pdf)) {
      (void)it;
      ++n;
    }
  } catch (...) {
  }
  return n;
}

}  // namespace

Response handle_pdf_sanitize(const Request& req) {
  return with_pdf(req, [](QPDF& pdf) {
    Removed r;
    QPDFObjectHandle root = pdf.getRoot();
    QPDFObjectHandle names = root.getKey("/Names");
    if (names.isDictionary()) {
      if (names.hasKey("/JavaScript")) {
        r.javascript += std::max(tree_size(names.getKey("/JavaScript"), pdf), 1);
        names.removeKey("/JavaScript");
      }
      if (names.hasKey("/EmbeddedFiles")) {
        r.embedded_files += std::max(tree_size(names.getKey("/EmbeddedFiles"), pdf), 1);
        names.removeKey("/EmbeddedFiles");
      }
    }
    if (root.hasKey("/OpenAction")) {
      root.removeKey("/OpenAction");
      ++r.open_action;
    }
    if (root.hasKey("/Metadata")) {
      root.removeKey("/Metadata");
      ++r.metadata;
    }
    if (QPDFObjectHandle info = pdf.getTrailer().getKey("/Info"); !info.isNull()) {
      // An empty dictionary said nothing, so removing it is no news.
      if (!info.isDictionary() || !info.getKeys().empty()) ++r.metadata;
      pdf.getTrailer().removeKey("/Info");
    }
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
      QPDFObjectHandle annots = page.getObjectHandle().getKey("/Annots");
      if (!annots.isArray()) continue;
      for (int i = annots.getArrayNItems() - 1; i >= 0; --i) {
        QPDFObjectHandle a = annots.getArrayItem(i);
        if (a.isDictionary() && a.getKey("/Subtype").isNameAndEquals("/FileAttachment")) {
          annots.eraseItem(i);
          ++r.attachment_annotations;
        }
      }
    }
    // Every object, reachable or not: what is no longer referenced is not written anyway.
    for (QPDFObjectHandle oh : pdf.getAllObjects()) clean(oh, r, 0);

    QPDFWriter writer(pdf);
    Fields headers;
    if (const std::string text = r.text(); !text.empty()) headers.emplace_back("X-Removed", text);
    return pdf_reply(written(writer), std::move(headers));
  });
}

}  // namespace durovaderiz
