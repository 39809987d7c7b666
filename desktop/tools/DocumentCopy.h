// The open document with the view's annotations as bytes, for tools that send it to another
// program: a copy that program can read, without the document's password.
#pragma once

#include <QByteArray>

#include <functional>

namespace quorvel::desktop {

class PdfView;

enum class Copy { Ok, NotSaved, NotRead };

// Saves through a private temporary file (unique name, owner-only) that is gone again when
// this returns, whatever happened; says which step failed. A view that watchEdits saw
// unchanged since it was opened, without annotations, gives the bytes it was opened from
// instead, which costs no save. A document opened with its password is written again without
// it, in memory only: the copy goes only to a backend that this window started and
// authenticated, or that the user configured.
Copy documentCopy(PdfView& view, const char* tool, QByteArray& bytes);

// documentCopy for callers that need not tell the failures apart.
inline bool documentBytes(PdfView& view, const char* tool, QByteArray& bytes) {
  return documentCopy(view, tool, bytes) == Copy::Ok;
}

// Gives a PDF that a tool made from such a copy the protection of the document again, in
// place; false when it could not. Empty for a document that was not opened locked. It holds
// what it needs, so it works after the view has gone.
using Protection = std::function<bool(QByteArray& pdf)>;
Protection protectionOf(const PdfView& view);

// Call right after the view got its document: from then on an edit of its pages or their
// content marks it changed.
void watchEdits(PdfView& view);

}  // namespace quorvel::desktop
