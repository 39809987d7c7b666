// Search of the view's document off the window's thread, and the page text kept between
// searches, and for the other readers of every page, until a page's content changes.
#include <QScrollBar>

#include "desktop/viewer/PdfView.h"

namespace quorvel::desktop {

std::shared_ptr<search::TextBudget> PdfView::searchTextBudget() {
  // Enough for the text of a 2,500-page manual, shared by every open document.
  static const auto budget = std::make_shared<search::TextBudget>(size_t{96} << 20);
  return budget;
}

void PdfView::followEdits() {
  if (searchFollowsEdits) return;
  searchFollowsEdits = true;
  connect(this, &PdfView::pageContentChanged, this, [this](int page) { searchTextChanged(page); });
  connect(this, &PdfView::pageStructureChanged, this, [this] { searchTextChanged(-1); });
}

namespace {

class KeptTextReader final : public IDocument {
 public:
  KeptTextReader(const IDocument& doc, std::shared_ptr<search::PageTextCache> kept)
      : doc_(doc), kept_(std::move(kept)) {}
  int page_count() const override { return doc_.page_count(); }
  PageInfo page_info(int page) const override { return doc_.page_info(page); }
  RenderedTile render_tile(int, const RenderRequest&) override { return {}; }
  DocMetadata metadata() const override { return doc_.metadata(); }
  TextPage extract_text(int page) const override {
    const std::shared_ptr<const search::CachedPage> kept = kept_->read(doc_, page);
    TextPage out;
    out.runs.reserve(kept->run_count());
    for (size_t r = 0; r < kept->run_count(); ++r) {
      const search::Box box = kept->box(r);
      out.runs.push_back(TextRun{std::string(kept->text(r)), box.left, box.top, box.right, box.bottom, {}});
    }
    return out;
  }

 private:
  const IDocument& doc_;
  const std::shared_ptr<search::PageTextCache> kept_;
};

}  // namespace

std::unique_ptr<IDocument> PdfView::keptTextReader() {
  if (!doc) return nullptr;
  followEdits();
  return std::make_unique<KeptTextReader>(*doc, searchText);
}

void PdfView::startSearch(const QString& query, const search::Options& options, size_t max) {
  stopSearch();
  if (!doc) return;
  followEdits();
  const QByteArray text = query.toUtf8();
  searchRun = std::make_unique<SearchRun>(
      *doc, *searchText, search::Query(std::string_view(text.constData(), static_cast<size_t>(text.size())), options),
      max);
  // What the thread finds before these connections waits in the event queue.
  connect(searchRun.get(), &SearchRun::hitsFound, this, &PdfView::searchHitsFound);
  connect(searchRun.get(), &SearchRun::finished, this, &PdfView::searchFinished);
}

void PdfView::stopSearch() {
  if (!searchRun) return;
  searchRun->stop();
  // A run that is handing over hits further up this very call goes once that is done.
  if (searchRun->delivering()) {
    searchRun.release()->deleteLater();
  } else {
    searchRun.reset();
  }
}

bool PdfView::searchRunning() const { return searchRun && !searchRun->done(); }

void PdfView::searchTextChanged(int page) {
  if (page < 0) {
    searchText->clear();
  } else {
    searchText->drop(page);
  }
  if (!searchRunning()) return;
  stopSearch();
  emit searchFinished(true);
}

void PdfView::appendHighlights(const std::vector<search::DocMatch>& more) {
  if (more.empty()) return;
  if (highlights.empty()) activeMatch = 0;
  highlights.insert(highlights.end(), more.begin(), more.end());
  const QRectF visible(horizontalScrollBar()->value(), verticalScrollBar()->value(), viewport()->width(),
                       viewport()->height());
  for (const search::DocMatch& m : more) {
    if (matchRectContent(m.page, m).intersects(visible)) {
      viewport()->update();
      return;
    }
  }
}

}  // namespace quorvel::desktop
