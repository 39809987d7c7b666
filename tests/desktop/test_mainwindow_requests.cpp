// Purchase requests from the window: what the backend receives (a recording server: the exact
// multipart form and GETs), what the user sees (message boxes, tables, labels, status texts),
// what the journal keeps, and the whole round with the stand-in that the window starts.
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include <span>

#include <sys/stat.h>

#include "desktop/stores/RequestJournal.h"
#include "desktop/window/BackendLink.h"
#include "desktop/window/lang.h"
#include "recording_server.h"
#include "stand_in_process.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using namespace quorvel::test;
using Answers = std::deque<ModalAnswerer::Answer>;
using Reply = RecordingServer::Reply;
namespace journal = quorvel::desktop::journal;

namespace {

// JSON written with single quotes, so that no raw string literal trips the meta-object compiler.
QByteArray operator""_j(const char* text, size_t size) { return QByteArray(text, qsizetype(size)).replace('\'', '"'); }


struct Form {
  QString buyer, category, region, deadline, note;
};

}  // namespace

Q_DECLARE_METATYPE(Form)

namespace {

// Types the form's five fields in order and presses Send.
ModalAnswerer::Answer fillForm(const Form& f) {
  return [f](QWidget* w) {
    const QList<QLineEdit*> edits = w->findChildren<QLineEdit*>();
    auto* note = w->findChild<QPlainTextEdit*>();
    if (edits.size() != 4 || !note) {
      qWarning("not the request form");
      if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
      return;
    }
    edits[0]->setText(f.buyer);
    edits[1]->setText(f.category);
    edits[2]->setText(f.region);
    edits[3]->setText(f.deadline);
    note->setPlainText(f.note);
    w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  };
}

// Runs `check` inside a modal dialog and closes it afterwards, also when a check failed.
ModalAnswerer::Answer inDialog(std::function<void(QDialog*)> check) {
  return [check](QWidget* w) {
    auto* d = qobject_cast<QDialog*>(w);
    if (!d) return;
    check(d);
    d->reject();
  };
}

QPushButton* buttonNamed(QWidget* w, const QString& text) {
  for (QPushButton* b : w->findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

QString cell(const QTableWidget* t, int row, int column) {
  const QTableWidgetItem* item = t->item(row, column);
  return item ? item->text() : QStringLiteral("<none>");
}

struct FormPart {
  QByteArray head;
  QByteArray body;
  QByteArray header(const QByteArray& name) const {
    for (const QByteArray& line : head.split('\n')) {
      const QByteArray l = line.trimmed();
      const qsizetype colon = l.indexOf(':');
      if (colon > 0 && l.left(colon).toLower() == name.toLower()) return l.mid(colon + 1).trimmed();
    }
    return {};
  }
};

QList<FormPart> formParts(const RecordingServer::Request& r) {
  const QByteArray type = r.header("Content-Type");
  const QByteArray boundary = "--" + type.mid(type.indexOf("boundary=") + 9).replace("\"", "");
  QList<FormPart> parts;
  qsizetype at = r.body.indexOf(boundary);
  while (at >= 0) {
    at += boundary.size();
    if (r.body.mid(at, 2) == "--") break;
    const qsizetype headEnd = r.body.indexOf("\r\n\r\n", at);
    const qsizetype next = r.body.indexOf("\r\n" + boundary, headEnd);
    if (headEnd < 0 || next < 0) break;
    parts.append({r.body.mid(at + 2, headEnd - at - 2), r.body.mid(headEnd + 4, next - headEnd - 4)});
    at = next + 2;
  }
  return parts;
}

// A click as the window system delivers it, so that a window blocked by a modal one drops it.
void clickThroughWindow(QWidget* w) {
  QWidget* top = w->window();
  QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, w->mapTo(top, w->rect().center()));
}

void doubleClickRow(QTableWidget* t, int row) {
  QWidget* top = t->window();
  const QPoint at = t->viewport()->mapTo(top, t->visualRect(t->model()->index(row, 0)).center());
  QTest::mouseDClick(top->windowHandle(), Qt::LeftButton, {}, at);
}

QList<QDialog*> offersDialogs(QWidget& w) {
  QList<QDialog*> out;
  for (QDialog* d : w.findChildren<QDialog*>())
    if (d->isVisible() && d->windowTitle() == QStringLiteral("Предложения по заявке")) out << d;
  return out;
}

QStringList leftoverCopies() {
  return QDir(QDir::tempPath()).entryList({QStringLiteral("quorvel-request-*")}, QDir::Files | QDir::Hidden);
}

void storeJournal(const QByteArray& value) {
  QSettings().setValue(QStringLiteral("requests/journal"), value);
}

QJsonArray storedJournal() { return journal::parse(journal::load()); }

int modeOf(const QString& file) {
  struct stat st {};
  return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

int pageCountOf(const QByteArray& pdf) {
  static auto engine = quorvel::make_engine(quorvel::EngineKind::Pdfium);
  auto doc = engine->open(std::as_bytes(std::span(pdf.constData(), size_t(pdf.size()))), "");
  return doc ? doc->page_count() : -1;
}

Reply json(const QByteArray& body, int status = 200) { return {status, body, {}}; }

const QByteArray kFullReply =
    "{'request_id':'R-1','status':'accepted','mode':'offline','parsed':{'request_type':'закупка',"_j
    "'subject':'Бумага А4','location':'Казань','deadline':'2024-05-01'}}"_j;

}  // namespace

// Receives the addresses handed to the desktop.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened.append(url); }
};

class MainWindowRequestsTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString doc, doc2;

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    doc = writeTestFile(dir, "doc.pdf", text_pdf({"first document"}));
    doc2 = writeTestFile(dir, "doc2.pdf", text_pdf({"second document", "its second page"}));
  }

  void init() {
    quorvel::desktop::g_lang = 0;
    QSettings().remove(QStringLiteral("requests/journal"));
  }

  void sendPostsTheFormAsSixParts_data() {
    QTest::addColumn<Form>("form");
    QTest::addColumn<QString>("category");  // as recorded
    QTest::addColumn<QString>("region");
    QTest::newRow("filled") << Form{"ООО Ромашка", "Канцтовары", "Москва", "2024-06-01", "две строки\nвторая"}
                            << "Канцтовары" << "Москва";
    QTest::newRow("all empty") << Form{} << "Бумага А4" << "Казань";
  }

  void sendPostsTheFormAsSixParts() {
    QFETCH(Form, form);
    RecordingServer server;
    server.queue(json(kFullReply));
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    MainWindow w;
    WindowProbe p{w};
    w.openFile(doc);
    {
      ModalAnswerer a(Answers{fillForm(form), pressButton(QMessageBox::Ok)});
      w.sendAsRequestDialog();
      QCOMPARE(p.status(), QStringLiteral("Отправка заявки…"));
      QTRY_COMPARE(p.status(), QStringLiteral("Заявка отправлена: R-1"));
      QCOMPARE(a.unexpected, 0);
      QCOMPARE(a.seen.at(0).title, QStringLiteral("Отправить как заявку"));
      QCOMPARE(a.seen.at(1).title, QStringLiteral("Заявка отправлена"));
      QCOMPARE(a.seen.at(1).text, QStringLiteral("Заявка принята (офлайн-режим)\n\nID: R-1\nСтатус: accepted\n"
                                                 "Тип: закупка\nПредмет: Бумага А4\nРегион: Казань\nСрок: 2024-05-01"));
    }
    QCOMPARE(server.requests.size(), 1);
    const RecordingServer::Request& r = server.requests.first();
    QCOMPARE(r.requestLine(), QByteArray("POST /requests HTTP/1.1"));
    QVERIFY(r.header("Content-Type").startsWith("multipart/form-data; boundary="));
    const QList<FormPart> parts = formParts(r);
    QCOMPARE(parts.size(), 6);
    QCOMPARE(parts[0].header("Content-Disposition"), QByteArray("form-data; name='file'; filename='zayavka.pdf'"_j));
    QCOMPARE(parts[0].header("Content-Type"), QByteArray("application/pdf"));
    QCOMPARE(pageCountOf(parts[0].body), 1);
    const char* names[] = {"buyer", "category", "region", "deadline", "note"};
    const QString values[] = {form.buyer, form.category, form.region, form.deadline, form.note};
    for (int i = 0; i < 5; ++i) {
      QCOMPARE(parts[i + 1].header("Content-Disposition"), QByteArray("form-data; name=\"") + names[i] + "\"");
      QVERIFY(parts[i + 1].header("Content-Type").isNull());
      QCOMPARE(parts[i + 1].body, values[i].toUtf8());
    }
    const QJsonArray j = storedJournal();
    QCOMPARE(j.size(), 1);
    const journal::Entry e = journal::entryOf(j[0]);
    QCOMPARE(e.requestId, QStringLiteral("R-1"));
    QTEST(e.category, "category");
    QTEST(e.region, "region");
    QCOMPARE(e.status, QStringLiteral("accepted"));
    QCOMPARE(leftoverCopies(), QStringList());
  }

  // The upload is a copy the backend can read: the file itself while nothing has changed (not
  // saved again), and a document opened with its password without that password.
  void uploadIsACopyTheBackendCanRead_data() {
    QTest::addColumn<bool>("locked");
    QTest::newRow("unchanged: the file as it is") << false;
    QTest::newRow("opened with its password") << true;
  }
  void uploadIsACopyTheBackendCanRead() {
    QFETCH(bool, locked);
    const std::string plain = text_pdf({"a request's document", "its second page"});
    const QString file = writeTestFile(dir, locked ? "locked-request.pdf" : "plain-request.pdf",
                                       locked ? qpdf_encrypt(plain, "open sesame", "owner") : plain);
    RecordingServer server;
    server.queue(json(kFullReply));
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    MainWindow w;
    WindowProbe p{w};
    w.setOpenPassword(QStringLiteral("open sesame"));
    w.openFile(file);
    QVERIFY(w.currentView());
    {
      ModalAnswerer a(Answers{fillForm({}), pressButton(QMessageBox::Ok)});
      w.sendAsRequestDialog();
      QTRY_COMPARE(p.status(), QStringLiteral("Заявка отправлена: R-1"));
    }
    QCOMPARE(server.requests.size(), 1);
    const QByteArray sent = formParts(server.requests.first()).value(0).body;
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(sent == f.readAll(), !locked);
    QCOMPARE(pageCountOf(sent), 2);
    QCOMPARE(leftoverCopies(), QStringList());
  }

  void replyVariants_data() {
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("box");       // empty: no box
    QTest::addColumn<QString>("recorded");  // id in the journal afterwards, empty for none
    QTest::addColumn<QString>("journalStatus");
    QTest::addColumn<QString>("statusBar");
    const QString dashes = QStringLiteral("\nТип: —\nПредмет: —\nРегион: —\nСрок: —");
    QTest::newRow("no status") << 200 << QByteArray("{'request_id':'R-2','parsed':{}}"_j)
                               << "Заявка принята\n\nID: R-2\nСтатус: —" + dashes << "R-2" << "accepted"
                               << "Заявка отправлена: R-2";
    QTest::newRow("numeric id") << 200 << QByteArray("{'request_id':42,'status':'accepted'}"_j)
                                << "Заявка принята\n\nID: —\nСтатус: accepted" + dashes << "" << ""
                                << "Заявка отправлена: ";
    QTest::newRow("Offline in another case") << 200 << QByteArray("{'request_id':'R-3','status':'new','mode':'Offline'}"_j)
                                             << "Заявка принята\n\nID: R-3\nСтатус: new" + dashes << "R-3" << "new"
                                             << "Заявка отправлена: R-3";
    QTest::newRow("not JSON") << 200 << QByteArray("<html>busy</html>")
                              << "Заявка принята\n\nID: —\nСтатус: —" + dashes << "" << "" << "Заявка отправлена: ";
    QTest::newRow("backend markup stays text") << 200 << QByteArray("{'request_id':'<b>R</b>','status':'<i>x</i>'}"_j)
                                               << "Заявка принята\n\nID: <b>R</b>\nСтатус: <i>x</i>" + dashes
                                               << "<b>R</b>" << "<i>x</i>" << "Заявка отправлена: <b>R</b>";
    QTest::newRow("500") << 500 << QByteArray("backend exploded") << "" << "" << ""
                         << "Отправка не удалась (backend): backend exploded";
    QTest::newRow("502 without a body") << 502 << QByteArray() << "" << "" << ""
                                        << "Отправка не удалась (backend): HTTP 502 Scripted";
    QTest::newRow("backend down") << 0 << QByteArray() << "" << "" << ""
                                  << "Отправка не удалась (backend): Connection refused";
  }

  void replyVariants() {
    QFETCH(int, httpStatus);
    QFETCH(QByteArray, body);
    QFETCH(QString, box);
    QFETCH(QString, recorded);
    RecordingServer server;
    server.queue({httpStatus, body, {}});
    // 0: nobody listens.
    qputenv("QUORVEL_BACKEND", httpStatus ? server.base().toUtf8() : QByteArray("http://127.0.0.1:9"));
    MainWindow w;
    WindowProbe p{w};
    w.openFile(doc);
    {
      ModalAnswerer a(Answers{fillForm({}), pressButton(QMessageBox::Ok)});
      w.sendAsRequestDialog();
      QTRY_VERIFY(p.status() != QStringLiteral("Отправка заявки…"));
      QTEST(p.status(), "statusBar");
      if (box.isEmpty()) {
        QCOMPARE(a.seen.size(), 1);
      } else {
        QCOMPARE(a.seen.size(), 2);
        QCOMPARE(a.seen.at(1).text, box);
      }
    }
    const QJsonArray j = storedJournal();
    QCOMPARE(j.size(), recorded.isEmpty() ? 0 : 1);
    if (!recorded.isEmpty()) {
      QCOMPARE(journal::entryOf(j[0]).requestId, recorded);
      QTEST(journal::entryOf(j[0]).status, "journalStatus");
    }
    QCOMPARE(leftoverCopies(), QStringList());
  }

  // The deadline is a real date or nothing: Send stays off for anything else, and nothing goes.
  void deadlineTakesOnlyRealDates_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("sent");
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("a date") << QStringLiteral("2024-02-29") << true;
    QTest::newRow("month 13, day 45") << QStringLiteral("2025-13-45") << false;
    QTest::newRow("30 February") << QStringLiteral("2023-02-30") << false;
    QTest::newRow("no leading zeros") << QStringLiteral("2024-6-1") << false;
    QTest::newRow("words") << QStringLiteral("next week") << false;
  }
  void deadlineTakesOnlyRealDates() {
    QFETCH(QString, typed);
    QFETCH(bool, sent);
    RecordingServer server;
    server.queue(json(kFullReply));
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    MainWindow w;
    WindowProbe p{w};
    w.openFile(doc);
    bool stayedOpen = false;
    ModalAnswerer a(Answers{[&](QWidget* d) {
                              auto* form = qobject_cast<QDialog*>(d);
                              QLineEdit* deadline = d->findChildren<QLineEdit*>().at(3);
                              QPushButton* send = d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
                              QTest::keyClicks(deadline, typed);
                              QCOMPARE(deadline->text(), typed);
                              QCOMPARE(send->isEnabled(), sent);
                              send->click();
                              stayedOpen = form->isVisible();
                              if (stayedOpen) form->reject();
                            },
                            pressButton(QMessageBox::Ok)});
    w.sendAsRequestDialog();
    QCOMPARE(stayedOpen, !sent);
    if (sent) QTRY_COMPARE(p.status(), QStringLiteral("Заявка отправлена: R-1"));
    QCOMPARE(server.requests.size(), sent ? 1 : 0);
    if (sent) QCOMPARE(formParts(server.requests.first()).value(4).body, typed.toUtf8());
    QCOMPARE(leftoverCopies(), QStringList());
  }

  void sendWithoutDocumentOrCancelled() {
    RecordingServer server;
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    MainWindow w;
    WindowProbe p{w};
    w.sendAsRequestDialog();
    QCOMPARE(p.status(), QStringLiteral("Сначала откройте PDF"));
    w.openFile(doc);
    const QString before = p.status();
    {
      ModalAnswerer a(Answers{rejectDialog()});
      w.sendAsRequestDialog();
    }
    QCOMPARE(p.status(), before);
    QCOMPARE(leftoverCopies(), QStringList());
    QCOMPARE(server.requests.size(), 0);
  }

  // Each send has its own copy: each upload carries its own document, and none leaves a file
  // behind, also while the uploads are in flight.
  void sendsInFlightUploadTheirOwnDocuments() {
    RecordingServer server;
    server.holdUntil(2);
    server.respond = [](const RecordingServer::Request& r) {
      const QByteArray id = formParts(r).value(2).body;  // the category names the request
      return Reply{200, "{'request_id':'"_j + id + "','status':'accepted'}"_j, {}};
    };
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    MainWindow w;
    WindowProbe p{w};
    w.openFile(doc);
    w.openFile(doc2);
    ModalAnswerer a(Answers{fillForm({{}, "Alpha", {}, {}, {}}), fillForm({{}, "Beta", {}, {}, {}}), pressButton(QMessageBox::Ok),
                            pressButton(QMessageBox::Ok)});
    p.tabs()->setCurrentIndex(0);
    w.sendAsRequestDialog();
    p.tabs()->setCurrentIndex(1);
    w.sendAsRequestDialog();
    QCOMPARE(leftoverCopies(), QStringList());
    QTRY_COMPARE(storedJournal().size(), 2);
    QTRY_COMPARE(a.seen.size(), 4);
    QTRY_COMPARE(leftoverCopies(), QStringList());
    QCOMPARE(server.requests.size(), 2);
    QHash<QByteArray, int> pages;
    for (const RecordingServer::Request& r : server.requests) pages[formParts(r).value(2).body] = pageCountOf(formParts(r).value(0).body);
    QCOMPARE(pages.value("Alpha"), 1);
    QCOMPARE(pages.value("Beta"), 2);
  }

  void recordingDuplicateOrEmptyIdWritesNothing() {
    const QByteArray value = "[{'request_id':'A','status':'accepted','responses':0}]"_j;
    storeJournal(value);
    QSettings().sync();
    const QString file = QSettings().fileName();
    const QByteArray before = [&] { QFile f(file); return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(); }();
    QVERIFY(!before.isEmpty());
    MainWindow w;
    w.saveMyRequest(QStringLiteral("A"), QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z"));
    w.saveMyRequest(QString(), QStringLiteral("x"), QString(), QString());
    QSettings().sync();
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
    QCOMPARE(journal::load(), value);
  }

  void journalTableAndRefreshByRequestId() {
    storeJournal("[{'request_id':'A','category':'Бумага','region':'Казань','status':'accepted','responses':0,'created':'2024-01-02 03:04'},"_j
                 "{'request_id':'B','category':'','region':'Уфа','status':'accepted','responses':3,'seen':1,'created':'2024-01-01 00:00'},"_j
                 "{'request_id':'a/b?c','category':'Мебель','status':'accepted','responses':0}]"_j);
    RecordingServer server;
    server.holdUntil(3);
    server.respond = [](const RecordingServer::Request& r) {
      const QByteArray line = r.requestLine();
      if (line.startsWith("GET /requests/A "))
        return Reply{200, "{'status':'offers','responses':3,'compare_url':'http://127.0.0.1:1/c/A'}"_j, {}};
      if (line.startsWith("GET /requests/B ")) return Reply{200, "{'responses':1}"_j, {}};
      return Reply{200, "{'status':'closed','responses':9}"_j, {}};
    };
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    MainWindow w;
    auto* manager = w.findChild<QNetworkAccessManager*>();
    QSignalSpy finished(manager, &QNetworkAccessManager::finished);
    ModalAnswerer a(Answers{inDialog([&](QDialog* d) {
      QCOMPARE(d->windowTitle(), QStringLiteral("Мои заявки"));
      auto* t = d->findChild<QTableWidget*>();
      QCOMPARE(t->rowCount(), 3);
      QCOMPARE(t->horizontalHeaderItem(3)->text(), QStringLiteral("Откликов"));
      QCOMPARE(cell(t, 0, 0), QStringLiteral("2024-01-02 03:04"));
      QCOMPARE(cell(t, 0, 1), QStringLiteral("Бумага · Казань"));
      QCOMPARE(cell(t, 1, 1), QStringLiteral(" · Уфа"));
      QCOMPARE(cell(t, 2, 1), QStringLiteral("Мебель"));
      QCOMPARE(cell(t, 1, 3), QStringLiteral("3  \U0001F514 +2"));
      QCOMPARE(cell(t, 0, 4), QStringLiteral("A"));
      QVERIFY(t->selectedItems().isEmpty());
      buttonNamed(d, QStringLiteral("Обновить статусы"))->click();
      // Meanwhile a new request goes first and the third entry is gone.
      storeJournal("[{'request_id':'NEW','status':'accepted','responses':0},"_j
                   "{'request_id':'A','status':'accepted','responses':0},"_j
                   "{'request_id':'B','status':'accepted','responses':3,'seen':1}]"_j);
      QTRY_COMPARE(finished.size(), 3);
      QCOMPARE(cell(t, 0, 2), QStringLiteral("offers"));
      QCOMPARE(cell(t, 0, 3), QStringLiteral("3  \U0001F514 +3"));
      QCOMPARE(cell(t, 1, 2), QString());  // a reply without status empties the cell
      QCOMPARE(cell(t, 1, 3), QStringLiteral("1"));
      QCOMPARE(cell(t, 2, 2), QStringLiteral("accepted"));  // its entry is gone: reply dropped
      QCOMPARE(cell(t, 2, 3), QStringLiteral("0"));
    })});
    w.myRequestsDialog(QString());
    QCOMPARE(a.seen.size(), 1);
    QSet<QByteArray> lines;
    for (const auto& r : server.requests) lines.insert(r.requestLine());
    QCOMPARE(lines, (QSet<QByteArray>{"GET /requests/A HTTP/1.1", "GET /requests/B HTTP/1.1",
                                      "GET /requests/a%2Fb%3Fc HTTP/1.1"}));
    const QJsonArray j = storedJournal();
    QCOMPARE(j.size(), 3);
    QCOMPARE(j[0].toObject(), (QJsonObject{{"request_id", "NEW"}, {"status", "accepted"}, {"responses", 0}}));
    QCOMPARE(j[1].toObject(), (QJsonObject{{"request_id", "A"}, {"status", "offers"}, {"responses", 3},
                                           {"compare_url", "http://127.0.0.1:1/c/A"}}));
    QCOMPARE(j[2].toObject(), (QJsonObject{{"request_id", "B"}, {"status", "accepted"}, {"responses", 1}, {"seen", 1}}));
  }

  void openingForAnIdAddsAndSelectsIt() {
    storeJournal("[{'request_id':'A','status':'accepted','responses':0}]"_j);
    RecordingServer server;
    // The refresh may answer before the rows are read: it confirms what they hold.
    server.respond = [](const RecordingServer::Request&) { return Reply{200, "{'status':'accepted'}"_j, {}}; };
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    MainWindow w;
    ModalAnswerer a(Answers{inDialog([&](QDialog* d) {
                              auto* t = d->findChild<QTableWidget*>();
                              QCOMPARE(t->rowCount(), 2);
                              QCOMPARE(cell(t, 0, 4), QStringLiteral("NEW-1"));
                              QCOMPARE(cell(t, 0, 2), QStringLiteral("accepted"));
                              QCOMPARE(cell(t, 0, 1), QString());
                              QCOMPARE(t->selectionModel()->selectedRows().size(), 1);
                              QCOMPARE(t->selectionModel()->selectedRows().first().row(), 0);
                              // The backend was asked once whether it knows the id, then the refresh
                              // started at once.
                              QTRY_COMPARE(server.requests.size(), 3);
                            }),
                            inDialog([&](QDialog* d) {
                              // Straight to the dialog, an unknown focus selects nothing but still refreshes.
                              auto* t = d->findChild<QTableWidget*>();
                              QCOMPARE(t->rowCount(), 2);
                              QVERIFY(t->selectionModel()->selectedRows().isEmpty());
                              QTRY_COMPARE(server.requests.size(), 5);
                            })});
    w.openMyRequestsForId(QStringLiteral("NEW-1"));
    w.myRequestsDialog(QStringLiteral("missing"));
    QCOMPARE(a.seen.size(), 2);
    QCOMPARE(storedJournal().size(), 2);
  }

  void compareOpensOnlyWebAddresses() {
    storeJournal("[{'request_id':'F','compare_url':'file:///etc/passwd'},{'request_id':'N'},"_j
                 "{'request_id':'H','compare_url':'http://127.0.0.1:9/c/H'}]"_j);
    UrlCatcher catcher;
    for (const char* scheme : {"http", "https", "file"})
      QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &catcher, "open");
    MainWindow w;
    WindowProbe p{w};
    const QString before = p.status();
    ModalAnswerer a(Answers{inDialog([&](QDialog* d) {
      auto* t = d->findChild<QTableWidget*>();
      QPushButton* compare = buttonNamed(d, QStringLiteral("Сравнить"));
      compare->click();  // no row selected: nothing
      buttonNamed(d, QStringLiteral("Предложения"))->click();
      QCOMPARE(p.status(), before);
      t->selectRow(0);
      compare->click();
      QCOMPARE(p.status(), QStringLiteral("Адрес сравнения не открыт: допускаются только http и https"));
      t->selectRow(1);
      compare->click();
      QCOMPARE(p.status(), QStringLiteral("Сначала обновите статусы"));
      t->selectRow(2);
      compare->click();
    })});
    w.myRequestsDialog(QString());
    for (const char* scheme : {"http", "https", "file"}) QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    QCOMPARE(catcher.opened, QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1:9/c/H"))});
    // Offers without a selection opened no dialog.
    QCOMPARE(w.findChildren<QDialog*>().size(), 0);
  }

  // Only an id the backend knows enters the journal; one it answers 404 for is marked unknown
  // until it knows it again; an unreachable backend adds nothing either.
  void unknownIds() {
    storeJournal("[{'request_id':'OLD','status':'accepted','responses':0}]"_j);
    RecordingServer server;
    bool known = false;
    server.respond = [&known](const RecordingServer::Request&) {
      return known ? Reply{200, "{'status':'offers','responses':1}"_j, {}} : Reply{404, "{'error':'no such request'}"_j, {}};
    };
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer a(Answers{inDialog([&](QDialog* d) {
                              auto* t = d->findChild<QTableWidget*>();
                              QCOMPARE(t->rowCount(), 1);
                              QTRY_COMPARE(cell(t, 0, 2), QStringLiteral("неизвестна backend"));
                            }),
                            inDialog([&](QDialog* d) {
                              // Opened again, it still says so before any refresh answers.
                              QCOMPARE(cell(d->findChild<QTableWidget*>(), 0, 2), QStringLiteral("неизвестна backend"));
                              known = true;
                              buttonNamed(d, QStringLiteral("Обновить статусы"))->click();
                              QTRY_COMPARE(cell(d->findChild<QTableWidget*>(), 0, 2), QStringLiteral("offers"));
                            }),
                            inDialog([](QDialog*) {})});
    w.openMyRequestsForId(QStringLiteral("BOGUS-123"));
    QCOMPARE(p.status(), QStringLiteral("Заявка BOGUS-123 неизвестна backend: в журнал не записана"));
    QCOMPARE(storedJournal().size(), 1);
    QCOMPARE(journal::entryOf(storedJournal()[0]).unknown, true);
    w.myRequestsDialog(QString());
    QCOMPARE(journal::entryOf(storedJournal()[0]).unknown, false);
    QCOMPARE(journal::entryOf(storedJournal()[0]).status, QStringLiteral("offers"));

    qputenv("QUORVEL_BACKEND", "http://127.0.0.1:9");
    w.openMyRequestsForId(QStringLiteral("ELSE-1"));
    QVERIFY(p.status().startsWith(QStringLiteral("Заявка ELSE-1 не проверена (backend): ")));
    QCOMPARE(storedJournal().size(), 1);
    QCOMPARE(a.seen.size(), 3);
  }

  // The offers page is opened at the backend that runs now, not at the port that stored
  // its address.
  void comparePageOfTheCurrentBackend() {
    storeJournal("[{'request_id':'A','compare_url':'http://127.0.0.1:39999/requests/A/compare'}]"_j);
    RecordingServer server;
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    MainWindow w;
    ModalAnswerer a(Answers{inDialog([&](QDialog* d) {
      d->findChild<QTableWidget*>()->selectRow(0);
      buttonNamed(d, QStringLiteral("Сравнить"))->click();
    })});
    w.myRequestsDialog(QString());
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QCOMPARE(catcher.opened, QList<QUrl>{QUrl(server.base() + QStringLiteral("/requests/A/compare"))});
  }

  // The journal shares the settings file with the provider's key: owner-only however it came
  // to be, also when it was there with a wider mode.
  void settingsFileIsPrivate() {
    const QString path = QSettings().fileName();
    QFile::remove(path);
    journal::store("[]");
    QCOMPARE(modeOf(path), 0600);
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                            QFileDevice::ReadOther));
    journal::store("[{'request_id':'A'}]"_j);
    QSettings().sync();
    QCOMPARE(modeOf(path), 0600);
    QCOMPARE(storedJournal().size(), 1);
  }

  void offersDialogStates_data() {
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("rows");  // cells joined by "|"
    QTest::addColumn<bool>("canCompare");
    QTest::addColumn<QByteArray>("journalAfter");
    const QByteArray start = "[{'request_id':'Z','responses':0},{'request_id':'A','status':'offers','responses':5,'seen':1}]"_j;
    QTest::newRow("three offers")
        << 200
        << QByteArray("{'responses':[{'supplier':'ООО Альфа','price':99.6,'lead_time':5,'comment':'<b>опт</b>'},"_j
                      "{'supplier':'ИП Бета','price':250,'lead_time':2.5},{'price':'12','lead_time':'7','comment':3}],"_j
                      "'compare_url':'http://127.0.0.1:9/c/A'}"_j)
        << "Откликов: 3" << QStringList{"ООО Альфа|99.6|5|<b>опт</b>", "ИП Бета|250|2.5|", "|0|0|"} << true
        << QByteArray("[{'request_id':'Z','responses':0},{'request_id':'A','responses':3,'seen':3,'status':'offers'}]"_j);
    QTest::newRow("fractions as sent")
        << 200 << QByteArray("{'responses':[{'supplier':'Г','price':125000.75,'lead_time':3.7}]}"_j) << "Откликов: 1"
        << QStringList{"Г|125000.75|3.7|"} << false
        << QByteArray("[{'request_id':'Z','responses':0},{'request_id':'A','responses':1,'seen':1,'status':'offers'}]"_j);
    QTest::newRow("none yet") << 200 << QByteArray("{'responses':[]}"_j) << "Откликов пока нет" << QStringList{}
                              << false
                              << QByteArray("[{'request_id':'Z','responses':0},{'request_id':'A','responses':0,'seen':0,'status':'offers'}]"_j);
    QTest::newRow("responses not an array") << 200 << QByteArray("{'responses':{'a':1},'compare_url':''}"_j)
                                            << "Откликов пока нет" << QStringList{} << false
                                            << QByteArray("[{'request_id':'Z','responses':0},{'request_id':'A','responses':0,'seen':0,'status':'offers'}]"_j);
    QTest::newRow("failed") << 500 << QByteArray("{'responses':[{'supplier':'x'}]}"_j) << "Не удалось загрузить предложения"
                            << QStringList{} << false << start;
  }

  void offersDialogStates() {
    QFETCH(int, httpStatus);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, rows);
    QFETCH(bool, canCompare);
    QFETCH(QByteArray, journalAfter);
    storeJournal("[{'request_id':'Z','responses':0},{'request_id':'A','status':'offers','responses':5,'seen':1}]"_j);
    RecordingServer server;
    server.queue({httpStatus, body, {}});
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    MainWindow w;
    w.showOffersDialog(QString());
    QCOMPARE(w.findChildren<QDialog*>().size(), 0);
    w.showOffersDialog(QStringLiteral("A"));
    auto* d = w.findChild<QDialog*>();
    QVERIFY(d);
    QVERIFY(d->isVisible() && !d->isModal());
    QCOMPARE(d->windowTitle(), QStringLiteral("Предложения по заявке"));
    auto* label = d->findChild<QLabel*>();
    auto* t = d->findChild<QTableWidget*>();
    QPushButton* open = buttonNamed(d, QStringLiteral("Открыть сравнение"));
    QVERIFY(!open->isEnabled());
    QTRY_VERIFY(label->text() != QStringLiteral("Загрузка…"));
    QTEST(label->text(), "label");
    QCOMPARE(server.requests.first().requestLine(), QByteArray("GET /requests/A/responses HTTP/1.1"));
    QStringList shown;
    for (int r = 0; r < t->rowCount(); ++r)
      shown << QStringList{cell(t, r, 0), cell(t, r, 1), cell(t, r, 2), cell(t, r, 3)}.join(QLatin1Char('|'));
    QCOMPARE(shown, rows);
    QCOMPARE(open->isEnabled(), canCompare);
    if (canCompare) {
      open->click();
      // The reply's loopback address is opened at the backend that answered it.
      QCOMPARE(catcher.opened, QList<QUrl>{QUrl(server.base() + QStringLiteral("/c/A"))});
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QCOMPARE(storedJournal(), journal::parse(journalAfter));
    QPointer<QDialog> gone(d);
    d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close)->click();
    QTRY_VERIFY(gone.isNull());
  }

  // Offers opened from My requests, which runs modally, take clicks; two stay open side by side,
  // and one outlives My requests.
  void offersFromMyRequestsTakeClicks() {
    storeJournal("[{'request_id':'A','responses':1},{'request_id':'B','responses':1}]"_j);
    RecordingServer server;
    server.respond = [](const RecordingServer::Request& r) {
      const QByteArray id = r.requestLine().startsWith("GET /requests/A/") ? "A" : "B";
      return Reply{200, "{'responses':[{'supplier':'S-"_j + id + "'}],'compare_url':'http://127.0.0.1:9/c/"_j + id + "'}"_j, {}};
    };
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QPointer<QDialog> kept;
    ModalAnswerer a(Answers{inDialog([&](QDialog* d) {
      QVERIFY(QTest::qWaitForWindowExposed(d));
      auto* t = d->findChild<QTableWidget*>();
      doubleClickRow(t, 0);
      QTRY_COMPARE(offersDialogs(w).size(), 1);
      QPointer<QDialog> first = offersDialogs(w).first();
      doubleClickRow(t, 1);
      QTRY_COMPARE(offersDialogs(w).size(), 2);
      QPointer<QDialog> second = offersDialogs(w).at(offersDialogs(w).at(0) == first ? 1 : 0);
      for (QDialog* o : {first.data(), second.data()}) {
        QVERIFY(QTest::qWaitForWindowExposed(o));
        QTRY_COMPARE(o->findChild<QLabel*>()->text(), QStringLiteral("Откликов: 1"));
      }
      QPushButton* open = buttonNamed(second, QStringLiteral("Открыть сравнение"));
      QTRY_VERIFY(open->isEnabled());
      clickThroughWindow(open);
      // A loopback address goes to the backend that runs now, whatever port the reply named.
      QCOMPARE(catcher.opened, QList<QUrl>{QUrl(server.base() + QStringLiteral("/c/B"))});
      clickThroughWindow(second->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close));
      QTRY_VERIFY(second.isNull());
      QVERIFY(first && first->isVisible());
      kept = first;
    })});
    w.myRequestsDialog(QString());
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QCOMPARE(a.seen.size(), 1);
    // My requests has gone; the first offers still take clicks and close by their button.
    QVERIFY(kept && kept->isVisible());
    clickThroughWindow(kept->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close));
    QTRY_VERIFY(kept.isNull());
  }

  // Closing before the reply drops its handling (seen stays), yet the reply is still deleted.
  void offersClosedEarlyKeepSeen() {
    const QByteArray value = "[{'request_id':'A','status':'offers','responses':2,'seen':0}]"_j;
    storeJournal(value);
    RecordingServer server;
    server.holdUntil(2);
    server.queue({200, "{'responses':[{'supplier':'x','price':1}]}"_j, {}});
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    MainWindow w;
    // Taken while the reply still exists; a pointer kept by a spy might dangle.
    QList<QPointer<QNetworkReply>> finished;
    connect(w.findChild<QNetworkAccessManager*>(), &QNetworkAccessManager::finished, this,
            [&finished](QNetworkReply* r) { finished.append(r); });
    w.showOffersDialog(QStringLiteral("A"));
    QPointer<QDialog> d = w.findChild<QDialog*>();
    QTRY_COMPARE(server.requests.size(), 1);
    d->close();
    QTRY_VERIFY(d.isNull());
    server.holdUntil(1);
    QTRY_COMPARE(finished.size(), 1);
    QTRY_VERIFY(finished.first().isNull());
    QCOMPARE(journal::load(), value);
  }

  // As a user: the window starts the stand-in, a request goes out from the form, a supplier
  // answers, and My requests shows the new status and the bell after Refresh.
  void roundTripWithTheStandInTheWindowStarts() {
    qputenv("QUORVEL_BACKEND", "");
    qputenv("QUORVEL_BACKEND_EXE", qgetenv("QUORVEL_BUILD_DIR") + "/durovaderiz");
    MainWindow w;
    WindowProbe p{w};
    qunsetenv("QUORVEL_BACKEND_EXE");
    // The stand-in takes only requests with the secret the window gave it.
    auto* link = w.findChild<quorvel::desktop::BackendLink*>();
    QVERIFY(link);
    QTRY_VERIFY(link->state() == quorvel::desktop::BackendLink::State::Ready);
    const int port = QUrl(link->base()).port();
    const auto withSecret = [link](QNetworkRequest r) {
      r.setRawHeader("Authorization", link->authorization());
      return r;
    };
    w.openFile(doc);
    {
      ModalAnswerer a(Answers{fillForm({"ООО Ромашка", "Бумага", "Казань", "2024-06-01", "500 пачек"}),
                              pressButton(QMessageBox::Ok)});
      w.sendAsRequestDialog();
      QTRY_VERIFY(p.status().startsWith(QStringLiteral("Заявка отправлена: REQ-")));
      QCOMPARE(a.seen.size(), 2);
      QVERIFY2(a.seen.at(1).text.startsWith(QStringLiteral("Заявка принята (офлайн-режим)")), qPrintable(a.seen.at(1).text));
    }
    const QString id = journal::entryOf(storedJournal()[0]).requestId;
    QCOMPARE(p.status(), QStringLiteral("Заявка отправлена: ") + id);

    // A supplier answers through the stand-in's own route.
    QNetworkAccessManager nam;
    QNetworkRequest offer(QUrl(QStringLiteral("http://127.0.0.1:%1/requests/%2/responses").arg(port).arg(id)));
    offer.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply* added = nam.post(withSecret(offer), "{'supplier':'ООО Альфа','price':99.6,'lead_time':5,'comment':'опт'}"_j);
    QTRY_VERIFY(added->isFinished());
    QCOMPARE(added->error(), QNetworkReply::NoError);
    delete added;

    ModalAnswerer a(Answers{inDialog([&](QDialog* d) {
      auto* t = d->findChild<QTableWidget*>();
      QCOMPARE(t->rowCount(), 1);
      QCOMPARE(cell(t, 0, 1), QStringLiteral("Бумага · Казань"));
      QCOMPARE(cell(t, 0, 2), QStringLiteral("accepted"));
      QCOMPARE(cell(t, 0, 3), QStringLiteral("0"));
      buttonNamed(d, QStringLiteral("Обновить статусы"))->click();
      QTRY_COMPARE(cell(t, 0, 3), QStringLiteral("1  \U0001F514 +1"));
      QCOMPARE(cell(t, 0, 2), QStringLiteral("offers"));
    })});
    w.myRequestsDialog(QString());
    const journal::Entry e = journal::entryOf(storedJournal()[0]);
    QCOMPARE(e.status, QStringLiteral("offers"));
    QCOMPARE(e.compareUrl, QStringLiteral("http://127.0.0.1:%1/requests/%2/compare").arg(port).arg(id));

    // Its offers, and the comparison page the stand-in serves.
    w.showOffersDialog(id);
    auto* d = w.findChild<QDialog*>();
    QTRY_COMPARE(d->findChild<QLabel*>()->text(), QStringLiteral("Откликов: 1"));
    QCOMPARE(cell(d->findChild<QTableWidget*>(), 0, 1), QStringLiteral("99.6"));
    QCOMPARE(journal::entryOf(storedJournal()[0]).seen, 1);
    QNetworkReply* page = nam.get(withSecret(QNetworkRequest(QUrl(e.compareUrl))));
    QTRY_VERIFY(page->isFinished());
    QVERIFY(QString::fromUtf8(page->readAll()).contains(QStringLiteral("<td>ООО Альфа</td><td>99.6</td><td>5</td>")));
    delete page;
  }
};

QTEST_MAIN(MainWindowRequestsTest)
#include "test_mainwindow_requests.moc"
