#include "desktop/panels/DiffViewDialog.h"

#include <algorithm>
#include <functional>

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

class ShowWatcher : public QObject {
 public:
  ShowWatcher(QObject* parent, std::function<void()> onShow)
      : QObject(parent), onShow(std::move(onShow)) {}

  bool eventFilter(QObject* watched, QEvent* e) override {
    // The dialog's own show event comes after its children have been shown.
    if (watched == parent() && e->type() == QEvent::Show) onShow();
    return false;
  }

 private:
  std::function<void()> onShow;
};

// scrollToAnchor takes a missing anchor for the top of the text; a pane without it stays put.
bool hasAnchor(const QTextDocument* doc, const QString& name) {
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
    if (b.charFormat().anchorNames().contains(name)) return true;
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      if (it.fragment().charFormat().anchorNames().contains(name)) return true;
    }
  }
  return false;
}

}  // namespace

DiffViewDialog::DiffViewDialog(const QString& leftTitle, const QString& rightTitle,
                               const QString& leftHtml, const QString& rightHtml,
                               const QList<int>& changedPages, QWidget* parent)
    : QDialog(parent), changes(changedPages) {
  setWindowTitle(L("Сравнение версий", "Compare versions"));
  resize(1000, 700);

  auto* layout = new QVBoxLayout(this);
  auto* titles = new QHBoxLayout;
  // File names come from the user's disk: never let them be read as markup.
  for (const QString* title : {&leftTitle, &rightTitle}) {
    auto* label = new QLabel(QStringLiteral("<b>%1</b>").arg(title->toHtmlEscaped()), this);
    label->setTextFormat(Qt::RichText);
    titles->addWidget(label, 1);
  }
  layout->addLayout(titles);

  leftView = new QTextBrowser(this);
  rightView = new QTextBrowser(this);
  for (QTextBrowser* pane : {leftView, rightView}) pane->setOpenExternalLinks(false);
  leftView->setHtml(leftHtml);
  rightView->setHtml(rightHtml);

  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->addWidget(leftView);
  splitter->addWidget(rightView);
  splitter->setSizes({500, 500});
  layout->addWidget(splitter, 1);

  // Copy absolute pixel values; the flag stops the other bar from echoing the change back.
  auto follow = [this](QTextBrowser* from, QTextBrowser* to) {
    connect(from->verticalScrollBar(), &QScrollBar::valueChanged, this, [this, to](int value) {
      if (syncing) return;
      syncing = true;
      to->verticalScrollBar()->setValue(value);
      syncing = false;
    });
  };
  follow(leftView, rightView);
  follow(rightView, leftView);

  auto* bottom = new QHBoxLayout;
  auto* prev = new QPushButton(L("◀ Пред. изменение", "◀ Prev change"), this);
  auto* next = new QPushButton(L("След. изменение ▶", "Next change ▶"), this);
  positionLabel = new QLabel(this);
  auto* close = new QPushButton(L("Закрыть", "Close"), this);
  bottom->addWidget(prev);
  bottom->addWidget(next);
  bottom->addWidget(positionLabel, 1);
  bottom->addWidget(close);
  layout->addLayout(bottom);

  connect(prev, &QPushButton::clicked, this, [this] { goToChange(current - 1); });
  connect(next, &QPushButton::clicked, this, [this] { goToChange(current + 1); });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  // A hidden pane only remembers its anchor and scrolls when it is shown, each on its own, so
  // the panes would end at whichever was shown last, laid out at the width it had then. Once
  // the whole dialog is up, show the current change again with both panes in place.
  auto* onShow = new ShowWatcher(this, [this] {
    if (current >= 0) goToChange(current);
  });
  installEventFilter(onShow);

  prev->setEnabled(!changes.isEmpty());
  next->setEnabled(!changes.isEmpty());
  if (changes.isEmpty())
    positionLabel->setText(L("Различий не найдено", "No differences"));
  else
    goToChange(0);
}

DiffViewDialog::~DiffViewDialog() = default;

void DiffViewDialog::goToChange(int index) {
  if (changes.isEmpty()) return;
  current = std::clamp(index, 0, int(changes.size()) - 1);
  const int page = changes.at(current);
  const QString anchor = QStringLiteral("chg-%1").arg(page);
  for (QTextBrowser* pane : {leftView, rightView}) {
    if (hasAnchor(pane->document(), anchor)) pane->scrollToAnchor(anchor);
  }
  positionLabel->setText(L("Изменение %1 из %2 (стр. %3)", "Change %1 of %2 (p. %3)")
                             .arg(current + 1)
                             .arg(changes.size())
                             .arg(page));
}

}  // namespace quorvel::desktop
