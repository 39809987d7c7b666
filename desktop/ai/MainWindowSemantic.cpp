// Ranking the current document's pages against a query: by embedding vectors from the
// provider or the backend when the settings allow it, else by keywords. The result is a list
// of page links in the AI dock. The pages are read as a job of the window, off its thread.
#include <QDockWidget>
#include <QNetworkReply>
#include <QPointer>
#include <QSettings>
#include <QStatusBar>

#include <memory>

#include "core/rank.h"
#include "desktop/ai/AiEmbeddings.h"
#include "desktop/ai/AiPanel.h"
#include "desktop/tools/DocumentReading.h"
#include "desktop/tools/LocalTools.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/MainWindow.h"

namespace quorvel::desktop {

namespace {

constexpr size_t kResultPages = 12;
// Every page is read off the window's thread, through the text search keeps.
const QString kReadingTitle = QStringLiteral("Поиск по смыслу…");

QList<std::pair<int, QString>> resultList(const std::vector<search::RankedPage>& ranked) {
  QList<std::pair<int, QString>> out;
  for (const search::RankedPage& r : ranked) out.append({r.page + 1, QString::fromStdString(r.snippet)});
  return out;
}

// One search's state while its requests are out; Gemini's batches arrive one after another.
struct PendingSearch {
  QString query;
  QString mode;
  int pages = 0;
  // The view that asked: vectors of its pages fit no other document.
  QPointer<PdfView> view;
  QList<ai::EmbeddingCall> calls;
  int next = 0;
  std::vector<std::vector<float>> vectors;
};

}  // namespace

void MainWindow::semanticSearch(const QString& query) {
  PdfView* view = currentView();
  if (!view || !view->doc || query.trimmed().isEmpty() || !aiPanel) return;
  QSettings st;
  const QString provider = st.value(QStringLiteral("ai/provider"), QStringLiteral("stub")).toString();
  const QString key = st.value(QStringLiteral("ai/api_key")).toString();
  const QString base = st.value(QStringLiteral("ai/base_url")).toString();
  if (view->doc->page_count() > ai::kEmbeddingPageLimit) {
    semanticSearchLexical(query);
    return;
  }
  const ai::EmbeddingTarget target = ai::embeddingTarget(provider, key, base);
  if (target.mode.isEmpty()) semanticSearchLexical(query);
  else semanticSearchEmbeddings(query, target.mode, target.base, key);
}

void MainWindow::semanticSearchEmbeddings(const QString& query, const QString& mode, const QString& baseUrl,
                                          const QString& apiKey) {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  QSettings st;
  const ai::EmbeddingSettings settings{st.value(QStringLiteral("ai/provider")).toString(), apiKey,
                                       st.value(QStringLiteral("ai/embed_model")).toString()};
  auto pending = std::make_shared<PendingSearch>();
  pending->query = query;
  pending->mode = mode;
  pending->pages = view->doc->page_count();
  pending->view = view;
  QStringList texts;
  if (!readDocument(this, *view, kReadingTitle, [&](const IDocument& doc) { texts = ai::embeddingTexts(doc, query); })) {
    statusBar()->showMessage(cancelledText(0));
    return;
  }
  pending->calls = ai::embeddingCalls(mode, baseUrl, settings, texts, backendUrl(QStringLiteral("/ai/embeddings")));
  if (pending->calls.isEmpty()) return;

  // Posts the next call; its handler posts the one after it, or ranks once all have answered.
  auto postNext = std::make_shared<std::function<void()>>();
  *postNext = [this, pending, weakNext = std::weak_ptr<std::function<void()>>(postNext)] {
    const ai::EmbeddingCall& c = pending->calls[pending->next++];
    postToBackend(c.request, c.body, QStringLiteral("Поиск по смыслу (эмбеддинги)…"),
                  [this, pending, expected = c.count, next = weakNext.lock()](QNetworkReply* reply, const QByteArray& body) {
                    if (reply->error() != QNetworkReply::NoError) {
                      statusBar()->showMessage(QStringLiteral("Эмбеддинги недоступны — поиск по ключевым словам"));
                      semanticSearchLexical(pending->query);
                      return;
                    }
                    const auto vectors = ai::embeddingVectors(pending->mode, body, expected);
                    if (!vectors) {
                      semanticSearchLexical(pending->query);
                      return;
                    }
                    pending->vectors.insert(pending->vectors.end(), vectors->begin(), vectors->end());
                    if (pending->next < pending->calls.size()) {
                      (*next)();
                      return;
                    }
                    // Another tab, or the same one after a page edit: its pages are not the
                    // ones these vectors describe.
                    PdfView* now = currentView();
                    if (!pending->view || pending->view != now || !now->doc || now->doc->page_count() != pending->pages ||
                        pending->vectors.size() != size_t(pending->pages) + 1) {
                      semanticSearchLexical(pending->query);
                      return;
                    }
                    std::vector<float> queryVector = std::move(pending->vectors.front());
                    std::vector<std::vector<float>> pageVectors(std::make_move_iterator(pending->vectors.begin() + 1),
                                                                std::make_move_iterator(pending->vectors.end()));
                    finishEmbeddingRank(pending->query, std::move(queryVector), std::move(pageVectors));
                  });
  };
  (*postNext)();
}

void MainWindow::finishEmbeddingRank(const QString& query, std::vector<float> queryVector,
                                     std::vector<std::vector<float>> pageVectors) {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  const std::vector<search::RankedPage> ranked =
      search::rank_by_vectors(*view->doc, queryVector, pageVectors, kResultPages);
  if (ranked.empty()) {
    semanticSearchLexical(query);
    return;
  }
  if (aiDock) aiDock->raise();
  statusBar()->showMessage(QStringLiteral("Поиск по смыслу: эмбеддинги"));
  if (aiPanel) aiPanel->showRanked(query, resultList(ranked));
}

void MainWindow::semanticSearchLexical(const QString& query) {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  const QByteArray q = query.toUtf8();
  std::vector<search::RankedPage> ranked;
  if (!readDocument(this, *view, kReadingTitle, [&](const IDocument& doc) {
        ranked = search::rank_pages(doc, std::string_view(q.constData(), size_t(q.size())), kResultPages);
      })) {
    statusBar()->showMessage(cancelledText(0));
    return;
  }
  if (aiDock) aiDock->raise();
  if (aiPanel) aiPanel->showRanked(query, resultList(ranked));
}

}  // namespace quorvel::desktop
