// The folder processor without a window: per-file exports, entity CSV, redaction, the open
// check, merging and encryption through the backend.
#pragma once

#include <optional>
#include <string>

namespace quorvel::desktop {

// Processes the PDF files of `dir` (not its sub-folders) with the operation `op` into `out`
// (for "merge" the output file). Gives 0 when there was at least one file and every file
// succeeded, else 1; progress goes to standard output, errors to standard error. "encrypt"
// needs a QCoreApplication, the other operations need no Qt application object at all; its
// password "-" is one line of standard input.
int run_batch(const std::string& dir, const std::string& op, const std::string& out,
              const std::string& pw);

// What a folder merge did: whether the merged file was written, how many files it holds and
// how many were left out (files none of whose pages, or not all of them, could be taken).
struct FolderMerge {
  bool written = false;
  int merged = 0;
  int skipped = 0;
};

// The "merge" operation of run_batch, writing nothing to the console: for the window, which
// never does.
FolderMerge merge_pdf_folder(const std::string& dir, const std::string& out);

// One line of standard input without its line end: a secret given on the command line as "-",
// so that it never stands in the process list.
std::string stdin_secret_line();

struct BatchArgs {
  std::string dir;
  std::string op;
  std::string out;
  std::string pw;
};

// The batch options of a raw command line with their defaults applied, or nothing when the
// command line asks for the window.
std::optional<BatchArgs> batch_args(int argc, const char* const* argv);

}  // namespace quorvel::desktop
