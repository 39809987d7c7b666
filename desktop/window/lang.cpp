#include "desktop/window/lang.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace quorvel::desktop {

int g_lang = 0;

QString L(const char* ru, const char* en) {
  const char* text = g_lang == 1 ? en : ru;
  return text ? QString::fromUtf8(text) : QString();
}

bool installQtTranslations(QCoreApplication& app) {
  // Qt's texts are English already.
  if (g_lang == 1) return false;
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

}  // namespace quorvel::desktop
