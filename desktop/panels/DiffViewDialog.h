// Two versions of a document side by side, scrolled together, with a step through the pages
// that changed. The caller builds both HTML columns with a "chg-<page>" anchor before each
// changed page; the dialog knows nothing of documents or of the compare itself.
#pragma once

#include <QDialog>
#include <QList>

class QLabel;
class QTextBrowser;

namespace quorvel::desktop {

class DiffViewDialog : public QDialog {
  Q_OBJECT

 public:
  DiffViewDialog(const QString& leftTitle, const QString& rightTitle, const QString& leftHtml,
                 const QString& rightHtml, const QList<int>& changedPages,
                 QWidget* parent = nullptr);
  ~DiffViewDialog() override;

  // Shows the change at index, clamped to the list; nothing without changes.
  void goToChange(int index);

 private:
  QTextBrowser* leftView = nullptr;
  QTextBrowser* rightView = nullptr;
  QLabel* positionLabel = nullptr;
  QList<int> changes;
  int current = -1;
  bool syncing = false;
};

}  // namespace quorvel::desktop
