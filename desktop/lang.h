#pragma once

namespace quorvel::desktop {

// The interface language, set once at start-up before any window exists: 1 is English,
// anything else Russian. Nothing changes it later in the process.
extern int g_lang;

}  // namespace quorvel::desktop
