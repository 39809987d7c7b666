// What the window's local document tools share: pixels in the form the engine takes, and the
// common ending of a tool that changes the open document and saves the result as a new file.
// Each tool announces its edits page by page through PdfView::pageContentEdited.
#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

#include "core/engine.h"

namespace quorvel::desktop {

class JobControl;
class MainWindow;
class PdfView;

// The rows of `image` as straight-alpha BGRA, 4 bytes a pixel, top row first. The engine's
// image objects keep colour and alpha apart: premultiplied pixels would come out too dark
// wherever they are translucent. Empty for a null image.
std::vector<uint8_t> straightBgra(const QImage& image);

// The current view when it holds a document (with at least one page when `needPages`), else
// null after the status bar asked the user to open a PDF first.
PdfView* documentViewOrAsk(MainWindow& window, bool needPages = false);

// The texts a tool ends with, already filled in.
struct ToolTexts {
  QString failed;      // nothing was changed
  QString saveFailed;  // changed, but the copy could not be written
  QString done;        // written; the copy is opened next
};

// What the common ending shows once the save was tried where there was a change: the failure
// text, the save's failure text, or the done text and then the copy opened.
void reportLocalTool(MainWindow& window, bool changed, bool saved, const QString& outPath, const ToolTexts& texts);

// The common ending: without a change the failure text; else the view's document (with its
// annotations) is saved to `outPath` and opened in a new tab. The open tab keeps the change
// whether or not the save worked.
void finishLocalTool(MainWindow& window, PdfView& view, bool changed, const QString& outPath,
                     const ToolTexts& texts);

// A tool over the whole document as a job of the window: `change` runs off the window's thread,
// changes the view's document and gives how much it changed (announcing each page it changed
// through the job); the changed document is then saved to `outPath` there too, and the common
// ending follows on the window's thread, `doneText` making the done text from the count. A
// cancel saves and opens nothing; what the change did to the open document before it stays.
void runDocumentTool(MainWindow& window, PdfView& view, const QString& title, const QString& outPath,
                     std::function<int(IDocument& doc, JobControl& job)> change, ToolTexts texts,
                     std::function<QString(int count)> doneText);

// The status text of a cancelled tool: how many pages of the open document it changed first.
QString cancelledText(int changedPages);

}  // namespace quorvel::desktop
