// Writing part of the open document to new files: one range of pages, or one file per
// top-level bookmark. The open document is not changed and nothing is opened.
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QRegularExpression>
#include <QStatusBar>

#include <algorithm>
#include <vector>

#include "desktop/tools/UnreadablePages.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

constexpr int kMaxTitleUnits = 60;

// The name part of a bookmark's file: characters that file systems or shells take for
// something else become "_", and a cut never leaves half of a surrogate pair behind.
QString partTitle(const std::string& utf8) {
  static const QRegularExpression unsafe(QStringLiteral("[\\\\/:*?\"<>|\\n\\r\\t\\x{0}-\\x{1f}]"));
  QString title = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  title.replace(unsafe, QStringLiteral("_"));
  title = title.trimmed();
  if (title.isEmpty()) return QStringLiteral("section");
  if (title.size() > kMaxTitleUnits) {
    qsizetype cut = kMaxTitleUnits;
    if (title.at(cut).isLowSurrogate() && title.at(cut - 1).isHighSurrogate()) --cut;
    title.truncate(cut);
  }
  return title;
}

}  // namespace

void MainWindow::saveRangeTo(const QString& path, int first0, int last0) {
  PdfView* view = currentView();
  if (!view || path.isEmpty()) return;
  if (view->saveRange(path, first0, last0))
    statusBar()->showMessage(QStringLiteral("Сохранён диапазон страниц: %1").arg(path), 0);
  else
    statusBar()->showMessage(QStringLiteral("Не удалось сохранить диапазон") + unreadablePagesNote(view->doc.get()), 0);
}

void MainWindow::extractRangeDialog() {
  PdfView* view = currentView();
  if (!view || view->pageCount() < 1) return;
  const int n = view->pageCount();
  bool ok = false;
  const int first = QInputDialog::getInt(this, L("Извлечь страницы", "Extract pages"), L("С страницы:", "From page:"),
                                         1, 1, n, 1, &ok);
  if (!ok) return;
  const int last = QInputDialog::getInt(this, L("Извлечь страницы", "Extract pages"), L("По страницу:", "To page:"), n,
                                        first, n, 1, &ok);
  if (!ok) return;
  const QString path = QFileDialog::getSaveFileName(this, L("Сохранить как", "Save as"), QStringLiteral("pages.pdf"),
                                                    QStringLiteral("PDF (*.pdf)"));
  if (path.isEmpty()) return;
  saveRangeTo(path, first - 1, last - 1);
}

void MainWindow::splitByBookmarksTo(const QString& outDir) {
  PdfView* view = currentView();
  if (!view || !view->doc || outDir.isEmpty()) return;
  QDir().mkpath(outDir);
  const int n = view->doc->page_count();
  std::optional<std::vector<OutlineItem>> outline = readOutlineAnswering(*view);
  if (!outline) return;  // the tab or its document went meanwhile
  std::vector<OutlineItem> items;
  for (OutlineItem& item : *outline)
    if (item.page >= 0 && item.page < n) items.push_back(std::move(item));
  // Stable, so that bookmarks of one page keep their outline order and their numbers.
  std::stable_sort(items.begin(), items.end(),
                   [](const OutlineItem& a, const OutlineItem& b) { return a.page < b.page; });
  if (items.empty()) {
    statusBar()->showMessage(
        L("В документе нет закладок для разбивки", "The document has no bookmarks to split by"), 0);
    return;
  }
  const QDir dir(outDir);
  std::vector<PageRangeFile> parts;
  for (size_t k = 0; k < items.size(); ++k) {
    const int first = items[k].page;
    const int last = k + 1 < items.size() ? items[k + 1].page - 1 : n - 1;
    if (last < first) continue;  // another bookmark of the same page takes it; the number is skipped
    const QString name = QStringLiteral("%1_%2.pdf")
                             .arg(static_cast<qulonglong>(k + 1), 2, 10, QLatin1Char('0'))
                             .arg(partTitle(items[k].title));
    parts.push_back({dir.filePath(name).toStdString(), first, last});
  }
  // All parts in one call, so that the document is read once for them.
  const std::vector<bool> done = view->doc->save_ranges(parts);
  const int written = static_cast<int>(std::count(done.begin(), done.end(), true));
  const int failed = static_cast<int>(parts.size()) - written;
  if (failed == 0) {
    statusBar()->showMessage(
        L("Разбито по закладкам: %1 файлов → %2", "Split by bookmarks: %1 files → %2").arg(written).arg(outDir), 0);
  } else if (written == 0) {
    statusBar()->showMessage(L("Не удалось разбить по закладкам: ни одна часть не записана → %1",
                               "Could not split by bookmarks: no part was written → %1")
                                     .arg(outDir) +
                                 unreadablePagesNote(view->doc.get()),
                             0);
  } else {
    statusBar()->showMessage(L("Разбито по закладкам: %1 файлов, не записано частей: %2 → %3",
                               "Split by bookmarks: %1 files, not written: %2 → %3")
                                     .arg(written)
                                     .arg(failed)
                                     .arg(outDir) +
                                 unreadablePagesNote(view->doc.get()),
                             0);
  }
}

void MainWindow::splitByBookmarksDialog() {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  const QString folder = QFileDialog::getExistingDirectory(
      this, L("Папка для частей (разбивка по закладкам)", "Folder for parts (split by bookmarks)"), QString(),
      QFileDialog::ShowDirsOnly);
  if (folder.isEmpty()) return;
  splitByBookmarksTo(folder);
}

}  // namespace quorvel::desktop
