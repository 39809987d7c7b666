// The user's annotations of every document, kept outside the PDF in the SQLite database and
// keyed by the document key (the window uses the SHA-256 of the file's bytes).
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <vector>

#include "core/annot.h"

namespace quorvel::desktop {

class AnnotationStore {
 public:
  // Opens its own connection on the database file; a file that cannot be used leaves the
  // store closed for its whole life.
  explicit AnnotationStore(const QString& path);
  ~AnnotationStore();
  AnnotationStore(const AnnotationStore&) = delete;
  AnnotationStore& operator=(const AnnotationStore&) = delete;

  bool isOpen() const;
  // Where the database file was moved because it failed its integrity check; empty when it
  // was not. The store is closed then, and the window tells the user.
  QString damagedCopy() const;

  // Inserts, or replaces in full the row with the same key and id (which keeps its place in
  // the load order).
  bool add(const QString& docHash, const annot::Annotation& a);
  // The same for many, in one transaction: all of them are written or none.
  bool addAll(const QString& docHash, const std::vector<annot::Annotation>& list);
  // True also when nothing matched.
  bool remove(const QString& docHash, const QString& id);
  // Ordered by page, then by when each annotation was first added.
  std::vector<annot::Annotation> load(const QString& docHash);

 private:
  QSqlDatabase db;
  QString connectionName;
  QString damagedPath;
};

}  // namespace quorvel::desktop
