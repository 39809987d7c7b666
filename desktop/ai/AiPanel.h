// The AI assistant's panel in the window's right-hand dock: a chat log, quick actions, the
// input line and the provider settings. It follows the current tab's viewer.
#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "desktop/ai/AiRequest.h"
#include "desktop/viewer/PdfView.h"

class QNetworkAccessManager;
class QNetworkRequest;
class QTextBrowser;
class QLineEdit;
class QUrl;

namespace quorvel::desktop {


class AiPanel : public QWidget {
  Q_OBJECT

 public:
  explicit AiPanel(QWidget* parent = nullptr);
  ~AiPanel() override;

  // The viewer of the current tab, or null when none is current; not owned.
  void setView(PdfView* view);
  PdfView* currentView() const { return view; }

  void appendMessage(const QString& who, const QString& text, const QString& role);
  void showDiff(const QString& summary, const QString& html);
  void showRanked(const QString& query, const QList<std::pair<int, QString>>& pages);
  void showExtracted(const QList<std::pair<QString, QString>>& items);

  // A question about the open document; the answer arrives later in the log.
  void ask(const QString& question);
  // A summary of a plain-text line diff; needs no document.
  void summarizeDiff(const QString& diffText);
  // Translates the document's text into `language`; the translation goes to `savePath` when
  // that is given and can be written, else into the log.
  void translateDocument(const QString& language, const QString& savePath);
  // Requisites found in the text plus the model's analysis, in the log (empty path) or in an
  // HTML (".html", ".htm") or plain-text file.
  void generateReport(const QString& outPath);

  // Fills the request and body for the stored provider; an empty kind means nothing to send.
  // Without a context, that of the question in the current document is read as a job of the
  // window; a cancel of it sends nothing.
  QString buildRequest(const QString& question, QNetworkRequest& request, QByteArray& body,
                       const QString& context);
  static QString parseAnswer(const QString& kind, const QByteArray& body);

 public slots:
  void openSettings();

 private:
  // buildRequest, where a context read from the document is read together with `alsoRead`.
  QString fillRequest(const QString& question, QNetworkRequest& request, QByteArray& body, const QString& context,
                      const std::function<void(const IDocument&)>& alsoRead);
  void onLink(const QUrl& url);
  void send();
  // The answer in a finished reply's body, cut with a notice in the log when it is too long
  // to lay out; `key` is kept out of what it says came back instead.
  ai::ProviderAnswer answerFrom(const QString& kind, const QByteArray& body, const QString& key);
  // Says in the log that the provider cut the answer short, when it did.
  void noteCut(const ai::ProviderAnswer& answer);
  // Everything reaches the log through these, in order. A long text goes in a piece at a time
  // between events, each after the first in a block of its own opened by `more`; whatever comes
  // meanwhile waits for it.
  void show(const QString& html);
  void showText(const QString& open, const QString& text, const QString& close, const QString& more);
  void showNext();
  // The report in the log: the requisites table, then the analysis.
  void showReport(const QList<std::pair<QString, QString>>& rows, const QString& analysis);
  // Posts and calls `done` with (error text or empty, body) once the reply has finished.
  template <typename Done>
  void post(const QNetworkRequest& request, const QByteArray& body, const QString& kind, Done done);

  QPointer<PdfView> view;
  QNetworkAccessManager* net = nullptr;
  QTextBrowser* log = nullptr;
  QLineEdit* input = nullptr;
  QString backendBase;
  std::deque<QString> backlog;

  // Page links act on the document they came from: each block of links names its viewer by
  // its place here (null once the tab has closed).
  QString tagPageLinks(const QString& html);
  std::vector<QPointer<PdfView>> linkSources;
};

}  // namespace quorvel::desktop
