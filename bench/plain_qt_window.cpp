// The floor of any program built on the same toolkit: a Qt widget application that links
// nothing else and shows one plain white window of the program's size. The start-up benchmark
// launches it beside the program and MuPDF's viewer; it stays until its input closes.
#include <QApplication>
#include <QPalette>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include "bench/quit_on_closed_input.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  QPalette palette = window.palette();
  palette.setColor(QPalette::Window, Qt::white);
  window.setPalette(palette);
  window.setAutoFillBackground(true);
  window.resize(1100, 780);
  QSocketNotifier input(0, QSocketNotifier::Read);
  quitWhenInputCloses(input);
  window.show();
  QTimer::singleShot(30000, [] { QCoreApplication::exit(2); });
  return app.exec();
}
