// Line-by-line compare of two versions of a document, and its HTML report.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/engine.h"

namespace quorvel::diff {

struct Line {
  int kind = 0;  // 0 unchanged, 1 added (only in B), 2 removed (only in A)
  std::string text;
};

struct PageDiff {
  int page = 0;
  std::vector<Line> lines;
  int added = 0;
  int removed = 0;
  bool changed = false;
};

// One entry per page index up to the larger page count; a missing page compares as empty text.
std::vector<PageDiff> compare_documents(const IDocument& a, const IDocument& b);

std::string to_html(const std::vector<PageDiff>& diffs, const std::string& nameA, const std::string& nameB);

// A minimal line diff: every common subsequence left unchanged is a longest one.
std::vector<Line> diff_lines(const std::string& a, const std::string& b);

std::vector<std::string> split_lines(const std::string& text);
std::string esc(const std::string& text);

namespace detail {
// diff_lines with the size of the exact table bounded by `max_cells`; above it the linear-space
// path runs. Exposed so that tests can drive both paths on small inputs.
std::vector<Line> diff_lines_capped(const std::string& a, const std::string& b, size_t max_cells);
}  // namespace detail

}  // namespace quorvel::diff
