#include "common/manual_like.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/fixtures.h"

namespace quorvel::test {

namespace {

struct OutlineNode {
  std::string title;
  int page = 0;
  int parent = -1;
  std::vector<int> kids;
};

std::vector<OutlineNode> outline_tree(int pages, int entries) {
  std::vector<OutlineNode> nodes(1);  // 0: the outline dictionary
  const int per_chapter = 1 + 7 + 7 * 6;
  const int chapters = entries > 0 ? std::max(1, (entries + per_chapter - 1) / per_chapter) : 0;
  auto add = [&](int parent, std::string title) {
    nodes.push_back({std::move(title), 0, parent, {}});
    const int id = static_cast<int>(nodes.size()) - 1;
    nodes[static_cast<size_t>(parent)].kids.push_back(id);
    return id;
  };
  for (int c = 0; c < chapters && static_cast<int>(nodes.size()) <= entries; ++c) {
    const int ch = add(0, "Chapter " + std::to_string(c + 1));
    for (int s = 0; s < 7 && static_cast<int>(nodes.size()) <= entries; ++s) {
      const std::string sec_no = std::to_string(c + 1) + "." + std::to_string(s + 1);
      const int sec = add(ch, "Section " + sec_no);
      for (int t = 0; t < 6 && static_cast<int>(nodes.size()) <= entries; ++t)
        add(sec, "Topic " + sec_no + "." + std::to_string(t + 1));
    }
  }
  const int total = static_cast<int>(nodes.size()) - 1;
  for (int i = 1; i <= total; ++i)
    nodes[static_cast<size_t>(i)].page = static_cast<int>(int64_t{i - 1} * pages / std::max(1, total));
  return nodes;
}

const char* const kWords[] = {"the",     "function", "returns", "a",      "value",   "of",     "type",
                              "asn1",    "node",     "which",   "holds",  "parser",  "state",  "and",
                              "element", "names",    "with",    "their",  "tags",    "for",    "each",
                              "call",    "in",       "order",   "library", "structure", "is", "defined"};

// One line as TeX writes it: words in a TJ array, the gaps as negative adjustments.
std::string tj_line(int page, int line) {
  std::string s = "[(" + std::to_string(page + 1) + "." + std::to_string(line + 1) + ")";
  const size_t n = sizeof kWords / sizeof *kWords;
  for (int w = 0; w < 9; ++w) {
    const size_t k = (static_cast<size_t>(page) * 7 + static_cast<size_t>(line) * 3 + static_cast<size_t>(w) * 5) % n;
    s += "-333(" + std::string(kWords[k]) + ")";
  }
  return s + "]TJ";
}

}  // namespace

int manual_outline_entries(const ManualShape& shape) {
  return static_cast<int>(outline_tree(std::max(1, shape.pages), shape.outline_entries).size()) - 1;
}

std::string manual_like_pdf(const ManualShape& shape) {
  const int pages = std::max(1, shape.pages);
  // Objects: 1 catalog, 2 page tree, 3 font, then per page: page, content, links.
  std::vector<std::string> objs(3);
  objs[2] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";
  std::vector<int> page_obj(static_cast<size_t>(pages));
  const int links_per_page = 20;
  // Page objects come first so that links to later pages know their numbers.
  const int per_page = 2 + links_per_page;
  for (int i = 0; i < pages; ++i) page_obj[static_cast<size_t>(i)] = 4 + per_page * i;
  std::string kids;
  for (int i = 0; i < pages; ++i) {
    const int me = page_obj[static_cast<size_t>(i)];
    kids += std::to_string(me) + " 0 R ";
    std::string annots;
    for (int k = 0; k < links_per_page; ++k) annots += std::to_string(me + 2 + k) + " 0 R ";
    objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                   "/Contents " + std::to_string(me + 1) + " 0 R /Annots [" + annots + "] >>");
    std::string content = "BT /F1 10 Tf 72 740 Td 16 TL\n";
    for (int line = 0; line < 40; ++line) content += tj_line(i, line) + " T*\n";
    content += "ET";
    objs.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    for (int k = 0; k < links_per_page; ++k) {
      const int line = 2 * k;
      const double top = 740 + 10 - 16.0 * line, bottom = top - 12;
      const std::string rect = "/Rect [72 " + std::to_string(static_cast<int>(bottom)) + " 300 " +
                               std::to_string(static_cast<int>(top)) + "]";
      if (k % 2 == 0) {
        objs.push_back("<< /Type /Annot /Subtype /Link " + rect + " /Border [0 0 0] /A << /S /URI /URI (https://example.org/manual/" +
                       std::to_string(i + 1) + "/" + std::to_string(k) + ".html) >> >>");
      } else {
        const int target = (i * 13 + k * 101) % pages;
        objs.push_back("<< /Type /Annot /Subtype /Link " + rect + " /Border [0 0 0] /Dest [" +
                       std::to_string(page_obj[static_cast<size_t>(target)]) + " 0 R /XYZ 72 720 null] >>");
      }
    }
  }
  objs[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";

  const std::vector<OutlineNode> nodes = outline_tree(pages, shape.outline_entries);
  const int total = static_cast<int>(nodes.size()) - 1;
  const int base = static_cast<int>(objs.size()) + 1;  // object number of node 0
  auto ref = [&](int node) { return std::to_string(base + node) + " 0 R"; };
  std::vector<int> below(nodes.size(), 0);  // open items count all their descendants
  for (int i = total; i >= 0; --i)
    for (int k : nodes[static_cast<size_t>(i)].kids) below[static_cast<size_t>(i)] += 1 + below[static_cast<size_t>(k)];
  for (int i = 0; total > 0 && i <= total; ++i) {
    const OutlineNode& n = nodes[static_cast<size_t>(i)];
    std::string d = i == 0 ? "<< /Type /Outlines"
                           : "<< /Title (" + n.title + ") /Parent " + ref(n.parent) + " /Dest [" +
                                 std::to_string(page_obj[static_cast<size_t>(n.page)]) + " 0 R /XYZ null null null]";
    if (i != 0) {
      const std::vector<int>& sib = nodes[static_cast<size_t>(n.parent)].kids;
      const auto at = std::find(sib.begin(), sib.end(), i) - sib.begin();
      if (at > 0) d += " /Prev " + ref(sib[static_cast<size_t>(at - 1)]);
      if (static_cast<size_t>(at + 1) < sib.size()) d += " /Next " + ref(sib[static_cast<size_t>(at + 1)]);
    }
    if (!n.kids.empty())
      d += " /First " + ref(n.kids.front()) + " /Last " + ref(n.kids.back()) + " /Count " +
           std::to_string(below[static_cast<size_t>(i)]);
    objs.push_back(d + " >>");
  }
  objs[0] = total > 0 ? "<< /Type /Catalog /Pages 2 0 R /Outlines " + ref(0) + " /PageMode /UseOutlines >>"
                      : "<< /Type /Catalog /Pages 2 0 R >>";
  const std::string plain = build_pdf(objs, "", "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n");
  if (!shape.object_streams) return plain;

  TempDir dir;
  if (!write_file(dir.file("plain.pdf"), plain)) return {};
  if (run_program({"qpdf", "--object-streams=generate", "--compress-streams=y", "--", dir.file("plain.pdf"),
                   dir.file("manual.pdf")}) != 0)
    return {};
  return read_file(dir.file("manual.pdf"));
}

}  // namespace quorvel::test
