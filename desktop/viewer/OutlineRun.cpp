#include "desktop/viewer/OutlineRun.h"

#include <QMetaObject>

#include <optional>
#include <utility>

namespace quorvel::desktop {

OutlineRun::OutlineRun(const IDocument& d) : doc(d) { start(); }

OutlineRun::~OutlineRun() {
  stopping = true;
  if (thread.joinable()) thread.join();
}

void OutlineRun::start() {
  if (thread.joinable()) thread.join();
  thread = std::thread([this] { work(); });
}

void OutlineRun::work() {
  while (!stopping) {
    const uint64_t since = doc.revision();
    std::optional<std::vector<OutlineItem>> read = doc.outline_at(since, [this] { return stopping.load(); });
    if (!read) continue;  // stopped, or edited meanwhile: the loop tells which
    {
      std::lock_guard<std::mutex> g(mutex);
      tree = std::move(*read);
      treeRevision = since;
    }
    QMetaObject::invokeMethod(this, &OutlineRun::deliver, Qt::QueuedConnection);
    return;
  }
}

void OutlineRun::deliver() {
  if (stopping) return;
  std::vector<OutlineItem> out;
  uint64_t revision = 0;
  {
    std::lock_guard<std::mutex> g(mutex);
    out.swap(tree);
    revision = treeRevision;
  }
  if (doc.revision() != revision) {
    start();
    return;
  }
  emit finished(out);
}

}  // namespace quorvel::desktop
