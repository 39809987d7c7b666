// Synthetic input for viewer tests: mouse gestures at page points, keys, and modal dialogs
// answered from a timer the way a user would answer them.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

#include "FakeDocument.h"
#include "desktop/viewer/PdfView.h"

namespace quorvel::test {

// A document that also records the form keys and the text typed into its pages.
class ToolDocument : public FakeDocument {
 public:
  using FakeDocument::FakeDocument;
  bool insertResult = true;

  void form_key(int key, bool down) override {
    calls.push_back("key " + std::to_string(key) + (down ? " down" : " up"));
  }
  bool insert_text(int page, const std::string& text, double x, double y, double size,
                   unsigned rgb) override {
    calls.push_back("insert_text " + std::to_string(page) + " " + text + " " +
                    std::to_string(static_cast<int>(x)) + " " + std::to_string(static_cast<int>(y)) +
                    " " + std::to_string(static_cast<int>(size)) + " " + std::to_string(rgb));
    return insertResult;
  }
};

// Viewport position of a page point.
inline QPointF at(const desktop::PdfView& v, int page, double x, double y) {
  return v.pagePointToContent(page, annot::Point{x, y}) -
         QPointF(v.horizontalScrollBar()->value(), v.verticalScrollBar()->value());
}

inline void mouse(desktop::PdfView& v, QEvent::Type type, QPointF pos,
                  Qt::MouseButton button = Qt::LeftButton) {
  const Qt::MouseButtons held =
      type == QEvent::MouseButtonRelease ? Qt::MouseButtons() : Qt::MouseButtons(button);
  QMouseEvent e(type, pos, v.viewport()->mapToGlobal(pos),
                type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
  QApplication::sendEvent(v.viewport(), &e);
}

// Press at the first point, a move event to each further one, release at the last.
inline void drag(desktop::PdfView& v, int page, const std::vector<annot::Point>& points) {
  if (points.empty()) return;
  mouse(v, QEvent::MouseButtonPress, at(v, page, points.front().x, points.front().y));
  for (size_t i = 1; i < points.size(); ++i)
    mouse(v, QEvent::MouseMove, at(v, page, points[i].x, points[i].y));
  mouse(v, QEvent::MouseButtonRelease, at(v, page, points.back().x, points.back().y));
}

inline void click(desktop::PdfView& v, int page, double x, double y) { drag(v, page, {{x, y}}); }

// Whether the view took the key.
inline bool key(desktop::PdfView& v, int k, Qt::KeyboardModifiers mods = Qt::NoModifier,
                const QString& text = {}) {
  QKeyEvent e(QEvent::KeyPress, k, mods, text);
  e.setAccepted(false);
  QApplication::sendEvent(&v, &e);
  return e.isAccepted();
}

inline bool key(desktop::PdfView& v, QKeySequence::StandardKey standard) {
  const QKeyCombination combo = QKeySequence(standard)[0];
  return key(v, combo.key(), combo.keyboardModifiers());
}

// Answers the next modal dialog once it shows, from a timer, and remembers what it showed.
class DialogAnswerer {
 public:
  struct Seen {
    bool shown = false;
    QString title;
    QString label;       // input dialogs
    QString initial;     // the text the input dialog offered
    QStringList items;   // item choice
    QString text;        // message boxes
    Qt::TextFormat format = Qt::AutoText;
  };

  // Types `text` and confirms (a message box: Yes), or cancels (No) without a text. `during`
  // runs first, for example to destroy the dialog's owner while it is open.
  explicit DialogAnswerer(std::optional<QString> text, std::function<void()> during = {})
      : answer(std::move(text)), hook(std::move(during)) {
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
    timer.start();
  }
  Seen seen;

 private:
  void poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) return;
    timer.stop();
    seen.shown = true;
    seen.title = w->windowTitle();
    if (auto* d = qobject_cast<QInputDialog*>(w)) {
      seen.label = d->labelText();
      seen.initial = d->textValue();
      seen.items = d->comboBoxItems();
    } else if (auto* b = qobject_cast<QMessageBox*>(w)) {
      seen.text = b->text();
      seen.format = b->textFormat();
    }
    QPointer<QWidget> dialog(w);
    if (hook) hook();
    if (!dialog) return;
    if (auto* d = qobject_cast<QInputDialog*>(dialog.data())) {
      if (answer) {
        d->setTextValue(*answer);
        d->accept();
      } else {
        d->reject();
      }
    } else if (auto* b = qobject_cast<QMessageBox*>(dialog.data())) {
      b->button(answer ? QMessageBox::Yes : QMessageBox::No)->click();
    } else if (auto* other = qobject_cast<QDialog*>(dialog.data())) {
      other->reject();
    }
  }

  std::optional<QString> answer;
  std::function<void()> hook;
  QTimer timer;
};

}  // namespace quorvel::test
