// The start-up benchmark ends a window it launched by closing that window's standard input.
#pragma once

#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

inline void quitWhenInputCloses(QSocketNotifier& input) {
  QObject::connect(&input, &QSocketNotifier::activated, [&input] {
    char c;
    if (read(0, &c, 1) <= 0) {
      input.setEnabled(false);
      QCoreApplication::quit();
    }
  });
}
