#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

#include "desktop/stores/SettingsFile.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

void MainWindow::preferencesDialog() {
  QSettings settings;
  QDialog dialog(this);
  dialog.setWindowTitle(L("Настройки", "Preferences"));
  auto* form = new QFormLayout(&dialog);

  auto* theme = new QComboBox(&dialog);
  theme->setObjectName(QStringLiteral("themeCombo"));
  theme->addItem(L("Тёмная", "Dark"), QStringLiteral("dark"));
  theme->addItem(L("Светлая (системная)", "Light (system)"), QStringLiteral("light"));
  // Start-up applies the light theme only for exactly "light"; the dialog shows what applies.
  if (settings.value(QStringLiteral("ui/theme"), QStringLiteral("dark")).toString() == QLatin1String("light"))
    theme->setCurrentIndex(1);
  form->addRow(L("Тема", "Theme"), theme);

  auto* tool = new QComboBox(&dialog);
  tool->setObjectName(QStringLiteral("defaultToolCombo"));
  tool->addItem(L("Выбор", "Select"), static_cast<int>(PdfView::Select));
  tool->addItem(L("Маркер", "Highlighter"), static_cast<int>(PdfView::Highlight));
  tool->addItem(L("Карандаш", "Pen"), static_cast<int>(PdfView::Ink));
  const int storedTool = tool->findData(settings.value(QStringLiteral("ui/defaultMode"), 0).toInt());
  if (storedTool >= 0) tool->setCurrentIndex(storedTool);
  form->addRow(L("Инструмент при открытии", "Default tool"), tool);

  auto* autosave = new QSpinBox(&dialog);
  autosave->setObjectName(QStringLiteral("autosaveSpin"));
  autosave->setRange(0, 30);
  autosave->setSuffix(L(" мин", " min"));
  autosave->setSpecialValueText(QStringLiteral("выключено"));
  autosave->setValue(settings.value(QStringLiteral("autosave/intervalMin"), 2).toInt());
  form->addRow(L("Автосохранение каждые", "Autosave every"), autosave);

  auto* note = new QLabel(L("Тема применяется после перезапуска.", "The theme applies after a restart."), &dialog);
  note->setObjectName(QStringLiteral("muted"));
  form->addRow(note);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);

  if (dialog.exec() != QDialog::Accepted) return;

  const int mode = tool->currentData().toInt();
  const int minutes = autosave->value();
  keepSettingsPrivate();
  settings.setValue(QStringLiteral("ui/theme"), theme->currentData().toString());
  settings.setValue(QStringLiteral("ui/defaultMode"), mode);
  settings.setValue(QStringLiteral("autosave/intervalMin"), minutes);

  if (autosaveTimer) {
    if (minutes > 0) {
      autosaveTimer->setInterval(minutes * 60000);
      autosaveTimer->start();
    } else {
      autosaveTimer->stop();
    }
  }
  // Only the current tab takes the tool; the toolbar keeps showing its own choice.
  if (PdfView* view = currentView()) view->toolMode = static_cast<PdfView::Mode>(mode);
  statusBar()->showMessage(L("Настройки сохранены", "Preferences saved"), 0);
}

}  // namespace quorvel::desktop
