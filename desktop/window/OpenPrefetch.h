// The document named on the command line, read, checked and keyed on a worker while the window
// is built and shown. The window's open takes the result instead of doing the same work again;
// the engine still parses nothing before the check's question is answered. Only this light
// work runs beside the window's start, which a parse there would slow on a busy machine.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <future>
#include <optional>

#include "scanner/security.h"

namespace quorvel::desktop {

struct PrefetchedFile {
  QByteArray bytes;
  QByteArray key;  // the document key: SHA-256 of the bytes, lower-case hex
  security::ThreatReport report;
};

// The document key of `bytes` (SHA-256, lower-case hex), computed beside whatever the caller
// does meanwhile; a large file's takes as long as its parse. `bytes` must outlive the result.
std::future<QByteArray> documentKey(const QByteArray& bytes);

class OpenPrefetch {
 public:
  // Starts the work for `path` (nothing for an empty one); the live prefetch is the process's
  // one until it is destroyed.
  explicit OpenPrefetch(const QString& path);
  ~OpenPrefetch();
  OpenPrefetch(const OpenPrefetch&) = delete;
  OpenPrefetch& operator=(const OpenPrefetch&) = delete;

  static OpenPrefetch* current();

  // Whether the worker is done (or none was started).
  bool finished() const;

  // The result for `path`, once: waits for the worker; nothing when the prefetch was for
  // another path, failed, or the file changed since it was read.
  std::optional<PrefetchedFile> take(const QString& path);

 private:
  struct Read {
    PrefetchedFile file;
    qint64 size = -1;
    QDateTime modified;
  };

  QString path_;
  std::future<std::optional<Read>> work_;
};

}  // namespace quorvel::desktop
