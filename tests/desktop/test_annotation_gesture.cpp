// What a finished drag of each drawing tool makes, and how handles resize, checked without a
// widget.
#include <QtTest>

#include <array>
#include <optional>

#include "desktop/viewer/AnnotationGesture.h"

using quorvel::annot::Annotation;
using quorvel::annot::AnnotType;
using quorvel::annot::Point;
namespace viewer = quorvel::desktop::viewer;
using viewer::Gesture;
using viewer::ResizeHandle;

namespace {

using Box = std::array<double, 4>;
using Points = std::vector<Point>;

constexpr uint32_t kPen = 0x112233, kMarker = 0xFFEB3B;

Gesture gesture(int mode, Point start, Point end, Points ink = {}, std::string text = {}) {
  return Gesture{mode, 2, start, end, std::move(ink), {kPen, kMarker, 3.0}, std::move(text)};
}

}  // namespace

Q_DECLARE_METATYPE(std::optional<AnnotType>)
Q_DECLARE_METATYPE(Gesture)
Q_DECLARE_METATYPE(ResizeHandle)
Q_DECLARE_METATYPE(Box)
Q_DECLARE_METATYPE(Points)

class AnnotationGestureTest : public QObject {
  Q_OBJECT

 private slots:
  void gestureMakes_data() {
    QTest::addColumn<Gesture>("g");
    QTest::addColumn<bool>("asksText");
    QTest::addColumn<std::optional<AnnotType>>("type");
    QTest::addColumn<uint32_t>("color");
    QTest::addColumn<Box>("box");
    QTest::addColumn<Points>("points");
    const Point a{100, 200}, b{50, 260};  // dragged up and to the left
    const Box ab{50, 200, 100, 260}, none{0, 0, 0, 0};
    const std::optional<AnnotType> nothing;
    using V = viewer::ToolMode;
    QTest::newRow("highlight") << gesture(V::Highlight, a, b) << false
                               << std::optional(AnnotType::Highlight) << kMarker << ab << Points{};
    QTest::newRow("highlight, flat") << gesture(V::Highlight, a, {60, 200}) << false << nothing
                                     << 0u << none << Points{};
    QTest::newRow("underline") << gesture(V::Underline, a, b) << false
                               << std::optional(AnnotType::Underline) << kPen << ab << Points{};
    QTest::newRow("strikeout") << gesture(V::Strikeout, a, b) << false
                               << std::optional(AnnotType::StrikeOut) << kPen << ab << Points{};
    QTest::newRow("squiggly") << gesture(V::Squiggly, a, b) << false
                              << std::optional(AnnotType::Squiggly) << kPen << ab << Points{};
    QTest::newRow("rectangle") << gesture(V::Rectangle, a, b) << false
                               << std::optional(AnnotType::Rectangle) << kPen << ab << Points{};
    QTest::newRow("ellipse, a click") << gesture(V::Ellipse, a, a) << false << nothing << 0u
                                      << none << Points{};
    QTest::newRow("ellipse") << gesture(V::Ellipse, a, b) << false
                             << std::optional(AnnotType::Ellipse) << kPen << ab << Points{};
    QTest::newRow("ink") << gesture(V::Ink, a, b, {a, {70, 230}, b}) << false
                         << std::optional(AnnotType::Ink) << kPen << none
                         << Points{a, {70, 230}, b};
    QTest::newRow("ink, one point") << gesture(V::Ink, a, a, {a}) << false << nothing << 0u << none
                                    << Points{};
    QTest::newRow("line") << gesture(V::Line, a, b) << false << std::optional(AnnotType::Line)
                          << kPen << none << Points{a, b};
    QTest::newRow("arrow, just past the least extent")
        << gesture(V::Arrow, a, {101.5, 200}) << false << std::optional(AnnotType::Arrow) << kPen
        << none << Points{a, {101.5, 200}};
    QTest::newRow("line, within the least extent")
        << gesture(V::Line, a, {101, 201}) << false << nothing << 0u << none << Points{};
    QTest::newRow("free text") << gesture(V::FreeText, a, b, {}, "слово") << true
                               << std::optional(AnnotType::FreeText) << kPen << ab << Points{};
    QTest::newRow("free text, cancelled") << gesture(V::FreeText, a, b) << true << nothing << 0u
                                          << none << Points{};
    QTest::newRow("free text, a click: nothing asked")
        << gesture(V::FreeText, a, a, {}, "слово") << false << nothing << 0u << none << Points{};
    QTest::newRow("note, at the release")
        << gesture(V::Note, a, b, {}, "заметка") << true << std::optional(AnnotType::Note)
        << 0xFF8A00u << Box{50, 260, 66, 276} << Points{};
    QTest::newRow("note, cancelled") << gesture(V::Note, a, b) << true << nothing << 0u << none
                                     << Points{};
    // Words of six and five letters and a space: 12 units at 14 points, 0.62 of it, and the margin.
    QTest::newRow("stamp, sized to its words")
        << gesture(V::Stamp, a, a, {}, "СРОЧНО КОПИЯ") << true
        << std::optional(AnnotType::FreeText) << 0xC62828u
        << Box{100, 200, 100 + 12 * 14 * 0.62 + 24, 228} << Points{};
    QTest::newRow("page text is no annotation")
        << gesture(V::AddText, a, a, {}, "текст") << true << nothing << 0u << none << Points{};
    QTest::newRow("select") << gesture(V::Select, a, b) << false << nothing << 0u << none
                            << Points{};
    QTest::newRow("eraser") << gesture(V::Eraser, a, b) << false << nothing << 0u << none
                            << Points{};
  }
  void gestureMakes() {
    QFETCH(Gesture, g);
    QFETCH(bool, asksText);
    QFETCH(std::optional<AnnotType>, type);
    QFETCH(uint32_t, color);
    QFETCH(Box, box);
    QFETCH(Points, points);
    QCOMPARE(viewer::gestureAsksText(g), asksText);
    const std::optional<Annotation> made = viewer::annotationFromGesture(g);
    QCOMPARE(made.has_value(), type.has_value());
    if (!made) return;
    QCOMPARE(made->type, *type);
    QCOMPARE(made->page, 2);
    QVERIFY(made->id.empty());
    QCOMPARE(made->color, color);
    QCOMPARE(int(made->opacity), 255);
    QCOMPARE((Box{made->x0, made->y0, made->x1, made->y1}), box);
    QCOMPARE(made->points.size(), points.size());
    for (size_t i = 0; i < points.size(); ++i) {
      QCOMPARE(made->points[i].x, points[i].x);
      QCOMPARE(made->points[i].y, points[i].y);
    }
    QCOMPARE(made->text, g.text);
  }

  void offThePageMakesNothing() {
    Gesture g = gesture(viewer::Rectangle, {0, 0}, {50, 50});
    g.page = -1;
    QVERIFY(!viewer::annotationFromGesture(g));
  }

  void handleResizes_data() {
    QTest::addColumn<ResizeHandle>("handle");
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    QTest::addColumn<Box>("box");
    // The box runs from (100, 100) to (200, 150); page y grows upwards.
    QTest::newRow("top left") << ResizeHandle::TopLeft << -10.0 << 5.0 << Box{90, 100, 200, 155};
    QTest::newRow("top") << ResizeHandle::Top << -10.0 << 5.0 << Box{100, 100, 200, 155};
    QTest::newRow("top right") << ResizeHandle::TopRight << 10.0 << 5.0 << Box{100, 100, 210, 155};
    QTest::newRow("right") << ResizeHandle::Right << 10.0 << 5.0 << Box{100, 100, 210, 150};
    QTest::newRow("bottom right") << ResizeHandle::BottomRight << 10.0 << -5.0
                                  << Box{100, 95, 210, 150};
    QTest::newRow("bottom") << ResizeHandle::Bottom << 10.0 << -5.0 << Box{100, 95, 200, 150};
    QTest::newRow("bottom left") << ResizeHandle::BottomLeft << -10.0 << -5.0
                                 << Box{90, 95, 200, 150};
    QTest::newRow("left") << ResizeHandle::Left << -10.0 << 5.0 << Box{90, 100, 200, 150};
    QTest::newRow("left past the right edge: flipped")
        << ResizeHandle::Left << 150.0 << 0.0 << Box{200, 100, 250, 150};
    QTest::newRow("squeezed: kept at the least side")
        << ResizeHandle::Top << 0.0 << -49.0 << Box{100, 100, 200, 104};
    QTest::newRow("none") << ResizeHandle::None << 10.0 << 10.0 << Box{100, 100, 200, 150};
  }
  void handleResizes() {
    QFETCH(ResizeHandle, handle);
    QFETCH(double, dx);
    QFETCH(double, dy);
    QFETCH(Box, box);
    Annotation a;
    a.type = AnnotType::Rectangle;
    a.x0 = 100, a.y0 = 100, a.x1 = 200, a.y1 = 150;
    viewer::resizeByHandle(a, handle, dx, dy);
    QCOMPARE((Box{a.x0, a.y0, a.x1, a.y1}), box);
  }

  void lineEndsMoveAlone() {
    Annotation a;
    a.type = AnnotType::Line;
    a.points = {{10, 10}, {50, 50}};
    viewer::resizeByHandle(a, ResizeHandle::LineEnd, 5, -5);
    QCOMPARE(a.points[0].x, 10.0);
    QCOMPARE(a.points[1].x, 55.0);
    QCOMPARE(a.points[1].y, 45.0);
    viewer::resizeByHandle(a, ResizeHandle::LineStart, -10, 0);
    QCOMPARE(a.points[0].x, 0.0);
    Annotation bare;  // a line without its points is left as it is
    bare.type = AnnotType::Line;
    viewer::resizeByHandle(bare, ResizeHandle::LineEnd, 5, 5);
    QVERIFY(bare.points.empty());
  }
};

QTEST_GUILESS_MAIN(AnnotationGestureTest)
#include "test_annotation_gesture.moc"
