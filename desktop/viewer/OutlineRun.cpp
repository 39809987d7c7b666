#include "desktop/viewer/OutlineRun.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>

#include "desktop/viewer/PdfView.h"

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

std::optional<std::vector<OutlineItem>> readOutlineAnswering(PdfView& view) {
  if (!view.doc) return std::nullopt;
  const QPointer<PdfView> guard(&view);
  view.toolOutlineRun = std::make_unique<OutlineRun>(*view.doc);
  std::optional<std::vector<OutlineItem>> tree;
  QEventLoop loop;
  // The run goes with the view or its document, before the document itself.
  QObject::connect(view.toolOutlineRun.get(), &QObject::destroyed, &loop, &QEventLoop::quit);
  QObject::connect(view.toolOutlineRun.get(), &OutlineRun::finished, &loop,
                   [&](const std::vector<OutlineItem>& outline) {
                     tree = outline;
                     loop.quit();
                   });
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (!guard || !tree) return std::nullopt;
  guard->toolOutlineRun.reset();
  return tree;
}

}  // namespace quorvel::desktop
