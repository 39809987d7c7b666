// The compare's presentations that the window builds itself: the change report for the AI dock
// with its plain-text copy, and the two aligned columns of the side-by-side view.
#pragma once

#include <QList>
#include <QString>

#include <vector>

#include "core/diff.h"

namespace quorvel::desktop {

struct CompareReport {
  QString html;
  QString diffText;  // "[стр. N]" then "+ "/"- " lines, changed pages only, no cap
  int changedPages = 0;
  int added = 0;
  int removed = 0;
};
CompareReport compareReport(const std::vector<diff::PageDiff>& diffs);
// The plain-text changes that an AI summary reads: "[стр. N]" then "+ "/"- " lines.
QString changeText(const std::vector<diff::PageDiff>& diffs);

struct SideBySide {
  QString left;
  QString right;
  QList<int> changedPages;  // one-based
};
SideBySide sideBySide(const std::vector<diff::PageDiff>& diffs);

}  // namespace quorvel::desktop
