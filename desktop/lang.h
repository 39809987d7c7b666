#pragma once

#include <QString>

namespace quorvel::desktop {

// The interface language, set once at start-up before any window exists: 1 is English,
// anything else Russian. Nothing changes it later in the process.
extern int g_lang;

// The English text when g_lang is 1, else the Russian one; both are UTF-8 literals, and a
// null pointer gives an empty text.
QString L(const char* ru, const char* en);

}  // namespace quorvel::desktop
