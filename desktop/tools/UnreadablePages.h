// What the tools that write a document out say of its pages that cannot be read.
#pragma once

#include <QString>

namespace quorvel {
class IDocument;
}

namespace quorvel::desktop {

// ": не читается страница 3" for appending to a tool's failure text (one-based page numbers);
// empty when every page reads or there is no document.
QString unreadablePagesNote(const IDocument* doc);

}  // namespace quorvel::desktop
