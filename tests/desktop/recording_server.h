// A scripted HTTP server on 127.0.0.1 inside the test's own event loop: it keeps every request
// as it arrived (request line, headers, body) and answers each with the next scripted reply.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <deque>
#include <functional>
#include <utility>

namespace quorvel::test {

class RecordingServer : public QObject {
 public:
  struct Reply {
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool hang = false;  // never answered; the connection stays open
  };
  struct Request {
    QByteArray head;  // request line and headers, without the blank line
    QByteArray body;
    QByteArray requestLine() const { return head.left(head.indexOf("\r\n")); }
    // The raw value of the first header of that name, or a null array.
    QByteArray header(const QByteArray& name) const {
      for (const QByteArray& line : head.split('\n')) {
        const QByteArray l = line.endsWith('\r') ? line.chopped(1) : line;
        const qsizetype colon = l.indexOf(':');
        if (colon > 0 && l.left(colon).toLower() == name.toLower()) return l.mid(colon + 1).trimmed();
      }
      return {};
    }
  };

  RecordingServer() {
    server.listen(QHostAddress::LocalHost, 0);
    connect(&server, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* s = server.nextPendingConnection()) {
        connect(s, &QTcpSocket::readyRead, this, [this, s] { onData(s); });
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
      }
    });
  }

  QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }
  void queue(Reply r) { replies.push_back(std::move(r)); }
  // Keeps every answer back until `n` requests have arrived (0: answers at once), so that
  // requests can be in flight together; the held ones are answered in arrival order.
  void holdUntil(int n) {
    hold = n;
    if (requests.size() >= hold) releaseHeld();
  }

  QList<Request> requests;
  // When set, answers each request by what it asked instead of from the queue: requests in
  // flight together may arrive in any order.
  std::function<Reply(const Request&)> respond;

 private:
  void onData(QTcpSocket* s) {
    QByteArray& buf = buffers[s];
    buf += s->readAll();
    const qsizetype end = buf.indexOf("\r\n\r\n");
    if (end < 0) return;
    Request req;
    req.head = buf.left(end);
    const qsizetype length = req.header("Content-Length").toLongLong();
    if (buf.size() < end + 4 + length) return;
    req.body = buf.mid(end + 4, length);
    buffers.remove(s);
    requests.append(req);
    held.append(s);
    if (requests.size() >= hold) releaseHeld();
  }

  void releaseHeld() {
    const QList<QPointer<QTcpSocket>> now = std::exchange(held, {});
    for (const QPointer<QTcpSocket>& s : now)
      if (s) answer(s);
  }

  void answer(QTcpSocket* s) {
    Reply r{500, "no scripted reply", {}};
    if (respond) {
      r = respond(answered < requests.size() ? requests[answered] : Request{});
    } else if (!replies.empty()) {
      r = std::move(replies.front());
      replies.pop_front();
    }
    if (r.hang) {
      ++answered;
      return;
    }
    QByteArray out = "HTTP/1.1 " + QByteArray::number(r.status) + " Scripted\r\nContent-Length: " +
                     QByteArray::number(r.body.size()) + "\r\nConnection: close\r\n";
    for (const auto& [k, v] : r.headers) out += k + ": " + v + "\r\n";
    out += "\r\n" + r.body;
    ++answered;
    s->write(out);
    s->disconnectFromHost();
  }

  QTcpServer server;
  QHash<QTcpSocket*, QByteArray> buffers;
  std::deque<Reply> replies;
  QList<QPointer<QTcpSocket>> held;
  qsizetype hold = 0;
  qsizetype answered = 0;
};

}  // namespace quorvel::test
