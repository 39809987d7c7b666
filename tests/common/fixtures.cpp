#include "common/fixtures.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace quorvel::test {

namespace {
std::string num(double v) {
  std::ostringstream os;
  os.imbue(std::locale::classic());
  os << v;
  return os.str();
}
}  // namespace

std::string pdf_literal(const std::string& text) {
  std::string out = "(";
  for (char c : text) {
    if (c == '(' || c == ')' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back(')');
  return out;
}

std::string build_pdf(const std::vector<std::string>& objects, const std::string& trailer_extra,
                      const std::string& header) {
  std::string out = header;
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R " +
         (trailer_extra.empty() ? "" : trailer_extra + " ") + ">>\nstartxref\n" + std::to_string(xref) +
         "\n%%EOF\n";
  return out;
}

std::string break_object(const std::string& pdf, int number, bool lost) {
  const std::string header = "\n" + std::to_string(number) + " 0 obj\n";
  const size_t at = pdf.find(header);
  const size_t xref = pdf.rfind("\nxref\n");
  if (at == std::string::npos || xref == std::string::npos) return {};
  // Entries are 20 bytes each, after "xref", the subsection line and the free entry 0.
  const size_t line = pdf.find('\n', xref + 6) + 1 + 20 * static_cast<size_t>(number);
  if (line + 20 > pdf.size()) return {};
  std::string out = pdf;
  char entry[12];
  std::snprintf(entry, sizeof entry, "%010zu", at + 1 + 5);
  out.replace(line, 10, entry);
  if (lost) out.replace(at + header.size() - 4, 3, "xbj");
  return out;
}

std::string make_pdf(const std::vector<PageSpec>& pages, const std::string& info) {
  // Objects: 1 catalog, 2 pages, 3 font, 4 info (optional), then two per page.
  std::vector<std::string> objs;
  const int first_page = 5;
  std::string kids;
  for (size_t i = 0; i < pages.size(); ++i) {
    kids += std::to_string(first_page + 2 * i) + " 0 R ";
  }
  objs.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objs.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
  objs.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  objs.push_back(info.empty() ? "<< >>" : info);
  for (size_t i = 0; i < pages.size(); ++i) {
    const PageSpec& p = pages[i];
    const std::string box =
        p.media_box.empty() ? "[0 0 " + num(p.width) + " " + num(p.height) + "]" : p.media_box;
    objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox " + box +
                   " /Resources << /Font << /F1 3 0 R >> >> /Contents " +
                   std::to_string(first_page + 2 * i + 1) + " 0 R " + p.extra + " >>");
    objs.push_back("<< /Length " + std::to_string(p.content.size()) + " >>\nstream\n" + p.content +
                   "\nendstream");
  }
  return build_pdf(objs, "/Info 4 0 R", "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n");
}

std::vector<std::string> forty_line_pages(int pages) {
  std::vector<std::string> objs;
  std::string kids;
  for (int i = 0; i < pages; ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
  objs.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objs.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  objs.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  for (int i = 0; i < pages; ++i) {
    std::string content = "BT /F1 11 Tf 60 750 Td 14 TL\n";
    for (int line = 0; line < 40; ++line)
      content += "(Page " + std::to_string(i + 1) + ", line " + std::to_string(line + 1) +
                 ": the quick brown fox jumps over the lazy dog.) '\n";
    content += "ET";
    objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                   "/Contents " + std::to_string(5 + 2 * i) + " 0 R >>");
    objs.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  }
  return objs;
}

std::string text_pdf(const std::vector<std::string>& page_texts) {
  std::vector<PageSpec> pages;
  for (const std::string& t : page_texts) {
    PageSpec p;
    p.content = "BT /F1 12 Tf 72 720 Td " + pdf_literal(t) + " Tj ET";
    pages.push_back(p);
  }
  return make_pdf(pages);
}

std::span<const std::byte> as_bytes(const std::string& s) {
  return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream os;
  os << f.rdbuf();
  return os.str();
}

bool write_file(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(f);
}

int run_program(const std::vector<std::string>& argv, std::string* out) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int pipefd[2];
  if (pipe(pipefd) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 2);
  posix_spawn_file_actions_addclose(&fa, pipefd[0]);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(pipefd[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = read(pipefd[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(pipefd[0]);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quorvel-test-XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string qpdf_encrypt(const std::string& pdf, const std::string& user_pw,
                         const std::string& owner_pw, int bits) {
  TempDir dir;
  write_file(dir.file("in.pdf"), pdf);
  std::vector<std::string> args{"qpdf", "--encrypt", user_pw, owner_pw, std::to_string(bits)};
  if (bits == 128) args.push_back("--use-aes=y");  // qpdf refuses RC4 unless told it may
  args.insert(args.end(), {"--", dir.file("in.pdf"), dir.file("out.pdf")});
  if (run_program(args) != 0) {
    return {};
  }
  return read_file(dir.file("out.pdf"));
}

std::string tree_pdf(const std::string& tree) {
  const std::string text = "BT /F1 12 Tf 72 720 Td (kid) Tj ET";
  return build_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages " + tree + " >>",
                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 5 0 R >> >> "
                    "/Contents 4 0 R >>",
                    "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream",
                    "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"});
}

std::string permissions_disagree(const std::string& encrypted) {
  // The number keeps its length, so the cross-reference table stays right.
  for (size_t at = encrypted.find("/P "); at != std::string::npos; at = encrypted.find("/P ", at + 1)) {
    size_t end = at + 3;
    if (end < encrypted.size() && encrypted[end] == '-') ++end;
    const size_t digits = end;
    while (end < encrypted.size() && std::isdigit(static_cast<unsigned char>(encrypted[end]))) ++end;
    if (end == digits) continue;
    std::string out = encrypted;
    out[end - 1] = out[end - 1] == '4' ? '8' : '4';
    return out;
  }
  return {};
}

std::string data_dir() {
  const char* d = std::getenv("QUORVEL_TEST_DATA");
  return d ? d : "tests/data";
}

}  // namespace quorvel::test
