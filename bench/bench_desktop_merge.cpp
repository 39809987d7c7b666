// Merging two manuals from the window as a user does it (open the first, merge the second in,
// save the result), beside `qpdf --empty --pages a.pdf b.pdf -- out.pdf` in the same run:
// medians of alternating runs, the ratio ours/peer, and the output sizes. Pairs: two generated
// 2,500-page manuals, and libtasn1's manual with shared-mime-info-spec.pdf.
//
//   bench_desktop_merge [runs=5]
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_home.h"
#include "bench/figures.h"
#include "common/fixtures.h"
#include "common/manual_like.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/MainWindow.h"

namespace fs = std::filesystem;

namespace {

void pair(const char* label, const std::string& a, const std::string& b, const std::string& dir, int runs) {
  const std::string ours = dir + "/ours.pdf", peer = dir + "/peer.pdf";
  std::vector<double> whole, mergeSave, theirs;
  for (int i = 0; i < runs; ++i) {
    fs::remove(ours);
    QElapsedTimer t;
    t.start();
    {
      quorvel::desktop::MainWindow w;
      w.openFile(QString::fromStdString(a));
      auto* view = w.findChild<quorvel::desktop::PdfView*>();
      if (!view) {
        std::printf("%s: did not open\n", label);
        return;
      }
      const int before = view->pageCount();
      const double opened = static_cast<double>(t.nsecsElapsed()) / 1e6;
      w.mergeWith(QString::fromStdString(b));
      w.saveDocumentTo(QString::fromStdString(ours));
      const double done = static_cast<double>(t.nsecsElapsed()) / 1e6;
      if (view->pageCount() <= before || !fs::exists(ours)) {
        std::printf("%s: merge or save failed\n", label);
        return;
      }
      whole.push_back(done);
      mergeSave.push_back(done - opened);
    }
    t.restart();
    const int rc = quorvel::test::run_program({"qpdf", "--empty", "--pages", a, b, "--", peer});
    if (rc != 0 && rc != 3) {
      std::printf("%s: qpdf failed\n", label);
      return;
    }
    theirs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
  }
  const double o = median(whole), m = median(mergeSave), p = median(theirs);
  std::printf("%-36s open+merge+save %8.1f ms (merge+save %8.1f)  qpdf %8.1f ms  ratio %5.2f (%5.2f)  size %9lld / %9lld\n",
              label, o, m, p, o / p, m / p, bytesOf(ours), bytesOf(peer));
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::string base = benchHome("merge");
  if (base.empty()) return 1;
  setenv("QUORVEL_BACKEND", "http://127.0.0.1:9", 1);  // no backend is started

  const std::string a = base + "/manual-a.pdf", b = base + "/manual-b.pdf";
  if (!quorvel::test::write_file(a, quorvel::test::manual_like_pdf({2500, 3000, true})) ||
      !quorvel::test::write_file(b, quorvel::test::manual_like_pdf({2400, 2900, true})))
    return 1;

  int rc = 0;
  {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    std::printf("runs per figure: %d (medians; alternating ours and qpdf)\n", runs);
    pair("two 2,500-page manuals", a, b, base, runs);
    const std::string tasn1 = "/usr/share/doc/libtasn1-doc/libtasn1.pdf";
    const std::string mime = "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf";
    if (fs::exists(tasn1) && fs::exists(mime)) pair("libtasn1 + shared-mime-info", tasn1, mime, base, runs);
  }
  fs::remove_all(base);
  return rc;
}
