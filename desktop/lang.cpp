#include "desktop/lang.h"

namespace quorvel::desktop {

int g_lang = 0;

QString L(const char* ru, const char* en) {
  const char* text = g_lang == 1 ? en : ru;
  return text ? QString::fromUtf8(text) : QString();
}

}  // namespace quorvel::desktop
