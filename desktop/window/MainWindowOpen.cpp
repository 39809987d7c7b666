#include <QByteArray>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>
#include <optional>
#include <span>

#include "desktop/stores/AnnotationStore.h"
#include "desktop/tools/DocumentCopy.h"
#include "desktop/window/MainWindow.h"
#include "desktop/panels/OutlinePanel.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/stores/RecentsStore.h"
#include "desktop/panels/ThumbnailPanel.h"
#include "desktop/window/OpenPrefetch.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

// A hostile file can list a name thousands of times; the box stays readable.
constexpr int kMaxListedFindings = 50;

QString kindLabel(security::ThreatKind kind) {
  using K = security::ThreatKind;
  switch (kind) {
    case K::JavaScript: return QStringLiteral("встроенный JavaScript");
    case K::OpenAction: return QStringLiteral("авто-действие при открытии");
    case K::AdditionalActions: return QStringLiteral("дополнительное авто-действие");
    case K::Launch: return QStringLiteral("запуск внешней программы");
    case K::EmbeddedFile: return QStringLiteral("встроенный файл");
    case K::SubmitForm: return QStringLiteral("отправка формы");
    case K::RichMedia: return QStringLiteral("мультимедиа");
    case K::Xfa: return QStringLiteral("XFA-форма");
    case K::GoToRemote: return QStringLiteral("удалённый переход");
    case K::SuspiciousUri: return QStringLiteral("подозрительная ссылка");
    case K::Encrypted: return QStringLiteral("шифрование");
  }
  return QStringLiteral("неизвестная конструкция");
}

// File names reach tooltips, which would render markup in them.
QString plainToolTip(const QString& text) {
  return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap) : text;
}

QString verdictWord(const security::ThreatReport& report) {
  if (report.failed) return L("Проверка не завершена", "The check could not be completed");
  switch (report.verdict) {
    case security::Verdict::Clean: return L("Чисто", "Clean");
    case security::Verdict::Suspicious: return L("Подозрительно", "Suspicious");
    case security::Verdict::Dangerous: return L("ОПАСНО", "DANGEROUS");
  }
  return L("ОПАСНО", "DANGEROUS");
}

QString findingsText(const security::ThreatReport& report) {
  QString list;
  const int total = static_cast<int>(report.findings.size());
  const int shown = std::min(total, kMaxListedFindings);
  for (int i = 0; i < shown; ++i) {
    const security::Finding& f = report.findings[static_cast<size_t>(i)];
    list += QStringLiteral("• %1").arg(kindLabel(f.kind));
    if (f.detail)
      list += QStringLiteral(" — ") + QString::fromUtf8(f.detail->data(), static_cast<qsizetype>(f.detail->size()));
    list += QLatin1Char('\n');
  }
  if (total > shown) list += L("…и ещё %1", "…and %1 more").arg(total - shown) + QLatin1Char('\n');
  return list.trimmed();
}

}  // namespace

bool MainWindow::confirmThreats(QWidget* parent, const QString& displayName,
                                const security::ThreatReport& report, QString* word) {
  const QString verdict = verdictWord(report);
  if (word) *word = verdict;
  if (report.verdict == security::Verdict::Clean && !report.failed) return true;

  QMessageBox box(parent);
  box.setWindowTitle(QStringLiteral("Проверка безопасности"));
  box.setTextFormat(Qt::PlainText);
  box.setText(QStringLiteral("«%1»: %2").arg(displayName, verdict));
  // The informative label renders rich text and opens links; the findings quote the file.
  const QString findings = findingsText(report);
  if (!findings.isEmpty()) box.setInformativeText(Qt::convertFromPlainText(findings, Qt::WhiteSpaceNormal));

  // A check that could not finish proved nothing harmless: it asks like a dangerous file.
  if (report.verdict == security::Verdict::Dangerous || report.failed) {
    box.setIcon(QMessageBox::Warning);
    box.setStandardButtons(QMessageBox::Open | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Open;
  }
  box.setIcon(QMessageBox::Information);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return true;
}

void MainWindow::openFile(const QString& path) { openFileAs(path, path, true); }

PdfView* MainWindow::openFileAs(const QString& path, const QString& shownPath, bool remember) {
  const QString name = QFileInfo(shownPath).fileName();
  std::optional<PrefetchedFile> ready;
  if (OpenPrefetch* prefetch = OpenPrefetch::current()) ready = prefetch->take(path);
  QByteArray bytes;
  if (ready) {
    bytes = std::move(ready->bytes);
  } else {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
      statusBar()->showMessage(QStringLiteral("Не удалось открыть файл: %1").arg(path));
      return nullptr;
    }
    // The engine takes at most an int of bytes; a bigger file (a disk image dropped by mistake)
    // read whole would only exhaust the memory before the engine refused it.
    if (!file.isSequential() && file.size() >= std::numeric_limits<int>::max()) {
      statusBar()->showMessage(QStringLiteral("Не удалось разобрать документ: %1").arg(name));
      return nullptr;
    }
    bytes = file.readAll();
  }
  std::future<QByteArray> key;
  if (ready) {
    std::promise<QByteArray> known;
    known.set_value(std::move(ready->key));
    key = known.get_future();
  } else {
    key = documentKey(bytes);
  }
  const auto span = std::as_bytes(std::span<const char>(bytes.constData(), static_cast<size_t>(bytes.size())));

  QString verdict;
  const security::ThreatReport report = ready ? ready->report : security::scan(span);
  // A locked file is checked once its password is known, before it is shown (below).
  if (!report.needs_password && !confirmThreats(this, name, report, &verdict)) {
    statusBar()->showMessage(L("Открытие отменено: %1", "Open cancelled: %1").arg(name));
    return nullptr;
  }
  if (!engine) {
    statusBar()->showMessage(QStringLiteral("Движок недоступен."));
    return nullptr;
  }

  // The check has read every object stream already; the engine need not search them again.
  OpenHints hints;
  hints.no_rotate_key = report.no_rotate_key;
  std::unique_ptr<IDocument> doc = engine->open(span, {}, hints);
  QByteArray password;  // the one that opened the document
  if (!doc && engine->last_open_needs_password()) {
    for (int attempt = 0; attempt < 3 && !doc; ++attempt) {
      QString pw;
      if (attempt == 0 && !openPassword.isEmpty()) {
        pw = openPassword;
      } else {
        QInputDialog prompt(this);
        prompt.setWindowTitle(L("Защищённый документ", "Protected document"));
        prompt.setInputMode(QInputDialog::TextInput);
        prompt.setLabelText(QStringLiteral("«%1» зашифрован. Введите пароль:").arg(name));
        // The file name is the file's text, never markup.
        if (auto* label = prompt.findChild<QLabel*>()) label->setTextFormat(Qt::PlainText);
        prompt.setTextEchoMode(QLineEdit::Password);
        prompt.setTextValue(QString());
        if (prompt.exec() != QDialog::Accepted) {
          statusBar()->showMessage(QStringLiteral("Открытие отменено: %1").arg(name));
          return nullptr;
        }
        pw = prompt.textValue();
      }
      password = pw.toUtf8();
      doc = engine->open(span, std::string_view(password.constData(), static_cast<size_t>(password.size())), hints);
    }
  }
  if (!doc) {
    statusBar()->showMessage(engine->last_open_needs_password()
                                 ? QStringLiteral("Неверный пароль: %1").arg(name)
                                 : QStringLiteral("Не удалось разобрать документ: %1").arg(name));
    return nullptr;
  }
  if (report.needs_password &&
      !confirmThreats(this, name, security::scan(span, std::string_view(password.constData(), static_cast<size_t>(password.size()))),
                      &verdict)) {
    statusBar()->showMessage(L("Открытие отменено: %1", "Open cancelled: %1").arg(name));
    return nullptr;
  }

  auto* view = new PdfView(this);
  connect(view, &PdfView::pageChanged, this, [this, view](int page) {
    if (currentView() != view || !pageSpin) return;
    const bool blocked = pageSpin->blockSignals(true);
    pageSpin->setValue(page);
    if (thumbnailPanel) thumbnailPanel->highlightPage(page);
    pageSpin->blockSignals(blocked);
  });
  connect(view, &PdfView::scaleChanged, this, [this, view](double scale) {
    if (currentView() != view || !zoomLabel) return;
    zoomLabel->setText(QStringLiteral("%1%").arg(std::lround(scale * 100.0)));
  });
  connect(view, &PdfView::pageStructureChanged, this, [this, view] {
    if (currentView() != view) return;
    syncControlsToCurrent();
    if (outlinePanel) outlinePanel->setView(view);
  });
  connect(view, &PdfView::annotationStoreFailed, this, [this](const QString& message) {
    statusBar()->showMessage(message);
  });
  connect(view, &PdfView::pageEditRefused, this, [this, view](const QString& message) {
    view->setProperty(refusedEditsProperty, view->property(refusedEditsProperty).toStringList() << message);
    statusBar()->showMessage(message, 0);
  });

  view->setStore(annotationStore.get(), QString::fromLatin1(key.get()));
  view->setDocument(std::move(doc));
  watchEdits(*view);

  // A tab title reads "&" as the mark of a shortcut letter; the file's name is shown as it is.
  const int index = tabs->addTab(view, QString(name).replace(QLatin1Char('&'), QStringLiteral("&&")));
  tabs->setTabToolTip(index, plainToolTip(shownPath));
  followUnsaved(view);
  view->setProperty(documentPathProperty, shownPath);
  tabs->setCurrentIndex(index);
  updateStack();
  if (remember && recentsStore) recentsStore->add(path, name);
  syncControlsToCurrent();
  applyModeToView();

  // Asked without reading the tree, which the panel reads once the page is on the screen.
  if (view->doc && view->doc->has_outline())
    outlineDock->raise();
  else
    thumbDock->raise();

  if (!has_readable_page(*view->doc))
    statusBar()->showMessage(L("Открыт %1 — в документе нет читаемых страниц", "Opened %1 — the document has no readable pages").arg(name));
  else
    statusBar()->showMessage(L("Открыт %1 — безопасность: %2", "Opened %1 — security: %2").arg(name, verdict));
  return view;
}

void MainWindow::openFileDialog() {
  const QString path = QFileDialog::getOpenFileName(this, L("Открыть PDF", "Open PDF"), QString(),
                                                    QStringLiteral("PDF документы (*.pdf);;Все файлы (*)"));
  if (!path.isEmpty()) openFile(path);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasUrls())
    e->acceptProposedAction();
  else
    e->ignore();
}

void MainWindow::dropEvent(QDropEvent* e) {
  const QList<QUrl> urls = e->mimeData()->urls();
  for (const QUrl& url : urls)
    if (url.isLocalFile()) openFile(url.toLocalFile());
  e->acceptProposedAction();
}

}  // namespace quorvel::desktop
