// Each desktop benchmark runs in a folder of its own that is its home, configuration, runtime
// and temporary folder, so that its runs never read or touch the user's settings, recent files,
// annotation store or recovery copies.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

// Makes the folder (its name holds `name`) and points the environment at it; empty when it
// could not be made. Without a display the windows are drawn off screen.
inline std::string benchHome(const char* name) {
  std::string base = std::string("/tmp/quorvel-bench-") + name + "-XXXXXX";
  if (!mkdtemp(base.data())) return {};
  std::error_code ec;
  for (const char* sub : {"/home/.config", "/tmp"}) std::filesystem::create_directories(base + sub, ec);
  if (ec) return {};
  setenv("HOME", (base + "/home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (base + "/home/.config").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", base.c_str(), 1);
  setenv("TMPDIR", (base + "/tmp").c_str(), 1);
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  return base;
}
