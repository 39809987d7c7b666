// The recently opened files that the start page lists, in the same database file as the
// annotations but through a connection of its own.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <vector>

namespace quorvel::desktop {

struct RecentEntry {
  QString path;
  QString title;  // empty when none was recorded; the start page then shows the file name
};

class RecentsStore {
 public:
  explicit RecentsStore(const QString& path);
  ~RecentsStore();
  RecentsStore(const RecentsStore&) = delete;
  RecentsStore& operator=(const RecentsStore&) = delete;

  bool isOpen() const;
  // See AnnotationStore::damagedCopy.
  QString damagedCopy() const;

  // Records that the path was opened now; a path already listed keeps one row. False when
  // closed or when the write failed (callers may ignore it).
  bool add(const QString& path, const QString& title);
  // Newest first; a negative limit lists everything.
  std::vector<RecentEntry> list(int limit);
  void clear();

 private:
  QSqlDatabase db;
  QString connectionName;
  QString damagedPath;
};

}  // namespace quorvel::desktop
