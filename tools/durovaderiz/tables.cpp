#include "tables.h"

#include <algorithm>
#include <cmath>

namespace durovaderiz {

namespace {

struct Cell {
  double left = 0, right = 0, bottom = 0, height = 0;
  std::string text;
};

std::string trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

double wide_gap(double height);

// A run split at gaps wider than most of a character's height: a column gap, not a space.
void split_run(const quorvel::TextRun& run, std::vector<Cell>& out) {
  const double height = std::fabs(run.top - run.bottom);
  const double bottom = std::min(run.top, run.bottom);
  const double wide = wide_gap(height);
  auto emit = [&](double left, double right, std::string text) {
    text = trimmed(text);
    if (!text.empty()) out.push_back({left, right, bottom, height, std::move(text)});
  };
  if (run.chars.empty()) {
    emit(run.left, run.right, run.text);
    return;
  }
  std::string text;
  double left = 0, right = 0;
  bool open = false;
  for (size_t i = 0; i < run.chars.size(); ++i) {
    const quorvel::CharBox& c = run.chars[i];
    const size_t end = i + 1 < run.chars.size() ? run.chars[i + 1].offset : run.text.size();
    const std::string piece =
        c.offset < run.text.size() && end > c.offset ? run.text.substr(c.offset, end - c.offset) : std::string{};
    const bool has_box = c.right > c.left;
    if (has_box && open && c.left - right > wide) {
      emit(left, right, text);
      text.clear();
      open = false;
    }
    if (has_box) {
      if (!open) left = c.left;
      right = open ? std::max(right, c.right) : c.right;
      open = true;
    }
    text += piece;
  }
  emit(open ? left : run.left, open ? right : run.right, text);
}

using Row = std::vector<Cell>;

double wide_gap(double height) { return std::max(4.0, 0.8 * height); }

// Pieces of one row that nearly touch are one cell: a change of font splits a run, not a column.
Row merged(Row row) {
  std::sort(row.begin(), row.end(), [](const Cell& a, const Cell& b) { return a.left < b.left; });
  Row out;
  for (Cell& c : row) {
    if (!out.empty()) {
      Cell& prev = out.back();
      const double h = std::max(prev.height, c.height);
      const double gap = c.left - prev.right;
      if (gap <= wide_gap(h)) {
        if (gap > 0.2 * h) prev.text += ' ';
        prev.text += c.text;
        prev.right = std::max(prev.right, c.right);
        continue;
      }
    }
    out.push_back(std::move(c));
  }
  return out;
}

void csv_field(std::string& out, const std::string& text) {
  out.push_back('"');
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

// Writes the rows as a table when at least two of its columns hold more than one cell; rows of
// prose that merely split somewhere do not line up like that.
void write_table(const std::vector<Row>& rows, std::string& out) {
  std::vector<double> lefts;
  double height = 0;
  for (const Row& r : rows)
    for (const Cell& c : r) {
      lefts.push_back(c.left);
      height = std::max(height, c.height);
    }
  std::sort(lefts.begin(), lefts.end());
  const double tolerance = std::max(6.0, 0.8 * height);
  std::vector<double> columns;  // the left edge of each column
  for (double x : lefts)
    if (columns.empty() || x - columns.back() > tolerance) columns.push_back(x);
  auto column_of = [&](const Cell& c) {
    size_t col = 0;
    while (col + 1 < columns.size() && columns[col + 1] <= c.left + tolerance) ++col;
    return col;
  };
  std::vector<int> filled(columns.size(), 0);
  for (const Row& r : rows) {
    std::vector<bool> seen(columns.size(), false);
    for (const Cell& c : r) seen[column_of(c)] = true;
    for (size_t i = 0; i < seen.size(); ++i) filled[i] += seen[i] ? 1 : 0;
  }
  if (std::count_if(filled.begin(), filled.end(), [](int n) { return n >= 2; }) < 2) return;
  if (!out.empty()) out += "\n";
  for (const Row& r : rows) {
    std::vector<std::string> fields(columns.size());
    for (const Cell& c : r) {
      const size_t col = column_of(c);
      if (!fields[col].empty()) fields[col] += ' ';
      fields[col] += c.text;
    }
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) out.push_back(',');
      csv_field(out, fields[i]);
    }
    out += "\n";
  }
}

}  // namespace

std::string tables_csv(const std::vector<quorvel::TextPage>& pages) {
  std::string out;
  for (const quorvel::TextPage& page : pages) append_tables_csv(page, out);
  return out;
}

void append_tables_csv(const quorvel::TextPage& page, std::string& out) {
  {
    std::vector<Cell> cells;
    for (const quorvel::TextRun& run : page.runs) split_run(run, cells);
    // Top of the page first, then left to right.
    std::sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) {
      return a.bottom != b.bottom ? a.bottom > b.bottom : a.left < b.left;
    });
    std::vector<Row> rows;
    for (Cell& c : cells) {
      if (!rows.empty()) {
        const Cell& first = rows.back().front();
        if (std::fabs(first.bottom - c.bottom) <= std::max(2.0, 0.3 * std::max(first.height, c.height))) {
          rows.back().push_back(std::move(c));
          continue;
        }
      }
      rows.push_back({std::move(c)});
    }
    for (Row& r : rows) r = merged(std::move(r));

    std::vector<Row> table;
    auto flush = [&] {
      if (table.size() >= 2) write_table(table, out);
      table.clear();
    };
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].size() < 2) {
        flush();
        continue;
      }
      // A wide vertical gap starts another table.
      if (!table.empty()) {
        const Cell& prev = table.back().front();
        if (prev.bottom - rows[i].front().bottom > 3.0 * std::max(prev.height, 1.0)) flush();
      }
      table.push_back(rows[i]);
    }
    flush();
  }
}

}  // namespace durovaderiz
