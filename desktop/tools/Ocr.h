// The parts of recognising text that need no window: finding the companion program, running
// it with a time bound, and turning its words into text-layer spans.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

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
// started, did not finish within `timeoutMs` (it is then killed), or crashed.
std::optional<QByteArray> runOcrProgram(const QString& program, const QStringList& args, int timeoutMs);

// The spans of the program's JSON words on a page of PW x PH points. The image size the
// program reports sets the scale; an output that is not an object, without a positive size
// or without items gives nothing, and so does an item without text or without four numbers.
std::vector<TextSpan> ocrSpans(const QByteArray& json, double pageWidth, double pageHeight);

}  // namespace quorvel::desktop
