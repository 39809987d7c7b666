// Tables from page text: runs that share a baseline make a row, runs of a row split where the
// gap between characters is wide, rows of two or more cells that follow each other make a
// table, and the cells' left edges make its columns.
#pragma once

#include <string>
#include <vector>

#include "core/engine.h"

namespace durovaderiz {

// Every table of the pages as CSV, every field quoted, a blank line between tables; empty when
// there is none.
std::string tables_csv(const std::vector<quorvel::TextPage>& pages);

// The tables of one page, appended to `out` as tables_csv writes them: tables never span pages,
// so a long document is read a page at a time.
void append_tables_csv(const quorvel::TextPage& page, std::string& out);

}  // namespace durovaderiz
