// Sets the interface language for one test and restores it afterwards, so a failing check
// never leaves the next test in the other language.
#pragma once

#include "desktop/window/lang.h"

namespace quorvel::test {

class LangGuard {
 public:
  explicit LangGuard(int lang) : saved_(desktop::g_lang) { desktop::g_lang = lang; }
  ~LangGuard() { desktop::g_lang = saved_; }
  LangGuard(const LangGuard&) = delete;
  LangGuard& operator=(const LangGuard&) = delete;

 private:
  int saved_;
};

}  // namespace quorvel::test
