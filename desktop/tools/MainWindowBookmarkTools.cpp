// The bookmark editor: the outline as an editable tree, written by the backend into a copy.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "desktop/tools/BackendTools.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"
#include "desktop/tools/ContentTools.h"
#include "desktop/tools/DocumentCopy.h"

namespace quorvel::desktop {

void MainWindow::editBookmarksDialog() {
  PdfView* view = currentView();
  if (!view || !view->doc) {
    statusBar()->showMessage(L("Сначала откройте PDF", "Open a PDF first"));
    return;
  }
  QDialog dialog(this);
  dialog.setWindowTitle(L("Закладки (оглавление)", "Bookmarks (outline)"));
  dialog.resize(520, 420);
  auto* layout = new QVBoxLayout(&dialog);
  auto* tree = new QTreeWidget(&dialog);
  tree->setColumnCount(2);
  tree->setHeaderLabels({L("Название", "Title"), L("Стр.", "Page")});
  tree->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked);
  tree->header()->setStretchLastSection(false);
  tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  layout->addWidget(tree);
  // A manual's tree is read beside the window, which keeps painting meanwhile.
  const std::optional<std::vector<OutlineItem>> outline = readOutlineAnswering(*view);
  if (!outline) return;
  loadBookmarks(*tree, *outline);

  auto* buttons = new QHBoxLayout;
  auto* add = new QPushButton(L("+ Закладка", "+ Bookmark"), &dialog);
  auto* addChild = new QPushButton(L("+ Вложенная", "+ Child"), &dialog);
  auto* remove = new QPushButton(L("Удалить", "Delete"), &dialog);
  connect(add, &QPushButton::clicked, &dialog, [tree, view] { addBookmarkRow(*tree, view->currentPage(), false); });
  connect(addChild, &QPushButton::clicked, &dialog,
          [tree, view] { addBookmarkRow(*tree, view->currentPage(), true); });
  connect(remove, &QPushButton::clicked, &dialog, [tree] { delete tree->currentItem(); });
  buttons->addWidget(add);
  buttons->addWidget(addChild);
  buttons->addWidget(remove);
  buttons->addStretch();
  layout->addLayout(buttons);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, &dialog);
  connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(box);
  if (dialog.exec() != QDialog::Accepted) return;
  const QJsonArray bookmarks = bookmarksJson(*tree);

  const QString outPath = QFileDialog::getSaveFileName(this, L("Сохранить с закладками", "Save with bookmarks"),
                                                       QString(), QStringLiteral("PDF (*.pdf)"));
  // The view may have gone while the dialogs were open.
  view = currentView();
  if (outPath.isEmpty() || !view || !view->doc) return;
  QByteArray pdf;
  if (!documentBytes(*view, "bm", pdf)) return;
  const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("pdf_b64"), QString::fromLatin1(pdf.toBase64())},
                                                    {QStringLiteral("bookmarks"), bookmarks}})
                              .toJson(QJsonDocument::Compact);
  QNetworkRequest request(backendUrl(QStringLiteral("/pdf/set-bookmarks")));
  request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
  postToBackend(request, body, L("Запись закладок…", "Writing bookmarks…"),
                [this, outPath, protect = protectionOf(*view)](QNetworkReply* reply, const QByteArray& reply_body) {
                  finishPdfReply(statusBar(), reply, reply_body, outPath,
                                 L("Не удалось записать закладки (backend): %1", "Failed to write bookmarks (backend): %1"),
                                 L("Не удалось записать: %1", "Could not write: %1").arg(outPath), nullptr, protect,
                                 [&outPath](QNetworkReply*) {
                                   return L("Закладки сохранены: %1", "Bookmarks saved: %1").arg(outPath);
                                 });
                });
}

}  // namespace quorvel::desktop
