// POST /pdf/to-docx: a Word document from page texts: the title, one paragraph per text run,
// and a page break between pages.
#include <zip.h>

#include <memory>
#include <vector>

#include "pdf_io.h"
#include "routes.h"

namespace durovaderiz {

namespace {

// XML text: the five special characters escaped, and the control characters XML 1.0 cannot
// carry dropped.
std::string xml_text(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (const char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') break;
        out += c;
    }
  }
  return out;
}

// A run of text with its line breaks as Word line breaks.
std::string run(std::string_view text, std::string_view props = {}) {
  std::string out = "<w:r>" + std::string(props);
  size_t start = 0;
  while (true) {
    const size_t nl = text.find('\n', start);
    out += "<w:t xml:space=\"preserve\">" + xml_text(text.substr(start, nl - start)) + "</w:t>";
    if (nl == std::string_view::npos) break;
    out += "<w:br/>";
    start = nl + 1;
  }
  return out + "</w:r>";
}

std::string document_xml(const std::string& title, const std::vector<std::vector<std::string>>& pages) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>";
  xml += "<w:p>" + run(title, "<w:rPr><w:b/><w:sz w:val=\"36\"/></w:rPr>") + "</w:p>";
  for (size_t i = 0; i < pages.size(); ++i) {
    if (i > 0) xml += "<w:p><w:r><w:br w:type=\"page\"/></w:r></w:p>";
    for (const std::string& text : pages[i]) xml += "<w:p>" + run(text) + "</w:p>";
  }
  return xml + "<w:sectPr/></w:body></w:document>\n";
}

constexpr std::string_view kContentTypes =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
    "<Override PartName=\"/word/document.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
    "</Types>\n";

constexpr std::string_view kRels =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
    "Target=\"word/document.xml\"/></Relationships>\n";

struct SourceFree {
  void operator()(zip_source_t* s) const { zip_source_free(s); }
};

// The parts zipped in memory, in the order given; empty on failure.
std::string zipped(const std::vector<std::pair<const char*, std::string_view>>& parts) {
  zip_error_t error;
  zip_error_init(&error);
  std::unique_ptr<zip_source_t, SourceFree> buffer(zip_source_buffer_create(nullptr, 0, 0, &error));
  zip_error_fini(&error);
  if (!buffer) return {};
  zip_source_keep(buffer.get());
  zip_t* archive = zip_open_from_source(buffer.get(), ZIP_TRUNCATE, nullptr);
  if (!archive) {
    zip_source_free(buffer.get());
    return {};
  }
  for (const auto& [name, data] : parts) {
    zip_source_t* part = zip_source_buffer(archive, data.data(), data.size(), 0);
    if (!part || zip_file_add(archive, name, part, ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(part);
      zip_discard(archive);
      return {};
    }
  }
  if (zip_close(archive) < 0) {
    zip_discard(archive);
    return {};
  }
  zip_stat_t st;
  if (zip_source_stat(buffer.get(), &st) < 0 || !(st.valid & ZIP_STAT_SIZE) || zip_source_open(buffer.get()) < 0)
    return {};
  std::string out(st.size, '\0');
  const zip_int64_t got = zip_source_read(buffer.get(), out.data(), st.size);
  zip_source_close(buffer.get());
  if (got < 0 || static_cast<zip_uint64_t>(got) != st.size) return {};
  return out;
}

}  // namespace

Response handle_pdf_to_docx(const Request& req) {
  const std::optional<JSON> body = json_body(req);
  if (!body) return text_reply(400, "the body is not a JSON object");
  std::string title;
  const std::optional<JSON> t = json_member(*body, "title");
  if (!t || !t->getString(title)) return text_reply(400, "title is not a string");
  const std::optional<JSON> list = json_member(*body, "pages");
  if (!list || !list->isArray()) return text_reply(400, "pages is not an array");
  std::vector<std::vector<std::string>> pages;
  bool ok = true;
  list->forEachArrayItem([&](JSON page) {
    if (!ok || !page.isArray()) {
      ok = false;
      return;
    }
    std::vector<std::string>& runs = pages.emplace_back();
    page.forEachArrayItem([&](JSON text) {
      if (!ok || !text.getString(runs.emplace_back())) ok = false;
    });
  });
  if (!ok) return text_reply(400, "pages is not an array of arrays of strings");

  const std::string document = document_xml(title, pages);
  std::string docx = zipped({{"[Content_Types].xml", kContentTypes}, {"_rels/.rels", kRels}, {"word/document.xml", document}});
  if (docx.empty()) return text_reply(500, "the document could not be zipped");
  Response resp;
  resp.content_type = "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
  resp.body = std::move(docx);
  return resp;
}

}  // namespace durovaderiz
