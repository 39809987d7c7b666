#include "desktop/tools/DocumentCopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include "desktop/viewer/PdfView.h"

namespace quorvel::desktop {

namespace {

// Holds the document that the view had when watching began, until its first edit.
constexpr char kUnedited[] = "quorvel-unedited";

bool unedited(const PdfView& view) {
  return view.doc && view.property(kUnedited).value<quintptr>() == reinterpret_cast<quintptr>(view.doc.get());
}

Copy savedCopy(PdfView& view, const char* tool, QByteArray& bytes) {
  QTemporaryFile file(QDir(QDir::tempPath())
                          .filePath(QStringLiteral("quorvel-%1-%2-XXXXXX.pdf")
                                        .arg(QLatin1String(tool))
                                        .arg(QCoreApplication::applicationPid())));
  if (!file.open()) return Copy::NotSaved;
  file.close();
  if (!view.saveAs(file.fileName())) return Copy::NotSaved;
  QFile saved(file.fileName());
  if (!saved.open(QIODevice::ReadOnly)) return Copy::NotRead;
  bytes = saved.readAll();
  return bytes.isEmpty() ? Copy::NotRead : Copy::Ok;
}

}  // namespace

void watchEdits(PdfView& view) {
  view.setProperty(kUnedited, QVariant::fromValue(reinterpret_cast<quintptr>(view.doc.get())));
  const auto edited = [v = &view] { v->setProperty(kUnedited, QVariant()); };
  QObject::connect(&view, &PdfView::pageStructureChanged, &view, edited);
  QObject::connect(&view, &PdfView::pageContentChanged, &view, edited);
}

Copy documentCopy(PdfView& view, const char* tool, QByteArray& bytes) {
  // A page that cannot be read would reach the backend empty.
  if (!view.doc || !view.doc->unreadable_pages().empty()) return Copy::NotSaved;
  const std::vector<std::byte> source =
      unedited(view) && view.annotations.empty() ? view.doc->source_bytes() : std::vector<std::byte>();
  if (!source.empty()) {
    bytes = QByteArray(reinterpret_cast<const char*>(source.data()), static_cast<qsizetype>(source.size()));
  } else if (const Copy c = savedCopy(view, tool, bytes); c != Copy::Ok) {
    return c;
  }
  if (!view.doc->metadata().encrypted) return Copy::Ok;
  std::vector<uint8_t> plain;
  if (!view.doc->decrypted_copy(std::as_bytes(std::span<const char>(bytes.constData(), static_cast<size_t>(bytes.size()))),
                                plain))
    return Copy::NotSaved;
  bytes = QByteArray(reinterpret_cast<const char*>(plain.data()), static_cast<qsizetype>(plain.size()));
  return Copy::Ok;
}

Protection protectionOf(const PdfView& view) {
  IDocument::Protector protect = view.doc ? view.doc->protector() : IDocument::Protector();
  if (!protect) return {};
  return [protect = std::move(protect)](QByteArray& pdf) {
    std::vector<uint8_t> locked;
    if (!protect(std::as_bytes(std::span<const char>(pdf.constData(), static_cast<size_t>(pdf.size()))), locked))
      return false;
    pdf = QByteArray(reinterpret_cast<const char*>(locked.data()), static_cast<qsizetype>(locked.size()));
    return true;
  };
}

}  // namespace quorvel::desktop
