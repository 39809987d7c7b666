// The built application in batch mode on generated folders: which files it takes, what each
// operation writes, its console lines and its exit status.
#include <sstream>

#include <gtest/gtest.h>
#include <unistd.h>

#include "batch/batch_fixture.h"
#include "common/manual_like.h"

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;

std::string summary(const std::string& op, int ok, int total, const std::string& out) {
  return "Пакетная обработка (" + op + "): успешно " + std::to_string(ok) + " из " + std::to_string(total) +
         " → " + out + "\n";
}

TEST(BatchInputs, TakesRegularPdfFilesOfTheFolderOnly) {
  Sandbox s;
  s.put("A.PDF", text_pdf({"upper"}));
  s.put("b.pdf", text_pdf({"lower"}));
  s.put("notes.txt", "not a pdf");
  s.put("c.pdf.bak", text_pdf({"backup"}));
  s.put("d.pdfx", text_pdf({"x"}));
  s.put(".pdf", text_pdf({"hidden"}));
  fs::create_directory(s.in("old.pdf"));
  write_file(s.in("old.pdf/inner.pdf"), text_pdf({"inner"}));
  fs::create_symlink("b.pdf", s.in("link.pdf"));
  fs::create_symlink("missing.pdf", s.in("dangling.pdf"));
  const std::string out = s.path("out");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "text", "--batch-out", out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> lines = sorted_lines(r.out);
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_EQ(r.out.substr(r.out.rfind("Пакетная")), summary("text", 3, 3, out));
  for (const char* name : {"A.PDF", "b.pdf", "link.pdf"}) {
    EXPECT_NE(r.out.find(std::string("] ") + name + "\n"), std::string::npos) << name;
  }
  std::vector<std::string> written = listing(out);
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{"A.txt", "b.txt", "link.txt"}));
  EXPECT_NE(read_file(out + "/A.txt").find("upper"), std::string::npos);
}

TEST(BatchInputs, AnUnreadableEntryIsAFailedFileAndTheRunGoesOn) {
  Sandbox s;
  s.put("good.pdf", text_pdf({"fine"}));
  fs::create_symlink("loop.pdf", s.in("loop.pdf"));  // its type cannot be read
  s.put("empty.pdf", "");
  const std::string out = s.path("out");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "text", "--batch-out", out});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("  пропуск (пусто): " + s.in("loop.pdf") + "\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("  пропуск (пусто): " + s.in("empty.pdf") + "\n"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find(summary("text", 1, 3, out)), std::string::npos) << r.out;
  EXPECT_TRUE(exists(out + "/good.txt"));
}

TEST(BatchInputs, RefusesWhatIsNotAFolder) {
  Sandbox s;
  s.put("file.pdf", text_pdf({"x"}));
  for (const std::string& dir : {s.in("file.pdf"), s.path("missing")}) {
    for (const char* op : {"text", "verify", "merge", "encrypt"}) {
      const std::string out = s.path(std::string("out-") + op);
      const RunResult r =
          s.quorvel({"--batch", dir, "--batch-op", op, "--batch-out", out, "--batch-pw", "pw"});
      EXPECT_EQ(r.status, 1) << op;
      EXPECT_EQ(r.err, "Не папка: " + dir + "\n") << op;
      EXPECT_EQ(r.out, "") << op;
      EXPECT_FALSE(exists(out)) << op;
    }
  }
}

TEST(BatchInputs, AnEmptyFolderFailsWithAnEmptySummary) {
  Sandbox s;
  const std::string out = s.path("deep/er/out");
  const RunResult text = s.quorvel({"--batch", s.in(), "--batch-op", "text", "--batch-out", out});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.out, summary("text", 0, 0, out));
  EXPECT_TRUE(fs::is_directory(out));

  const RunResult verify = s.quorvel({"--batch", s.in(), "--batch-op", "verify", "--batch-out", out});
  EXPECT_EQ(verify.status, 1);
  EXPECT_EQ(verify.out, "Проверка корпуса: открыто 0 из 0 (0.0%) → " + out + "/open-report.csv\n");
  EXPECT_EQ(read_file(out + "/open-report.csv"), "file,opened,pages\n");
}

TEST(BatchOperations, ExportsEveryFile) {
  Sandbox s;
  s.put("two.pdf", text_pdf({"First page", "Second page"}));
  s.put("a.b.pdf", text_pdf({"Fish & <chips>"}));
  const std::string out = s.path("out");
  struct Case {
    const char* op;
    const char* ext;
  } cases[] = {{"text", ".txt"}, {"html", ".html"}, {"doc", ".doc"}};
  for (const Case& c : cases) {
    const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", c.op, "--batch-out", out});
    EXPECT_EQ(r.status, 0) << c.op << r.err;
    EXPECT_NE(r.out.find(summary(c.op, 2, 2, out)), std::string::npos) << r.out;
    const std::string two = read_file(out + "/two" + c.ext);
    const std::string ab = read_file(out + "/a.b" + c.ext);
    if (std::string(c.op) == "text") {
      EXPECT_EQ(two, "--- стр. 1 ---\nFirst page\n\n--- стр. 2 ---\nSecond page\n");
      EXPECT_EQ(ab, "--- стр. 1 ---\nFish & <chips>\n");
    } else {
      EXPECT_EQ(two.rfind("<!DOCTYPE html>\n", 0), 0u) << c.op;
      EXPECT_NE(two.find("<section><h2>Страница 2</h2>\n<p>Second page</p>\n</section>"), std::string::npos);
      EXPECT_NE(ab.find("<p>Fish &amp; &lt;chips&gt;</p>"), std::string::npos) << ab;
      EXPECT_EQ(two.find("xmlns:w=") != std::string::npos, std::string(c.op) == "doc") << c.op;
    }
  }
}

// A page no reader finds must not vanish from an export that says it succeeded.
TEST(BatchOperations, APageThatCannotBeReadFailsItsFile) {
  Sandbox s;
  s.put("lost.pdf", test::break_object(text_pdf({"First page", "Second page"}), 7, true));
  s.put("sound.pdf", text_pdf({"Only page"}));
  const std::string out = s.path("out");
  for (const char* op : {"text", "html", "doc", "extract-csv"}) {
    const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", op, "--batch-out", out});
    EXPECT_EQ(r.status, 1) << op;
    EXPECT_NE(r.err.find("  не читается стр. 2: " + s.in() + "/lost.pdf\n"), std::string::npos) << op << r.err;
    EXPECT_NE(r.out.find(summary(op, 1, 2, out)), std::string::npos) << op << r.out;
  }
  EXPECT_FALSE(std::filesystem::exists(out + "/lost.txt"));
  EXPECT_TRUE(std::filesystem::exists(out + "/sound.txt"));
}

TEST(BatchOperations, WritesEntityCsvOverTheWholeDocument) {
  Sandbox s;
  s.put("a.b.pdf", text_pdf({"Mail ivan.petrov@example.com on 01.02.2024, total 1 234,56",
                             "Call +7 (900) 123-45-67 or ivan.petrov@example.com"}));
  s.put("plain.pdf", text_pdf({"nothing to see"}));
  const std::string out = s.path("out");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-out", out});  // extract-csv by default
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(summary("extract-csv", 2, 2, out)), std::string::npos) << r.out;
  EXPECT_EQ(read_file(out + "/a.b.csv"),
            "kind,value\n\"Email\",\"ivan.petrov@example.com\"\n\"Телефон\",\"+7 (900) 123-45-67\"\n"
            "\"Дата\",\"01.02.2024\"\n\"Сумма\",\"1 234,56\"\n");
  EXPECT_EQ(read_file(out + "/plain.csv"), "kind,value\n");
}

TEST(BatchOperations, RedactsPersonalDataIntoFullCopies) {
  Sandbox s;
  const std::string secret = text_pdf({"Keep this page", "Write to ivan.petrov@example.com today"});
  s.put("secret.pdf", secret);
  s.put("clean.pdf", text_pdf({"nothing personal here"}));
  const std::string out = s.path("out");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "redact", "--batch-out", out});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = sorted_lines(r.out);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "    вычеркнуто фрагментов: 0"), 1) << r.out;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "    вычеркнуто фрагментов: 1"), 1) << r.out;
  const std::string redacted = pdf_text(out + "/secret.pdf");
  EXPECT_EQ(redacted.find("example.com"), std::string::npos) << redacted;
  EXPECT_NE(redacted.find("Keep this page"), std::string::npos) << redacted;
  EXPECT_EQ(pdf_pages(out + "/secret.pdf"), 2);
  EXPECT_NE(pdf_text(out + "/clean.pdf").find("nothing personal here"), std::string::npos);
  EXPECT_EQ(read_file(s.in("secret.pdf")), secret);
}

TEST(BatchOperations, RedactionOfAManualKeepsEveryOtherWordInPlace) {
  // Lines as TeX writes them, each numbered: "2.15" and the like read as amounts and go; every
  // other word of every line stays, spaced as it was.
  Sandbox s;
  s.put("manual.pdf", manual_like_pdf({3, 10, true}));
  const std::string out = s.path("out");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "redact", "--batch-out", out});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream before(pdf_text(s.in("manual.pdf")));
  const std::string after = pdf_text(out + "/manual.pdf");
  int amounts = 0, lines = 0;
  for (std::string line; std::getline(before, line);) {
    const size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    ++lines;
    const std::string label = line.substr(0, space);
    const bool amount = label.size() >= 4 && label[label.size() - 3] == '.';
    amounts += amount;
    const std::string expected = amount ? line.substr(space + 1) : line;
    EXPECT_NE(after.find(expected), std::string::npos) << expected;
    if (amount) {
      EXPECT_EQ(after.find(label + " "), std::string::npos) << label;
    }
  }
  EXPECT_EQ(lines, 120);
  EXPECT_EQ(amounts, 3 * 31);
}

TEST(BatchOperations, RedactionThatLeavesDataReadableWritesNoCopy) {
  // The address is also drawn by a free-text annotation's appearance over it, which the engine
  // cannot take text out of: the file fails, and no copy with the address readable under a
  // black box is written.
  Sandbox s;
  const std::string line = "Write to ivan.petrov@example.com today";
  const std::string content = "BT /F1 12 Tf 72 720 Td (" + line + ") Tj ET";
  const std::string ap = "BT /F1 12 Tf 2 5 Td (" + line + ") Tj ET";
  s.put("annotated.pdf",
        build_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
                   "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
                   "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                   "/Contents 5 0 R /Annots [6 0 R] >>",
                   "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
                   "<< /Type /Annot /Subtype /FreeText /Rect [70 712 330 732] /DA (/F1 12 Tf 0 g) /AP << /N 7 0 R >> >>",
                   "<< /Type /XObject /Subtype /Form /BBox [0 0 260 20] /Resources << /Font << /F1 3 0 R >> >> "
                   "/Length " + std::to_string(ap.size()) + " >>\nstream\n" + ap + "\nendstream"}));
  s.put("plain.pdf", text_pdf({"Mail ivan.petrov@example.com now"}));
  const std::string out = s.path("out");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "redact", "--batch-out", out});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "  вычеркнуть не удалось (стр. 1): " + s.in("annotated.pdf") + "\n");
  EXPECT_NE(r.out.find(summary("redact", 1, 2, out)), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4) << r.out;  // two names, one count, the summary
  EXPECT_EQ(listing(out), std::vector<std::string>{"plain.pdf"});
  EXPECT_EQ(pdf_text(out + "/plain.pdf").find("example.com"), std::string::npos);
}

TEST(BatchOperations, RedactionFailsEveryFileWhoseValueAReaderStillSees) {
  // What the window refuses, the batch fails: a value in a string split over two content
  // streams, one in a text array that PDFium skips and poppler draws, one named by a link on
  // another page. The page it fails on is said, and no copy is written.
  Sandbox s;
  auto one_page = [](const std::vector<std::string>& streams, const std::string& annots = "") {
    std::string refs;
    for (size_t i = 0; i < streams.size(); ++i) refs += std::to_string(5 + i) + " 0 R ";
    std::vector<std::string> objs{
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> /Contents [" +
            refs + "]" + annots + " >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"};
    for (const std::string& c : streams)
      objs.push_back("<< /Length " + std::to_string(c.size()) + " >>\nstream\n" + c + "\nendstream");
    return build_pdf(objs);
  };
  s.put("split.pdf", one_page({"BT /F1 12 Tf 72 700 Td (ivan.petrov@exa", "mple.com) Tj ET"}));
  s.put("array.pdf", one_page({"BT /F1 12 Tf 72 720 Td (Paid 12.50) Tj ET BT /F1 12 Tf 72 650 Td "
                               "[(Hel) /Name (lo) << /A 1 >> true null [1 2] (ivan.petrov@example.com) 1e999 (x)] TJ ET"}));
  const std::string links = make_pdf(
      {PageSpec{612, 792, "BT /F1 12 Tf 72 720 Td (Write to ivan.petrov@example.com) Tj ET", "", ""},
       PageSpec{612, 792, "BT /F1 12 Tf 72 720 Td (Contact) Tj ET",
                "/Annots [<< /Type /Annot /Subtype /Link /Rect [72 718 200 730] /A << /S /URI "
                "/URI (mailto:ivan.petrov@example.com) >> >>]",
                ""}});
  s.put("link.pdf", links);
  const std::string out = s.path("out");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "redact", "--batch-out", out});
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> errors = sorted_lines(r.err);
  EXPECT_EQ(errors, (std::vector<std::string>{"  вычеркнуть не удалось (стр. 1): " + s.in("array.pdf"),
                                              "  вычеркнуть не удалось (стр. 1): " + s.in("split.pdf"),
                                              "  вычеркнуть не удалось (стр. 2): " + s.in("link.pdf")}))
      << r.err;
  EXPECT_TRUE(listing(out).empty());
}

TEST(BatchOperations, UnknownOperationFailsEveryFileThatOpens) {
  Sandbox s;
  s.put("one.pdf", text_pdf({"1"}));
  s.put("two.pdf", text_pdf({"2"}));
  const std::string out = s.path("out");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "Text", "--batch-out", out});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Неизвестная операция: Text\nНеизвестная операция: Text\n");
  std::vector<std::string> expected = {"[1] " + listing(s.in())[0], "[2] " + listing(s.in())[1],
                                       "Пакетная обработка (Text): успешно 0 из 2 → " + out};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted_lines(r.out), expected);
  EXPECT_TRUE(fs::is_directory(out));
  EXPECT_TRUE(fs::is_empty(out));
}

TEST(BatchOperations, RefusesOutputsThatWouldCollide) {
  Sandbox s;
  const std::string upper = text_pdf({"upper"});
  s.put("report.pdf", text_pdf({"lower"}));
  s.put("report.PDF", upper);
  s.put("other.pdf", text_pdf({"other"}));
  const std::string out = s.path("out");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "text", "--batch-out", out});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(sorted_lines(r.err),
            (std::vector<std::string>{"  пропуск (имя вывода совпадает с другим файлом): " + s.in("report.PDF"),
                                      "  пропуск (имя вывода совпадает с другим файлом): " + s.in("report.pdf")}));
  EXPECT_NE(r.out.find(summary("text", 1, 3, out)), std::string::npos);
  EXPECT_EQ(listing(out), std::vector<std::string>{"other.txt"});

  // Into the input folder itself (named another way): only outputs that would replace an input
  // are refused. report.PDF and report.pdf share the output name report.pdf as well.
  const std::string same = s.in() + "/.";
  const RunResult red = s.quorvel({"--batch", s.in(), "--batch-op", "redact", "--batch-out", same});
  EXPECT_EQ(red.status, 1);
  EXPECT_EQ(sorted_lines(red.err),
            (std::vector<std::string>{"  пропуск (вывод заменил бы исходный файл): " + s.in("other.pdf"),
                                      "  пропуск (имя вывода совпадает с другим файлом): " + s.in("report.PDF"),
                                      "  пропуск (имя вывода совпадает с другим файлом): " + s.in("report.pdf")}));
  EXPECT_EQ(read_file(s.in("report.PDF")), upper);

  fs::remove(s.in("report.PDF"));
  const RunResult txt = s.quorvel({"--batch", s.in(), "--batch-op", "text", "--batch-out", same});
  EXPECT_EQ(txt.status, 0) << txt.err;
  EXPECT_TRUE(exists(s.in("report.txt")));
}

TEST(BatchOperations, UnwritableOutputCountsAsFailure) {
  Sandbox s;
  s.put("one.pdf", text_pdf({"1"}));
  write_file(s.path("blocker"), "a file where a folder should be");
  const std::string out = s.path("blocker") + "/out";
  for (const char* op : {"text", "extract-csv", "redact"}) {
    const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", op, "--batch-out", out});
    EXPECT_EQ(r.status, 1) << op;
    EXPECT_NE(r.out.find(summary(op, 0, 1, out)), std::string::npos) << op << r.out;
  }
  const RunResult v = s.quorvel({"--batch", s.in(), "--batch-op", "verify", "--batch-out", out});
  EXPECT_EQ(v.status, 1);
  EXPECT_EQ(v.err, "Не удалось записать отчёт: " + out + "/open-report.csv\n");
  const RunResult m = s.quorvel({"--batch", s.in(), "--batch-op", "merge", "--batch-out", out + "/m.pdf"});
  EXPECT_EQ(m.status, 1);
  EXPECT_EQ(m.err, "Не удалось сохранить: " + out + "/m.pdf\n");
}

TEST(BatchVerify, WritesTheOpenReportExactly) {
  Sandbox s;
  s.put("good.pdf", text_pdf({"one", "two"}));
  s.put("empty.pdf", "");
  s.put("garbage.pdf", "%PDF-1.4 this is not a document");
  s.put("locked.pdf", qpdf_encrypt(text_pdf({"x"}), "user", "owner"));
  s.put("q\"uote,comma.pdf", text_pdf({"q"}));
  s.put("line\nbreak.pdf", text_pdf({"l"}));
  const std::string out = s.path("out");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "verify", "--batch-out", out});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "Проверка корпуса: открыто 3 из 6 (50.0%) → " + out + "/open-report.csv\n");
  const std::map<std::string, std::string> rows = {
      {"good.pdf", "\"good.pdf\",yes,2\n"},
      {"empty.pdf", "\"empty.pdf\",no,0\n"},
      {"garbage.pdf", "\"garbage.pdf\",no,0\n"},
      {"locked.pdf", "\"locked.pdf\",no,0\n"},
      {"q\"uote,comma.pdf", "\"q\"\"uote,comma.pdf\",yes,1\n"},
      {"line\nbreak.pdf", "\"line\nbreak.pdf\",yes,1\n"},
  };
  std::string expected = "file,opened,pages\n";
  for (const std::string& name : listing(s.in())) expected += rows.at(name);
  EXPECT_EQ(read_file(out + "/open-report.csv"), expected);

  Sandbox all;
  all.put("a.pdf", text_pdf({"a"}));
  all.put("b.pdf", text_pdf({"b"}));
  all.put("c.pdf", "not a pdf");
  const RunResult third = all.quorvel({"--batch", all.in(), "--batch-op", "verify"});
  EXPECT_EQ(third.status, 1);
  EXPECT_EQ(third.out, "Проверка корпуса: открыто 2 из 3 (66.7%) → " + all.in() + "/out/open-report.csv\n");
  fs::remove(all.in("c.pdf"));
  const RunResult ok = all.quorvel({"--batch", all.in(), "--batch-op", "verify"}, {{"LC_ALL", "ru_RU.UTF-8"}});
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out, "Проверка корпуса: открыто 2 из 2 (100.0%) → " + all.in() + "/out/open-report.csv\n");
}

TEST(BatchMerge, JoinsInNameOrderAndSkipsWhatDoesNotMerge) {
  Sandbox s;
  s.put("10.pdf", text_pdf({"ten"}));
  s.put("2.pdf", text_pdf({"two"}));
  s.put("5.pdf", "%PDF-1.4 broken");
  s.put("B.pdf", text_pdf({"bee", "bee again"}));
  s.put("a.pdf", text_pdf({"ay"}));
  s.put("notes.txt", "ignored");
  const std::string out = s.path("merged.pdf");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "merge", "--batch-out", out});
  // A skipped file fails the run, as in every other operation; the rest is still written.
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "[1] 10.pdf\n[2] + 2.pdf\n[4] + B.pdf\n[5] + a.pdf\nОбъединено 4 файлов → " + out + "\n");
  EXPECT_EQ(r.err, "  пропуск (merge: не открылся): 5.pdf\n");
  EXPECT_EQ(pdf_pages(out), 5);
  const std::string text = pdf_text(out);
  const size_t ten = text.find("ten"), two = text.find("two"), bee = text.find("bee again"), ay = text.find("ay");
  ASSERT_NE(ay, std::string::npos) << text;
  EXPECT_TRUE(ten < two && two < bee && bee < ay) << text;
}

TEST(BatchMerge, EdgeCases) {
  {
    Sandbox s;  // a single file: a full copy of it, into the default output "in/out"
    s.put("only.pdf", text_pdf({"alone"}));
    const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "merge"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "[1] only.pdf\nОбъединено 1 файлов → " + s.in() + "/out\n");
    EXPECT_EQ(pdf_pages(s.in("out")), 1);
  }
  {
    Sandbox s;  // the first file in name order does not open: the result starts from the next
    s.put("0-damaged.pdf", "%PDF-1.4 broken");
    s.put("1.pdf", text_pdf({"fine"}));
    s.put("2.pdf", text_pdf({"also fine"}));
    const std::string out = s.path("m.pdf");
    const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "merge", "--batch-out", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "  пропуск (merge: не открылся): 0-damaged.pdf\n");
    EXPECT_EQ(r.out, "[2] 1.pdf\n[3] + 2.pdf\nОбъединено 2 файлов → " + out + "\n");
    EXPECT_EQ(pdf_pages(out), 2);
  }
  {
    Sandbox s;  // no file opens: nothing is written
    s.put("a.pdf", "%PDF-1.4 broken");
    s.put("b.pdf", "");
    const std::string out = s.path("m.pdf");
    const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "merge", "--batch-out", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "  пропуск (merge: не открылся): a.pdf\n  пропуск (merge: пусто): b.pdf\nНи один PDF не открылся.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(exists(out));
  }
  {
    Sandbox s;  // the result written into the folder is left out of the next run
    s.put("a.pdf", text_pdf({"a"}));
    s.put("b.pdf", text_pdf({"b"}));
    const std::string out = s.in("all.pdf");
    for (int run = 0; run < 2; ++run) {
      const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "merge", "--batch-out", out});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, "[1] a.pdf\n[2] + b.pdf\nОбъединено 2 файлов → " + out + "\n") << run;
      EXPECT_EQ(pdf_pages(out), 2) << run;
    }
  }
  {
    Sandbox s;  // no PDF at all
    s.put("a.txt", "x");
    const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "merge", "--batch-out", s.path("m.pdf")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Нет PDF в папке.\n");
  }
  {
    Sandbox s;  // the output's folder does not exist and is not made
    s.put("a.pdf", text_pdf({"a"}));
    const std::string out = s.path("no/such/m.pdf");
    const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "merge", "--batch-out", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Не удалось сохранить: " + out + "\n");
    EXPECT_FALSE(exists(s.path("no")));
  }
}

// A file counts only when all its pages are in the result: PDFium counts a page in each of
// these trees that the import cannot take.
TEST(BatchMerge, CountsAFileOnlyWithAllItsPages) {
  Sandbox s;
  s.put("1.pdf", text_pdf({"first"}));
  s.put("2.pdf", tree_pdf("/Kids [null] /Count 1"));
  s.put("3.pdf", tree_pdf("/Kids [3 0 R null] /Count 2"));
  s.put("4.pdf", tree_pdf("/Count 0"));
  s.put("5.pdf", text_pdf({"fifth"}));
  const std::string out = s.path("m.pdf");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "merge", "--batch-out", out});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "[1] 1.pdf\n[5] + 5.pdf\nОбъединено 2 файлов → " + out + "\n");
  EXPECT_EQ(r.err,
            "  пропуск (merge: нет читаемых страниц): 2.pdf\n"
            "  пропуск (merge: не все страницы читаются): 3.pdf\n"
            "  пропуск (merge: нет читаемых страниц): 4.pdf\n");
  EXPECT_EQ(pdf_pages(out), 2);
}

// The open check and the per-file operations over documents without a page to read and over
// AES-256 whose sealed permissions PDFium refuses.
TEST(BatchVerify, NeedsAReadablePageAndReadsWhatQpdfDecrypts) {
  Sandbox s;
  s.put("a-sound.pdf", tree_pdf("/Kids [3 0 R] /Count 1"));
  s.put("b-no-kids.pdf", tree_pdf("/Count 9999999999"));
  s.put("c-empty-kids.pdf", tree_pdf("/Kids [] /Count 0"));
  s.put("d-nulls.pdf", tree_pdf("/Kids [null] /Count 1"));
  const std::string sealed = permissions_disagree(qpdf_encrypt(text_pdf({"sealed"}), "", "owner"));
  ASSERT_FALSE(sealed.empty());
  s.put("e-sealed.pdf", sealed);
  const std::string out = s.path("out");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "verify", "--batch-out", out});
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> rows = sorted_lines(read_file(out + "/open-report.csv"));
  EXPECT_EQ(rows, (std::vector<std::string>{"\"a-sound.pdf\",yes,1", "\"b-no-kids.pdf\",no,0",
                                            "\"c-empty-kids.pdf\",no,0", "\"d-nulls.pdf\",no,0",
                                            "\"e-sealed.pdf\",yes,1", "file,opened,pages"}));

  const RunResult text = s.quorvel({"--batch", s.in(), "--batch-op", "text", "--batch-out", out});
  EXPECT_EQ(text.status, 1);
  for (const char* name : {"b-no-kids.pdf", "c-empty-kids.pdf", "d-nulls.pdf"})
    EXPECT_NE(text.err.find("  не открылся: " + s.in(name) + "\n"), std::string::npos) << name << text.err;
  EXPECT_NE(text.out.find(summary("text", 2, 5, out)), std::string::npos) << text.out;
  EXPECT_NE(read_file(out + "/e-sealed.txt").find("sealed"), std::string::npos);
}

TEST(BatchCommandLine, OptionsAreOrderFreeAndTheLastOneWins) {
  Sandbox s;
  s.put("x.pdf", text_pdf({"mail me at a@example.org"}));
  const std::string out = s.path("o");
  const RunResult r = s.quorvel({"stray", "--batch-op", "text", "--batch", s.path("nowhere"), "--batch-out", out,
                                 "--batch", s.in(), "--batch-pw"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "[1] x.pdf\n" + summary("text", 1, 1, out));

  // Defaults: entity CSV into the folder string with "/out" appended as text.
  const RunResult d = s.quorvel({"--batch", s.in() + "/"});
  EXPECT_EQ(d.status, 0) << d.err;
  EXPECT_EQ(d.out, "[1] x.pdf\n" + summary("extract-csv", 1, 1, s.in() + "//out"));
  EXPECT_EQ(read_file(s.in("out/x.csv")), "kind,value\n\"Email\",\"a@example.org\"\n");
}

TEST(BatchCommandLine, NeedsNoDisplay) {
  Sandbox s;
  s.put("x.pdf", text_pdf({"x"}));
  const RunResult ok = s.quorvel({"--batch", s.in(), "--batch-op", "verify"}, {{"QT_QPA_PLATFORM", "nonexistent"},
                                                                             {"DISPLAY", std::nullopt},
                                                                             {"WAYLAND_DISPLAY", std::nullopt}});
  EXPECT_EQ(ok.status, 0) << ok.err;
  s.put("bad.pdf", "");
  const RunResult bad = s.quorvel({"--batch", s.in(), "--batch-op", "text"}, {{"QT_QPA_PLATFORM", "nonexistent"}});
  EXPECT_EQ(bad.status, 1) << bad.err;
  EXPECT_EQ(bad.err, "  пропуск (пусто): " + s.in("bad.pdf") + "\n");
}

}  // namespace
}  // namespace quorvel::test
