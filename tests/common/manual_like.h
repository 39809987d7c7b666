// A generated document written the way real manuals are: for benchmarks and tests that must
// see what a large TeX-made manual costs, not what a plain generated file costs.
#pragma once

#include <string>

namespace quorvel::test {

struct ManualShape {
  int pages = 2500;
  int outline_entries = 3000;   // chapters of seven sections of six topics, spread over the pages
  bool object_streams = true;   // written by qpdf with object streams and compressed content
};

// Letter pages of forty lines each, every line a TJ array with TeX-like word-gap adjustments in
// 10-point Helvetica; every other line carries a link annotation (web links and links to other
// pages in turn); a deep outline. Empty when qpdf could not write the object-stream form.
std::string manual_like_pdf(const ManualShape& shape);

// How many /Title entries (outline items) the bytes hold before compression; for reports.
int manual_outline_entries(const ManualShape& shape);

}  // namespace quorvel::test
