// Watches the screen of an X display (an Xvfb server, normally) for a page: the share of
// near-white pixels in a band through its middle, which a dark window or an empty screen lacks
// and a shown text page has.
// Programs whose insides the benchmark cannot see are timed by it, so every program compared is
// timed the same way: from its launch to its page on the screen. Xlib stays in its own source:
// its macros clash with Qt's names.
#pragma once

#include <memory>

class ScreenWatch {
 public:
  ScreenWatch();  // the display named by DISPLAY
  ~ScreenWatch();
  ScreenWatch(const ScreenWatch&) = delete;
  ScreenWatch& operator=(const ScreenWatch&) = delete;

  bool ok() const;
  int width() const;
  int height() const;
  // The share of near-white pixels in the band, 0 to 1; -1 when the screen could not be read.
  double whiteShare();

 private:
  struct State;
  std::unique_ptr<State> state_;
};
