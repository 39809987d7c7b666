// One search of a document on a thread of its own. The thread reads the document page by page,
// so the window's own calls wait at most for one page, and hands the hits to the window's thread
// a batch at a time. Destroying the run stops and joins the thread first: the document it reads
// may go right after.
#pragma once

#include <QObject>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "core/engine.h"
#include "core/search.h"
#include "core/search_cache.h"

namespace quorvel::desktop {

class SearchRun : public QObject {
  Q_OBJECT

 public:
  // At most `max` hits; when there are more, the run ends short of them and says so.
  SearchRun(const IDocument& doc, search::PageTextCache& cache, search::Query query, size_t max);
  ~SearchRun() override;

  // Whether `finished` has been emitted.
  bool done() const { return delivered; }
  // Ends the thread and silences the run: nothing more is handed over.
  void stop();
  // Whether the run is handing over hits right now, further up the caller's stack.
  bool delivering() const { return inDelivery; }

 signals:
  void hitsFound(const std::vector<quorvel::search::DocMatch>& hits);
  // `capped`: the document holds more hits than the run may give.
  void finished(bool capped);

 private:
  void work(const IDocument& doc, search::PageTextCache& cache, const search::Query& query, size_t max);
  // On the window's thread: hands over what the thread found since the last time.
  void deliver();

  std::atomic<bool> stopping{false};
  std::mutex mutex;
  std::vector<search::DocMatch> pending;  // all under `mutex`
  bool ended = false;
  bool capped = false;
  bool deliveryQueued = false;
  bool delivered = false;  // these two: the window's thread only
  bool inDelivery = false;
  search::Query query;
  std::thread thread;
};

}  // namespace quorvel::desktop
