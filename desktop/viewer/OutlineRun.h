// A document's bookmark tree read on a thread of its own. The engine lets the window's calls
// and paints in between bookmarks, so a manual's long tree holds nothing up. The tree handed
// over is that of one revision of the document: an edit during the read, or before the tree
// reaches the window's thread, makes the run read again. Destroying the run stops and joins
// the thread first: the document it reads may go right after.
#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/engine.h"

namespace quorvel::desktop {

class OutlineRun : public QObject {
  Q_OBJECT

 public:
  explicit OutlineRun(const IDocument& doc);
  ~OutlineRun() override;

 signals:
  // Once, on the window's thread.
  void finished(const std::vector<quorvel::OutlineItem>& outline);

 private:
  void start();
  void work();
  // On the window's thread: hands the tree over while it is still the document's.
  void deliver();

  const IDocument& doc;
  std::atomic<bool> stopping{false};
  std::mutex mutex;
  std::vector<OutlineItem> tree;  // these two under `mutex`
  uint64_t treeRevision = 0;
  std::thread thread;
};

class PdfView;

// The tree of the view's document for a tool that needs it whole, read on a thread while the
// window's events go on; nothing when the view or its document went meanwhile (the caller's
// view pointer may then dangle).
std::optional<std::vector<OutlineItem>> readOutlineAnswering(PdfView& view);

}  // namespace quorvel::desktop
