#include "desktop/tools/Ocr.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace quorvel::desktop {

QString findOcrSidecarIn(const QString& envValue, const QString& appDir) {
  if (!envValue.isEmpty() && QFileInfo::exists(envValue)) return envValue;
  const QString beside = QDir(appDir).filePath(QStringLiteral("taviocr"));
  return QFileInfo::exists(beside) ? beside : QString();
}

QString findOcrSidecar() {
  return findOcrSidecarIn(qEnvironmentVariable("QUORVEL_OCR"), QCoreApplication::applicationDirPath());
}

int ocrLineCount(const QString& trimmed) {
  return trimmed.isEmpty() ? 0 : static_cast<int>(trimmed.count(QLatin1Char('\n'))) + 1;
}

std::optional<QByteArray> runOcrProgram(const QString& program, const QStringList& args, int timeoutMs) {
  QProcess p;
  p.setProgram(program);
  p.setArguments(args);
  p.setStandardInputFile(QProcess::nullDevice());
  p.setStandardErrorFile(QProcess::nullDevice());
  p.start();
  if (!p.waitForStarted()) return std::nullopt;
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
    return std::nullopt;
  }
  if (p.exitStatus() != QProcess::NormalExit) return std::nullopt;
  return p.readAllStandardOutput();
}

std::vector<TextSpan> ocrSpans(const QByteArray& json, double pageWidth, double pageHeight) {
  const QJsonObject o = QJsonDocument::fromJson(json).object();
  const double w = o.value(QStringLiteral("width")).toDouble();
  const double h = o.value(QStringLiteral("height")).toDouble();
  const QJsonArray items = o.value(QStringLiteral("items")).toArray();
  std::vector<TextSpan> spans;
  if (!(w > 0) || !(h > 0)) return spans;
  for (const QJsonValue& v : items) {
    const QJsonObject item = v.toObject();
    const QString text = item.value(QStringLiteral("text")).toString();
    const QJsonArray box = item.value(QStringLiteral("box")).toArray();
    if (text.isEmpty() || box.size() != 4) continue;
    bool numbers = true;
    for (const QJsonValue& b : box) numbers = numbers && b.isDouble();
    if (!numbers) continue;
    TextSpan s;
    s.text = text.toStdString();
    s.x0 = box[0].toDouble() * pageWidth / w;
    s.y0 = pageHeight - box[3].toDouble() * pageHeight / h;
    s.x1 = box[2].toDouble() * pageWidth / w;
    s.y1 = pageHeight - box[1].toDouble() * pageHeight / h;
    spans.push_back(std::move(s));
  }
  return spans;
}

}  // namespace quorvel::desktop
