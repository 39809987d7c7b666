#include "desktop/window/OpenPrefetch.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <limits>
#include <span>
#include <system_error>

namespace quorvel::desktop {

namespace {

OpenPrefetch* g_current = nullptr;

}  // namespace

std::future<QByteArray> documentKey(const QByteArray& bytes) {
  const auto hash = [&bytes] { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(); };
  try {
    return std::async(std::launch::async, hash);
  } catch (const std::system_error&) {
    return std::async(std::launch::deferred, hash);
  }
}

OpenPrefetch::OpenPrefetch(const QString& path) : path_(path) {
  g_current = this;
  if (path_.isEmpty()) return;
  auto read = [path]() -> std::optional<Read> {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential()) return std::nullopt;
    Read r;
    const QFileInfo info(file);
    r.size = info.size();
    r.modified = info.lastModified();
    // The engine refuses such sizes; the window's open says so without reading them.
    if (r.size >= std::numeric_limits<int>::max()) return std::nullopt;
    r.file.bytes = file.readAll();
    if (r.file.bytes.size() != r.size) return std::nullopt;
    const QByteArray& bytes = r.file.bytes;
    // The key takes as long as the check; both are ready when the window asks.
    std::future<QByteArray> key = documentKey(bytes);
    const auto span = std::as_bytes(std::span<const char>(bytes.constData(), static_cast<size_t>(bytes.size())));
    r.file.report = security::scan(span);
    r.file.key = key.get();
    return r;
  };
  try {
    work_ = std::async(std::launch::async, read);
  } catch (const std::system_error&) {
    // Without a thread the window's open does the work itself.
  }
}

OpenPrefetch::~OpenPrefetch() {
  if (g_current == this) g_current = nullptr;
  if (work_.valid()) work_.wait();
}

OpenPrefetch* OpenPrefetch::current() { return g_current; }

bool OpenPrefetch::finished() const {
  return !work_.valid() || work_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

std::optional<PrefetchedFile> OpenPrefetch::take(const QString& path) {
  if (path != path_ || !work_.valid()) return std::nullopt;
  std::optional<Read> r = work_.get();
  if (!r) return std::nullopt;
  // A file replaced or written since is read again, as the open would have read it.
  const QFileInfo now(path);
  if (!now.exists() || now.size() != r->size || now.lastModified() != r->modified) return std::nullopt;
  return std::move(r->file);
}

}  // namespace quorvel::desktop
