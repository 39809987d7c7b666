#include "desktop/tools/UnreadablePages.h"

#include <QStringList>

#include "core/engine.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {
// A damaged file may lose thousands of pages; the first few say enough.
constexpr size_t kListed = 10;
}  // namespace

QString unreadablePagesNote(const IDocument* doc) {
  const std::vector<int> pages = doc ? doc->unreadable_pages() : std::vector<int>{};
  if (pages.empty()) return {};
  QStringList numbers;
  for (size_t i = 0; i < pages.size() && i < kListed; ++i) numbers << QString::number(pages[i] + 1);
  if (pages.size() > kListed) numbers << QStringLiteral("…");
  const QString list = numbers.join(QStringLiteral(", "));
  return pages.size() == 1 ? L(": не читается страница %1", ": page %1 cannot be read").arg(list)
                           : L(": не читаются страницы %1", ": pages %1 cannot be read").arg(list);
}

}  // namespace quorvel::desktop
