// Thumbnails follow edits of a page's content that leave the page list as it is: text typed
// into the page with the text tool and form input render that page's image again, on real
// documents.
#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include "common/fixtures.h"
#include "core/engine.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/panels/ThumbnailPanel.h"
#include "test_pdfview_tools_input.h"

using quorvel::desktop::PdfView;
using quorvel::desktop::ThumbnailPanel;
using quorvel::test::DialogAnswerer;

namespace {

std::unique_ptr<quorvel::IDocument> openPdf(const std::string& pdf) {
  static auto engine = quorvel::make_engine(quorvel::EngineKind::Pdfium);
  return engine->open(quorvel::test::as_bytes(pdf), "");
}

// Two blank letter pages.
std::string blankPages() { return quorvel::test::make_pdf({{}, {}}); }

// One page with an empty text field at [100 600 400 640], in 24-point Helvetica.
std::string formPage() {
  return quorvel::test::build_pdf({
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] /DA (/Helv 24 Tf 0 g) "
      "/DR << /Font << /Helv 3 0 R >> >> >> >>",
      "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [5 0 R] >>",
      "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /Rect [100 600 400 640] /P 4 0 R "
      "/DA (/Helv 24 Tf 0 g) /F 4 >>",
  });
}

QImage thumb(const ThumbnailPanel& panel, int row) {
  const QIcon icon = panel.item(row)->icon();
  const QList<QSize> sizes = icon.availableSizes();
  return sizes.isEmpty() ? QImage() : icon.pixmap(sizes.first()).toImage().convertToFormat(QImage::Format_RGB32);
}

// Pixels darker than paper.
int inked(const QImage& img) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) n += qGray(img.pixel(x, y)) < 200 ? 1 : 0;
  return n;
}

struct Bound {
  PdfView view;
  ThumbnailPanel panel;
  explicit Bound(const std::string& pdf) {
    view.resize(700, 900);
    view.show();
    view.setDocument(openPdf(pdf));
    panel.resize(180, 600);
    panel.show();
    panel.setView(&view);
  }
};

}  // namespace

class ThumbnailContentTest : public QObject {
  Q_OBJECT

 private slots:
  void typedTextRendersThePageAgain() {
    Bound b(blankPages());
    QCOMPARE(b.view.pageCount(), 2);
    QTRY_VERIFY(!b.panel.rendering());
    QCOMPARE(inked(thumb(b.panel, 0)), 0);
    const QImage second = thumb(b.panel, 1);
    QSignalSpy content(&b.view, &PdfView::pageContentChanged);
    QSignalSpy structure(&b.view, &PdfView::pageStructureChanged);

    b.view.toolMode = PdfView::AddText;
    {
      DialogAnswerer dialog(QStringLiteral("MMMMMMMMMMMMMMMMMMMMMMMMMMMMMM"));
      quorvel::test::click(b.view, 0, 80, 700);
      QVERIFY(dialog.seen.shown);
    }
    QCOMPARE(content.count(), 1);
    QCOMPARE(content.at(0).at(0).toInt(), 0);
    QCOMPARE(structure.count(), 0);
    QTRY_VERIFY(inked(thumb(b.panel, 0)) > 20);
    QCOMPARE(thumb(b.panel, 1), second);

    // Edited while the panel shows another tab: the image is new when the panel comes back.
    PdfView other;
    other.resize(700, 900);
    other.setDocument(openPdf(blankPages()));
    b.panel.setView(&other);
    QTRY_VERIFY(!b.panel.rendering());
    {
      DialogAnswerer dialog(QStringLiteral("MMMMMMMMMMMMMMMMMMMMMMMMMMMMMM"));
      quorvel::test::click(b.view, 1, 80, 400);
      QVERIFY(dialog.seen.shown);
    }
    QCOMPARE(inked(thumb(b.panel, 1)), 0);
    b.panel.setView(&b.view);
    QTRY_VERIFY(inked(thumb(b.panel, 1)) > 20);
  }

  // The highlighted row is marked by its frame; the page image itself keeps white paper.
  void selectedPageKeepsItsPaper() {
    Bound b(blankPages());
    QTRY_VERIFY(!b.panel.rendering());
    b.panel.highlightPage(1);
    const QIcon icon = b.panel.item(0)->icon();
    const QSize size = icon.availableSizes().first();
    const QImage selected = icon.pixmap(size, QIcon::Selected).toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(selected, thumb(b.panel, 0));
    QCOMPARE(selected.pixel(selected.width() / 2, selected.height() / 2), qRgb(255, 255, 255));
  }

  void formInputRendersThePageAgain() {
    Bound b(formPage());
    QVERIFY(b.view.doc->has_form());
    QTRY_VERIFY(!b.panel.rendering());
    const QImage before = thumb(b.panel, 0);
    QVERIFY(!before.isNull());
    QSignalSpy content(&b.view, &PdfView::pageContentChanged);

    quorvel::test::click(b.view, 0, 110, 620);
    for (int i = 0; i < 12; ++i) QVERIFY(quorvel::test::key(b.view, Qt::Key_M, Qt::NoModifier, QStringLiteral("M")));
    QVERIFY(content.count() >= 12);
    for (const QList<QVariant>& args : content) QCOMPARE(args.at(0).toInt(), 0);
    // The field's text shows in the image: more ink within the field's box.
    const double s = before.width() / 612.0;
    const QRect field = QRectF(100 * s, (792 - 640) * s, 300 * s, 40 * s).toAlignedRect();
    QTRY_VERIFY(inked(thumb(b.panel, 0).copy(field)) > inked(before.copy(field)) + 10);
  }
};

QTEST_MAIN(ThumbnailContentTest)
#include "test_panels_thumbs_content.moc"
