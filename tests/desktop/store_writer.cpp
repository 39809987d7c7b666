// Adds annotations "w0000", "w0001", ... to a store one by one and prints each count once its
// add has returned, so the parent knows which ones were committed when it kills this process.
// The lines are padded to 512 bytes: a parent that stops reading fills the pipe after about
// 128 more of them, so the writer can never race to the end before it is killed.
// Usage: quorvel_test_store_writer database key count
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include "desktop/stores/AnnotationStore.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 4) return 2;
  quorvel::desktop::AnnotationStore store(QString::fromLocal8Bit(argv[1]));
  if (!store.isOpen()) return 3;
  const QString key = QString::fromLocal8Bit(argv[2]);
  const int count = std::atoi(argv[3]);
  for (int i = 0; i < count; ++i) {
    quorvel::annot::Annotation a;
    char id[16];
    std::snprintf(id, sizeof id, "w%04d", i);
    a.id = id;
    a.type = quorvel::annot::AnnotType::Ink;
    a.points = {{double(i), 1.5}, {double(i) + 2, 3.25}};
    a.text = "note " + std::to_string(i);
    if (!store.add(key, a)) return 4;
    std::printf("%-511d\n", i + 1);
    std::fflush(stdout);
  }
  return 0;
}
