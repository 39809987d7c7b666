// The form designer: a table of new text fields and check boxes that the backend adds to a
// copy of the document, which then opens in a tab of its own.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

#include "desktop/tools/BackendTools.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"
#include "desktop/tools/ContentTools.h"
#include "desktop/tools/DocumentCopy.h"

namespace quorvel::desktop {

void MainWindow::formDesignerDialog() {
  PdfView* view = currentView();
  if (!view || !view->doc || view->doc->page_count() <= 0) {
    statusBar()->showMessage(L("Сначала откройте PDF", "Open a PDF first"));
    return;
  }
  const int refPage = std::clamp(view->currentPage() - 1, 0, view->doc->page_count() - 1);
  const PageInfo size = view->doc->page_info(refPage);

  QDialog dialog(this);
  dialog.setWindowTitle(L("Конструктор форм", "Form designer"));
  dialog.resize(620, 380);
  auto* layout = new QVBoxLayout(&dialog);
  auto* table = new QTableWidget(0, 5, &dialog);
  table->setHorizontalHeaderLabels(
      {L("Имя", "Name"), L("Тип", "Type"), L("Стр.", "Page"), QStringLiteral("x0,y0"), QStringLiteral("x1,y1")});
  table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  layout->addWidget(table);

  auto* buttons = new QHBoxLayout;
  auto* addText = new QPushButton(L("+ Текстовое поле", "+ Text field"), &dialog);
  auto* addCheck = new QPushButton(L("+ Чекбокс", "+ Checkbox"), &dialog);
  auto* remove = new QPushButton(L("Удалить", "Delete"), &dialog);
  // Raised for every row added and never lowered, so names are not reused after a delete.
  auto counter = std::make_shared<int>(0);
  const auto addRow = [table, counter, refPage, height = size.height](bool checkbox) {
    appendFormRow(*table, newFormRow(checkbox, ++*counter, table->rowCount(), refPage, height));
  };
  connect(addText, &QPushButton::clicked, &dialog, [addRow] { addRow(false); });
  connect(addCheck, &QPushButton::clicked, &dialog, [addRow] { addRow(true); });
  connect(remove, &QPushButton::clicked, &dialog, [table] {
    if (table->currentRow() >= 0) table->removeRow(table->currentRow());
  });
  buttons->addWidget(addText);
  buttons->addWidget(addCheck);
  buttons->addWidget(remove);
  buttons->addStretch();
  layout->addLayout(buttons);
  auto* note = new QLabel(L("Координаты в PDF-пунктах (начало — левый низ). Страница: %1 × %2 pt.",
                            "Coordinates in PDF points (origin bottom-left). Page: %1 × %2 pt.")
                              .arg(std::llround(size.width))
                              .arg(std::llround(size.height)),
                          &dialog);
  note->setObjectName(QStringLiteral("muted"));
  layout->addWidget(note);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, &dialog);
  connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(box);
  if (dialog.exec() != QDialog::Accepted || table->rowCount() == 0) return;
  const QJsonArray fields = formFieldsJson(*table);
  if (fields.isEmpty()) return;

  const QString outPath = QFileDialog::getSaveFileName(this, L("Сохранить PDF с полями", "Save PDF with fields"),
                                                       QString(), QStringLiteral("PDF (*.pdf)"));
  view = currentView();
  if (outPath.isEmpty() || !view || !view->doc) return;
  QByteArray pdf;
  if (!documentBytes(*view, "form", pdf)) return;
  const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("pdf_b64"), QString::fromLatin1(pdf.toBase64())},
                                                    {QStringLiteral("fields"), fields}})
                              .toJson(QJsonDocument::Compact);
  QNetworkRequest request(backendUrl(QStringLiteral("/pdf/add-form-fields")));
  request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
  postToBackend(request, body, L("Создание полей…", "Creating fields…"),
                [this, outPath, protect = protectionOf(*view)](QNetworkReply* reply, const QByteArray& reply_body) {
                  if (finishPdfReply(statusBar(), reply, reply_body, outPath,
                                     L("Не удалось создать поля (backend): %1", "Failed to create fields (backend): %1"),
                                     L("Не удалось записать: %1", "Could not write: %1").arg(outPath), nullptr,
                                     protect, [&outPath](QNetworkReply*) {
                                       return L("Форма сохранена: %1 — откройте и заполните", "Form saved: %1")
                                           .arg(outPath);
                                     }))
                    openFile(outPath);
                });
}

}  // namespace quorvel::desktop
