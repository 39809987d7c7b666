// A sandbox per test for running the built application in batch mode on generated folders.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "tools/process_helpers.h"

namespace quorvel::test {

// Home, config, runtime and temporary folders of its own, and an input folder "in".
class Sandbox {
 public:
  Sandbox() {
    for (const char* d : {"home", "config", "runtime", "tmp", "in"}) {
      std::filesystem::create_directories(root_.file(d));
    }
    chmod(root_.file("runtime").c_str(), 0700);
  }

  std::string path(const std::string& name) const { return root_.file(name); }
  std::string in() const { return root_.file("in"); }
  std::string in(const std::string& name) const { return root_.file("in/" + name); }

  void put(const std::string& name, const std::string& data) const { write_file(in(name), data); }

  EnvChanges env() const {
    return {{"HOME", path("home")},
            {"XDG_CONFIG_HOME", path("config")},
            {"XDG_RUNTIME_DIR", path("runtime")},
            {"TMPDIR", path("tmp")},
            {"QT_QPA_PLATFORM", "offscreen"},
            {"QUORVEL_BACKEND", std::nullopt},
            {"QUORVEL_BACKEND_PORT", std::nullopt},
            {"QUORVEL_BACKEND_EXE", std::nullopt},
            {"QUORVEL_PARENT_WATCH", std::nullopt},
            {"DUROVADERIZ_SCRIPT", std::nullopt},
            {"DUROVADERIZ_RECORD", std::nullopt},
            {"DUROVADERIZ_TOKEN", std::nullopt}};
  }

  RunResult quorvel(const std::vector<std::string>& args, const EnvChanges& extra = {},
                    int timeout_ms = 120000, const std::string& input = {}) const {
    EnvChanges e = env();
    for (const auto& [k, v] : extra) e[k] = v;
    std::vector<std::string> argv{built("quorvel")};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, e, timeout_ms, input);
  }

  bool tmp_empty() const { return std::filesystem::is_empty(path("tmp")); }

 private:
  TempDir root_;
};

inline std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    const size_t nl = text.find('\n', start);
    out.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  std::sort(out.begin(), out.end());
  return out;
}

// File names of a folder in the order the system lists them (the batch keeps that order).
inline std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

inline bool exists(const std::string& p) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(p, ec));
}

// Text of a PDF by poppler's pdftotext, pages separated by form feeds.
inline std::string pdf_text(const std::string& file) {
  const RunResult r = run({"pdftotext", "-layout", file, "-"}, {}, 30000);
  return r.status == 0 ? r.out : std::string{};
}

inline int pdf_pages(const std::string& file, const std::string& password = {}) {
  std::vector<std::string> argv{"qpdf", "--show-npages"};
  if (!password.empty()) argv.push_back("--password=" + password);
  argv.push_back(file);
  const RunResult r = run(argv, {}, 30000);
  return r.status == 0 ? std::atoi(r.out.c_str()) : -1;
}

}  // namespace quorvel::test
