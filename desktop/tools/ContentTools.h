// The parts of the bookmark editor, the form designer and the content export that need no
// window: the tree and the table as request JSON, new rows, and the export form of a path.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <map>
#include <optional>

#include "core/engine.h"

class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace quorvel::desktop {

// A cell read as a base-10 whole number in the 32-bit range; anything else is 0.
qint64 cellNumber(const QString& text);

// --- Bookmark editor ---------------------------------------------------------------------
// The tree's rows as `bookmarks`: title as shown, page = cell - 1, `children` only when a row
// has some.
QJsonArray bookmarksJson(const QTreeWidget& tree);
// Fills the tree from an outline (page + 1 in the page cell) and expands it.
void loadBookmarks(QTreeWidget& tree, const std::vector<OutlineItem>& outline);
// "+ Bookmark" (child false) and "+ Child": a new editable row showing max(1, currentPage);
// a child goes under the current row (expanding it), or to the top level without one.
QTreeWidgetItem* addBookmarkRow(QTreeWidget& tree, int currentPage, bool child);

// --- Form designer -----------------------------------------------------------------------
struct FormRow {
  QString name;
  QString type;  // "text" or "checkbox"
  QString page;
  QString corner0;
  QString corner1;
};
// The row made by an add button: `counter` is the dialog's count after this row, `index` the
// number of rows before it, `refPage0` and `pageHeight` the reference page.
FormRow newFormRow(bool checkbox, int counter, int index, int refPage0, double pageHeight);
// "x,y" with each number in the shortest form that reads back exactly.
QString cornerText(double x, double y);
// A row as a field object, or nullopt when it is not valid: no name, a corner that does not
// split into two parts, or a coordinate that reads as infinite or not a number.
std::optional<QJsonObject> formFieldJson(const FormRow& row);
// The table's valid rows (columns name, type, page, corner, corner) in order.
QJsonArray formFieldsJson(const QTableWidget& table);
void appendFormRow(QTableWidget& table, const FormRow& row);

// --- Content export ----------------------------------------------------------------------
enum class ExportForm { Text, Html, WordHtml, Docx };
// By the path's ending, in any case: .docx, .doc, .html/.htm; anything else is text.
ExportForm exportFormFor(const QString& path);
// The file name without its directory and its last suffix.
QString docxTitle(const QString& path);
// One array per page of the trimmed, non-empty text runs, in the document's order.
QJsonArray docxPages(const IDocument& doc);
// The /pdf/to-docx body (indented JSON).
QByteArray docxRequestBody(const QString& title, const QJsonArray& pages);

// Whether a reply body is what the DOCX route promises.
inline bool isDocxBody(const QByteArray& body) { return body.startsWith(QByteArrayLiteral("PK\x03\x04")); }

// --- Text replacement --------------------------------------------------------------------
// What was left of a replacement over the document, page by page (1-based page numbers): the
// count and pages left, then each reason with its pages ("на стр. 12, 36 нет глифов для: «Ж»").
// Empty when nothing was left.
QString replacementLeftText(const std::map<int, TextReplacement>& pages);
// The status of a replacement that found `find`: a plain success only when nothing was left.
QString replacementStatus(const QString& find, const std::map<int, TextReplacement>& pages, const QString& outPath);

}  // namespace quorvel::desktop
