#include "desktop/tools/CompareHtml.h"

namespace quorvel::desktop {

namespace {

constexpr int kReportLinesPerPage = 40;
constexpr int kSideLinesPerPage = 300;
const QString kEllipsisRow = QStringLiteral("<div style='color:#9aa0b8'>…</div>");

QString escaped(const std::string& text) { return QString::fromStdString(text).toHtmlEscaped(); }

}  // namespace

CompareReport compareReport(const std::vector<diff::PageDiff>& diffs) {
  CompareReport r;
  r.html = QStringLiteral("<div style='margin:4px 0'>");
  for (const diff::PageDiff& d : diffs) {
    if (!d.changed) continue;
    ++r.changedPages;
    r.added += d.added;
    r.removed += d.removed;
  }
  if (r.changedPages == 0) r.html += QStringLiteral("<div style='color:#9aa0b8'>Различий не найдено.</div>");
  for (const diff::PageDiff& d : diffs) {
    if (!d.changed) continue;
    const int page = d.page + 1;
    r.html += QStringLiteral(
                  "<div style='margin:6px 0 2px'><a href='quorvel-page:%1' "
                  "style='color:#7c5cff;text-decoration:none'>стр. %1</a> <span style='color:#7bd88f'>+%2</span> "
                  "<span style='color:#ff6b6b'>−%3</span></div>")
                  .arg(page)
                  .arg(d.added)
                  .arg(d.removed);
    int shown = 0;
    bool cut = false;
    for (const diff::Line& line : d.lines) {
      if (line.kind != 1 && line.kind != 2) continue;
      const bool added = line.kind == 1;
      if (shown < kReportLinesPerPage) {
        ++shown;
        r.html += added ? QStringLiteral("<div style='color:#7bd88f'>+ %1</div>").arg(escaped(line.text))
                        : QStringLiteral("<div style='color:#ff6b6b;text-decoration:line-through'>− %1</div>")
                              .arg(escaped(line.text));
      } else if (!cut) {
        cut = true;
        r.html += kEllipsisRow;
      }
    }
  }
  r.html += QStringLiteral("</div>");
  r.diffText = changeText(diffs);
  return r;
}

QString changeText(const std::vector<diff::PageDiff>& diffs) {
  QString text;
  for (const diff::PageDiff& d : diffs) {
    if (!d.changed) continue;
    text += QStringLiteral("[стр. %1]\n").arg(d.page + 1);
    for (const diff::Line& line : d.lines) {
      if (line.kind != 1 && line.kind != 2) continue;
      text += (line.kind == 1 ? QStringLiteral("+ ") : QStringLiteral("- ")) + QString::fromStdString(line.text) +
              QLatin1Char('\n');
    }
  }
  return text;
}

SideBySide sideBySide(const std::vector<diff::PageDiff>& diffs) {
  SideBySide s;
  s.left = s.right = QStringLiteral("<div style='font-family:monospace;white-space:pre-wrap'>");
  const QString blank = QStringLiteral("<div>&nbsp;</div>");
  for (const diff::PageDiff& d : diffs) {
    if (!d.changed) continue;
    const int page = d.page + 1;
    s.changedPages.append(page);
    const QString header =
        QStringLiteral("<a name='chg-%1'></a><div style='margin:8px 0 2px;color:#7c5cff'><b>стр. %1</b></div>")
            .arg(page);
    s.left += header;
    s.right += header;
    int shown = 0;
    for (const diff::Line& line : d.lines) {
      if (shown == kSideLinesPerPage) {
        s.left += kEllipsisRow;
        s.right += kEllipsisRow;
        break;
      }
      ++shown;
      const QString text = escaped(line.text);
      if (line.kind == 2) {
        s.left += QStringLiteral("<div style='color:#ff6b6b;text-decoration:line-through'>− %1</div>").arg(text);
        s.right += blank;
      } else if (line.kind == 1) {
        s.left += blank;
        s.right += QStringLiteral("<div style='color:#7bd88f'>+ %1</div>").arg(text);
      } else {
        const QString row = QStringLiteral("<div style='color:#9aa0b8'>%1</div>").arg(text);
        s.left += row;
        s.right += row;
      }
    }
  }
  s.left += QStringLiteral("</div>");
  s.right += QStringLiteral("</div>");
  return s;
}

}  // namespace quorvel::desktop
