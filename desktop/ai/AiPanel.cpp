#include "desktop/ai/AiPanel.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>

#include "core/extract.h"
#include "core/rank.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/ai/AiRequest.h"
#include "desktop/stores/SettingsFile.h"
#include "desktop/tools/BackendTools.h"
#include "desktop/tools/DocumentReading.h"
#include "desktop/window/BackendLink.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

struct QuickAction {
  const char* labelRu;
  const char* labelEn;
  const char* promptRu;
  const char* promptEn;
  bool report;
};

const QuickAction kQuickActions[] = {
    {"О чём документ?", "About this document?", "О чём этот документ? Кратко опиши суть.",
     "What is this document about? Briefly.", false},
    {"Краткое содержание", "Summary", "Сделай краткое содержание документа по пунктам.",
     "Summarize the document as bullet points.", false},
    {"Извлечь реквизиты", "Extract requisites",
     "Извлеки реквизиты: номер, дату, сумму, стороны/контрагентов.",
     "Extract requisites: number, date, amount, parties.", false},
    {"Извлечь контакты", "Extract contacts", "Извлеки контакты: ФИО, телефоны, email, адреса.",
     "Extract contacts: names, phones, emails, addresses.", false},
    {"Найти риски", "Find risks", "Найди риски, штрафы и спорные пункты. Перечисли их.",
     "Find risks, penalties and disputable clauses. List them.", false},
    {"Сформировать отчёт", "Generate report", "", "", true},
};

const QString kAi = QStringLiteral("ai");
const QString kTavi = QStringLiteral("Tavi AI");
const QString kEmptyAnswer = QStringLiteral("(пустой ответ)");
const QString kNoDocument = QStringLiteral("Сначала откройте документ.");
// The head of the document that a translation or a report looks at.
constexpr int kDocumentChars = 20000;
// The document is read as a job of the window, off its thread.
const QString kReadingTitle = QStringLiteral("Чтение документа для Tavi AI…");
const QString kCancelled = QStringLiteral("Отменено.");
// Laying out a megabyte of text at once holds the window for half a second; a piece this long
// takes some milliseconds.
constexpr qsizetype kPieceChars = 32 << 10;

using Rows = QList<std::pair<QString, QString>>;

const QString kCutByProvider =
    QStringLiteral("Ответ обрезан провайдером: он остановился на пределе длины ответа, конец не получен.");

// The notice that only the head of a text of `total` characters went to the model; empty
// when all of it went. `text` has the sent count as %1 and the total as %2.
QString sentPart(qsizetype total, const QString& text) {
  if (total <= ai::kContextChars) return {};
  const QLocale ru(QLocale::Russian);
  return text.arg(ru.toString(ai::kContextChars), ru.toString(qlonglong(total)));
}

bool isHtmlPath(const QString& path) {
  return path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive) ||
         path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive);
}

QByteArray reportFile(const Rows& rows, const QString& analysis, bool html) {
  QString out;
  if (html) {
    QString markup;
    for (const auto& [label, value] : rows)
      markup += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>").arg(label.toHtmlEscaped(), value.toHtmlEscaped());
    out = QStringLiteral(
              "<!DOCTYPE html><html><head><meta charset='utf-8'><title>Отчёт Tavi AI</title></head><body>"
              "<h1>Отчёт по документу</h1><h2>Ключевые реквизиты</h2><table border='1' cellpadding='4'>%1</table>"
              "<h2>Анализ</h2><pre style='white-space:pre-wrap'>%2</pre></body></html>")
              .arg(markup, analysis.toHtmlEscaped());
  } else {
    out = QStringLiteral("ОТЧЁТ ПО ДОКУМЕНТУ\n\n=== Ключевые реквизиты ===\n");
    for (const auto& [label, value] : rows) out += label + QStringLiteral(": ") + value + QLatin1Char('\n');
    if (rows.isEmpty()) out += QStringLiteral("(не найдены)\n");
    out += QStringLiteral("\n=== Анализ ===\n") + analysis + QLatin1Char('\n');
  }
  return out.toUtf8();
}

}  // namespace

AiPanel::AiPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("aiPanel"));
  // The dark theme colours the panel by its object name.
  setAttribute(Qt::WA_StyledBackground, true);
  // Requests of the "backend" kind reach the window's own backend with its secret.
  net = new BackendNetwork(BackendLink::of(this), this);
  backendBase = qEnvironmentVariable("QUORVEL_BACKEND");
  if (backendBase.isEmpty()) backendBase = BackendNetwork::placeholder(QString()).toString();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  log = new QTextBrowser(this);
  log->setObjectName(QStringLiteral("aiLog"));
  log->setOpenExternalLinks(false);
  log->setOpenLinks(false);
  connect(log, &QTextBrowser::anchorClicked, this, &AiPanel::onLink);
  layout->addWidget(log, 1);

  auto* strip = new QWidget(this);
  auto* grid = new QGridLayout(strip);
  grid->setContentsMargins(8, 6, 8, 0);
  grid->setSpacing(6);
  for (int i = 0; i < int(std::size(kQuickActions)); ++i) {
    const QuickAction& a = kQuickActions[i];
    auto* b = new QPushButton(L(a.labelRu, a.labelEn), strip);
    b->setObjectName(QStringLiteral("aiQuick"));
    b->setCursor(Qt::PointingHandCursor);
    const QString prompt = L(a.promptRu, a.promptEn);
    const bool report = a.report;
    connect(b, &QPushButton::clicked, this, [this, prompt, report] {
      if (report) generateReport(QString());
      else ask(prompt);
    });
    grid->addWidget(b, i / 2, i % 2);
  }
  layout->addWidget(strip, 0);

  auto* row = new QWidget(this);
  auto* h = new QHBoxLayout(row);
  h->setContentsMargins(8, 8, 8, 8);
  h->setSpacing(6);
  auto* gear = new QToolButton(row);
  gear->setObjectName(QStringLiteral("aiGear"));
  gear->setText(QString(QChar(0x2699)));
  gear->setToolTip(L("Настройки ИИ-провайдера и ключа", "AI provider & key settings"));
  connect(gear, &QToolButton::clicked, this, &AiPanel::openSettings);
  h->addWidget(gear);
  input = new QLineEdit(row);
  input->setObjectName(QStringLiteral("aiInput"));
  input->setPlaceholderText(L("Спросите Tavi AI о документе…", "Ask Tavi AI about the document…"));
  h->addWidget(input, 1);
  auto* sendButton = new QPushButton(L("Спросить", "Ask"), row);
  sendButton->setObjectName(QStringLiteral("aiSend"));
  h->addWidget(sendButton);
  layout->addWidget(row, 0);

  connect(sendButton, &QPushButton::clicked, this, &AiPanel::send);
  connect(input, &QLineEdit::returnPressed, this, &AiPanel::send);

  appendMessage(kTavi, L("Задайте вопрос по открытому документу.", "Ask a question about the open document."),
                kAi);
}

AiPanel::~AiPanel() = default;

void AiPanel::setView(PdfView* v) { view = v; }

void AiPanel::show(const QString& html) {
  if (backlog.empty()) log->append(html);
  else backlog.push_back(html);
}

void AiPanel::showText(const QString& open, const QString& text, const QString& close, const QString& more) {
  const bool idle = backlog.empty();
  qsizetype from = 0;
  do {
    qsizetype end = text.size();
    if (end - from > kPieceChars) {
      // At the last line break or space of the piece, where there is one; never inside a
      // surrogate pair.
      end = text.lastIndexOf(QLatin1Char('\n'), from + kPieceChars - 1);
      if (end <= from) end = text.lastIndexOf(QLatin1Char(' '), from + kPieceChars - 1);
      if (end <= from) end = from + kPieceChars - (text.at(from + kPieceChars - 1).isHighSurrogate() ? 1 : 0);
    }
    const QString piece = text.mid(from, end - from).toHtmlEscaped();
    if (from == 0) show(open + piece + close);
    else backlog.push_back(more + piece + QStringLiteral("</div>"));
    from = end;
    if (from < text.size() && (text.at(from) == QLatin1Char('\n') || text.at(from) == QLatin1Char(' '))) ++from;
  } while (from < text.size());
  if (idle && !backlog.empty()) QTimer::singleShot(0, this, &AiPanel::showNext);
}

void AiPanel::showNext() {
  if (backlog.empty()) return;
  log->append(backlog.front());
  backlog.pop_front();
  if (!backlog.empty()) QTimer::singleShot(0, this, &AiPanel::showNext);
}

void AiPanel::appendMessage(const QString& who, const QString& text, const QString& role) {
  const QString colour = role == kAi ? QStringLiteral("#7c5cff") : QStringLiteral("#9aa0b8");
  // The sender may be typed text too, so it is escaped like the message.
  showText(QStringLiteral("<div style='margin:6px 0'><b style='color:%1'>%2:</b> ").arg(colour, who.toHtmlEscaped()),
           text, QStringLiteral("</div>"), QStringLiteral("<div style='margin:0'>"));
}

void AiPanel::showDiff(const QString& summary, const QString& html) {
  show(QStringLiteral("<div style='margin:6px 0'><b style='color:#7c5cff'>Сравнение версий:</b> %1</div>")
           .arg(summary.toHtmlEscaped()));
  show(tagPageLinks(html));
}

void AiPanel::showRanked(const QString& query, const QList<std::pair<int, QString>>& pages) {
  appendMessage(QStringLiteral("Поиск по смыслу"), query, QStringLiteral("user"));
  if (pages.isEmpty()) {
    appendMessage(kTavi, QStringLiteral("Релевантных страниц не найдено."), kAi);
    return;
  }
  QString block = QStringLiteral("<div style='margin:6px 0'>");
  for (const auto& [page, snippet] : pages)
    block += QStringLiteral("<div style='margin:4px 0'><a href='quorvel-page:%1' "
                            "style='color:#7c5cff;text-decoration:none'>стр. %1</a> — %2</div>")
                 .arg(QString::number(page), snippet.trimmed().toHtmlEscaped());
  block += QStringLiteral("</div>");
  show(tagPageLinks(block));
}

// Every caller shows results of the current tab's document, which is the panel's view.
QString AiPanel::tagPageLinks(const QString& html) {
  static const QRegularExpression link(QStringLiteral("(href=(['\"])quorvel-page:[^'\"?]*)(\\2)"));
  const QString tag = QStringLiteral("\\1?doc=%1\\3").arg(linkSources.size());
  linkSources.emplace_back(view);
  return QString(html).replace(link, tag);
}

void AiPanel::showExtracted(const QList<std::pair<QString, QString>>& items) {
  if (items.isEmpty()) {
    appendMessage(kTavi, QStringLiteral("Данные не найдены."), kAi);
    return;
  }
  QString block = QStringLiteral(
      "<div style='margin:6px 0'><b style='color:#7c5cff'>Извлечённые данные:</b><table style='margin-top:4px'>");
  for (const auto& [kind, value] : items)
    block += QStringLiteral("<tr><td style='color:#9aa0b8;padding-right:10px'>%1</td><td>%2</td></tr>")
                 .arg(kind.toHtmlEscaped(), value.toHtmlEscaped());
  block += QStringLiteral("</table></div>");
  show(block);
}

void AiPanel::onLink(const QUrl& url) {
  if (!view || url.scheme() != QLatin1String("quorvel-page")) return;
  bool ok = false;
  const int page = url.path(QUrl::FullyDecoded).toInt(&ok, 10);
  const QString source = QUrlQuery(url).queryItemValue(QStringLiteral("doc"));
  if (source.isEmpty()) {
    view->goToPage(ok ? page : 0);
    return;
  }
  bool known = false;
  const qulonglong k = source.toULongLong(&known);
  PdfView* target = known && k < linkSources.size() ? linkSources[size_t(k)].data() : nullptr;
  // Its tab closed: the link has nothing to show.
  if (!target || !ok || page < 1 || page > target->pageCount()) return;
  if (target != view) {
    QTabWidget* tabs = nullptr;
    for (QWidget* p = target->parentWidget(); p && !tabs; p = p->parentWidget()) tabs = qobject_cast<QTabWidget*>(p);
    if (!tabs || tabs->indexOf(target) < 0) return;
    tabs->setCurrentWidget(target);
  }
  target->goToPage(page);
}

void AiPanel::send() {
  const QString text = input->text().trimmed();
  if (text.isEmpty()) return;
  input->clear();
  ask(text);
}

void AiPanel::openSettings() {
  QSettings st;
  QDialog dlg(this);
  dlg.setWindowTitle(QStringLiteral("Настройки Tavi AI"));
  auto* form = new QFormLayout(&dlg);
  auto* provider = new QComboBox(&dlg);
  provider->setEditable(false);
  for (const char* name : {"stub", "openai", "anthropic", "gemini", "deepseek", "ollama", "custom",
                           "gigachat", "yandexgpt"})
    provider->addItem(QString::fromLatin1(name));
  const int stored = provider->findText(st.value(QStringLiteral("ai/provider"), QStringLiteral("stub")).toString());
  provider->setCurrentIndex(stored < 0 ? 0 : stored);
  auto* key = new QLineEdit(st.value(QStringLiteral("ai/api_key")).toString(), &dlg);
  key->setEchoMode(QLineEdit::Password);
  key->setPlaceholderText(QStringLiteral("Ваш ключ API (хранится локально)"));
  auto* model = new QLineEdit(st.value(QStringLiteral("ai/model")).toString(), &dlg);
  model->setPlaceholderText(QStringLiteral("напр. gpt-4o-mini / claude-3-5-sonnet-latest"));
  auto* base = new QLineEdit(st.value(QStringLiteral("ai/base_url")).toString(), &dlg);
  base->setPlaceholderText(QStringLiteral("для ollama/custom: http://127.0.0.1:11434/v1"));
  form->addRow(QStringLiteral("Провайдер"), provider);
  form->addRow(QStringLiteral("Ключ API"), key);
  form->addRow(QStringLiteral("Модель"), model);
  form->addRow(QStringLiteral("Base URL"), base);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  form->addRow(buttons);
  if (dlg.exec() != QDialog::Accepted) return;

  // The file is to hold the key: owner-only before it does.
  keepSettingsPrivate();
  st.setValue(QStringLiteral("ai/provider"), provider->currentText());
  st.setValue(QStringLiteral("ai/api_key"), key->text());
  st.setValue(QStringLiteral("ai/model"), model->text());
  st.setValue(QStringLiteral("ai/base_url"), base->text());
  st.sync();
  appendMessage(kTavi, QStringLiteral("Провайдер: %1.").arg(provider->currentText()), kAi);
}

QString AiPanel::buildRequest(const QString& question, QNetworkRequest& request, QByteArray& body,
                              const QString& context) {
  return fillRequest(question, request, body, context, {});
}

QString AiPanel::fillRequest(const QString& question, QNetworkRequest& request, QByteArray& body, const QString& context,
                             const std::function<void(const IDocument&)>& alsoRead) {
  const ai::ProviderSettings s = ai::ProviderSettings::load();
  // A provider that cannot be asked is told before the pages are read for nothing.
  ai::ProviderRequest r = ai::buildProviderRequest(s, question, context, backendBase);
  if (r.kind.isEmpty()) {
    appendMessage(kTavi, QStringLiteral("Укажите Base URL в настройках (⚙)."), kAi);
    return {};
  }
  if (context.isEmpty() && view && view->doc) {
    const std::string query = question.toStdString();
    std::string found;
    QPointer<AiPanel> self(this);
    const bool read = readDocument(this, *view, kReadingTitle, [&](const IDocument& doc) {
      found = search::build_rag_context(doc, query, ai::kContextChars);
      if (alsoRead) alsoRead(doc);
    });
    if (!self) return {};
    if (!read) {
      appendMessage(kTavi, kCancelled, kAi);
      return {};
    }
    r = ai::buildProviderRequest(s, question, QString::fromStdString(found), backendBase);
  }
  request = r.request;
  body = r.body;
  return r.kind;
}

QString AiPanel::parseAnswer(const QString& kind, const QByteArray& body) {
  return ai::parseProviderAnswer(kind, body);
}

ai::ProviderAnswer AiPanel::answerFrom(const QString& kind, const QByteArray& body, const QString& key) {
  ai::ProviderAnswer a = ai::readProviderAnswer(kind, body);
  a.problem = ai::withoutKey(a.problem, key);
  bool cut = false;
  const qsizetype full = a.text.size();
  a.text = ai::cutAnswer(a.text, &cut);
  if (cut)
    appendMessage(kTavi,
                  QStringLiteral("Ответ слишком длинный (%1 знаков): показаны первые %2.").arg(full).arg(a.text.size()),
                  kAi);
  return a;
}

void AiPanel::noteCut(const ai::ProviderAnswer& answer) {
  if (answer.cut) appendMessage(kTavi, kCutByProvider, kAi);
}

template <typename Done>
void AiPanel::post(const QNetworkRequest& request, const QByteArray& body, const QString& kind, Done done) {
  QNetworkReply* reply = net->post(request, body);
  reply->setProperty("kind", kind);
  // The key in force when the request left is the one to keep out of its error text.
  const QString key = ai::ProviderSettings::load().apiKey;
  // No answer is worth holding more than this in memory.
  connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
    if (received <= ai::kMaxReplyBytes && total <= ai::kMaxReplyBytes) return;
    reply->setProperty("tooLarge", true);
    reply->abort();
  });
  connect(reply, &QNetworkReply::finished, this, [reply, key, done] {
    reply->deleteLater();
    const bool tooLarge = reply->property("tooLarge").toBool();
    const QByteArray data = tooLarge ? QByteArray() : reply->readAll();
    QString error;
    if (tooLarge)
      error = QStringLiteral("ответ больше %1 МБ").arg(ai::kMaxReplyBytes >> 20);
    else if (reply->error() == QNetworkReply::OperationCanceledError && reply->request().transferTimeout() > 0)
      // Nothing here cancels a provider's request but its time bound.
      error = QStringLiteral("нет ответа за %1 с").arg(reply->request().transferTimeout() / 1000);
    else if (reply->error() != QNetworkReply::NoError)
      error = ai::withoutKey(reply->errorString(), key);
    done(error, reply->property("kind").toString(), data, key);
  });
}

void AiPanel::ask(const QString& question) {
  appendMessage(QStringLiteral("Вы"), question, QStringLiteral("user"));
  if (!view || view->pageCount() == 0) {
    appendMessage(kTavi, kNoDocument, kAi);
    return;
  }
  QNetworkRequest request;
  QByteArray body;
  const QString kind = buildRequest(question, request, body, QString());
  if (kind.isEmpty()) return;
  QPointer<AiPanel> self(this);
  post(request, body, kind, [self](const QString& error, const QString& k, const QByteArray& data, const QString& key) {
    if (!self) return;
    if (!error.isEmpty()) {
      const QString detail = ai::withoutKey(replyExcerpt(data, 300), key);
      self->appendMessage(kTavi, QStringLiteral("Ошибка: %1\n%2").arg(error, detail), kAi);
      return;
    }
    const ai::ProviderAnswer a = self->answerFrom(k, data, key);
    if (a.lack == ai::ProviderAnswer::Lack::Empty) self->appendMessage(kTavi, kEmptyAnswer, kAi);
    else if (!a.problem.isEmpty()) self->appendMessage(kTavi, QStringLiteral("Ошибка: %1").arg(a.problem), kAi);
    else self->appendMessage(kTavi, a.text, kAi);
    self->noteCut(a);
  });
}

void AiPanel::summarizeDiff(const QString& diffText) {
  if (diffText.trimmed().isEmpty()) {
    appendMessage(kTavi, QStringLiteral("Изменений для резюме нет."), kAi);
    return;
  }
  static const QString instruction = QStringLiteral(
      "Ниже список построчных изменений между двумя версиями документа (строки с «-» удалены, с «+» "
      "добавлены). Кратко и по пунктам опиши, что изменилось ПО СУТИ (суммы, сроки, стороны, условия), "
      "без воды.");
  QNetworkRequest request;
  QByteArray body;
  const QString kind = buildRequest(instruction, request, body, diffText);
  if (kind.isEmpty()) return;
  appendMessage(kTavi, QStringLiteral("Анализирую изменения…"), kAi);
  const QString part = sentPart(diffText.size(), QStringLiteral("Резюме составлено по первым %1 из %2 символов изменений."));
  QPointer<AiPanel> self(this);
  post(request, body, kind, [self, part](const QString& error, const QString& k, const QByteArray& data, const QString& key) {
    if (!self) return;
    if (!error.isEmpty()) {
      self->appendMessage(kTavi, QStringLiteral("Ошибка резюме: %1").arg(error), kAi);
      return;
    }
    const ai::ProviderAnswer a = self->answerFrom(k, data, key);
    if (!a.problem.isEmpty() && a.lack != ai::ProviderAnswer::Lack::Empty) {
      self->appendMessage(kTavi, QStringLiteral("Ошибка резюме: %1").arg(a.problem), kAi);
      return;
    }
    self->appendMessage(QStringLiteral("Резюме изменений"), a.text.isEmpty() ? kEmptyAnswer : a.text, kAi);
    self->noteCut(a);
    if (!part.isEmpty()) self->appendMessage(kTavi, part, kAi);
  });
}

void AiPanel::translateDocument(const QString& language, const QString& savePath) {
  if (!view || view->pageCount() == 0) {
    appendMessage(kTavi, kNoDocument, kAi);
    return;
  }
  QString text;
  qsizetype total = 0;
  QPointer<AiPanel> self(this);
  if (!readDocument(this, *view, kReadingTitle,
                    [&text, &total](const IDocument& doc) { text = documentText(doc, kDocumentChars, &total); })) {
    if (self) appendMessage(kTavi, kCancelled, kAi);
    return;
  }
  if (!self) return;
  const QString instruction =
      QStringLiteral("Переведи текст документа на %1. Верни ТОЛЬКО перевод, сохрани разбивку по строкам/абзацам, "
                     "без пояснений.")
          .arg(language);
  QNetworkRequest request;
  QByteArray body;
  const QString kind = buildRequest(instruction, request, body, text);
  if (kind.isEmpty()) return;
  appendMessage(QStringLiteral("Вы"), QStringLiteral("Перевести документ на %1").arg(language), QStringLiteral("user"));
  // An empty text sends the question's retrieval context instead, which says nothing of a share.
  const QString part =
      text.isEmpty() ? QString() : sentPart(total, QStringLiteral("Переведены первые %1 из %2 символов документа."));
  post(request, body, kind,
       [self, language, savePath, part](const QString& error, const QString& k, const QByteArray& data,
                                        const QString& key) {
         if (!self) return;
         if (!error.isEmpty()) {
           self->appendMessage(kTavi, QStringLiteral("Ошибка перевода: %1").arg(error), kAi);
           return;
         }
         // What is not a translation is never written over the file, nor shown as one.
         const ai::ProviderAnswer a = self->answerFrom(k, data, key);
         if (!a.problem.isEmpty()) {
           self->appendMessage(kTavi, QStringLiteral("Ошибка перевода: %1").arg(a.problem), kAi);
           return;
         }
         if (!savePath.isEmpty() && writeOutputFile(savePath, a.text.toUtf8())) {
           self->appendMessage(kTavi, QStringLiteral("Перевод (%1) сохранён: %2").arg(language, savePath), kAi);
         } else {
           // Not written: the translation is shown instead of being lost.
           self->appendMessage(QStringLiteral("Перевод (%1)").arg(language), a.text, kAi);
         }
         self->noteCut(a);
         if (!part.isEmpty()) self->appendMessage(kTavi, part, kAi);
       });
}

void AiPanel::generateReport(const QString& outPath) {
  if (!view || view->pageCount() == 0) {
    appendMessage(kTavi, kNoDocument, kAi);
    return;
  }
  static const QString instruction = QStringLiteral(
      "Сформируй структурированный отчёт по документу строго в разделах, по пунктам:\n1) Краткое содержание\n"
      "2) Ключевые условия\n3) Риски и спорные пункты\n4) Рекомендации.\nБез вступления, только разделы.");
  QNetworkRequest request;
  QByteArray body;
  // The requisites come from the same reading of the document as the context.
  Rows rows;
  const QString kind = fillRequest(instruction, request, body, QString(), [&rows](const IDocument& doc) {
    for (const extract::Entity& e : extract::extract_entities(documentText(doc, kDocumentChars).toStdString()))
      rows.append({QString::fromStdString(e.label), QString::fromStdString(e.value)});
  });
  if (kind.isEmpty()) return;
  appendMessage(kTavi, QStringLiteral("Агент: готовлю отчёт (реквизиты + анализ)…"), kAi);
  QPointer<AiPanel> self(this);
  post(request, body, kind,
       [self, rows, outPath](const QString& error, const QString& k, const QByteArray& data, const QString& key) {
         if (!self) return;
         if (!error.isEmpty()) {
           self->appendMessage(kTavi, QStringLiteral("Отчёт не сформирован: %1").arg(error), kAi);
           return;
         }
         // A report without the model's analysis is not the report that was asked for.
         const ai::ProviderAnswer a = self->answerFrom(k, data, key);
         if (!a.problem.isEmpty()) {
           self->appendMessage(kTavi, QStringLiteral("Отчёт не сформирован: %1").arg(a.problem), kAi);
           return;
         }
         if (!outPath.isEmpty()) {
           if (writeOutputFile(outPath, reportFile(rows, a.text, isHtmlPath(outPath)))) {
             self->appendMessage(kTavi, QStringLiteral("Отчёт сохранён: %1").arg(outPath), kAi);
             self->noteCut(a);
             return;
           }
           self->appendMessage(kTavi, QStringLiteral("Не удалось записать отчёт: %1").arg(outPath), kAi);
           // Not written: the report is shown instead of being lost.
         }
         self->showReport(rows, a.text);
         self->noteCut(a);
       });
}

void AiPanel::showReport(const Rows& rows, const QString& analysis) {
  showExtracted(rows);
  showText(QStringLiteral("<div style='margin:6px 0'><b style='color:#7c5cff'>Отчёт (агент):</b>"
                          "<div style='white-space:pre-wrap;margin-top:4px'>"),
           analysis, QStringLiteral("</div></div>"), QStringLiteral("<div style='white-space:pre-wrap;margin:0'>"));
}

}  // namespace quorvel::desktop
