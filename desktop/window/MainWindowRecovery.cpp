// Autosave and crash recovery: every tab's document is copied into a recovery folder at a
// fixed interval, the copies that a run left behind are offered at the next start, and a
// normal close removes them.
//
// Each window keeps its copies in a folder of its own inside a recovery root, beside a lock
// file it holds while it runs: another window tells a live window's folder (lock held) from
// the folder of one that ended without closing (lock free, or stale after a crash), and takes
// that lock while it offers or holds the work found there. A root is used only when it is a
// real directory of this user, so a folder of another user under the shared temporary
// directory's fixed name is never read, written or emptied; the user's cache folder serves
// instead. A recovered document writes its later copies over its own pair, which stays until
// the document is saved, since until then it is the only copy of that work.
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMessageBox>
#include <QPointer>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/JobRunner.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
// A property of a recovered document's view: the snapshot pair (its path without ".pdf") that
// holds the work until it is saved.
constexpr char kRecoveredStem[] = "quorvelRecoveredStem";
// A path written beside a snapshot is never longer than this.
constexpr qint64 kMaxOriginBytes = 64 * 1024;

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
// The pair the view's last snapshot went to.
const char* const kSnapshotStem = "quorvelSnapshotStem";

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
  if (!s.view) return;
  s.view->setProperty(kSnapshot, snapshotMark(s));
  s.view->setProperty(kSnapshotStem, s.stem);
}

void removeEveryFile(const QString& dir) {
  QDir d(dir);
  for (const QString& name : d.entryList(QDir::Files | QDir::Hidden | QDir::System))
    QFile::remove(d.filePath(name));
}

// Empties a window's folder and removes it.
void removeFolder(const QString& dir) {
  removeEveryFile(dir);
  QDir().rmdir(dir);
}

// The snapshots of one folder in the order of the tabs they were taken from.
QStringList snapshotsIn(const QString& dir) {
  std::vector<std::pair<int, QString>> found;
  for (const QString& name : QDir(dir).entryList({QStringLiteral("rec-*.pdf")}, QDir::Files)) {
    bool ok = false;
    const int index = name.mid(4, name.size() - 8).toInt(&ok);
    found.emplace_back(ok && index >= 0 ? index : INT_MAX, name);
  }
  std::sort(found.begin(), found.end());
  QStringList names;
  for (const auto& [index, name] : found) names << name;
  return names;
}

// The path a snapshot stands for, as its window wrote it beside it; the snapshot's own when
// that is missing.
QString originOf(const QString& snapshot) {
  QFile f(snapshot.chopped(4) + QStringLiteral(".txt"));
  if (f.open(QIODevice::ReadOnly)) {
    const QString origin = QString::fromUtf8(f.read(kMaxOriginBytes));
    if (!origin.isEmpty()) return origin;
  }
  return snapshot;
}

// A lock that only a running holder keeps: a crashed one's is stale however young it is.
std::unique_ptr<QLockFile> tryLockFolder(const QString& folder) {
  auto lock = std::make_unique<QLockFile>(folder + QStringLiteral(".lock"));
  lock->setStaleLockTime(0);
  if (!lock->tryLock(0)) return nullptr;
  return lock;
}

bool existsOrLinks(const QString& path) {
  struct stat st {};
  return lstat(QFile::encodeName(path).constData(), &st) == 0;
}

}  // namespace

QString MainWindow::recoveryDir() const {
  return QStandardPaths::writableLocation(QStandardPaths::TempLocation) +
         QStringLiteral("/quorvel-recovery");
}

QStringList MainWindow::recoveryRoots() const {
  QStringList roots{recoveryDir()};
  const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
  if (!cache.isEmpty()) roots << cache + QStringLiteral("/recovery");
  return roots;
}

bool MainWindow::ensureSnapshotFolder() {
  if (snapshotLock) return true;
  for (const QString& root : recoveryRoots()) {
    if (!usableFolder(root, true)) continue;
    for (int attempt = 0; attempt < 4; ++attempt) {
      const QString folder = QStringLiteral("%1/%2-%3")
                                 .arg(root)
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
      // A name an earlier run left stays that run's.
      if (existsOrLinks(folder) || existsOrLinks(folder + QStringLiteral(".lock"))) continue;
      // The lock comes first: a folder without a held lock reads as left by a crash.
      std::unique_ptr<QLockFile> lock = tryLockFolder(folder);
      if (!lock) continue;
      if (!usableFolder(folder, true)) break;
      snapshotFolder = folder;
      snapshotLock = std::move(lock);
      return true;
    }
  }
  if (!autosaveOffTold) {
    autosaveOffTold = true;
    statusBar()->showMessage(L("Автосохранение выключено: нет доступной папки для копий восстановления.",
                               "Autosave is off: there is no usable folder for recovery copies."));
  }
  return false;
}

QString MainWindow::snapshotStem(int index, const PdfView* view) {
  const QString recovered = view ? view->property(kRecoveredStem).toString() : QString();
  if (!recovered.isEmpty()) return recovered;
  if (!ensureSnapshotFolder()) return {};
  return QStringLiteral("%1/rec-%2").arg(snapshotFolder).arg(index);
}

QString MainWindow::documentPathOf(const PdfView* view) {
  return view ? view->property(documentPathProperty).toString() : QString();
}

bool MainWindow::writeSnapshot(const QString& stem, const std::function<bool(const QString&)>& savePdf,
                               const QByteArray& origin) {
  if (!replaceOwnerOnly(stem + QStringLiteral(".pdf"), savePdf)) return false;
  return replaceOwnerOnly(stem + QStringLiteral(".txt"), [&origin](const QString& tmp) {
    QFile f(tmp);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(origin) == origin.size() && f.flush();
  });
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
  if (!tabs || tabs->count() == 0) return;
  std::vector<Snapshot> due;
  for (int i = 0; i < tabs->count(); ++i) {
    auto* view = qobject_cast<PdfView*>(tabs->widget(i));
    if (!view || !view->doc) continue;
    const QString stem = snapshotStem(i, view);
    if (stem.isEmpty()) continue;
    Snapshot s{view, view->doc.get(), view->annotations, stem, documentPathOf(view).toUtf8(), editsOf(*view)};
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
      const auto savePdf = [&s](const QString& tmp) { return s.doc->save_as(tmp.toStdString(), s.annotations); };
      if (writeSnapshot(s.stem, savePdf, s.origin)) (*written)[k] = 1;
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
  struct Found {
    QString pdf, origin;
  };
  std::vector<Found> found;
  std::vector<ClaimedFolder> claimed;
  for (const QString& root : recoveryRoots()) {
    if (!usableFolder(root, false)) continue;
    const QFileInfoList folders =
        QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Time | QDir::Reversed);
    for (const QFileInfo& info : folders) {
      const QString folder = info.filePath();
      if (folder == snapshotFolder || !usableFolder(folder, false)) continue;
      // Held: the window is still running, or another one is offering its work right now.
      std::unique_ptr<QLockFile> lock = tryLockFolder(folder);
      if (!lock) continue;
      const QStringList names = snapshotsIn(folder);
      if (names.isEmpty()) {
        removeFolder(folder);  // what is left there (a cut-short write) restores nothing
        continue;
      }
      for (const QString& name : names) {
        const QString pdf = folder + QLatin1Char('/') + name;
        found.push_back({pdf, originOf(pdf)});
      }
      claimed.push_back({folder, std::move(lock)});
    }
  }
  if (found.empty()) {
    recoverySettled = true;
    return;
  }
  const auto answer = QMessageBox::question(
      this, L("Восстановление", "Recovery"),
      L("Найдены автосохранённые копии (%1) после прошлого сеанса.\nОткрыть их?",
        "Autosaved copies (%1) from the previous session were found.\nOpen them?")
          .arg(found.size()),
      QMessageBox::Yes | QMessageBox::No);
  recoverySettled = true;
  if (answer == QMessageBox::Yes) {
    for (const Found& s : found) {
      if (PdfView* view = openFileAs(s.pdf, s.origin, false)) {
        view->setProperty(kRecoveredStem, s.pdf.chopped(4));
        // Until it is saved, the recovered work exists nowhere but in its snapshot.
        view->setUnsavedChanges(true);
      }
    }
    for (ClaimedFolder& c : claimed) claimedFolders.push_back(std::move(c));
  } else {
    for (const ClaimedFolder& c : claimed) removeFolder(c.path);
  }
}

void MainWindow::recoveredWorkSaved(PdfView* view) {
  const QString stem = view ? view->property(kRecoveredStem).toString() : QString();
  if (stem.isEmpty()) return;
  view->setProperty(kRecoveredStem, QVariant());
  QFile::remove(stem + QStringLiteral(".pdf"));
  QFile::remove(stem + QStringLiteral(".txt"));
}

void MainWindow::dropSnapshotsOf(PdfView* view) {
  if (!view) return;
  recoveredWorkSaved(view);
  const QString stem = view->property(kSnapshotStem).toString();
  view->setProperty(kSnapshotStem, QVariant());
  view->setProperty(kSnapshot, QVariant());
  if (stem.isEmpty()) return;
  // A pair whose tab index another document has taken since belongs to that one now.
  for (int i = 0; i < tabs->count(); ++i) {
    QWidget* other = tabs->widget(i);
    if (other != view && other->property(kSnapshotStem).toString() == stem) return;
  }
  QFile::remove(stem + QStringLiteral(".pdf"));
  QFile::remove(stem + QStringLiteral(".txt"));
}

void MainWindow::releaseRecovery() {
  if (snapshotLock) removeFolder(snapshotFolder);
  snapshotLock.reset();
  snapshotFolder.clear();
  // Recovered work not saved meanwhile stays where it was found, for the next start to offer.
  for (const ClaimedFolder& c : claimedFolders) QDir().rmdir(c.path);
  claimedFolders.clear();
}

// A close asks about unsaved edits first (settleUnsaved), then waits without blocking for a
// job that is writing its result: the folder it empties must not get a snapshot afterwards.
void MainWindow::closeEvent(QCloseEvent* e) {
  if (!closeSettled) {
    if (!settleUnsaved(unsavedViews())) {
      e->ignore();
      return;
    }
    closeSettled = true;
    // The user was asked: every document's edits are saved or given up, recovered work too.
    if (isVisible()) {
      for (int i = 0; i < tabs->count(); ++i) dropSnapshotsOf(qobject_cast<PdfView*>(tabs->widget(i)));
    }
  }
  if (jobRunner && !jobRunner->endAll([this] { close(); })) {
    e->ignore();
    return;
  }
  closeSettled = false;
  if (autosaveTimer) autosaveTimer->stop();
  releaseRecovery();
  QMainWindow::closeEvent(e);
}

}  // namespace quorvel::desktop
