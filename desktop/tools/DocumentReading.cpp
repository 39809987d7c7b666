#include "desktop/tools/DocumentReading.h"

#include <atomic>
#include <memory>

#include "desktop/viewer/PdfView.h"
#include "desktop/window/JobRunner.h"
#include "desktop/window/MainWindow.h"

namespace quorvel::desktop {

bool readDocument(QObject* from, PdfView& view, const QString& title, const std::function<void(const IDocument&)>& read) {
  std::shared_ptr<IDocument> reader = view.keptTextReader();
  if (!reader) return false;
  MainWindow* window = nullptr;
  for (QObject* o = from; o && !window; o = o->parent()) window = qobject_cast<MainWindow*>(o);
  if (!window) {
    read(*reader);
    return true;
  }
  JobRunner::Job job;
  job.title = title;
  job.views = {&view};
  // The call returns only once the work has, so `read` outlives it.
  job.work = [reader, &read](JobControl& c) {
    std::atomic<long long> done{0};
    read(JobReading(*reader, c, reader->page_count(), done));
  };
  return window->jobs().run(std::move(job));
}

}  // namespace quorvel::desktop
