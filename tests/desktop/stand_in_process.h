// The backend stand-in started on a free loopback port for the life of the object.
#pragma once

#include <QHostAddress>
#include <QProcess>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

namespace quorvel::test {

struct StandInProcess {
  QProcess process;
  QString base;
  bool start() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return false;
    const quint16 port = probe.serverPort();
    probe.close();
    process.setProgram(QString::fromLocal8Bit(qgetenv("QUORVEL_BUILD_DIR")) + QStringLiteral("/durovaderiz"));
    process.setArguments({QStringLiteral("--port"), QString::number(port)});
    process.start();
    if (!process.waitForStarted()) return false;
    base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    // Ready once it accepts a connection (or gone once it has exited).
    for (;;) {
      QTcpSocket s;
      s.connectToHost(QHostAddress::LocalHost, port);
      if (s.waitForConnected(1000)) return true;
      if (process.state() == QProcess::NotRunning || process.waitForFinished(50)) return false;
    }
  }
  ~StandInProcess() {
    process.kill();
    process.waitForFinished();
  }
};

}  // namespace quorvel::test
