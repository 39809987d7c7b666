// A window of the recovery tests that ends by being killed: it opens the files it is given,
// deletes the first page of the first one when asked, writes its snapshots, says "ready" and
// waits for the signal.
// Usage: quorvel_test_recovery_window [--delete-first-page] file...
#include <QApplication>
#include <QStringList>
#include <QTabWidget>

#include <cstdio>

#include "desktop/window/MainWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
  QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
  QStringList files = QCoreApplication::arguments().mid(1);
  const bool edit = !files.isEmpty() && files.first() == QLatin1String("--delete-first-page");
  if (edit) files.removeFirst();
  quorvel::desktop::MainWindow w;
  w.checkRecovery();  // the test starts it with nothing left to offer
  for (const QString& f : files) w.openFile(f);
  if (edit) {
    w.findChild<QTabWidget*>()->setCurrentIndex(0);
    w.deletePageAt(1);
  }
  w.autosaveSnapshot();
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}
