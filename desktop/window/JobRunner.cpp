#include "desktop/window/JobRunner.h"

#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>
#include <mutex>

#include "desktop/viewer/PdfView.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

enum Phase : int { Running, Committed, Cancelled };

// The progress dialog stays until the work has really stopped: closing it only asks for that.
class JobDialog final : public QDialog {
 public:
  using QDialog::QDialog;
  std::function<void()> onCancel;

 protected:
  void reject() override {
    if (onCancel) onCancel();
  }
};

}  // namespace

struct JobState {
  std::atomic<int> phase{Running};
  std::atomic<int> percent{-1};
  JobRunner* runner = nullptr;
  JobRunner::Job job;
  std::vector<QPointer<PdfView>> views;
  // Documents of tabs closed while the work could still be using them.
  std::vector<std::unique_ptr<IDocument>> kept;
  JobDialog* dialog = nullptr;
  QProgressBar* bar = nullptr;
  QPushButton* cancel = nullptr;
  QEventLoop* loop = nullptr;
  bool ended = false;
  // Pages the work changed, told to the view when it returns: a repaint meanwhile would only
  // wait for the work's next call into the engine.
  std::mutex editedLock;
  std::vector<int> edited;

  bool requestCancel() {
    int expected = Running;
    return phase.compare_exchange_strong(expected, Cancelled);
  }
  bool involves(const PdfView* view) const {
    return std::any_of(views.begin(), views.end(), [view](const QPointer<PdfView>& v) { return v == view; });
  }
  // Window's thread: the dialog shows what the worker reported.
  void refresh() {
    if (!dialog) return;
    const int p = percent.load();
    if (p >= 0) {
      bar->setRange(0, 100);
      bar->setValue(p);
    }
    cancel->setEnabled(phase.load() == Running);
  }
};

bool JobControl::cancelled() const { return state_->phase.load() == Cancelled; }

bool JobControl::commit() {
  int expected = Running;
  if (!state_->phase.compare_exchange_strong(expected, Committed)) return expected == Committed;
  const std::shared_ptr<JobState> s = state_;
  QMetaObject::invokeMethod(s->runner, [s] { s->refresh(); }, Qt::QueuedConnection);
  return true;
}

void JobControl::progress(long long done, long long total) {
  if (total <= 0) return;
  const int p = static_cast<int>(std::clamp(done, 0LL, total) * 100 / total);
  if (state_->percent.exchange(p) == p) return;
  const std::shared_ptr<JobState> s = state_;
  QMetaObject::invokeMethod(s->runner, [s] { s->refresh(); }, Qt::QueuedConnection);
}

void JobControl::pageEdited(int page) {
  const std::lock_guard<std::mutex> g(state_->editedLock);
  state_->edited.push_back(page);
}

JobRunner::JobRunner(QMainWindow* window) : QObject(window), window_(window) {}

JobRunner::~JobRunner() { stopAll(false); }

TextPage JobReading::extract_text(int page) const {
  if (job_.cancelled()) return {};
  TextPage text = inner_.extract_text(page);
  job_.progress(++done_, total_);
  return text;
}

bool JobRunner::run(Job job) {
  auto state = std::make_shared<JobState>();
  state->runner = this;
  for (PdfView* v : job.views) state->views.emplace_back(v);
  state->job = std::move(job);
  if (!state->job.background) showProgress(state);
  queue_.push_back(state);
  if (!current_) startNext();
  // Waiting here would hold the outer call until this job ends too.
  if (state->job.background && waiting_ > 0) return true;
  if (!state->ended) {
    QEventLoop loop;
    state->loop = &loop;
    ++waiting_;
    loop.exec();
    --waiting_;
    state->loop = nullptr;
  }
  return state->ended && state->phase.load() != Cancelled;
}

void JobRunner::showProgress(const std::shared_ptr<JobState>& state) {
  auto* dialog = new JobDialog(window_);
  dialog->setObjectName(QStringLiteral("jobProgress"));
  dialog->setWindowTitle(state->job.title);
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(new QLabel(state->job.title, dialog));
  state->bar = new QProgressBar(dialog);
  state->bar->setRange(0, 0);  // busy until the work tells how far it is
  state->bar->setMinimumWidth(320);
  layout->addWidget(state->bar);
  state->cancel = new QPushButton(L("Отмена", "Cancel"), dialog);
  layout->addWidget(state->cancel, 0, Qt::AlignRight);
  std::weak_ptr<JobState> weak = state;
  dialog->onCancel = [weak] {
    if (const auto s = weak.lock(); s && s->requestCancel()) s->refresh();
  };
  connect(state->cancel, &QPushButton::clicked, dialog, [dialog] { dialog->onCancel(); });
  state->dialog = dialog;
  dialog->setWindowModality(Qt::WindowModal);
  dialog->show();
}

void JobRunner::startNext() {
  while (!current_ && !queue_.empty()) {
    const std::shared_ptr<JobState> state = queue_.front();
    queue_.pop_front();
    if (state->phase.load() == Cancelled) {
      finish(state, true);
      continue;
    }
    current_ = state;
    if (state->job.background) {
      if (!note_) {
        note_ = new QLabel(window_);
        window_->statusBar()->addPermanentWidget(note_);
      }
      note_->setText(state->job.title);
      note_->show();
    }
    thread_ = QThread::create([state] {
      JobControl control(state);
      if (state->job.work) state->job.work(control);
    });
    connect(thread_, &QThread::finished, this, [this, state] {
      if (state != current_) return;  // already ended by stopAll
      thread_->wait();
      delete thread_;
      thread_ = nullptr;
      current_.reset();
      finish(state, true);
      startNext();
      if (whenIdle_ && !busy()) std::exchange(whenIdle_, nullptr)();
    });
    thread_->start();
  }
}

void JobRunner::finish(const std::shared_ptr<JobState>& state, bool notify) {
  state->ended = true;
  state->kept.clear();
  if (notify && !state->views.empty() && state->views.front()) {
    for (int page : state->edited) state->views.front()->pageContentEdited(page);
  }
  if (state->dialog) {
    state->dialog->onCancel = nullptr;
    delete state->dialog;
    state->dialog = nullptr;
  }
  if (state->job.background && note_) note_->hide();
  if (state->loop) state->loop->quit();
  if (notify && state->job.done) state->job.done(state->phase.load() != Cancelled);
}

void JobRunner::viewClosing(PdfView* view) {
  if (!view) return;
  for (const std::shared_ptr<JobState>& s : queue_) {
    if (s->involves(view)) s->requestCancel();
  }
  if (current_ && current_->involves(view)) {
    current_->requestCancel();
    if (view->doc) current_->kept.push_back(std::move(view->doc));
  }
}

void JobRunner::stopAll(bool notify) {
  for (const std::shared_ptr<JobState>& s : queue_) s->requestCancel();
  if (current_) {
    current_->requestCancel();
    // Every work looks at its cancel between steps; a result being written is finished.
    if (thread_) thread_->wait();
    delete thread_;
    thread_ = nullptr;
    const std::shared_ptr<JobState> s = std::move(current_);
    current_.reset();
    finish(s, notify);
  }
  while (!queue_.empty()) {
    const std::shared_ptr<JobState> s = queue_.front();
    queue_.pop_front();
    finish(s, notify);
  }
}

bool JobRunner::endAll(std::function<void()> then) {
  for (const std::shared_ptr<JobState>& s : queue_) s->requestCancel();
  if (current_) current_->requestCancel();
  if (!current_) {
    stopAll(true);  // only queued jobs, which never started
    return true;
  }
  // The running work returns on its own; the jobs behind it end without starting.
  whenIdle_ = std::move(then);
  if (!note_) {
    note_ = new QLabel(window_);
    window_->statusBar()->addPermanentWidget(note_);
  }
  note_->setText(L("Завершается запись… Окно закроется, когда она закончится.",
                   "Finishing a write… The window closes when it is done."));
  note_->show();
  return false;
}

JobRunner& MainWindow::jobs() {
  if (!jobRunner) jobRunner = new JobRunner(this);
  return *jobRunner;
}

}  // namespace quorvel::desktop
