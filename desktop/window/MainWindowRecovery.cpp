// Autosave and crash recovery: every tab's document is copied into the recovery folder at a
// fixed interval, the copies that a run left behind are offered at the next start, and a
// normal close removes them.
//
// The folder sits in the shared temporary directory under a fixed name, so it is used only
// when it is a real directory of this user; anything else (a symbolic link, another user's
// folder) is left alone as if it could not be created. Only then is emptying it safe.
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/JobRunner.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

// True when `path` is a directory of this user that nobody else may enter, creating it when
// `create` is set and it is missing.
bool usableFolder(const QString& path, bool create) {
  const QByteArray p = QFile::encodeName(path);
  struct stat st {};
  if (lstat(p.constData(), &st) != 0) {
    if (errno != ENOENT || !create) return false;
    QDir().mkpath(QFileInfo(path).path());
    if (::mkdir(p.constData(), 0700) != 0 && errno != EEXIST) return false;
    if (lstat(p.constData(), &st) != 0) return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
  if ((st.st_mode & 077) != 0 && ::chmod(p.constData(), 0700) != 0) return false;
  return true;
}

// Writes `target` through "<target>.tmp", owner-only from the start, and renames it over the
// target only when the writer succeeded: an interrupted write keeps the previous file.
bool replaceOwnerOnly(const QString& target, const std::function<bool(const QString&)>& write) {
  const QString tmp = target + QStringLiteral(".tmp");
  {
    QFile f(tmp);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate, kOwnerOnly)) return false;
    f.close();
    // A file left by an interrupted run keeps its old mode through open().
    if (!f.setPermissions(kOwnerOnly)) {
      QFile::remove(tmp);
      return false;
    }
  }
  if (!write(tmp) || !QFile::setPermissions(tmp, kOwnerOnly) ||
      std::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(target).constData()) != 0) {
    QFile::remove(tmp);
    return false;
  }
  return true;
}

// A tab's snapshot as the timer found it due; the rest is read on the worker.
struct Snapshot {
  QPointer<PdfView> view;
  IDocument* doc;
  std::vector<annot::Annotation> annotations;
  QString stem;  // the folder and the name without its suffix
  QByteArray origin;
  quint64 edits;
};

const char* const kEdits = "quorvelEdits";
const char* const kWatched = "quorvelEditsWatched";
const char* const kSnapshot = "quorvelSnapshot";

// How many edits the view has had since autosave first looked at it, counted from the signals
// every edit sends (annotations, page list, page content).
quint64 editsOf(PdfView& view) {
  if (!view.property(kWatched).toBool()) {
    view.setProperty(kWatched, true);
    PdfView* v = &view;
    const auto bump = [v] { v->setProperty(kEdits, v->property(kEdits).toULongLong() + 1); };
    QObject::connect(v, &PdfView::annotationsChanged, v, bump);
    QObject::connect(v, &PdfView::pageStructureChanged, v, bump);
    QObject::connect(v, &PdfView::pageContentChanged, v, bump);
  }
  return view.property(kEdits).toULongLong();
}

// What a written snapshot is known by: its place, its origin, the edits it holds and the files
// as written, so that a copy changed or removed since is written again.
QString snapshotMark(const Snapshot& s) {
  const QFileInfo pdf(s.stem + QStringLiteral(".pdf")), txt(s.stem + QStringLiteral(".txt"));
  if (!pdf.exists() || !txt.exists()) return {};
  return QStringLiteral("%1|%2|%3|%4|%5|%6")
      .arg(s.stem, QString::fromUtf8(s.origin.toHex()))
      .arg(s.edits)
      .arg(pdf.size())
      .arg(pdf.lastModified().toMSecsSinceEpoch())
      .arg(txt.lastModified().toMSecsSinceEpoch());
}

// A snapshot is written again only when something it holds changed since the last one.
bool snapshotDue(const Snapshot& s) {
  const QString mark = snapshotMark(s);
  return mark.isEmpty() || s.view->property(kSnapshot).toString() != mark;
}

void markSnapshot(const Snapshot& s) {
  if (s.view) s.view->setProperty(kSnapshot, snapshotMark(s));
}

void removeEveryFile(const QString& dir) {
  QDir d(dir);
  for (const QString& name : d.entryList(QDir::Files | QDir::Hidden | QDir::System))
    QFile::remove(d.filePath(name));
}

}  // namespace

QString MainWindow::recoveryDir() const {
  return QStandardPaths::writableLocation(QStandardPaths::TempLocation) +
         QStringLiteral("/quorvel-recovery");
}

void MainWindow::startAutosave() {
  autosaveTimer = new QTimer(this);
  const int minutes = QSettings().value(QStringLiteral("autosave/intervalMin"), 2).toInt();
  // Held below what an int of milliseconds can count.
  autosaveTimer->setInterval(std::clamp(minutes, 1, 35000) * 60000);
  connect(autosaveTimer, &QTimer::timeout, this, &MainWindow::autosaveSnapshot);
  if (minutes > 0) autosaveTimer->start();
  QTimer::singleShot(800, this, &MainWindow::checkRecovery);
}

void MainWindow::autosaveSnapshot() {
  if (!recoverySettled || !tabs || tabs->count() == 0) return;
  const QString dir = recoveryDir();
  if (!usableFolder(dir, true)) return;
  std::vector<Snapshot> due;
  for (int i = 0; i < tabs->count(); ++i) {
    auto* view = qobject_cast<PdfView*>(tabs->widget(i));
    if (!view || !view->doc) continue;
    Snapshot s{view, view->doc.get(), view->annotations, QStringLiteral("%1/rec-%2").arg(dir).arg(i),
               tabs->tabToolTip(i).toUtf8(), editsOf(*view)};
    if (!snapshotDue(s)) continue;
    due.push_back(std::move(s));
  }
  if (due.empty()) return;
  // The copies are written off the window's thread, one tab after another; the window stays free.
  auto written = std::make_shared<std::vector<char>>(due.size(), 0);
  JobRunner::Job job;
  job.title = L("Автосохранение…", "Autosaving…");
  job.background = true;
  for (const Snapshot& s : due) job.views.push_back(s.view);
  job.work = [due, written](JobControl& c) {
    for (size_t k = 0; k < due.size() && !c.cancelled(); ++k) {
      const Snapshot& s = due[k];
      if (!replaceOwnerOnly(s.stem + QStringLiteral(".pdf"),
                            [&s](const QString& tmp) { return s.doc->save_as(tmp.toStdString(), s.annotations); }))
        continue;
      replaceOwnerOnly(s.stem + QStringLiteral(".txt"), [&s](const QString& tmp) {
        QFile f(tmp);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(s.origin) == s.origin.size() && f.flush();
      });
      (*written)[k] = 1;
    }
  };
  job.done = [due, written](bool) {
    for (size_t k = 0; k < due.size(); ++k) {
      if ((*written)[k]) markSnapshot(due[k]);
    }
  };
  jobs().run(std::move(job));
}

void MainWindow::checkRecovery() {
  if (recoverySettled) return;
  // Asked over another modal dialog (a command-line action's), the question would take that
  // dialog's place; it comes once the dialog is gone.
  if (QApplication::activeModalWidget()) {
    QTimer::singleShot(200, this, &MainWindow::checkRecovery);
    return;
  }
  const QString dir = recoveryDir();
  QStringList names;
  if (usableFolder(dir, false))
    names = QDir(dir).entryList({QStringLiteral("rec-*.pdf")}, QDir::Files, QDir::Unsorted);
  if (names.isEmpty()) {
    recoverySettled = true;
    return;
  }
  const auto answer = QMessageBox::question(
      this, L("Восстановление", "Recovery"),
      L("Найдены автосохранённые копии (%1) после прошлого сеанса.\nОткрыть их?",
        "Autosaved copies (%1) from the previous session were found.\nOpen them?")
          .arg(names.size()),
      QMessageBox::Yes | QMessageBox::No);
  recoverySettled = true;
  if (answer == QMessageBox::Yes) {
    for (const QString& name : names) openFile(QDir(dir).filePath(name));
  } else {
    removeEveryFile(dir);
  }
}

void MainWindow::closeEvent(QCloseEvent* e) {
  // Before the user has answered, the folder holds only an earlier run's copies: they stay
  // for the next start.
  const QString dir = recoveryDir();
  if (recoverySettled && usableFolder(dir, false)) removeEveryFile(dir);
  QMainWindow::closeEvent(e);
}

}  // namespace quorvel::desktop
