// A whole document as one plain text or one HTML page (the export commands write these).
#pragma once

#include <string>

#include "core/engine.h"

namespace quorvel::exportdoc {

// A header line per page, then the page's runs one per line.
std::string to_text(const IDocument& doc);

// One section per page and one paragraph per run; `word` marks the page up so that a word
// processor opens it as a Word document.
std::string to_html(const IDocument& doc, bool word);

}  // namespace quorvel::exportdoc
