#include "desktop/tools/Ocr.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <array>
#include <cmath>

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

std::optional<QByteArray> runOcrProgram(const QString& program, const QStringList& args, int timeoutMs,
                                        const std::function<bool()>& stop) {
  QProcess p;
  p.setProgram(program);
  p.setArguments(args);
  p.setStandardInputFile(QProcess::nullDevice());
  p.setStandardErrorFile(QProcess::nullDevice());
  p.start();
  if (!p.waitForStarted()) return std::nullopt;
  // In slices, so that a stop is heard while the program still works.
  constexpr int kSliceMs = 50;
  QElapsedTimer clock;
  clock.start();
  bool finished = false;
  while (!finished && !(stop && stop())) {
    const qint64 left = timeoutMs - clock.elapsed();
    if (left <= 0) break;
    finished = p.waitForFinished(static_cast<int>(std::min<qint64>(left, stop ? kSliceMs : left)));
    if (!finished && p.state() == QProcess::NotRunning) break;
  }
  if (!finished) {
    p.kill();
    p.waitForFinished();
    return std::nullopt;
  }
  if (p.exitStatus() != QProcess::NormalExit) return std::nullopt;
  return p.readAllStandardOutput();
}

namespace {

// A scan this much of the page covers is the page; its resolution is that of the recognition.
constexpr double kScanShare = 0.8;
constexpr double kMinDpi = 72;
constexpr double kMaxDpi = 600;
// A bigger rendering costs memory without reading better (an A4 page at 600 dpi fits), and
// the recogniser refuses images of more than 40 million pixels.
constexpr double kMaxPixels = 36e6;

// Four numbers, or nothing.
std::optional<std::array<double, 4>> quad(const QJsonValue& v) {
  const QJsonArray a = v.toArray();
  if (a.size() != 4) return std::nullopt;
  std::array<double, 4> out{};
  for (int i = 0; i < 4; ++i) {
    if (!a[i].isDouble()) return std::nullopt;
    out[static_cast<size_t>(i)] = a[i].toDouble();
  }
  return out;
}

}  // namespace

double ocrPageDpi(IDocument& doc, int page) {
  const PageInfo info = doc.page_info(page);
  const double pageArea = info.width * info.height;
  double dpi = kOcrDefaultDpi;
  double covered = 0;
  for (const IDocument::ImageRef& image : doc.list_images(page)) {
    const double w = std::min(image.right, info.width) - std::max(image.left, 0.0);
    const double h = std::min(image.top, info.height) - std::max(image.bottom, 0.0);
    const double area = (image.right - image.left) * (image.top - image.bottom);
    int pw = 0, ph = 0;
    if (!(w > 0 && h > 0 && w * h > covered && w * h >= kScanShare * pageArea && area > 0)) continue;
    if (!doc.image_pixel_size(page, image.index, pw, ph)) continue;
    covered = w * h;
    // Pixels per point over the area, whichever way the image is turned on the page.
    dpi = 72 * std::sqrt(double(pw) * ph / area);
  }
  dpi = std::clamp(dpi, kMinDpi, kMaxDpi);
  if (pageArea > 0) dpi = std::min(dpi, 72 * std::sqrt(kMaxPixels / pageArea));
  return dpi;
}

std::optional<std::vector<TextSpan>> ocrSpans(const QByteArray& json, const PageInfo& page) {
  const QJsonObject o = QJsonDocument::fromJson(json).object();
  const double w = o.value(QStringLiteral("width")).toDouble();
  const double h = o.value(QStringLiteral("height")).toDouble();
  const QJsonArray items = o.value(QStringLiteral("items")).toArray();
  if (!(w > 0) || !(h > 0) || items.isEmpty()) return std::nullopt;
  const QJsonArray lines = o.value(QStringLiteral("lines")).toArray();
  const int turns = (page.rotation / 90) & 3;
  // The image shows the page turned: its width runs along the page's height when the page
  // lies on its side.
  const double shownW = (turns & 1) ? page.height : page.width;
  const double shownH = (turns & 1) ? page.width : page.height;
  const double sx = shownW / w, sy = shownH / h;
  // A point of the image, in points from the top left of the page as shown, to page space.
  auto toPage = [&](double u, double v, double& x, double& y) {
    u *= sx;
    v *= sy;
    switch (turns) {
      case 1: x = v, y = u; break;
      case 2: x = page.width - u, y = v; break;
      case 3: x = page.width - v, y = page.height - u; break;
      default: x = u, y = page.height - v;
    }
  };
  std::vector<TextSpan> spans;
  for (const QJsonValue& v : items) {
    const QJsonObject item = v.toObject();
    const QString text = item.value(QStringLiteral("text")).toString();
    const std::optional<std::array<double, 4>> box = quad(item.value(QStringLiteral("box")));
    if (text.trimmed().isEmpty() || !box) continue;
    const auto [b0, b1, b2, b3] = *box;
    TextSpan s;
    s.text = text.toStdString();
    double xa, ya, xb, yb;
    toPage(b0, b1, xa, ya);
    toPage(b2, b3, xb, yb);
    s.x0 = std::min(xa, xb);
    s.x1 = std::max(xa, xb);
    s.y0 = std::min(ya, yb);
    s.y1 = std::max(ya, yb);
    const double line = item.value(QStringLiteral("line")).toDouble(-1);
    if (line >= 0 && line < lines.size() && line == std::floor(line)) {
      s.line = static_cast<int>(line);
      // The baseline where it passes under the middle of the word.
      const std::optional<std::array<double, 4>> base = quad(lines[s.line].toObject().value(QStringLiteral("baseline")));
      if (base && (*base)[2] != (*base)[0]) {
        const auto [u0, v0, u1, v1] = *base;
        const double onBase = v0 + (v1 - v0) * ((b0 + b2) / 2 - u0) / (u1 - u0);
        s.descent = std::clamp(std::max(b1, b3) - onBase, 0.0, std::fabs(b3 - b1)) * sy;
      }
    }
    spans.push_back(std::move(s));
  }
  return spans;
}

}  // namespace quorvel::desktop
