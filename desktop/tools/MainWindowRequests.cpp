// Purchase requests: the document and a small form go to the backend, the accepted request is
// kept in the journal, and the journal's dialogs follow statuses and suppliers' offers.
#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QHeaderView>
#include <QHttpMultiPart>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QWindow>

#include "desktop/stores/RequestJournal.h"
#include "desktop/tools/BackendTools.h"
#include "desktop/tools/DocumentCopy.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/BackendLink.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

constexpr int kIdColumn = 4;

QHttpPart textPart(const char* name, const QString& value) {
  QHttpPart part;
  part.setHeader(QNetworkRequest::ContentDispositionHeader, QStringLiteral("form-data; name=\"%1\"").arg(QLatin1String(name)));
  part.setBody(value.toUtf8());
  return part;
}

// A reply's value for the message box: a missing text shows a dash.
QString shown(const QJsonObject& o, const char* key) {
  const QJsonValue v = o.value(QLatin1String(key));
  return v.isString() ? v.toString() : QStringLiteral("\u2014");
}

QTableWidget* readOnlyTable(const QStringList& headers, QWidget* parent) {
  auto* table = new QTableWidget(0, int(headers.size()), parent);
  table->setHorizontalHeaderLabels(headers);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->setVisible(false);
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

void setCell(QTableWidget* table, int row, int column, const QString& text) {
  table->setItem(row, column, new QTableWidgetItem(text));
}

int rowOfId(const QTableWidget* table, const QString& id) {
  for (int r = 0; r < table->rowCount(); ++r)
    if (const QTableWidgetItem* item = table->item(r, kIdColumn); item && item->text() == id) return r;
  return -1;
}

// The selected row, or -1: a current cell without a selection is not the user's choice.
int selectedRow(const QTableWidget* table) {
  const QModelIndexList rows = table->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

QString idOfRow(const QTableWidget* table, int row) {
  const QTableWidgetItem* item = row >= 0 ? table->item(row, kIdColumn) : nullptr;
  return item ? item->text() : QString();
}

// The GET of one request's path; nothing is sent but the address.
QNetworkRequest requestGet(const QString& id, const char* tail) {
  return QNetworkRequest(MainWindow::backendUrl(journal::requestPath(id) + QLatin1String(tail)));
}

}  // namespace

void MainWindow::sendAsRequestDialog() {
  PdfView* view = currentView();
  if (!view || !view->doc) {
    statusBar()->showMessage(L("Сначала откройте PDF", "Open a PDF first"));
    return;
  }

  QDialog dlg(this);
  dlg.setWindowTitle(L("Отправить как заявку", "Send as request"));
  auto* form = new QFormLayout(&dlg);
  auto* buyer = new QLineEdit(&dlg);
  auto* category = new QLineEdit(&dlg);
  auto* region = new QLineEdit(&dlg);
  auto* deadline = new QLineEdit(&dlg);
  deadline->setPlaceholderText(QStringLiteral("ГГГГ-ММ-ДД"));
  auto* note = new QPlainTextEdit(&dlg);
  note->setFixedHeight(60);
  form->addRow(L("Заказчик", "Buyer"), buyer);
  form->addRow(L("Категория", "Category"), category);
  form->addRow(L("Регион", "Region"), region);
  form->addRow(L("Срок", "Deadline"), deadline);
  form->addRow(L("Комментарий", "Note"), note);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  buttons->button(QDialogButtonBox::Ok)->setText(L("Отправить", "Send"));
  connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  form->addRow(buttons);
  // The backend takes the deadline as a date: only a real one, or none, is sent.
  deadline->setToolTip(L("Дата в виде ГГГГ-ММ-ДД или пусто", "A date as YYYY-MM-DD, or empty"));
  connect(deadline, &QLineEdit::textChanged, &dlg, [ok = buttons->button(QDialogButtonBox::Ok)](const QString& text) {
    ok->setEnabled(text.isEmpty() || QDate::fromString(text, QStringLiteral("yyyy-MM-dd")).isValid());
  });
  if (dlg.exec() != QDialog::Accepted) return;
  // The view may have gone while the dialog ran its own event loop.
  view = currentView();
  if (!view || !view->doc) return;

  // The upload holds its own copy in memory, so sends in flight never share one and no file
  // is left behind when no reply comes.
  QByteArray pdf;
  if (const Copy c = documentCopy(*view, "request", pdf); c != Copy::Ok) {
    statusBar()->showMessage(copyFailed(c));
    return;
  }

  auto* multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
  QHttpPart filePart;
  filePart.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/pdf"));
  filePart.setHeader(QNetworkRequest::ContentDispositionHeader,
                     QStringLiteral("form-data; name=\"file\"; filename=\"zayavka.pdf\""));
  filePart.setBody(pdf);
  multipart->append(filePart);
  multipart->append(textPart("buyer", buyer->text()));
  multipart->append(textPart("category", category->text()));
  multipart->append(textPart("region", region->text()));
  multipart->append(textPart("deadline", deadline->text()));
  multipart->append(textPart("note", note->toPlainText()));

  const QNetworkRequest request(backendUrl(QStringLiteral("/requests")));
  statusBar()->showMessage(L("Отправка заявки…", "Sending request…"));
  const QString typedCategory = category->text(), typedRegion = region->text();
  QNetworkReply* reply = network->post(request, multipart);
  multipart->setParent(reply);
  connect(reply, &QNetworkReply::finished, this, [this, reply, typedCategory, typedRegion] {
    reply->deleteLater();
    const QByteArray body = reply->readAll();
    if (reply->error() != QNetworkReply::NoError) {
      statusBar()->showMessage(
          L("Отправка не удалась (backend): %1", "Send failed (backend): %1").arg(failureDetail(reply, body)));
      return;
    }
    const QJsonObject o = QJsonDocument::fromJson(body).object();
    const QJsonObject parsed = o.value(QLatin1String("parsed")).toObject();
    const bool offline = o.value(QLatin1String("mode")).toString() == QLatin1String("offline");
    const QString id = o.value(QLatin1String("request_id")).toString();
    const QString status = o.value(QLatin1String("status")).toString(QStringLiteral("accepted"));
    const QString region =
        typedRegion.isEmpty() ? parsed.value(QLatin1String("location")).toString() : typedRegion;
    const QString category =
        typedCategory.isEmpty() ? parsed.value(QLatin1String("subject")).toString() : typedCategory;
    saveMyRequest(id, category, region, status);

    const QString text =
        L("Заявка принята%1\n\nID: %2\nСтатус: %3\nТип: %4\nПредмет: %5\nРегион: %6\nСрок: %7",
          "Request accepted%1\n\nID: %2\nStatus: %3\nType: %4\nSubject: %5\nRegion: %6\nDeadline: %7")
            .arg(offline ? L(" (офлайн-режим)", " (offline mode)") : QString(), shown(o, "request_id"),
                 shown(o, "status"), shown(parsed, "request_type"), shown(parsed, "subject"),
                 shown(parsed, "location"), shown(parsed, "deadline"));
    QMessageBox box(QMessageBox::Information, L("Заявка отправлена", "Request sent"), text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    statusBar()->showMessage(L("Заявка отправлена: %1", "Request sent: %1").arg(id));
  });
}

void MainWindow::saveMyRequest(const QString& id, const QString& category, const QString& region,
                               const QString& status) {
  if (id.isEmpty()) return;
  if (const auto value = journal::withRequest(journal::load(), id, category, region, status,
                                              QDateTime::currentDateTime()))
    journal::store(*value);
}

void MainWindow::openRequestAddress(const QString& address) {
  // The id in the address alone grants the page: it goes to the backend that runs now, never
  // to whatever holds the port of an earlier run's backend.
  QString base = qEnvironmentVariable("QUORVEL_BACKEND");
  if (base.isEmpty() && backendLink && backendLink->state() == BackendLink::State::Ready) base = backendLink->base();
  const QUrl url = journal::currentBackendAddress(address, base);
  if (url.isEmpty()) {
    statusBar()->showMessage(L("Адрес сравнения не открыт: backend не запущен",
                               "The comparison address was not opened: no backend is running"));
    return;
  }
  if (journal::openableAddress(url))
    QDesktopServices::openUrl(url);
  else
    statusBar()->showMessage(L("Адрес сравнения не открыт: допускаются только http и https",
                               "The comparison address was not opened: only http and https are allowed"));
}

void MainWindow::myRequestsDialog(const QString& focusId) {
  const QJsonArray entries = journal::parse(journal::load());

  QDialog dlg(this);
  dlg.setWindowTitle(L("Мои заявки", "My requests"));
  dlg.resize(620, 360);
  auto* layout = new QVBoxLayout(&dlg);
  QTableWidget* table = readOnlyTable({L("Дата", "Date"), L("Категория", "Category"), L("Статус", "Status"),
                                       L("Откликов", "Responses"), QStringLiteral("ID")},
                                      &dlg);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setRowCount(int(entries.size()));
  for (int r = 0; r < entries.size(); ++r) {
    const journal::Entry e = journal::entryOf(entries[r]);
    setCell(table, r, 0, e.created);
    setCell(table, r, 1, journal::categoryCell(e.category, e.region));
    setCell(table, r, 2, journal::statusCell(e));
    setCell(table, r, 3, journal::responsesMarker(e.responses, e.seen));
    setCell(table, r, kIdColumn, e.requestId);
  }
  layout->addWidget(table);

  auto* buttons = new QDialogButtonBox(&dlg);
  QPushButton* refresh = buttons->addButton(L("Обновить статусы", "Refresh statuses"), QDialogButtonBox::ActionRole);
  QPushButton* offers = buttons->addButton(L("Предложения", "Offers"), QDialogButtonBox::ActionRole);
  QPushButton* compare = buttons->addButton(L("Сравнить", "Compare"), QDialogButtonBox::ActionRole);
  buttons->addButton(QDialogButtonBox::Close);
  connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  layout->addWidget(buttons);

  // Each reply finds its entry and row by id: entries sent meanwhile move the positions.
  const auto refreshAll = [this, &dlg, table] {
    const QJsonArray current = journal::parse(journal::load());
    for (const QJsonValue& v : current) {
      const QString id = journal::entryOf(v).requestId;
      if (id.isEmpty()) continue;
      QNetworkReply* reply = network->get(requestGet(id, ""));
      // Deleted even when the dialog has gone before it finished.
      connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
      connect(reply, &QNetworkReply::finished, &dlg, [reply, table, id] {
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 404) {
          // The backend does not know the id (any more): say so rather than keep a status it
          // never gave.
          if (const auto value = journal::withUnknown(journal::load(), id)) journal::store(*value);
          if (const int row = rowOfId(table, id); row >= 0) {
            journal::Entry e;
            e.unknown = true;
            setCell(table, row, 2, journal::statusCell(e));
          }
          return;
        }
        if (reply->error() != QNetworkReply::NoError) return;
        const journal::StatusReply status = journal::parseStatusReply(reply->readAll());
        qint64 seen = 0;
        const auto value = journal::withStatus(journal::load(), id, status, &seen);
        if (!value) return;
        journal::store(*value);
        const int row = rowOfId(table, id);
        if (row < 0) return;
        setCell(table, row, 2, status.status);
        setCell(table, row, 3, journal::responsesMarker(status.responses, seen));
      });
    }
  };
  connect(refresh, &QPushButton::clicked, &dlg, refreshAll);
  connect(offers, &QPushButton::clicked, &dlg, [this, table] {
    const QString id = idOfRow(table, selectedRow(table));
    if (!id.isEmpty()) showOffersDialog(id);
  });
  connect(table, &QTableWidget::cellDoubleClicked, &dlg,
          [this, table](int row, int) { showOffersDialog(idOfRow(table, row)); });
  connect(compare, &QPushButton::clicked, &dlg, [this, table] {
    const QString id = idOfRow(table, selectedRow(table));
    if (id.isEmpty()) return;
    const QJsonArray current = journal::parse(journal::load());
    const int i = journal::indexOf(current, id);
    if (i < 0) return;
    const QString address = journal::entryOf(current[i]).compareUrl;
    if (address.isEmpty())
      statusBar()->showMessage(L("Сначала обновите статусы", "Refresh statuses first"));
    else
      openRequestAddress(address);
  });

  if (!focusId.isEmpty()) {
    if (const int row = rowOfId(table, focusId); row >= 0) {
      table->selectRow(row);
      table->scrollToItem(table->item(row, kIdColumn));
    }
    refreshAll();
  }
  dlg.exec();
}

void MainWindow::openMyRequestsForId(const QString& id) {
  if (!id.isEmpty() && journal::indexOf(journal::parse(journal::load()), id) < 0) {
    // Only a request the backend knows enters the journal, with the status it gives.
    QPointer<QNetworkReply> reply = network->get(requestGet(id, ""));
    QEventLoop wait;
    connect(reply, &QNetworkReply::finished, &wait, &QEventLoop::quit);
    wait.exec();
    if (!reply) return;
    reply->deleteLater();
    const QByteArray body = reply->readAll();
    if (reply->error() == QNetworkReply::NoError) {
      saveMyRequest(id, QString(), QString(), journal::parseStatusReply(body).status);
    } else if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 404) {
      statusBar()->showMessage(L("Заявка %1 неизвестна backend: в журнал не записана",
                                 "Request %1 is unknown to the backend: not added to the journal")
                                   .arg(id));
    } else {
      statusBar()->showMessage(L("Заявка %1 не проверена (backend): %2 — в журнал не записана",
                                 "Request %1 was not checked (backend): %2 — not added to the journal")
                                   .arg(id, failureDetail(reply, body)));
    }
  }
  myRequestsDialog(id);
}

void MainWindow::showOffersDialog(const QString& id) {
  if (id.isEmpty()) return;
  auto* dlg = new QDialog(this);
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->setWindowTitle(L("Предложения по заявке", "Offers for request"));
  dlg->resize(560, 320);
  auto* layout = new QVBoxLayout(dlg);
  QTableWidget* table = readOnlyTable({L("Поставщик", "Supplier"), L("Цена, ₽", "Price, ₽"),
                                       L("Срок, дн.", "Lead time, d"), L("Комментарий", "Comment")},
                                      dlg);
  layout->addWidget(table);
  auto* label = new QLabel(L("Загрузка…", "Loading…"), dlg);
  label->setTextFormat(Qt::PlainText);
  layout->addWidget(label);
  auto* buttons = new QDialogButtonBox(dlg);
  QPushButton* openCompare = buttons->addButton(L("Открыть сравнение", "Open comparison"), QDialogButtonBox::ActionRole);
  openCompare->setEnabled(false);
  buttons->addButton(QDialogButtonBox::Close);
  connect(buttons, &QDialogButtonBox::rejected, dlg, &QWidget::close);
  // Escape rejects without a close event; the dialog goes all the same.
  connect(dlg, &QDialog::finished, dlg, &QObject::deleteLater);
  layout->addWidget(buttons);

  QNetworkReply* reply = network->get(requestGet(id, "/responses"));
  connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
  connect(reply, &QNetworkReply::finished, dlg, [this, reply, table, label, openCompare, id] {
    if (reply->error() != QNetworkReply::NoError) {
      label->setText(L("Не удалось загрузить предложения", "Could not load offers"));
      return;
    }
    const QJsonObject o = QJsonDocument::fromJson(reply->readAll()).object();
    const QJsonArray offers = o.value(QLatin1String("responses")).toArray();
    table->setRowCount(int(offers.size()));
    for (int r = 0; r < offers.size(); ++r) {
      const QJsonObject offer = offers[r].toObject();
      setCell(table, r, 0, offer.value(QLatin1String("supplier")).toString());
      setCell(table, r, 1, journal::priceCell(offer.value(QLatin1String("price"))));
      setCell(table, r, 2, journal::leadTimeCell(offer.value(QLatin1String("lead_time"))));
      setCell(table, r, 3, offer.value(QLatin1String("comment")).toString());
    }
    label->setText(offers.isEmpty() ? L("Откликов пока нет", "No offers yet")
                                    : L("Откликов: %1", "Offers: %1").arg(offers.size()));
    const QString address = o.value(QLatin1String("compare_url")).toString();
    if (!address.isEmpty()) {
      openCompare->setEnabled(true);
      connect(openCompare, &QPushButton::clicked, this, [this, address] { openRequestAddress(address); });
    }
    if (const auto value = journal::withOffersSeen(journal::load(), id, offers.size())) journal::store(*value);
  });
  dlg->show();
  // A window beside a modal one takes no input, and My requests runs modally: while a modal
  // dialog of this window runs, the offers stand on it as its own window, and go back to the
  // main window once it closes, which they outlive.
  auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
  QPointer<QWindow> own = dlg->windowHandle();
  if (modal && modal->parentWidget() == this && own && modal->windowHandle()) {
    own->setTransientParent(modal->windowHandle());
    connect(modal, &QDialog::finished, dlg, [this, own] {
      if (own) own->setTransientParent(windowHandle());
    });
  }
}

}  // namespace quorvel::desktop
