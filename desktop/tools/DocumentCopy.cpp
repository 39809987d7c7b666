#include "desktop/tools/DocumentCopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include "desktop/viewer/PdfView.h"

namespace quorvel::desktop {

bool documentBytes(PdfView& view, const char* tool, QByteArray& bytes) {
  QTemporaryFile file(QDir(QDir::tempPath())
                          .filePath(QStringLiteral("quorvel-%1-%2-XXXXXX.pdf")
                                        .arg(QLatin1String(tool))
                                        .arg(QCoreApplication::applicationPid())));
  if (!file.open()) return false;
  file.close();
  if (!view.saveAs(file.fileName())) return false;
  QFile saved(file.fileName());
  if (!saved.open(QIODevice::ReadOnly)) return false;
  bytes = saved.readAll();
  return !bytes.isEmpty();
}

}  // namespace quorvel::desktop
