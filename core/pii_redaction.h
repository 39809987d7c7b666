// Personal data found by pattern and blacked out on every page of a document, with the checks
// that make a redacted copy safe to write. The window and the batch both run it, so that they
// reach the same verdict for the same file.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/engine.h"

namespace quorvel::extract {

struct RedactionHooks {
  std::function<void(int64_t done, int64_t total)> progress;
  std::function<bool()> cancelled;    // asked while pages are read; true stops before any edit
  std::function<bool()> commit;       // asked once before the edit; false stops there
  std::function<void(int page)> edited;
};

struct RedactionOutcome {
  int count = 0;         // boxes painted
  int unredacted = -1;   // the first page whose values could not all be taken out
  bool stopped = false;  // cancelled or not committed
  std::set<std::string> found;  // every value found, for what else the copy would carry
  std::vector<std::pair<int, std::vector<annot::Rect>>> boxes;  // the boxes blacked out, by page
  bool done() const { return unredacted < 0 && !stopped && count > 0; }
};

// Finds the values on every page, in the text PDFium extracts and in every string the content
// shows, blacks them out in one edit of the document and reads every page back. A value found
// and not removed (no box for it, a page that cannot be edited or read, the value still readable
// afterwards, or named by a link) sets `unredacted`; the document may then be half edited and
// must not be saved.
RedactionOutcome redact_personal_data(IDocument& doc, const RedactionHooks& hooks = {});

}  // namespace quorvel::extract
