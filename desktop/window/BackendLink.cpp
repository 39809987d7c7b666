#include "desktop/window/BackendLink.h"

#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QTimer>

#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

// The backend names its address in one line; anything longer before it is not that line.
constexpr qsizetype kMaxOutputBeforeListening = 64 * 1024;
constexpr int kHealthAttempts = 40;
constexpr int kHealthAttemptMs = 500;
constexpr int kHealthPauseMs = 500;

QByteArray freshSecret() {
  quint32 words[8];  // 256 bits
  QRandomGenerator::system()->fillRange(words);
  return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
}

// The port of "listening 127.0.0.1:PORT", or 0.
int listeningPort(const QByteArray& line) {
  static const QByteArray prefix = "listening 127.0.0.1:";
  if (!line.startsWith(prefix)) return 0;
  const QByteArray digits = line.mid(prefix.size());
  if (digits.isEmpty() || digits.size() > 5) return 0;
  for (char c : digits)
    if (c < '0' || c > '9') return 0;
  const int port = digits.toInt();
  return port >= 1 && port <= 65535 ? port : 0;
}

}  // namespace

int BackendLink::readyTimeoutMs = 45000;
int BackendLink::requestTimeoutMs = 120000;

BackendLink::BackendLink(QObject* parent) : QObject(parent), direct_(new QNetworkAccessManager(this)) {
  direct_->setProxy(QNetworkProxy::NoProxy);
  direct_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

BackendLink::~BackendLink() { stop(); }

void BackendLink::stop() {
  // A backend that ignores SIGTERM (stuck in a request) is killed, and reaped so no zombie stays.
  if (process_ && process_->state() != QProcess::NotRunning) {
    process_->terminate();
    if (!process_->waitForFinished(2000)) {
      process_->kill();
      process_->waitForFinished(2000);
    }
  }
}

BackendLink* BackendLink::of(const QObject* object) {
  for (; object; object = object->parent())
    if (auto* link = object->findChild<BackendLink*>(QString(), Qt::FindDirectChildrenOnly)) return link;
  return nullptr;
}

QProcess* BackendLink::start(const QString& program, const QString& port) {
  state_ = State::Starting;
  port_ = port;
  secret_ = freshSecret();
  process_ = new QProcess(this);
  process_->setProgram(program);
  process_->setArguments({QStringLiteral("--port"), port});
  // The secret lives only in the child's environment: never on a command line, and never in
  // this process's own, from which every later child would inherit it.
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QUORVEL_PARENT_WATCH"), QStringLiteral("1"));
  env.insert(QStringLiteral("DUROVADERIZ_TOKEN"), QString::fromLatin1(secret_));
  process_->setProcessEnvironment(env);
  // Its output is read to the end (the address, then anything else is dropped); nobody reads
  // its errors, and a pipe that fills up would stall it.
  process_->setStandardErrorFile(QProcess::nullDevice());
  connect(process_, &QProcess::readyReadStandardOutput, this, &BackendLink::onOutput);
  connect(process_, &QProcess::finished, this, &BackendLink::onExit);
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart) fail(L("локальный backend не запустился", "the local backend did not start"));
  });
  deadline_ = new QTimer(this);
  deadline_->setSingleShot(true);
  connect(deadline_, &QTimer::timeout, this, [this] {
    fail(L("локальный backend не ответил за %1 с", "the local backend did not answer within %1 s")
             .arg(readyTimeoutMs / 1000));
    process_->terminate();
  });
  deadline_->start(readyTimeoutMs);
  process_->start(QIODevice::ReadWrite);
  return process_;
}

void BackendLink::onOutput() {
  const QByteArray data = process_->readAllStandardOutput();
  if (state_ != State::Starting || !base_.isEmpty()) return;
  pending_ += data;
  qsizetype end;
  while ((end = pending_.indexOf('\n')) >= 0) {
    const QByteArray line = pending_.left(end);
    pending_.remove(0, end + 1);
    if (const int port = listeningPort(line.endsWith('\r') ? line.chopped(1) : line)) {
      pending_.clear();
      base_ = QStringLiteral("http://127.0.0.1:%1").arg(port);
      checkHealth();
      return;
    }
  }
  if (pending_.size() > kMaxOutputBeforeListening) {
    fail(L("локальный backend не назвал свой адрес", "the local backend did not say its address"));
    process_->terminate();
  }
}

void BackendLink::checkHealth() {
  if (state_ != State::Starting) return;
  ++healthAttempts_;
  QNetworkRequest request(QUrl(base_ + QStringLiteral("/health")));
  request.setTransferTimeout(kHealthAttemptMs);
  QNetworkReply* reply = direct_->get(request);
  connect(reply, &QNetworkReply::finished, this, [this, reply] {
    reply->deleteLater();
    if (state_ != State::Starting) return;
    if (reply->error() == QNetworkReply::NoError) {
      state_ = State::Ready;
      deadline_->stop();
      emit ready();
      return;
    }
    if (healthAttempts_ >= kHealthAttempts) {
      fail(L("локальный backend не ответил вовремя", "the local backend did not answer in time"));
      process_->terminate();
      return;
    }
    QTimer::singleShot(kHealthPauseMs, this, &BackendLink::checkHealth);
  });
}

void BackendLink::onExit() {
  if (state_ == State::Ready) {
    fail(L("локальный backend завершился", "the local backend has exited"));
  } else if (base_.isEmpty() && port_ != QLatin1String("0")) {
    // A backend that could not have its port: someone else may hold it, who must get nothing.
    fail(L("порт %1 занят другим процессом или недоступен", "port %1 is held by another process or unavailable")
             .arg(port_));
  } else {
    fail(L("локальный backend не запустился", "the local backend did not start"));
  }
}

void BackendLink::fail(const QString& reason) {
  if (state_ == State::Failed) return;
  state_ = State::Failed;
  failure_ = reason;
  if (deadline_) deadline_->stop();
  emit failed(reason);
}

}  // namespace quorvel::desktop
