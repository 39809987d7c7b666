#include "desktop/viewer/SearchRun.h"

#include <QMetaObject>

#include <utility>

namespace quorvel::desktop {

SearchRun::SearchRun(const IDocument& doc, search::PageTextCache& cache, search::Query q, size_t max)
    : query(std::move(q)) {
  thread = std::thread([this, &doc, &cache, max] { work(doc, cache, query, max); });
}

SearchRun::~SearchRun() { stop(); }

void SearchRun::stop() {
  stopping = true;
  if (thread.joinable()) thread.join();
  // Deliveries already queued find nobody listening.
  disconnect();
}

void SearchRun::work(const IDocument& doc, search::PageTextCache& cache, const search::Query& q, size_t max) {
  bool more = false;
  if (q.valid() && max > 0) {
    const int pages = doc.page_count();
    size_t found = 0;
    for (int p = 0; p < pages && !stopping; ++p) {
      std::vector<search::DocMatch> hits;
      // One hit past the limit tells a capped count from one that just reaches it.
      search::search_page(p, *cache.read(doc, p), q, max + 1 - found, hits);
      found += hits.size();
      if (found > max) {
        hits.pop_back();
        more = true;
      }
      if (!hits.empty()) {
        std::lock_guard<std::mutex> g(mutex);
        pending.insert(pending.end(), std::make_move_iterator(hits.begin()), std::make_move_iterator(hits.end()));
        if (!deliveryQueued) {
          deliveryQueued = true;
          QMetaObject::invokeMethod(this, &SearchRun::deliver, Qt::QueuedConnection);
        }
      }
      if (more) break;
    }
  }
  if (stopping) return;
  std::lock_guard<std::mutex> g(mutex);
  ended = true;
  capped = more;
  if (!deliveryQueued) {
    deliveryQueued = true;
    QMetaObject::invokeMethod(this, &SearchRun::deliver, Qt::QueuedConnection);
  }
}

void SearchRun::deliver() {
  if (stopping) return;
  std::vector<search::DocMatch> hits;
  bool end = false, more = false;
  {
    std::lock_guard<std::mutex> g(mutex);
    hits.swap(pending);
    deliveryQueued = false;
    end = ended;
    more = capped;
  }
  inDelivery = true;
  if (!hits.empty()) emit hitsFound(hits);
  if (end && !delivered && !stopping) {
    delivered = true;
    emit finished(more);
  }
  inDelivery = false;
}

}  // namespace quorvel::desktop
