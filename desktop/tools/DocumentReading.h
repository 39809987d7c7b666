// Reading the whole of the current document for a result that is shown rather than written
// (data extraction, keyword ranking, the AI dock's context): as a job of the window, off its
// thread, through the page text that search keeps.
#pragma once

#include <QString>

#include <functional>

#include "core/engine.h"

class QObject;

namespace quorvel::desktop {

class PdfView;

// Runs `read` on the view's document, read through its kept page text, as a job of the window
// that `from` belongs to, under a progress dialog titled `title` that can cancel it. False when
// the job was cancelled (by the user, a closing tab or the closing window): what `read` made
// is then to be dropped. Outside a window (a panel on its own) `read` runs at once. False
// without a document.
bool readDocument(QObject* from, PdfView& view, const QString& title, const std::function<void(const IDocument&)>& read);

}  // namespace quorvel::desktop
