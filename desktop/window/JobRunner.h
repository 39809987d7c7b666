// Long work of the window (tools over every page, compares, exports, autosave) runs here, off
// the window's thread, so that the window keeps answering. One process-wide lock guards the
// engine's library, and each document call holds it only for the library's own calls: rewrites
// of a whole document do their long qpdf part outside it, so a worker holds up the renders of
// any tab only for a short step.
//
// Jobs run one at a time in the order they were asked for. A tool's job shows a window-modal
// progress dialog with a button that cancels it while its result is not yet being written; no
// other command and no edit can reach the document meanwhile. A background job (autosave)
// shows a note in the status bar and leaves the window free. The call that starts a job returns
// once the job has ended and its completion has run on the window's thread, the window's events
// being handled all the while; so the command line and the menus see each command end before
// the next one starts. The one exception: a background job asked for while another call waits
// for its job (autosave firing under a tool's progress dialog) is queued behind the running job
// and its call returns at once, so that the outer call returns as soon as its own job ends,
// not once the inner one has too. A tool's job asked for in that state runs after the running
// one in order; its caller's call waits for it, the outer job's completion does not.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "core/engine.h"

class QLabel;
class QMainWindow;
class QThread;

namespace quorvel::desktop {

class PdfView;
struct JobState;

// What a job's work, on its worker thread, sees of its job.
class JobControl {
 public:
  explicit JobControl(std::shared_ptr<JobState> state) : state_(std::move(state)) {}
  // The user cancelled, a tab the job reads was closed, or the window is closing.
  bool cancelled() const;
  // From here on the job writes its result and can no longer be cancelled; false when it was
  // cancelled first, and then nothing may be written.
  bool commit();
  // How far the work is; shown as a percentage.
  void progress(long long done, long long total);
  // A page of the document of the job's first view changed: the view hears it
  // (PdfView::pageContentEdited) on the window's thread once the work has returned, page by
  // page in the order of the edits, also after a cancel.
  void pageEdited(int page);

 private:
  std::shared_ptr<JobState> state_;
};

// A document read as part of a job, for the core's functions that walk a whole document: each
// page's text read counts as one of the job's `total` steps (`done` counts them, and may be
// shared by several documents), and once the job is cancelled every page reads as empty, so
// that the walk ends at once. It reads, and only reads, through the document given.
class JobReading final : public IDocument {
 public:
  JobReading(const IDocument& inner, JobControl& job, long long total, std::atomic<long long>& done)
      : inner_(inner), job_(job), total_(total), done_(done) {}
  int page_count() const override { return inner_.page_count(); }
  PageInfo page_info(int page) const override { return inner_.page_info(page); }
  RenderedTile render_tile(int, const RenderRequest&) override { return {}; }
  TextPage extract_text(int page) const override;
  DocMetadata metadata() const override { return inner_.metadata(); }

 private:
  const IDocument& inner_;
  JobControl& job_;
  long long total_;
  std::atomic<long long>& done_;
};

class JobRunner : public QObject {
  Q_OBJECT

 public:
  explicit JobRunner(QMainWindow* window);
  ~JobRunner() override;

  struct Job {
    QString title;               // the dialog's text, or the status bar's for a background job
    std::vector<PdfView*> views;  // the tabs whose documents the work reads or changes
    bool background = false;
    std::function<void(JobControl&)> work;  // on a worker thread
    // On the window's thread after the work, with whether it ran to its end (false after a
    // cancel); not run once the window is going.
    std::function<void(bool finished)> done;
  };

  // Runs the job as described above and returns when it has ended: true when its work ran to
  // its end, false after a cancel. A background job queued behind another call's job gives
  // true at once.
  bool run(Job job);
  bool busy() const { return current_ != nullptr || !queue_.empty(); }
  // The view's tab is closing: its jobs are cancelled, and one whose work is running keeps the
  // document until the work returns.
  void viewClosing(PdfView* view);
  // Cancels every job, waits for the running work to return and ends every job; `notify` runs
  // their completions (not when the window is being destroyed).
  void stopAll(bool notify);
  // The window is closing: every job is cancelled. True when no work is left running. Else a
  // work is writing a result that can no longer be cancelled (or has yet to look at its
  // cancel): the status bar says so, and `then` runs on the window's thread once it has
  // returned, the window answering meanwhile.
  bool endAll(std::function<void()> then);

 private:
  void startNext();
  void finish(const std::shared_ptr<JobState>& state, bool notify);
  void showProgress(const std::shared_ptr<JobState>& state);

  QMainWindow* window_;
  std::deque<std::shared_ptr<JobState>> queue_;
  std::shared_ptr<JobState> current_;
  QThread* thread_ = nullptr;
  QLabel* note_ = nullptr;
  // How many calls of run() wait for their job.
  int waiting_ = 0;
  std::function<void()> whenIdle_;
};

}  // namespace quorvel::desktop
