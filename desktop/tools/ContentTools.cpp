#include "desktop/tools/ContentTools.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QTableWidget>
#include <QTreeWidget>

#include <cmath>
#include <functional>
#include <limits>

#include "desktop/window/lang.h"

namespace quorvel::desktop {

qint64 cellNumber(const QString& text) {
  bool ok = false;
  const int v = text.toInt(&ok, 10);
  return ok ? v : 0;
}

namespace {

QJsonArray bookmarksUnder(const QTreeWidgetItem* parent) {
  QJsonArray out;
  for (int i = 0; i < parent->childCount(); ++i) {
    const QTreeWidgetItem* row = parent->child(i);
    QJsonObject mark{{QStringLiteral("title"), row->text(0)},
                     {QStringLiteral("page"), cellNumber(row->text(1)) - 1}};
    if (row->childCount() > 0) mark.insert(QStringLiteral("children"), bookmarksUnder(row));
    out.append(mark);
  }
  return out;
}

QTreeWidgetItem* bookmarkRow(const QString& title, qint64 page) {
  auto* row = new QTreeWidgetItem({title, QString::number(page)});
  row->setFlags(row->flags() | Qt::ItemIsEditable);
  return row;
}

void loadUnder(QTreeWidget& tree, QTreeWidgetItem* parent, const std::vector<OutlineItem>& items) {
  for (const OutlineItem& item : items) {
    QTreeWidgetItem* row = bookmarkRow(QString::fromStdString(item.title), qint64(item.page) + 1);
    if (parent)
      parent->addChild(row);
    else
      tree.addTopLevelItem(row);
    loadUnder(tree, row, item.children);
  }
}

// A corner part: nullopt for a value no field can have; text that is no number reads as 0.
std::optional<double> coordinate(const QString& part) {
  bool ok = false;
  const double v = part.toDouble(&ok);
  if (!std::isfinite(v)) return std::nullopt;
  return ok ? v : 0.0;
}

std::optional<std::pair<double, double>> corner(const QString& cell) {
  const QStringList parts = cell.split(QLatin1Char(','));
  if (parts.size() != 2) return std::nullopt;
  const std::optional<double> x = coordinate(parts[0]), y = coordinate(parts[1]);
  if (!x || !y) return std::nullopt;
  return std::pair{*x, *y};
}

QString cell(const QTableWidget& table, int row, int column) {
  const QTableWidgetItem* item = table.item(row, column);
  return item ? item->text() : QString();
}

}  // namespace

QJsonArray bookmarksJson(const QTreeWidget& tree) { return bookmarksUnder(tree.invisibleRootItem()); }

void loadBookmarks(QTreeWidget& tree, const std::vector<OutlineItem>& outline) {
  loadUnder(tree, nullptr, outline);
  tree.expandAll();
}

QTreeWidgetItem* addBookmarkRow(QTreeWidget& tree, int currentPage, bool child) {
  QTreeWidgetItem* row = bookmarkRow(L("Новая закладка", "New bookmark"), std::max(1, currentPage));
  QTreeWidgetItem* parent = child ? tree.currentItem() : nullptr;
  if (parent) {
    parent->addChild(row);
    parent->setExpanded(true);
  } else {
    tree.addTopLevelItem(row);
  }
  return row;
}

QString cornerText(double x, double y) {
  return QStringLiteral("%1,%2").arg(QString::number(x, 'g', QLocale::FloatingPointShortest),
                                     QString::number(y, 'g', QLocale::FloatingPointShortest));
}

FormRow newFormRow(bool checkbox, int counter, int index, int refPage0, double pageHeight) {
  const double width = checkbox ? 16 : 220, height = checkbox ? 16 : 20;
  const double x0 = 72, y0 = pageHeight - 120 - 30.0 * index;
  return {QStringLiteral("%1%2").arg(checkbox ? QStringLiteral("check") : QStringLiteral("field")).arg(counter),
          checkbox ? QStringLiteral("checkbox") : QStringLiteral("text"), QString::number(qint64(refPage0) + 1),
          cornerText(x0, y0), cornerText(x0 + width, y0 + height)};
}

std::optional<QJsonObject> formFieldJson(const FormRow& row) {
  if (row.name.isEmpty()) return std::nullopt;
  const auto a = corner(row.corner0), b = corner(row.corner1);
  if (!a || !b) return std::nullopt;
  return QJsonObject{{QStringLiteral("type"), row.type},
                     {QStringLiteral("name"), row.name},
                     {QStringLiteral("page"), cellNumber(row.page) - 1},
                     {QStringLiteral("rect"), QJsonArray{a->first, a->second, b->first, b->second}}};
}

QJsonArray formFieldsJson(const QTableWidget& table) {
  QJsonArray out;
  for (int r = 0; r < table.rowCount(); ++r) {
    const FormRow row{cell(table, r, 0), cell(table, r, 1), cell(table, r, 2), cell(table, r, 3), cell(table, r, 4)};
    if (const std::optional<QJsonObject> field = formFieldJson(row)) out.append(*field);
  }
  return out;
}

void appendFormRow(QTableWidget& table, const FormRow& row) {
  const int r = table.rowCount();
  table.insertRow(r);
  const QString cells[] = {row.name, row.type, row.page, row.corner0, row.corner1};
  for (int c = 0; c < 5; ++c) {
    auto* item = new QTableWidgetItem(cells[c]);
    if (c == 1) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    table.setItem(r, c, item);
  }
}

ExportForm exportFormFor(const QString& path) {
  const QString lower = path.toLower();
  if (lower.endsWith(QLatin1String(".docx"))) return ExportForm::Docx;
  if (lower.endsWith(QLatin1String(".doc"))) return ExportForm::WordHtml;
  if (lower.endsWith(QLatin1String(".html")) || lower.endsWith(QLatin1String(".htm"))) return ExportForm::Html;
  return ExportForm::Text;
}

QString docxTitle(const QString& path) { return QFileInfo(path).completeBaseName(); }

QJsonArray docxPages(const IDocument& doc) {
  QJsonArray pages;
  for (int i = 0; i < doc.page_count(); ++i) {
    QJsonArray runs;
    for (const TextRun& run : doc.extract_text(i).runs) {
      const QString text = QString::fromStdString(run.text).trimmed();
      if (!text.isEmpty()) runs.append(text);
    }
    pages.append(runs);
  }
  return pages;
}

QByteArray docxRequestBody(const QString& title, const QJsonArray& pages) {
  return QJsonDocument(QJsonObject{{QStringLiteral("title"), title}, {QStringLiteral("pages"), pages}})
      .toJson(QJsonDocument::Indented);
}

namespace {

// "12, 36" of the pages where `count` of a page is above 0, at most ten of them.
QString pagesWhere(const std::map<int, TextReplacement>& pages, const std::function<int(const TextReplacement&)>& count) {
  QStringList list;
  int more = 0;
  for (const auto& [page, r] : pages) {
    if (count(r) <= 0) continue;
    if (list.size() < 10) list << QString::number(qint64(page) + 1);
    else ++more;
  }
  QString out = list.join(QStringLiteral(", "));
  if (more > 0) out += QStringLiteral(" …");
  return out;
}

}  // namespace

QString replacementLeftText(const std::map<int, TextReplacement>& pages) {
  int left = 0;
  std::u32string missing;
  for (const auto& [page, r] : pages) {
    left += r.left();
    for (char32_t c : r.missing)
      if (missing.find(c) == std::u32string::npos) missing.push_back(c);
  }
  if (left == 0) return {};
  QStringList parts;
  parts << L("оставлено: %1 (стр. %2)", "left: %1 (pages %2)").arg(left).arg(pagesWhere(pages, [](const TextReplacement& r) { return r.left(); }));
  QStringList glyphs;
  for (char32_t c : missing) glyphs << QStringLiteral("«%1»").arg(QString::fromUcs4(&c, 1));
  const struct {
    int TextReplacement::*count;
    QString text;
  } reasons[] = {
      {&TextReplacement::missing_glyphs,
       L("на стр. %1 нет глифов для: %2", "pages %1 have no glyphs for: %2").arg(QStringLiteral("%1"), glyphs.join(QStringLiteral(", ")))},
      {&TextReplacement::no_room, L("на стр. %1 замена не помещается в строке", "on pages %1 the replacement does not fit its line")},
      {&TextReplacement::not_editable, L("на стр. %1 текст нельзя переписать", "on pages %1 the text cannot be rewritten")},
      {&TextReplacement::not_read_back,
       L("на стр. %1 результат не прочитался как задумано", "on pages %1 the result did not read back as intended")},
      {&TextReplacement::in_fields, L("на стр. %1 текст в полях формы", "on pages %1 the text is in form fields")},
  };
  for (const auto& reason : reasons) {
    const QString where = pagesWhere(pages, [&](const TextReplacement& r) { return r.*(reason.count); });
    if (!where.isEmpty()) parts << reason.text.arg(where);
  }
  return parts.join(QStringLiteral("; "));
}

QString replacementStatus(const QString& find, const std::map<int, TextReplacement>& pages, const QString& outPath) {
  int replaced = 0, operators = 0;
  for (const auto& [page, r] : pages) {
    replaced += r.replaced;
    operators += r.operators;
  }
  const QString left = replacementLeftText(pages);
  if (replaced == 0)
    return L("Текст найден, но заменить его не удалось: «%1»", "The text was found but could not be replaced: «%1»").arg(find) +
           (left.isEmpty() ? QString() : QStringLiteral(" — ") + left);
  if (left.isEmpty()) return L("Заменено объектов: %1 → %2", "Objects replaced: %1 → %2").arg(operators).arg(outPath);
  return L("Заменено не всё: заменено %1, %2 → %3", "Not everything was replaced: %1 replaced, %2 → %3")
      .arg(replaced)
      .arg(left, outPath);
}

}  // namespace quorvel::desktop
