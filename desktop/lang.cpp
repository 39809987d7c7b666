#include "desktop/lang.h"

namespace quorvel::desktop {

int g_lang = 0;

}  // namespace quorvel::desktop
