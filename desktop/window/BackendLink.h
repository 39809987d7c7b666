// How backend requests reach the backend. A port on 127.0.0.1 is not an identity: any local
// user may hold it first. So the backend this process starts is given a fresh secret in its
// own environment, is known by the address it reports on its own output, takes requests only
// once its /health has answered, and every request for it carries the secret. A configured
// QUORVEL_BACKEND is used as it stands, without one.
#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QString>
#include <QUrl>

class QProcess;
class QTimer;

namespace quorvel::desktop {

class BackendLink : public QObject {
  Q_OBJECT

 public:
  enum class State { Unstarted, Starting, Ready, Failed };

  explicit BackendLink(QObject* parent = nullptr);
  ~BackendLink() override;
  // Ends the started backend: asked first, killed when it does not go within two seconds.
  void stop();

  // Starts `program` with "--port" and `port` ("0": the system picks one) and the secret;
  // gives the process, a child of this link.
  QProcess* start(const QString& program, const QString& port);

  State state() const { return state_; }
  QProcess* process() const { return process_; }
  // "http://127.0.0.1:PORT" once Ready.
  QString base() const { return base_; }
  // The Authorization header's value for this backend.
  QByteArray authorization() const { return "Bearer " + secret_; }
  // Why nothing goes to the backend, once Failed.
  QString failure() const { return failure_; }
  // Requests to the started backend leave through this manager: no proxy of the environment
  // stands between, and no redirect is followed.
  QNetworkAccessManager* network() const { return direct_; }

  // The link of `object` or of its nearest ancestor that has one; null when none has.
  static BackendLink* of(const QObject* object);

  // The bounds, in milliseconds; tests shorten them. Readiness counts from the start.
  static int readyTimeoutMs;
  static int requestTimeoutMs;

 signals:
  void ready();
  void failed(const QString& reason);

 private:
  void onOutput();
  void onExit();
  void checkHealth();
  void fail(const QString& reason);

  State state_ = State::Unstarted;
  QProcess* process_ = nullptr;
  QByteArray secret_;
  QByteArray pending_;  // output before the listening line
  QString port_;        // as asked; "0" for any
  QString base_;
  QString failure_;
  int healthAttempts_ = 0;
  QTimer* deadline_ = nullptr;
  QNetworkAccessManager* direct_ = nullptr;
};

// A network access manager whose requests for the backend (MainWindow::backendUrl gives their
// addresses) go where BackendLink says: to the started backend with its secret, waiting until
// it is ready; to the configured address; or nowhere, ending at once with the reason as the
// error text. Every request has a transfer time-out.
class BackendNetwork : public QNetworkAccessManager {
  Q_OBJECT

 public:
  BackendNetwork(BackendLink* link, QObject* parent);

  // The address of a backend endpoint (path and optional query) before it is known.
  static QUrl placeholder(const QString& endpoint);
  // `url`'s path and query after `base`, joined as text as the address rule has it.
  static QUrl resolve(const QString& base, const QUrl& url);

  // Requests to providers answer slowly; the bound is there so that none waits forever. In
  // milliseconds; tests shorten it.
  static int providerTimeoutMs;

 protected:
  QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* outgoing) override;

 private:
  QPointer<BackendLink> link;
};

// The dynamic property of a reply that ended without an answer of the backend: why.
inline constexpr char kNoAnswerReason[] = "quorvel-no-answer";

}  // namespace quorvel::desktop
