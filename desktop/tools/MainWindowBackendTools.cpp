// The tools that the backend does: protection, certificate signature, sanitising, optimising,
// table extraction and document properties. Each sends a copy of the current document and
// writes what comes back; the open document is never changed.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStatusBar>

#include "core/pdf_check.h"
#include "desktop/tools/BackendTools.h"
#include "desktop/tools/DocumentCopy.h"
#include "desktop/tools/UnreadablePages.h"
#include "desktop/tools/LocalTools.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

QNetworkRequest pdfRequest(const QUrl& url) {
  QNetworkRequest request(url);
  request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/pdf"));
  return request;
}

QString writingFailed(const QString& path) { return L("Не удалось записать: %1", "Could not write: %1").arg(path); }

std::span<const std::byte> spanOf(const QByteArray& bytes) {
  return std::as_bytes(std::span<const char>(bytes.constData(), static_cast<size_t>(bytes.size())));
}

}  // namespace

void MainWindow::postToBackend(const QNetworkRequest& request, const QByteArray& body, const QString& waiting,
                               std::function<void(QNetworkReply*, const QByteArray&)> done) {
  statusBar()->showMessage(waiting);
  QNetworkReply* reply = network->post(request, body);
  connect(reply, &QNetworkReply::finished, this, [reply, done = std::move(done)] {
    reply->deleteLater();
    done(reply, reply->readAll());
  });
}

void MainWindow::protectPdf() {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  bool ok = false;
  const QString password = QInputDialog::getText(this, L("Защита паролем", "Password protection"),
                                                 L("Пароль открытия документа:", "Document open password:"),
                                                 QLineEdit::Password, QString(), &ok);
  if (!ok || password.isEmpty()) return;
  const QString path = QFileDialog::getSaveFileName(this, L("Сохранить защищённый PDF", "Save protected PDF"),
                                                    QStringLiteral("protected.pdf"), QStringLiteral("PDF (*.pdf)"));
  if (path.isEmpty()) return;
  protectPdfTo(path, password);
}

void MainWindow::protectPdfTo(const QString& outPath, const QString& password) {
  PdfView* view = currentView();
  if (!view || !view->doc || outPath.isEmpty() || password.isEmpty()) return;
  QByteArray pdf;
  if (const Copy c = documentCopy(*view, "protect", pdf); c != Copy::Ok) {
    statusBar()->showMessage(copyFailed(c) + unreadablePagesNote(view->doc.get()));
    return;
  }
  const QUrl url = backendToolUrl(QStringLiteral("/pdf/encrypt"), {{QStringLiteral("user_password"), password},
                                                                    {QStringLiteral("allow_print"), QStringLiteral("1")},
                                                                    {QStringLiteral("allow_copy"), QStringLiteral("0")},
                                                                    {QStringLiteral("allow_modify"), QStringLiteral("0")}});
  postToBackend(pdfRequest(url), pdf, L("Шифрование (AES-256)…", "Encrypting (AES-256)…"),
                [this, outPath, password](QNetworkReply* reply, const QByteArray& body) {
                  const auto encrypted = [&password](const QByteArray& pdf) {
                    return pdfcheck::encrypted_for(spanOf(pdf), password.toStdString())
                               ? QString()
                               : L("ответ не зашифрован этим паролем (AES-256)",
                                   "the reply is not encrypted with this password (AES-256)");
                  };
                  finishPdfReply(statusBar(), reply, body, outPath,
                                 L("Шифрование не удалось (backend): %1", "Encryption failed (backend): %1"),
                                 writingFailed(outPath), encrypted, nullptr, [&outPath](QNetworkReply*) {
                                   return L("Зашифровано (AES-256): %1", "Encrypted (AES-256): %1").arg(outPath);
                                 });
                });
}

void MainWindow::signWithCert() {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  const QString pfx = QFileDialog::getOpenFileName(this, L("Сертификат подписи (PKCS#12)", "Signing certificate (PKCS#12)"),
                                                   QString(), QStringLiteral("PKCS#12 (*.pfx *.p12)"));
  if (pfx.isEmpty()) return;
  bool ok = false;
  const QString passphrase = QInputDialog::getText(this, L("Пароль сертификата", "Certificate password"),
                                                   L("Пароль контейнера PKCS#12:", "PKCS#12 container password:"),
                                                   QLineEdit::Password, QString(), &ok);
  if (!ok) return;
  const QString path = QFileDialog::getSaveFileName(this, L("Сохранить подписанный PDF", "Save signed PDF"),
                                                    QStringLiteral("signed.pdf"), QStringLiteral("PDF (*.pdf)"));
  if (path.isEmpty()) return;
  signWithCertTo(pfx, passphrase, path);
}

void MainWindow::signWithCertTo(const QString& pfxPath, const QString& passphrase, const QString& outPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || pfxPath.isEmpty() || outPath.isEmpty()) return;
  QByteArray pdf;
  const Copy c = documentCopy(*view, "sign", pdf);
  if (c == Copy::NotSaved) {
    statusBar()->showMessage(copyFailed(c));
    return;
  }
  QFile pfx(pfxPath);
  QByteArray container;
  if (c == Copy::Ok && pfx.open(QIODevice::ReadOnly)) container = pfx.readAll();
  if (c != Copy::Ok || pfx.error() != QFileDevice::NoError) {
    statusBar()->showMessage(L("Не удалось прочитать PDF или сертификат", "Could not read the PDF or certificate"));
    return;
  }
  QNetworkRequest request = pdfRequest(backendToolUrl(
      QStringLiteral("/pdf/sign"),
      {{QStringLiteral("passphrase"), passphrase}, {QStringLiteral("field_name"), QStringLiteral("TaviSignature")}}));
  request.setRawHeader(QByteArrayLiteral("X-Signer-Pfx"), container.toBase64());
  // Locking the signed file again would change the bytes the signature covers.
  const bool locked = view->doc->metadata().encrypted;
  postToBackend(request, pdf, L("Подпись сертификатом (PKCS#12)…", "Signing with certificate (PKCS#12)…"),
                [this, outPath, locked](QNetworkReply* reply, const QByteArray& body) {
                  const auto signedWhole = [](const QByteArray& pdf) {
                    return pdfcheck::signed_whole_file(spanOf(pdf))
                               ? QString()
                               : L("в ответе нет подписи, покрывающей весь файл",
                                   "the reply holds no signature covering the whole file");
                  };
                  finishPdfReply(statusBar(), reply, body, outPath,
                                 L("Подпись не удалась (backend): %1", "Signing failed (backend): %1"),
                                 writingFailed(outPath), signedWhole, nullptr, [&outPath, locked](QNetworkReply*) {
                                   QString done = L("Подписано сертификатом (PAdES) → %1",
                                                    "Signed with certificate (PAdES) → %1")
                                                      .arg(outPath);
                                   if (locked)
                                     done += L(" (подписанная копия не защищена паролем)",
                                               " (the signed copy is not password-protected)");
                                   return done;
                                 });
                });
}

void MainWindow::sanitizePdf() {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  const QString path = QFileDialog::getSaveFileName(this, L("Сохранить очищенный PDF", "Save sanitized PDF"),
                                                    QStringLiteral("sanitized.pdf"), QStringLiteral("PDF (*.pdf)"));
  if (path.isEmpty()) return;
  sanitizePdfTo(path);
}

void MainWindow::sanitizePdfTo(const QString& outPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || outPath.isEmpty()) return;
  QByteArray pdf;
  if (const Copy c = documentCopy(*view, "sanitize", pdf); c != Copy::Ok) {
    statusBar()->showMessage(copyFailed(c) + unreadablePagesNote(view->doc.get()));
    return;
  }
  postToBackend(pdfRequest(backendToolUrl(QStringLiteral("/pdf/sanitize"), {})), pdf,
                L("Очистка (JS/метаданные/вложения)…", "Sanitizing (JS/metadata/attachments)…"),
                [this, outPath, protect = protectionOf(*view)](QNetworkReply* reply, const QByteArray& body) {
                  const auto opens = [this](const QByteArray& pdf) {
                    const std::unique_ptr<IDocument> doc = engine ? engine->open(spanOf(pdf), {}) : nullptr;
                    return doc && doc->page_count() > 0
                               ? QString()
                               : L("ответ не открывается как PDF", "the reply does not open as a PDF");
                  };
                  finishPdfReply(statusBar(), reply, body, outPath,
                                 L("Очистка не удалась (backend): %1", "Sanitize failed (backend): %1"),
                                 writingFailed(outPath), opens, protect, [&outPath](QNetworkReply* r) {
                                   QString removed = QString::fromUtf8(r->rawHeader(QByteArrayLiteral("X-Removed")));
                                   if (removed.isEmpty()) removed = QStringLiteral("ничего");
                                   return L("Очищено (%1) → %2", "Sanitized (%1) → %2").arg(removed, outPath);
                                 });
                });
}

void MainWindow::optimizePdfDialog() {
  PdfView* view = documentViewOrAsk(*this);
  if (!view) return;
  const QString outPath = QFileDialog::getSaveFileName(this, L("Сохранить оптимизированный PDF", "Save optimized PDF"),
                                                       QString(), QStringLiteral("PDF (*.pdf)"));
  if (outPath.isEmpty()) return;
  QByteArray pdf;
  if (const Copy c = documentCopy(*view, "opt", pdf); c != Copy::Ok) {
    statusBar()->showMessage(copyFailed(c));
    return;
  }
  postToBackend(pdfRequest(backendToolUrl(QStringLiteral("/pdf/optimize"), {})), pdf,
                L("Оптимизация…", "Optimizing…"),
                [this, outPath, protect = protectionOf(*view)](QNetworkReply* reply, const QByteArray& body) {
                  finishPdfReply(statusBar(), reply, body, outPath,
                                 L("Оптимизация не удалась (backend): %1", "Optimize failed (backend): %1"),
                                 writingFailed(outPath), nullptr, protect, [&outPath](QNetworkReply* r) {
                                   const OptimizeFigures f =
                                       optimizeFigures(r->rawHeader(QByteArrayLiteral("X-Original-Size")),
                                                       r->rawHeader(QByteArrayLiteral("X-Optimized-Size")));
                                   return L("Оптимизировано: %1 → %2 КБ (-%3%) → %4",
                                            "Optimized: %1 → %2 KB (-%3%) → %4")
                                       .arg(QString::number(f.originalKb), QString::number(f.optimizedKb),
                                            QString::number(f.percent), outPath);
                                 });
                });
}

void MainWindow::extractTablesCsv() {
  PdfView* view = documentViewOrAsk(*this);
  if (!view) return;
  const QString outPath = QFileDialog::getSaveFileName(this, L("Сохранить таблицы в CSV", "Save tables to CSV"),
                                                       QStringLiteral("tables.csv"), QStringLiteral("CSV (*.csv)"));
  if (outPath.isEmpty()) return;
  QByteArray pdf;
  if (const Copy c = documentCopy(*view, "tables", pdf); c != Copy::Ok) {
    statusBar()->showMessage(copyFailed(c));
    return;
  }
  // The fixed query is part of the endpoint's path text.
  postToBackend(pdfRequest(backendUrl(QStringLiteral("/pdf/extract?what=tables&format=csv"))), pdf,
                L("Извлечение таблиц…", "Extracting tables…"),
                [this, outPath](QNetworkReply* reply, const QByteArray& body) {
                  if (reply->error() != QNetworkReply::NoError) {
                    statusBar()->showMessage(L("Извлечение не удалось (backend): %1", "Extraction failed (backend): %1")
                                                 .arg(failureDetail(reply, body)));
                  } else if (body.trimmed().isEmpty()) {
                    statusBar()->showMessage(L("Таблицы не найдены", "No tables found"));
                  } else if (!writeOutputFile(outPath, body)) {
                    statusBar()->showMessage(L("Не удалось записать CSV", "Could not write CSV"));
                  } else {
                    statusBar()->showMessage(L("Таблицы сохранены: %1", "Tables saved: %1").arg(outPath));
                  }
                });
}

void MainWindow::documentPropertiesDialog() {
  PdfView* view = documentViewOrAsk(*this);
  if (!view) return;
  const DocMetadata meta = view->doc->metadata();

  QDialog dialog(this);
  dialog.setWindowTitle(L("Свойства документа", "Document properties"));
  auto* form = new QFormLayout(&dialog);
  auto* title = new QLineEdit(QString::fromStdString(meta.title), &dialog);
  auto* author = new QLineEdit(QString::fromStdString(meta.author), &dialog);
  auto* subject = new QLineEdit(&dialog);
  auto* keywords = new QLineEdit(&dialog);
  form->addRow(L("Заголовок", "Title"), title);
  form->addRow(L("Автор", "Author"), author);
  form->addRow(L("Тема", "Subject"), subject);
  form->addRow(L("Ключевые слова", "Keywords"), keywords);
  auto* version = new QLabel(L("Версия PDF: %1%2", "PDF version: %1%2")
                                 .arg(QString::fromStdString(meta.version),
                                      meta.encrypted ? L(" · зашифрован", " · encrypted") : QString()),
                             &dialog);
  version->setObjectName(QStringLiteral("muted"));
  version->setTextFormat(Qt::PlainText);
  form->addRow(version);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, &dialog);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return;

  QueryItems items;
  const std::pair<const char*, QLineEdit*> fields[] = {
      {"title", title}, {"author", author}, {"subject", subject}, {"keywords", keywords}};
  for (const auto& [name, edit] : fields)
    if (!edit->text().isEmpty()) items.append({QString::fromLatin1(name), edit->text()});

  const QString outPath = QFileDialog::getSaveFileName(this, L("Сохранить с новыми свойствами", "Save with new properties"),
                                                       QString(), QStringLiteral("PDF (*.pdf)"));
  if (outPath.isEmpty()) return;
  // The view may have gone while the dialogs were open.
  view = currentView();
  if (!view || !view->doc) return;
  QByteArray pdf;
  if (const Copy c = documentCopy(*view, "meta", pdf); c != Copy::Ok) {
    if (c == Copy::NotSaved) statusBar()->showMessage(copyFailed(c));
    return;
  }
  postToBackend(pdfRequest(backendToolUrl(QStringLiteral("/pdf/set-meta"), items)), pdf,
                L("Запись свойств…", "Writing properties…"),
                [this, outPath, protect = protectionOf(*view)](QNetworkReply* reply, const QByteArray& body) {
                  finishPdfReply(statusBar(), reply, body, outPath,
                                 L("Не удалось записать свойства (backend): %1", "Failed to write properties (backend): %1"),
                                 L("Не удалось записать файл", "Could not write the file"), nullptr, protect,
                                 [&outPath](QNetworkReply*) {
                                   return L("Свойства сохранены: %1", "Properties saved: %1").arg(outPath);
                                 });
                });
}

}  // namespace quorvel::desktop
