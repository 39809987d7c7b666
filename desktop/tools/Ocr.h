// The parts of recognising text that need no window: finding the companion program, running
// it with a time bound, and turning its words into text-layer spans.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

#include "core/engine.h"

namespace quorvel::desktop {

// A page of the text layer waits this long for the program before it is skipped.
inline constexpr int kOcrPageTimeoutMs = 60000;

// The companion program: `envValue` (QUORVEL_OCR) when it names an existing path, else
// "taviocr" in `appDir` when it exists, else empty.
QString findOcrSidecarIn(const QString& envValue, const QString& appDir);
// The same for this process, read afresh on each call.
QString findOcrSidecar();

// The line count of a trimmed text: its line feeds plus one, 0 for an empty text.
int ocrLineCount(const QString& trimmed);

// Runs `program` with `args` and gives its standard output, or nothing when it could not be
// started, did not finish within `timeoutMs` or before `stop` (asked now and then while it runs)
// said so (it is then killed), or crashed.
std::optional<QByteArray> runOcrProgram(const QString& program, const QStringList& args, int timeoutMs,
                                        const std::function<bool()>& stop = {});

// A page without a scanned image is recognised at this resolution, in pixels per inch.
inline constexpr double kOcrDefaultDpi = 300;

// The resolution page `page` is recognised at: that of its scanned image where one image covers
// most of the page, within bounds that keep the rendering readable and its size sane; else
// kOcrDefaultDpi.
double ocrPageDpi(IDocument& doc, int page);

// The spans of the program's JSON words on a page rendered as shown (turned by its rotation).
// The image size the program reports sets the scale; the words of one reported line share a
// line number and sit on its baseline. Nothing for an output that is not an object, without a
// positive size or without items; an item without text, with only white space or without four
// numbers is left out.
std::optional<std::vector<TextSpan>> ocrSpans(const QByteArray& json, const PageInfo& page);

}  // namespace quorvel::desktop
