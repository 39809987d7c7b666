#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStatusBar>

#include "desktop/window/BackendLink.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

QUrl MainWindow::backendUrl(const QString& endpoint) {
  // A configured address is used as it stands; any other goes to the backend this window
  // started, once its address is known, or nowhere.
  const QString configured = qEnvironmentVariable("QUORVEL_BACKEND");
  if (!configured.isEmpty()) return QUrl(configured + endpoint, QUrl::TolerantMode);
  return BackendNetwork::placeholder(endpoint);
}

void MainWindow::startLocalBackend() {
  backendLink = new BackendLink(this);
  network = new BackendNetwork(backendLink, this);
  connect(backendLink, &BackendLink::failed, this, [this](const QString& reason) {
    statusBar()->showMessage(L("Backend недоступен: %1 — запросы к нему не отправляются.",
                               "Backend unavailable: %1 — nothing is sent to it.")
                                 .arg(reason));
  });
  // A configured address means someone else runs the backend.
  if (!qEnvironmentVariable("QUORVEL_BACKEND").isEmpty()) return;

  QString program = qEnvironmentVariable("QUORVEL_BACKEND_EXE");
  if (program.isEmpty())
    program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("durovaderiz"));
  if (!QFileInfo(program).isFile()) return;

  // A port of the system's choosing, which no one can hold before the backend does; a second
  // window starts a backend of its own.
  const QString port = qEnvironmentVariableIsSet("QUORVEL_BACKEND_PORT") ? qEnvironmentVariable("QUORVEL_BACKEND_PORT")
                                                                        : QStringLiteral("0");
  backendProcess = backendLink->start(program, port);
}

}  // namespace quorvel::desktop
