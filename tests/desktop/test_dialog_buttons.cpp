// The dark style sheet on message-box buttons: every word of a button shows whole, also where
// the desktop puts icons on dialog buttons, in both languages.
#include <QApplication>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QtTest>

#include "desktop/window/MainWindowCommandLine.h"
#include "desktop/window/lang.h"

namespace {

// The desktops that show icons on dialog buttons (the clipping was seen there).
class IconButtonsStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* ret) const override {
    if (hint == SH_DialogButtonBox_ButtonsHaveIcons) return 1;
    return QProxyStyle::styleHint(hint, option, widget, ret);
  }
};

}  // namespace

class DialogButtonsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QApplication::setStyle(new IconButtonsStyle);
    qApp->setStyleSheet(quorvel::desktop::styleSheetForTheme(QStringLiteral("dark")));
    QVERIFY(!qApp->styleSheet().isEmpty());
  }

  void buttonsShowTheirWholeText_data() {
    QTest::addColumn<int>("lang");
    QTest::newRow("en") << 1;
    QTest::newRow("ru") << 0;  // last: Qt's own texts stay Russian once translated
  }

  void buttonsShowTheirWholeText() {
    QFETCH(int, lang);
    quorvel::desktop::g_lang = lang;
    if (lang == 0) quorvel::desktop::installQtTranslations(*qApp);
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setText(QStringLiteral("«x.pdf»: ОПАСНО"));
    box.setStandardButtons(QMessageBox::Open | QMessageBox::Cancel);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    for (QAbstractButton* b : box.buttons()) {
      auto* button = qobject_cast<QPushButton*>(b);
      QVERIFY(button);
      // The room the style gives the label, with the icon (when there is one) beside it.
      QStyleOptionButton opt;
      opt.initFrom(button);
      opt.text = button->text();
      opt.icon = button->icon();
      opt.iconSize = button->iconSize();
      const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
      const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
      const int text = button->fontMetrics().horizontalAdvance(button->text().remove(QLatin1Char('&')));
      QVERIFY2(contents.width() >= icon + text,
               qPrintable(QStringLiteral("%1: %2 px for %3 px").arg(button->text()).arg(contents.width()).arg(icon + text)));
    }
  }
};

QTEST_MAIN(DialogButtonsTest)
#include "test_dialog_buttons.moc"
