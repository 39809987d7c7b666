#include "desktop/tools/DocumentCopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include "desktop/viewer/PdfView.h"

namespace quorvel::desktop {

Copy documentCopy(PdfView& view, const char* tool, QByteArray& bytes) {
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

}  // namespace quorvel::desktop
