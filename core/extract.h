// Typed data found in text (e-mail, phones, dates, sums, taxpayer numbers), and where given
// strings lie on a page so that they can be blacked out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/annot.h"
#include "core/engine.h"

namespace quorvel::extract {

struct Entity {
  std::string label;  // "Email", "Телефон", "Дата", "Сумма" or "ИНН"
  std::string value;
};

// In pattern order, then text order; each (label, value) pair once. A value is a whole token:
// no letter or digit stands right before or after it.
std::vector<Entity> extract_entities(std::string_view text);

// Whether `text` holds `value` as a whole token: no letter or digit right before or after it,
// and no point or comma joined to a digit on either side (a piece of a longer number, such as a
// sum the patterns find inside a section number, is no value).
bool holds_token(std::string_view text, std::string_view value);

// One box per occurrence of each needle in each run (overlapping occurrences included), then one
// box per touched run for each occurrence that the page text holds across runs. Only occurrences
// that are whole tokens (holds_token) count.
std::vector<annot::Rect> pii_rects(const TextPage& page, const std::vector<std::string>& needles);

}  // namespace quorvel::extract
