// The open document with the view's annotations as bytes, for tools that send it away.
#pragma once

#include <QByteArray>

namespace quorvel::desktop {

class PdfView;

enum class Copy { Ok, NotSaved, NotRead };

// Saves through a private temporary file (unique name, owner-only) that is gone again when
// this returns, whatever happened; says which step failed.
Copy documentCopy(PdfView& view, const char* tool, QByteArray& bytes);

// documentCopy for callers that need not tell the failures apart.
inline bool documentBytes(PdfView& view, const char* tool, QByteArray& bytes) {
  return documentCopy(view, tool, bytes) == Copy::Ok;
}

}  // namespace quorvel::desktop
