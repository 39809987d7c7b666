// Figures of the annotation store on a real file: 1,000 adds, each committed on its own as the
// viewer writes them, and loading 10,000 rows of one document.
// Usage: bench_desktop_store [folder]   (default: a fresh folder below TMPDIR)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "desktop/stores/AnnotationStore.h"

using quorvel::annot::Annotation;
using quorvel::annot::AnnotType;
using quorvel::desktop::AnnotationStore;

namespace {

// A third of the rows are ink strokes of 40 points, the rest highlights with a comment.
Annotation sample(int i) {
  Annotation a;
  a.id = "bench-" + std::to_string(i);
  a.page = i % 300;
  if (i % 3 == 0) {
    a.type = AnnotType::Ink;
    for (int p = 0; p < 40; ++p) a.points.push_back({100.0 + p * 1.25, 200.0 + (p % 7) * 3.5});
  } else {
    a.x0 = 72;
    a.y0 = 700 - i % 50;
    a.x1 = 300;
    a.y1 = 712 - i % 50;
    a.text = "Комментарий к фрагменту номер " + std::to_string(i);
  }
  return a;
}

double ms(const QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

// Processor time of this thread: tells the store's own cost from waiting for a busy disk.
double cpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir tmp;
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : tmp.path();
  const QString path = folder + QStringLiteral("/bench-store.db");
  QFile::remove(path);
  QFile::remove(path + QStringLiteral("-wal"));
  QFile::remove(path + QStringLiteral("-shm"));

  AnnotationStore store(path);
  if (!store.isOpen()) {
    std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
    return 1;
  }

  QElapsedTimer t;
  t.start();
  const double cpu0 = cpuMs();
  for (int i = 0; i < 1000; ++i) {
    if (!store.add(QStringLiteral("adds"), sample(i))) return 1;
  }
  const double adds = ms(t);
  std::printf("1000 adds, one commit each: %.1f ms (%.1f ms processor time; target under "
              "1000 ms)\n",
              adds, cpuMs() - cpu0);

  for (int i = 0; i < 10000; ++i) {
    if (!store.add(QStringLiteral("big"), sample(i))) return 1;
  }
  for (int i = 0; i < 2000; ++i) store.add(QStringLiteral("other"), sample(i));
  std::vector<double> loads;
  size_t rows = 0;
  for (int round = 0; round < 7; ++round) {
    t.restart();
    rows = store.load(QStringLiteral("big")).size();
    loads.push_back(ms(t));
  }
  std::sort(loads.begin(), loads.end());
  std::printf("load of %zu rows (a third of them 40-point ink): median %.1f ms, best %.1f ms, "
              "worst %.1f ms (target under 100 ms)\n",
              rows, loads[loads.size() / 2], loads.front(), loads.back());
  return rows == 10000 ? 0 : 1;
}
