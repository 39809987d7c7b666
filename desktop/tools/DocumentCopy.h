// The open document with the view's annotations as bytes, for tools that send it away.
#pragma once

#include <QByteArray>

namespace quorvel::desktop {

class PdfView;

// Saves through a private temporary file (unique name, owner-only) that is gone again when
// this returns; false when it could not be saved or read back.
bool documentBytes(PdfView& view, const char* tool, QByteArray& bytes);

}  // namespace quorvel::desktop
