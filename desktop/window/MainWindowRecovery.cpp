// Autosave and crash recovery: every tab's document is copied into the recovery folder at a
// fixed interval, the copies that a run left behind are offered at the next start, and a
// normal close removes them.
//
// The folder sits in the shared temporary directory under a fixed name, so it is used only
// when it is a real directory of this user; anything else (a symbolic link, another user's
// folder) is left alone as if it could not be created. Only then is emptying it safe.
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
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

#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
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
  for (int i = 0; i < tabs->count(); ++i) {
    auto* view = qobject_cast<PdfView*>(tabs->widget(i));
    if (!view || !view->doc) continue;
    const QString stem = QStringLiteral("%1/rec-%2").arg(dir).arg(i);
    if (!replaceOwnerOnly(stem + QStringLiteral(".pdf"), [view](const QString& tmp) { return view->saveAs(tmp); }))
      continue;
    const QByteArray origin = tabs->tabToolTip(i).toUtf8();
    replaceOwnerOnly(stem + QStringLiteral(".txt"), [&origin](const QString& tmp) {
      QFile f(tmp);
      return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(origin) == origin.size() &&
             f.flush();
    });
  }
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
