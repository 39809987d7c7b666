#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include "desktop/window/MainWindow.h"

namespace quorvel::desktop {

QUrl MainWindow::backendUrl(const QString& endpoint) {
  const QString base =
      qEnvironmentVariable("QUORVEL_BACKEND", QStringLiteral("http://127.0.0.1:8000"));
  return QUrl(base + endpoint);
}

void MainWindow::startLocalBackend() {
  // A configured address means someone else runs the backend.
  if (!qEnvironmentVariable("QUORVEL_BACKEND").isEmpty()) return;

  QString program = qEnvironmentVariable("QUORVEL_BACKEND_EXE");
  if (program.isEmpty())
    program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("durovaderiz"));
  if (!QFileInfo(program).isFile()) return;

  const QString port = qEnvironmentVariableIsSet("QUORVEL_BACKEND_PORT")
                           ? qEnvironmentVariable("QUORVEL_BACKEND_PORT")
                           : QStringLiteral("8000");

  backendProcess = new QProcess(this);
  backendProcess->setProgram(program);
  backendProcess->setArguments({QStringLiteral("--port"), port});
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QUORVEL_PARENT_WATCH"), QStringLiteral("1"));
  backendProcess->setProcessEnvironment(env);
  // Nobody reads the backend's output; pipes that fill up would stall it.
  backendProcess->setStandardOutputFile(QProcess::nullDevice());
  backendProcess->setStandardErrorFile(QProcess::nullDevice());
  backendProcess->start(QIODevice::ReadWrite);

  qputenv("QUORVEL_BACKEND", (QStringLiteral("http://127.0.0.1:") + port).toUtf8());
}

}  // namespace quorvel::desktop
