#include "bench/screen_watch.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

// A band of rows through the middle of the screen crosses the page of any window placed at the
// top left, and reading it costs the X server next to nothing, so watching takes no time from
// the programs watched.
constexpr int kBandRows = 8;

struct ScreenWatch::State {
  Display* display = nullptr;
  Window root = 0;
  int width = 0, height = 0, bandTop = 0;
  XShmSegmentInfo shm{};
  XImage* image = nullptr;
  bool shared = false;

  State() {
    display = XOpenDisplay(nullptr);
    if (!display) return;
    const int screen = DefaultScreen(display);
    root = RootWindow(display, screen);
    width = DisplayWidth(display, screen);
    height = DisplayHeight(display, screen);
    bandTop = height / 2 - kBandRows / 2;
    // Shared memory spares copying the screen through the socket at every look.
    if (!XShmQueryExtension(display)) return;
    image = XShmCreateImage(display, DefaultVisual(display, screen), static_cast<unsigned>(DefaultDepth(display, screen)),
                            ZPixmap, nullptr, &shm, static_cast<unsigned>(width), kBandRows);
    if (!image) return;
    shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * kBandRows, IPC_CREAT | 0600);
    void* at = shm.shmid >= 0 ? shmat(shm.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
    shm.shmaddr = image->data = at == reinterpret_cast<void*>(-1) ? nullptr : static_cast<char*>(at);
    shm.readOnly = False;
    if (shm.shmaddr && XShmAttach(display, &shm)) {
      XSync(display, False);
      // Marked for removal now, the segment goes with the last detach however the run ends.
      shmctl(shm.shmid, IPC_RMID, nullptr);
      shared = true;
      return;
    }
    if (shm.shmaddr) shmdt(shm.shmaddr);
    if (shm.shmid >= 0) shmctl(shm.shmid, IPC_RMID, nullptr);
    image->data = nullptr;
    XDestroyImage(image);
    image = nullptr;
  }

  ~State() {
    if (shared) {
      XShmDetach(display, &shm);
      shmdt(shm.shmaddr);
      image->data = nullptr;
    }
    if (image) XDestroyImage(image);
    if (display) XCloseDisplay(display);
  }
};

ScreenWatch::ScreenWatch() : state_(std::make_unique<State>()) {}
ScreenWatch::~ScreenWatch() = default;
bool ScreenWatch::ok() const { return state_->display != nullptr; }
int ScreenWatch::width() const { return state_->width; }
int ScreenWatch::height() const { return state_->height; }

double ScreenWatch::whiteShare() {
  State& s = *state_;
  if (!s.display) return -1;
  XImage* img = nullptr;
  if (s.shared) {
    if (!XShmGetImage(s.display, s.root, s.image, 0, s.bandTop, AllPlanes)) return -1;
    img = s.image;
  } else {
    img = XGetImage(s.display, s.root, 0, s.bandTop, static_cast<unsigned>(s.width), kBandRows, AllPlanes, ZPixmap);
    if (!img) return -1;
  }
  long white = 0, all = 0;
  for (int y = 0; y < kBandRows; ++y) {
    for (int x = 0; x < s.width; ++x) {
      const unsigned long p = XGetPixel(img, x, y);
      ++all;
      if (((p >> 16) & 0xff) >= 0xf0 && ((p >> 8) & 0xff) >= 0xf0 && (p & 0xff) >= 0xf0) ++white;
    }
  }
  if (!s.shared) XDestroyImage(img);
  return all ? static_cast<double>(white) / static_cast<double>(all) : -1;
}
