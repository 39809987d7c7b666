#include <QApplication>
#include <QCoreApplication>
#include <QSettings>
#include <QStringList>
#include <QStyleFactory>

#include "desktop/window/MainWindow.h"
#include "desktop/stores/SettingsFile.h"
#include "desktop/window/MainWindowCommandLine.h"
#include "desktop/window/OpenPrefetch.h"
#include "desktop/batch/batch.h"
#include "desktop/window/lang.h"

namespace {

// The window writes nothing to the console, Qt's own warnings included.
void silentMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

int main(int argc, char** argv) {
  if (const auto batch = quorvel::desktop::batch_args(argc, argv)) {
    // Only encryption talks to the backend process and the network, which need an application
    // object; the other operations run without any Qt application.
    if (batch->op == "encrypt") {
      QCoreApplication app(argc, argv);
      return quorvel::desktop::run_batch(batch->dir, batch->op, batch->out, batch->pw);
    }
    return quorvel::desktop::run_batch(batch->dir, batch->op, batch->out, batch->pw);
  }

  // Window mode.
  qInstallMessageHandler(silentMessages);
  QApplication app(argc, argv);
  // The document's reading and check overlap the window's start.
  const QStringList args = QCoreApplication::arguments().mid(1);
  quorvel::desktop::OpenPrefetch prefetch(quorvel::desktop::scanCommandLine(args).path);
  QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
  QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));

  // The settings file holds the provider's key and the request journal, whoever writes first.
  quorvel::desktop::keepSettingsPrivate();
  QSettings settings;
  // The language is fixed before any window text is made; QApplication has taken its own
  // options out of argv by now.
  QStringList raw;
  for (int i = 1; i < argc; ++i) raw << QString::fromLatin1(argv[i]);
  quorvel::desktop::g_lang = quorvel::desktop::languageFromArguments(
      settings.value(QStringLiteral("ui/lang"), QStringLiteral("ru")).toString(), raw);
  quorvel::desktop::installQtTranslations(app);

  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  const QString sheet = quorvel::desktop::styleSheetForTheme(
      settings.value(QStringLiteral("ui/theme"), QStringLiteral("dark")).toString());
  if (!sheet.isEmpty()) app.setStyleSheet(sheet);

  quorvel::desktop::MainWindow window;
  window.show();
  // The actions run in their order once the window is on screen, a large document's open
  // included.
  window.runWhenShown([&window, args] { quorvel::desktop::runCommandLine(window, args); });
  return app.exec();
}
