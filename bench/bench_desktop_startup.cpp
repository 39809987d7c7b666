// Time from starting the program to its window on screen and to the first painted page of a
// PDF given on its command line: a 300-page document, and a 2,500-page manual with a 3,000-entry
// outline three levels deep. The benchmark starts itself as the program several times: each
// child runs the window start-up as main does and reports when the window's first paint began
// and when the viewer's first paint has finished.
//
//   bench_desktop_startup [runs=7] [pages outline-entries]   (without pages: both documents)
//
// With --peer, on an X display (an Xvfb server), the program and MuPDF's viewer (mupdf-x11)
// are launched in turn on the same files and both are timed from the launch to their first page
// on the screen, watched in screenshots; a three-page file gives the floor that starting a
// process and a window costs, and a plain window of the toolkit alone (plain_qt_window, built
// beside the benchmark) the floor of any program on it. A question about a dangerous file is
// answered at once.
//
//   bench_desktop_startup --peer [runs=7] [file.pdf...]   (without files: the installed manuals)
//
// Figures use the monotonic clock, so the parent's spawn time and the child's report compare.
#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QSettings>
#include <QStyleFactory>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_home.h"
#include "bench/figures.h"
#include "bench/quit_on_closed_input.h"
#include "bench/screen_watch.h"
#include "bench/tex_manuals.h"
#include "common/fixtures.h"
#include "common/manual_like.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/MainWindowCommandLine.h"
#include "desktop/window/OpenPrefetch.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"

extern char** environ;

namespace {

double nowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// A plain generated document without an outline (the small case), or one written like a real
// manual: object streams, links on every other line, TJ-spaced lines and a deep outline.
std::string manyPagesPdf(int pages, int entries) {
  if (entries <= 0) return quorvel::test::build_pdf(quorvel::test::forty_line_pages(pages));
  return quorvel::test::manual_like_pdf({pages, entries, true});
}

// Marks the start of the window's first paint, and the end of the first paint of a viewer's
// page area; the zero timer runs once that paint event, page rendering included, has been
// handled.
class FirstPaint : public QObject {
 public:
  double mainMs = 0, appMs = 0, builtMs = 0, shownMs = 0, openedMs = 0, boxMs = 0;
  bool stay = false;  // the window stays until the parent closes the child's input

  bool eventFilter(QObject* obj, QEvent* e) override {
    // The security question for a file with findings is answered as soon as it shows, with
    // Open where it offers that.
    if (e->type() == QEvent::Show && boxMs == 0) {
      if (auto* box = qobject_cast<QMessageBox*>(obj)) {
        boxMs = nowMs();
        QTimer::singleShot(0, box, [box] {
          QAbstractButton* b = box->button(QMessageBox::Open);
          if (!b) b = box->button(QMessageBox::Ok);
          if (b) b->click();
        });
      }
    }
    if (e->type() != QEvent::Paint) return false;
    if (shownMs == 0 && qobject_cast<quorvel::desktop::MainWindow*>(obj)) shownMs = nowMs();
    if (!done) {
      auto* w = qobject_cast<QWidget*>(obj);
      if (w && qobject_cast<quorvel::desktop::PdfView*>(w->parentWidget())) {
        done = true;
        QTimer::singleShot(0, [this] {
          std::printf("%.3f %.3f %.3f %.3f %.3f %.3f %.3f\n", mainMs, appMs, builtMs, shownMs, openedMs, nowMs(),
                      boxMs);
          std::fflush(stdout);
          if (!stay) QCoreApplication::quit();
        });
      }
    }
    return false;
  }

 private:
  bool done = false;
};

// The window start-up of main, with the first paint reported.
void silentMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

int child(int argc, char** argv) {
  const double mainMs = nowMs();
  qInstallMessageHandler(silentMessages);
  QApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments().mid(2);
  quorvel::desktop::OpenPrefetch prefetch(quorvel::desktop::scanCommandLine(args).path);
  QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
  QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
  QSettings settings;
  quorvel::desktop::g_lang = quorvel::desktop::languageFromArguments(
      settings.value(QStringLiteral("ui/lang"), QStringLiteral("ru")).toString(), args);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  const QString sheet = quorvel::desktop::styleSheetForTheme(
      settings.value(QStringLiteral("ui/theme"), QStringLiteral("dark")).toString());
  if (!sheet.isEmpty()) app.setStyleSheet(sheet);

  FirstPaint probe;
  probe.mainMs = mainMs;
  probe.stay = std::strcmp(argv[1], "--child-stay") == 0;
  QSocketNotifier input(0, QSocketNotifier::Read);
  quitWhenInputCloses(input);
  input.setEnabled(probe.stay);
  app.installEventFilter(&probe);
  probe.appMs = nowMs();
  quorvel::desktop::MainWindow window;
  probe.builtMs = nowMs();
  window.show();
  window.runWhenShown([&] {
    quorvel::desktop::runCommandLine(window, args);
    probe.openedMs = nowMs();
  });
  QTimer::singleShot(30000, [] { QCoreApplication::exit(2); });
  return app.exec();
}

// Milliseconds from the spawn to the end of each phase.
struct Run {
  double main, app, built, shown, opened, painted;
};

bool runOnce(const std::string& self, const std::string& pdf, Run& r) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_addclose(&fa, fds[0]);
  std::string childFlag = "--child";
  char* argv[] = {const_cast<char*>(self.c_str()), childFlag.data(), const_cast<char*>(pdf.c_str()), nullptr};
  const double start = nowMs();
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, self.c_str(), &fa, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  if (rc != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  double t[7] = {};
  if (std::sscanf(out.c_str(), "%lf %lf %lf %lf %lf %lf %lf", &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6]) != 7)
    return false;
  r = {t[0] - start, t[1] - start, t[2] - start, t[3] - start, t[4] - start, t[5] - start};
  return true;
}

struct Figures {
  double shown = -1, painted = -1;
};

// Runs the program `runs` times on a generated document and prints each run and the medians;
// gives the median times to the window on screen and to the first painted page, negative when
// no run succeeded.
Figures measure(const std::string& self, const std::string& base, int runs, int pages, int entries) {
  const std::string pdf = base + "/pages-" + std::to_string(pages) + ".pdf";
  {
    const std::string bytes = manyPagesPdf(pages, entries);
    std::ofstream f(pdf, std::ios::binary);
    f << bytes;
    entries = entries > 0 ? quorvel::test::manual_outline_entries({pages, entries, true}) : 0;
  }
  std::printf("\n%d-page PDF with %d outline entries (%.1f MB), %d runs\n", pages, entries,
              static_cast<double>(std::filesystem::file_size(pdf)) / 1e6, runs);
  std::vector<double> shown, painted, main, app, built, opened;
  for (int i = 0; i < runs; ++i) {
    Run r{};
    if (!runOnce(self, pdf, r)) {
      std::printf("run %d failed\n", i + 1);
      continue;
    }
    std::printf("run %d: window shown %.1f ms, first page %.1f ms  (to main %.1f, application %.1f, window built "
                "%.1f, on screen %.1f, file opened %.1f, page painted %.1f)\n",
                i + 1, r.shown, r.painted, r.main, r.app - r.main, r.built - r.app, r.shown - r.built,
                r.opened - std::max(r.shown, r.built), r.painted - r.opened);
    shown.push_back(r.shown);
    painted.push_back(r.painted);
    main.push_back(r.main);
    app.push_back(r.app - r.main);
    built.push_back(r.built - r.app);
    opened.push_back(r.opened - std::max(r.shown, r.built));
  }
  if (painted.empty()) return {};
  std::printf("median: window shown %.1f ms, first page %.1f ms (min %.1f, max %.1f); medians of the phases: "
              "to main %.1f, application %.1f, window built %.1f, file opened %.1f\n",
              median(shown), median(painted), *std::min_element(painted.begin(), painted.end()),
              *std::max_element(painted.begin(), painted.end()), median(main), median(app), median(built),
              median(opened));
  return {median(shown), median(painted)};
}

// A page is on the screen when this share of the watched band is near white (a page at the
// program's scale crosses more than a third of it); the screen is clear below the second.
constexpr double kPageShare = 0.25;
constexpr double kClearShare = 0.02;

void pause1ms() { usleep(1000); }

// Waits until no page is on the screen: the window of the launch before is gone.
bool waitForClearScreen(ScreenWatch& screen) {
  const double end = nowMs() + 10000;
  while (nowMs() < end) {
    const double share = screen.whiteShare();
    if (share >= 0 && share < kClearShare) return true;
    pause1ms();
  }
  return false;
}

struct Launch {
  double pageMs = -1;  // from the launch to the page on the screen
  std::string report;  // what the program printed
};

// Launches `args` and watches the screen until a page shows. The benchmark's own child ends
// when its input closes, anything else by SIGTERM.
Launch launchToPage(ScreenWatch& screen, const std::vector<std::string>& args, bool ownChild) {
  Launch result;
  if (!waitForClearScreen(screen)) return result;
  int in[2], out[2];
  if (pipe(in) != 0) return result;
  if (pipe(out) != 0) {
    close(in[0]);
    close(in[1]);
    return result;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&fa, in[1]);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const double start = nowMs();
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(out[1]);
  bool running = rc == 0;
  while (running && nowMs() < start + 30000) {
    if (screen.whiteShare() >= kPageShare) {
      result.pageMs = nowMs() - start;
      break;
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) running = false;
    pause1ms();
  }
  close(in[1]);
  if (running && !ownChild) kill(pid, SIGTERM);
  char buf[256];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) result.report.append(buf, static_cast<size_t>(n));
  close(out[0]);
  if (running) {
    int status = 0;
    waitpid(pid, &status, 0);
  }
  // The child's figures are its own clock's readings; made relative to the launch here.
  double t[7] = {};
  if (ownChild && std::sscanf(result.report.c_str(), "%lf %lf %lf %lf %lf %lf %lf", &t[0], &t[1], &t[2], &t[3], &t[4],
                              &t[5], &t[6]) == 7) {
    char line[200];
    std::snprintf(line, sizeof line, "window on screen %.0f, file opened %.0f, page painted %.0f%s", t[3] - start,
                  t[4] - start, t[5] - start, t[6] > 0 ? ", the security question answered" : "");
    result.report = line;
  } else {
    result.report.clear();
  }
  return result;
}

struct PeerFigures {
  double program = -1, peer = -1, bare = -1;
};

PeerFigures measurePeer(ScreenWatch& screen, const std::string& self, const std::string& peer, const std::string& pdf,
                        const std::string& label, int runs, const std::string& bare) {
  std::printf("\n%s (%.1f MB), %d runs\n", label.c_str(), static_cast<double>(bytesOf(pdf)) / 1e6, runs);
  std::vector<double> program, other, plain;
  for (int i = 0; i < runs; ++i) {
    // Alternating the order spares either side the other's after-effects on the machine.
    Launch q, m, b;
    for (int k = 0; k < 2; ++k) {
      if ((k == 0) == (i % 2 == 0))
        q = launchToPage(screen, {self, "--child-stay", pdf}, true);
      else
        m = launchToPage(screen, {peer, pdf}, false);
    }
    if (!bare.empty()) b = launchToPage(screen, {bare}, true);
    std::printf("run %d: program %.0f ms, mupdf-x11 %.0f ms", i + 1, q.pageMs, m.pageMs);
    if (!bare.empty()) std::printf(", plain Qt window %.0f ms", b.pageMs);
    std::printf("  (program: %s)\n", q.report.empty() ? "no report" : q.report.c_str());
    if (q.pageMs >= 0) program.push_back(q.pageMs);
    if (m.pageMs >= 0) other.push_back(m.pageMs);
    if (b.pageMs >= 0) plain.push_back(b.pageMs);
  }
  PeerFigures f;
  if (!program.empty()) f.program = median(program);
  if (!other.empty()) f.peer = median(other);
  if (!plain.empty()) f.bare = median(plain);
  return f;
}

int peerMode(const std::string& self, int argc, char** argv) {
  int runs = 7;
  int first = 2;
  if (argc > 2 && std::strspn(argv[2], "0123456789") == std::strlen(argv[2])) {
    runs = std::max(1, std::atoi(argv[2]));
    first = 3;
  }
  std::vector<std::pair<std::string, std::string>> files;  // label, path
  for (int i = first; i < argc; ++i) files.emplace_back(std::filesystem::path(argv[i]).filename().string(), argv[i]);
  if (files.empty()) {
    // The two largest manuals installed: a thousand pages and more each.
    const std::vector<TexManual> manuals = installedTexManuals();
    for (size_t i = manuals.size() > 2 ? manuals.size() - 2 : 0; i < manuals.size(); ++i)
      files.emplace_back(manuals[i].name, manuals[i].path);
  }
  const std::string peer = "/usr/lib/mupdf/mupdf-x11";
  if (!std::filesystem::exists(peer)) {
    std::printf("%s is not installed (Debian package mupdf)\n", peer.c_str());
    return 1;
  }
  ScreenWatch screen;
  if (!screen.ok()) {
    std::printf("--peer needs an X display, e.g. Xvfb :147 -screen 0 1280x1024x24 and DISPLAY=:147\n");
    return 1;
  }
  const std::string base = std::getenv("HOME");
  const std::string small = base + "/../three-pages.pdf";
  {
    std::ofstream f(small, std::ios::binary);
    f << quorvel::test::build_pdf(quorvel::test::forty_line_pages(3));
  }
  files.insert(files.begin(), {"three-page file", small});
  // Beside the benchmark: a window of the toolkit alone, linked against nothing of ours.
  std::string bare = (std::filesystem::path(self).parent_path() / "plain_qt_window").string();
  if (!std::filesystem::exists(bare)) bare.clear();
  std::printf("launch to the first page on the screen (%dx%d), the program against %s\n", screen.width(),
              screen.height(), peer.c_str());
  std::vector<PeerFigures> figures;
  for (const auto& [label, path] : files)
    figures.push_back(measurePeer(screen, self, peer, path, label, runs, path == small ? bare : std::string()));
  std::printf("\nmedians, launch to the first page:\n");
  bool ok = true;
  for (size_t i = 0; i < files.size(); ++i) {
    const PeerFigures& f = figures[i];
    ok = ok && f.program >= 0 && f.peer > 0;
    std::printf("%-28s program %6.0f ms, mupdf-x11 %6.0f ms, ratio %.2f\n", files[i].first.c_str(), f.program, f.peer,
                f.peer > 0 ? f.program / f.peer : 0.0);
  }
  // What any Qt widget window costs on this machine, before a document is involved.
  if (figures[0].bare > 0 && figures[0].peer > 0)
    std::printf("%-28s %6.0f ms, ratio to mupdf-x11 on the three-page file %.2f\n", "plain Qt window", figures[0].bare,
                figures[0].bare / figures[0].peer);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--child") == 0 || std::strcmp(argv[1], "--child-stay") == 0))
    return child(argc, argv);

  const bool peer = argc >= 2 && std::strcmp(argv[1], "--peer") == 0;
  const int runs = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 7;
  struct Case {
    int pages, entries;
  };
  std::vector<Case> cases{{300, 0}, {2500, 3000}};
  if (argc >= 3) cases = {{std::max(1, std::atoi(argv[2])), argc >= 4 ? std::max(0, std::atoi(argv[3])) : 0}};

  // Own home and temporary folders, so the settings and the database of the runs stay here.
  const std::string base = benchHome("startup");
  if (base.empty()) return 1;
  // The local backend is started as the program starts it: the stand-in beside the build's
  // application, on a port of its own.
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  const std::string backend = std::filesystem::path(self).parent_path().parent_path() / "durovaderiz";
  unsetenv("QUORVEL_BACKEND");
  if (std::filesystem::exists(backend)) {
    setenv("QUORVEL_BACKEND_EXE", backend.c_str(), 1);
    // Other runs of the benchmark on the machine must not meet this one's backend.
    setenv("QUORVEL_BACKEND_PORT", std::to_string(20000 + getpid() % 20000).c_str(), 1);
  }
  if (peer) {
    const int rc = peerMode(self, argc, argv);
    std::filesystem::remove_all(base);
    return rc;
  }

  std::printf("start to the window on screen and to the first painted page, platform %s, backend %s\n",
              std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "default",
              std::filesystem::exists(backend) ? "started" : "none");
  std::vector<Figures> medians;
  for (const Case& c : cases) medians.push_back(measure(self, base, runs, c.pages, c.entries));
  std::printf("\n");
  bool ok = true;
  for (size_t i = 0; i < cases.size(); ++i) {
    ok = ok && medians[i].painted >= 0;
    std::printf("%5d pages, %4d outline entries: window shown %.1f ms, first page %.1f ms (medians)\n",
                cases[i].pages, cases[i].entries, medians[i].shown, medians[i].painted);
  }
  std::filesystem::remove_all(base);
  return ok ? 0 : 1;
}
