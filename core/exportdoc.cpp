#include "core/exportdoc.h"
#include "core/c_locale.h"


namespace quorvel::exportdoc {

namespace {

void append_escaped(std::string& out, const std::string& text) {
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      default: out.push_back(c);
    }
  }
}

}  // namespace

std::string to_text(const IDocument& doc) {
  std::string out;
  const int n = doc.page_count();
  for (int p = 1; p <= n; ++p) {
    out += "--- стр. ";
    append_int(out, p);
    out += " ---\n";
    std::string page;
    for (const TextRun& run : doc.extract_text(p - 1).runs) {
      if (run.text.empty()) continue;
      if (!page.empty()) page += '\n';
      page += run.text;
    }
    out += page;
    if (p < n) out += "\n\n";
  }
  if (!out.empty()) out += '\n';
  return out;
}

std::string to_html(const IDocument& doc, bool word) {
  std::string out = "<!DOCTYPE html>\n";
  out += word ? "<html xmlns:o='urn:schemas-microsoft-com:office:office' "
                "xmlns:w='urn:schemas-microsoft-com:office:word' "
                "xmlns='http://www.w3.org/TR/REC-html40'>\n"
              : "<html>\n";
  out += "<head><meta charset='utf-8'><title>Quorvel export</title>\n";
  out += "<style>body{font-family:sans-serif;margin:2em}section{margin:0 0 2em}h2{color:#555;"
         "font-size:0.9em}p{margin:0.2em 0}</style></head>\n<body>\n";
  const int n = doc.page_count();
  for (int p = 1; p <= n; ++p) {
    out += "<section><h2>Страница ";
    append_int(out, p);
    out += "</h2>\n";
    for (const TextRun& run : doc.extract_text(p - 1).runs) {
      if (run.text.empty()) continue;
      out += "<p>";
      append_escaped(out, run.text);
      out += "</p>\n";
    }
    out += "</section>\n";
  }
  out += "</body>\n</html>\n";
  return out;
}

}  // namespace quorvel::exportdoc
