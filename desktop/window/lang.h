#pragma once

#include <QString>

class QCoreApplication;

namespace quorvel::desktop {

// The interface language, set once at start-up before any window exists: 1 is English,
// anything else Russian. Nothing changes it later in the process.
extern int g_lang;

// The English text when g_lang is 1, else the Russian one; both are UTF-8 literals, and a
// null pointer gives an empty text.
QString L(const char* ru, const char* en);

// Installs Qt's own translations (standard buttons, file dialogs) for the interface language
// on `app`, which owns them; false when none are installed (English, or not on this system).
bool installQtTranslations(QCoreApplication& app);

}  // namespace quorvel::desktop
