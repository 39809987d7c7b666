// The backend-aware network access manager and the reply that stands for a backend request
// until the backend can take it.
#include <QTimer>

#include <algorithm>
#include <cstring>

#include "desktop/window/BackendLink.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

const QString kScheme = QStringLiteral("quorvel-backend");

// A request for the started backend: it waits until the backend is ready, then goes out with
// the secret through the link's own manager, and hands on what comes back; or it ends without
// an answer, its reason as the error text.
class BackendReply : public QNetworkReply {
 public:
  BackendReply(BackendLink* link, QNetworkAccessManager::Operation op, const QNetworkRequest& request,
               QIODevice* outgoing, QObject* parent)
      : QNetworkReply(parent), link(link), outgoing(outgoing) {
    setRequest(request);
    setOperation(op);
    setUrl(request.url());
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    if (!link) {
      endLater(L("локальный backend не найден", "no local backend was found"));
      return;
    }
    switch (link->state()) {
      case BackendLink::State::Ready:
        send();
        break;
      case BackendLink::State::Starting:
        connect(link, &BackendLink::ready, this, &BackendReply::send);
        connect(link, &BackendLink::failed, this, [this](const QString& reason) { end(reason); });
        break;
      default:
        endLater(link->failure().isEmpty() ? L("локальный backend не найден", "no local backend was found")
                                           : link->failure());
    }
  }

  void abort() override {
    aborted = true;
    if (inner)
      inner->abort();
    else
      end(QStringLiteral("Operation canceled"), OperationCanceledError);
  }
  qint64 bytesAvailable() const override { return buffer.size() - offset + QNetworkReply::bytesAvailable(); }

 protected:
  qint64 readData(char* data, qint64 max) override {
    const qint64 n = std::min<qint64>(max, buffer.size() - offset);
    if (n <= 0) return isFinished() ? -1 : 0;
    std::memcpy(data, buffer.constData() + offset, static_cast<size_t>(n));
    offset += n;
    if (offset == buffer.size()) {
      buffer.clear();
      offset = 0;
    }
    return n;
  }

 private:
  void send() {
    if (inner || isFinished() || !link) return;
    disconnect(link, nullptr, this, nullptr);
    QNetworkRequest r = request();
    r.setUrl(BackendNetwork::resolve(link->base(), url()));
    r.setRawHeader("Authorization", link->authorization());
    r.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    setUrl(r.url());
    QNetworkAccessManager* net = link->network();
    switch (operation()) {
      case QNetworkAccessManager::GetOperation: inner = net->get(r); break;
      case QNetworkAccessManager::PostOperation: inner = net->post(r, outgoing); break;
      case QNetworkAccessManager::PutOperation: inner = net->put(r, outgoing); break;
      case QNetworkAccessManager::DeleteOperation: inner = net->deleteResource(r); break;
      case QNetworkAccessManager::HeadOperation: inner = net->head(r); break;
      default:
        inner = net->sendCustomRequest(r, r.attribute(QNetworkRequest::CustomVerbAttribute).toByteArray(), outgoing);
    }
    inner->setParent(this);
    connect(inner, &QNetworkReply::metaDataChanged, this, [this] {
      copyMetaData();
      emit metaDataChanged();
    });
    connect(inner, &QNetworkReply::readyRead, this, [this] {
      buffer += inner->readAll();
      emit readyRead();
    });
    connect(inner, &QNetworkReply::uploadProgress, this, &QNetworkReply::uploadProgress);
    connect(inner, &QNetworkReply::downloadProgress, this, &QNetworkReply::downloadProgress);
    connect(inner, &QNetworkReply::finished, this, [this] {
      copyMetaData();
      buffer += inner->readAll();
      if (inner->error() == OperationCanceledError && !aborted) {
        // Only the transfer time-out cancels a request nobody aborted.
        end(L("нет ответа за %1 с", "no answer within %1 s").arg(request().transferTimeout() / 1000),
            TimeoutError);
      } else {
        end(inner->errorString(), inner->error(), false);
      }
    });
  }

  void copyMetaData() {
    for (const auto& [name, value] : inner->rawHeaderPairs()) setRawHeader(name, value);
    for (auto a : {QNetworkRequest::HttpStatusCodeAttribute, QNetworkRequest::HttpReasonPhraseAttribute,
                   QNetworkRequest::RedirectionTargetAttribute})
      setAttribute(a, inner->attribute(a));
  }

  void endLater(const QString& reason) {
    QTimer::singleShot(0, this, [this, reason] { end(reason); });
  }

  // Finishes once: `reason` is the error text unless the backend answered without error;
  // `ours` marks a reply that ended without the backend's answer.
  void end(const QString& reason, NetworkError code = ServiceUnavailableError, bool ours = true) {
    if (isFinished()) return;
    if (link) disconnect(link, nullptr, this, nullptr);
    if (code != NoError) {
      setError(code, reason);
      if (ours) setProperty(kNoAnswerReason, reason);
    }
    setFinished(true);
    if (code != NoError) emit errorOccurred(code);
    emit readChannelFinished();
    emit finished();
  }

  QPointer<BackendLink> link;
  QIODevice* outgoing = nullptr;
  QPointer<QNetworkReply> inner;
  QByteArray buffer;
  qsizetype offset = 0;
  bool aborted = false;
};

}  // namespace

int BackendNetwork::providerTimeoutMs = 300000;

BackendNetwork::BackendNetwork(BackendLink* link, QObject* parent) : QNetworkAccessManager(parent), link(link) {}

QUrl BackendNetwork::placeholder(const QString& endpoint) { return QUrl(kScheme + QLatin1Char(':') + endpoint); }

QUrl BackendNetwork::resolve(const QString& base, const QUrl& url) {
  QString tail = url.path(QUrl::FullyEncoded);
  if (url.hasQuery()) tail += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
  return QUrl(base + tail, QUrl::TolerantMode);
}

QNetworkReply* BackendNetwork::createRequest(Operation op, const QNetworkRequest& request, QIODevice* outgoing) {
  // Each request gets the bound of whom it goes to, unless its caller chose one: a manager-wide
  // default would be applied before this point and hide which kind of request it was.
  QNetworkRequest r(request);
  const bool backend = request.url().scheme() == kScheme;
  const QString configured = qEnvironmentVariable("QUORVEL_BACKEND");
  const bool toConfigured = !backend && !configured.isEmpty() && request.url().toString().startsWith(configured);
  if (r.transferTimeout() == 0)
    r.setTransferTimeout(backend || toConfigured ? BackendLink::requestTimeoutMs : providerTimeoutMs);
  if (!backend) return QNetworkAccessManager::createRequest(op, r, outgoing);
  if (link && link->state() != BackendLink::State::Unstarted) return new BackendReply(link, op, r, outgoing, this);
  // This window started none: the configured address as it is now, or nowhere.
  const QString base = qEnvironmentVariable("QUORVEL_BACKEND");
  if (base.isEmpty()) return new BackendReply(nullptr, op, r, outgoing, this);
  r.setUrl(resolve(base, r.url()));
  return QNetworkAccessManager::createRequest(op, r, outgoing);
}

}  // namespace quorvel::desktop
