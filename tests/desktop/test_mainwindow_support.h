// Helpers of the main-window tests: answering modal dialogs as a user would, reading what a
// label really shows, and small PDFs with the features the window reacts to.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QCoreApplication>
#include <QAbstractItemView>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <functional>
#include <string>

#include "common/fixtures.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"

namespace quorvel::test {

// Answers the modal dialogs that appear, one scripted answer each, in order; a dialog beyond
// the script is rejected so that a test never hangs. Every dialog seen is kept for checks.
class ModalAnswerer : public QObject {
 public:
  using Answer = std::function<void(QWidget*)>;

  explicit ModalAnswerer(std::deque<Answer> answers) : script(std::move(answers)) {
    connect(&timer, &QTimer::timeout, this, [this] { poll(); });
    timer.start(10);
  }

  struct Seen {
    QString title;
    QString text;         // message text or input label, as shown
    QString informative;  // a message box's informative text, as shown
    QString className;
  };
  QList<Seen> seen;
  int unexpected = 0;

 private:
  void poll() {
    QWidget* w = QApplication::activeModalWidget();
    // A long job's progress asks nothing: it goes when the job ends.
    if (!w || w == current || w->objectName() == QLatin1String("jobProgress")) return;
    current = w;
    Seen s;
    s.title = w->windowTitle();
    s.className = QString::fromLatin1(w->metaObject()->className());
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      s.text = box->text();
      if (auto* info = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        s.informative = shownText(info);
    } else if (auto* label = w->findChild<QLabel*>()) {
      s.text = shownText(label);
    }
    seen.append(s);
    QPointer<QWidget> guard(w);
    if (script.empty()) {
      ++unexpected;
      if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
      return;
    }
    Answer a = std::move(script.front());
    script.pop_front();
    a(w);
  }

 public:
  // What a label puts on screen: markup is rendered, plain text is shown as it stands.
  static QString shownText(const QLabel* label) {
    const Qt::TextFormat f = label->textFormat();
    const bool rich = f == Qt::RichText || (f == Qt::AutoText && Qt::mightBeRichText(label->text()));
    if (!rich) return label->text();
    QTextDocument doc;
    doc.setHtml(label->text());
    return doc.toPlainText();
  }

 private:
  std::deque<Answer> script;
  QPointer<QWidget> current;
  QTimer timer;
};

inline ModalAnswerer::Answer pressButton(QMessageBox::StandardButton which) {
  return [which](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box && box->button(which)) box->button(which)->click();
  };
}

inline ModalAnswerer::Answer typePassword(const QString& text) {
  return [text](QWidget* w) {
    auto* d = qobject_cast<QInputDialog*>(w);
    if (!d) return;
    d->setTextValue(text);
    d->accept();
  };
}

inline ModalAnswerer::Answer rejectDialog() {
  return [](QWidget* w) {
    if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
  };
}

namespace detail {

// One attempt at answering a file dialog; see chooseFile.
inline void answerFileDialog(QPointer<QFileDialog> d, const QString& want, bool pastChecks, int triesLeft) {
  if (!d || !d->isVisible()) return;
  if (triesLeft <= 0) {
    qWarning("file dialog never took %s", qPrintable(want));
    d->reject();
    return;
  }
  const bool folder = d->fileMode() == QFileDialog::Directory;
  const QString shown = folder ? want : QFileInfo(want).absolutePath();
  if (QFileInfo(shown).isDir() && QDir::cleanPath(d->directory().absolutePath()) != shown) d->setDirectory(shown);
  // A row selected in the listing outranks the typed name.
  for (QAbstractItemView* view : d->findChildren<QAbstractItemView*>())
    if (qobject_cast<QFileSystemModel*>(view->model()) && view->selectionModel()) view->clearSelection();
  if (auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) edit->setText(want);
  const QStringList chosen = d->selectedFiles();
  if (chosen.size() == 1 && QDir::cleanPath(chosen.first()) == want) {
    if (pastChecks)
      static_cast<QDialog*>(d.data())->done(QDialog::Accepted);
    else
      static_cast<QDialog*>(d.data())->accept();  // QFileDialog's own accept reads the chosen path
  }
  // Still open: the listing changed the choice, or accept() opened a folder instead of closing.
  if (d && d->isVisible())
    QTimer::singleShot(10, d, [d, want, pastChecks, triesLeft] { answerFileDialog(d, want, pastChecks, triesLeft - 1); });
}

}  // namespace detail

// Answers a file dialog with `path` (the folder, for a folder dialog), after noting the name it
// proposed. The dialog lists its folder on a thread and may select or navigate when that ends,
// and its accept() opens a folder rather than closing when the choice reads as one; so the whole
// path is typed, accepted only once the dialog reads it back, and typed again while the dialog
// stays open. `pastChecks` closes it without the dialog's own checks (a folder that is missing).
inline ModalAnswerer::Answer chooseFile(const QString& path, QString* proposed = nullptr, bool pastChecks = false) {
  return [path, proposed, pastChecks](QWidget* w) {
    auto* d = qobject_cast<QFileDialog*>(w);
    if (!d) {
      qWarning("expected a file dialog, got %s", w->metaObject()->className());
      if (auto* other = qobject_cast<QDialog*>(w)) other->reject();
      return;
    }
    if (proposed && !d->selectedFiles().isEmpty()) *proposed = QFileInfo(d->selectedFiles().first()).fileName();
    detail::answerFileDialog(d, QDir::cleanPath(path), pastChecks, 3000);
  };
}

// A make_pdf document with an outline of one entry that points at its first page, added as an
// incremental update so the rest of the file stays as make_pdf writes it.
inline std::string withOutline(const std::string& pdf, const std::string& title) {
  const size_t sx = pdf.rfind("startxref\n");
  const std::string prev = pdf.substr(sx + 10, pdf.find('\n', sx + 10) - (sx + 10));
  std::string out = pdf;
  const size_t o1 = out.size();
  out += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R /Outlines 100 0 R >>\nendobj\n";
  const size_t o100 = out.size();
  out += "100 0 obj\n<< /Type /Outlines /First 101 0 R /Last 101 0 R /Count 1 >>\nendobj\n";
  const size_t o101 = out.size();
  out += "101 0 obj\n<< /Title " + pdf_literal(title) + " /Parent 100 0 R /Dest [5 0 R /Fit] >>\nendobj\n";
  const size_t xref = out.size();
  char line[64];
  out += "xref\n0 2\n0000000000 65535 f \n";
  std::snprintf(line, sizeof line, "%010zu 00000 n \n", o1);
  out += line;
  out += "100 2\n";
  std::snprintf(line, sizeof line, "%010zu 00000 n \n", o100);
  out += line;
  std::snprintf(line, sizeof line, "%010zu 00000 n \n", o101);
  out += line;
  out += "trailer\n<< /Size 102 /Root 1 0 R /Prev " + prev + " >>\nstartxref\n" + std::to_string(xref) +
         "\n%%EOF\n";
  return out;
}

// A one-page document whose page dictionary carries `extra`, for the threat check.
inline std::string pdfWithPageEntries(const std::string& extra) {
  PageSpec p;
  p.content = "BT /F1 12 Tf 72 720 Td (Hello) Tj ET";
  p.extra = extra;
  return make_pdf({p});
}

inline QString writeTestFile(const TempDir& dir, const QString& name, const std::string& data) {
  const QString path = QString::fromStdString(dir.path()) + QLatin1Char('/') + name;
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return {};
  f.write(data.data(), static_cast<qint64>(data.size()));
  return path;
}

// Read-outs of the window that a user sees.
struct WindowProbe {
  quorvel::desktop::MainWindow& w;
  QTabWidget* tabs() const { return w.findChild<QTabWidget*>(); }
  QStackedWidget* stack() const { return w.findChild<QStackedWidget*>(); }
  QDockWidget* dock(const char* name) const { return w.findChild<QDockWidget*>(QString::fromLatin1(name)); }
  QString status() const { return w.statusBar()->currentMessage(); }
  quorvel::desktop::PdfView* view(int i) const {
    return qobject_cast<quorvel::desktop::PdfView*>(tabs()->widget(i));
  }
};

}  // namespace quorvel::test
