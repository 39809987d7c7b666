#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <climits>
#include <clocale>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "common/time_bound.h"
#include "core/xfdf.h"

using namespace quorvel::annot;

namespace {

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<xfdf xmlns=\"http://ns.adobe.com/xfdf/\" xml:space=\"preserve\">\n";
const std::string kAnnotsOpen = "  <annots>\n";
const std::string kTail = "  </annots>\n</xfdf>\n";
const std::string kFffd = "\xEF\xBF\xBD";

double round3(double v) { return std::round(v * 1000) / 1000; }

Annotation make(AnnotType type, const std::string& id) {
  Annotation a;
  a.type = type;
  a.id = id;
  return a;
}

// The one annotation of a document holding just `xml`, or none.
std::optional<Annotation> read_one(const std::string& xml) {
  const auto got = from_xfdf(xml);
  if (got.size() != 1) return std::nullopt;
  return got[0];
}

class Locales : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!std::setlocale(LC_ALL, GetParam())) GTEST_SKIP() << "locale " << GetParam() << " missing";
  }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_P(Locales, DocumentFrame) {
  EXPECT_EQ(to_xfdf({}, ""), kHead + kAnnotsOpen + kTail);
  EXPECT_EQ(to_xfdf({}, "a&\"b<.pdf"),
            kHead + "  <f href=\"a&amp;&quot;b&lt;.pdf\"/>\n" + kAnnotsOpen + kTail);
}

TEST_P(Locales, AnnotationLines) {
  Annotation hl = make(AnnotType::Highlight, "A");
  hl.x0 = 10, hl.y0 = 20, hl.x1 = 110, hl.y1 = 32, hl.width = 2;

  Annotation note = make(AnnotType::Note, "n");
  note.page = 3, note.x0 = 1, note.y0 = 2, note.x1 = 3, note.y1 = 4;
  note.color = 0xAB112233;  // the top byte is not colour
  note.opacity = 0;
  note.text = "<&>\"'";

  Annotation ink = make(AnnotType::Ink, "i");
  ink.points = {{1, 2}, {3, 4}};
  ink.x0 = 99;  // the points decide the box

  Annotation arrow1 = make(AnnotType::Arrow, "");
  arrow1.points = {{5, 6}};

  Annotation arrow2 = make(AnnotType::Arrow, "");
  arrow2.page = -1;
  arrow2.points = {{10, 20}, {30, 5}};

  Annotation line3 = make(AnnotType::Line, "l");
  line3.points = {{1, 1}, {2, 2}, {9, 9}};

  Annotation free = make(AnnotType::FreeText, "f");
  free.text = "a\nb";
  free.width = 0.12345;
  free.opacity = 128;

  const struct {
    Annotation a;
    std::string line;
  } table[] = {
      {hl,
       "    <highlight page=\"0\" rect=\"10.000,20.000,110.000,32.000\" color=\"#FFEB3B\" name=\"A\" "
       "width=\"2.000\" opacity=\"1.000\" "
       "coords=\"10.000,32.000,110.000,32.000,10.000,20.000,110.000,20.000\"/>\n"},
      {note,
       "    <text page=\"3\" rect=\"1.000,2.000,3.000,4.000\" color=\"#112233\" name=\"n\" "
       "width=\"1.000\" opacity=\"0.000\"><contents>&lt;&amp;&gt;&quot;&apos;</contents></text>\n"},
      {ink,
       "    <ink page=\"0\" rect=\"1.000,2.000,3.000,4.000\" color=\"#FFEB3B\" name=\"i\" "
       "width=\"1.000\" opacity=\"1.000\"><inklist><gesture>1.000,2.000;3.000,4.000</gesture>"
       "</inklist></ink>\n"},
      {make(AnnotType::Ink, ""),
       "    <ink page=\"0\" rect=\"0.000,0.000,0.000,0.000\" color=\"#FFEB3B\" name=\"\" "
       "width=\"1.000\" opacity=\"1.000\"/>\n"},
      {arrow1,
       "    <line page=\"0\" rect=\"5.000,6.000,5.000,6.000\" color=\"#FFEB3B\" name=\"\" "
       "width=\"1.000\" opacity=\"1.000\"/>\n"},
      {arrow2,
       "    <line page=\"-1\" rect=\"10.000,5.000,30.000,20.000\" color=\"#FFEB3B\" name=\"\" "
       "width=\"1.000\" opacity=\"1.000\" start=\"10.000,20.000\" end=\"30.000,5.000\" "
       "head=\"None\" tail=\"ClosedArrow\"/>\n"},
      {line3,
       "    <line page=\"0\" rect=\"1.000,1.000,9.000,9.000\" color=\"#FFEB3B\" name=\"l\" "
       "width=\"1.000\" opacity=\"1.000\" start=\"1.000,1.000\" end=\"2.000,2.000\"/>\n"},
      {free,
       "    <freetext page=\"0\" rect=\"0.000,0.000,0.000,0.000\" color=\"#FFEB3B\" name=\"f\" "
       "width=\"0.123\" opacity=\"0.502\"><contents>a\nb</contents></freetext>\n"},
      {make(static_cast<AnnotType>(11), "x"), ""},
  };
  for (const auto& row : table) {
    EXPECT_EQ(to_xfdf({row.a}, ""), kHead + kAnnotsOpen + row.line + kTail) << row.a.id;
  }
}

TEST_P(Locales, RoundTripOfEveryKind) {
  std::vector<Annotation> in;
  const uint8_t opacities[] = {0, 128, 255, 7};
  for (int t = 0; t <= 10; ++t) {
    Annotation a = make(static_cast<AnnotType>(t), "id-" + std::to_string(t));
    a.page = t * 3;
    a.color = 0x010203u * static_cast<uint32_t>(t + 1);
    a.x0 = 10.12345 + t, a.y0 = -20.0004, a.x1 = 110.5, a.y1 = 32.9996;
    a.width = 0.5 + t * 1.23456;
    a.opacity = opacities[t % 4];
    a.text = t % 2 ? "текст <" + std::to_string(t) + "> & \"q\"\nline" : "";
    if (uses_path(a.type)) a.points = {{30.0004, 2}, {1.23456, 40.5}, {-7.25, 9}};
    if (a.type != AnnotType::Ink) a.points.resize(std::min<size_t>(a.points.size(), 2));
    in.push_back(a);
  }
  const auto out = from_xfdf(to_xfdf(in, "doc.pdf"));
  ASSERT_EQ(out.size(), in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const Annotation& a = in[i];
    const Annotation& b = out[i];
    SCOPED_TRACE(type_name(a.type));
    EXPECT_EQ(b.type, a.type);
    EXPECT_EQ(b.id, a.id);
    EXPECT_EQ(b.page, a.page);
    EXPECT_EQ(b.color, a.color);
    EXPECT_EQ(b.text, a.text);
    EXPECT_DOUBLE_EQ(b.width, round3(a.width));
    EXPECT_EQ(b.opacity, a.opacity == 7 ? 6 : a.opacity);
    const Rect r = bounding_rect(a);
    EXPECT_DOUBLE_EQ(b.x0, round3(r.x0));
    EXPECT_DOUBLE_EQ(b.y0, round3(r.y0));
    EXPECT_DOUBLE_EQ(b.x1, round3(r.x1));
    EXPECT_DOUBLE_EQ(b.y1, round3(r.y1));
    ASSERT_EQ(b.points.size(), a.points.size());
    for (size_t k = 0; k < a.points.size(); ++k) {
      EXPECT_DOUBLE_EQ(b.points[k].x, round3(a.points[k].x));
      EXPECT_DOUBLE_EQ(b.points[k].y, round3(a.points[k].y));
    }
  }
}

TEST_P(Locales, NumbersReadWithDecimalPoint) {
  const auto a = read_one("<square width=\"2.5\" rect=\"1.5,2.25,3,4\"/>");
  ASSERT_TRUE(a);
  EXPECT_DOUBLE_EQ(a->width, 2.5);
  EXPECT_DOUBLE_EQ(a->y0, 2.25);
}

INSTANTIATE_TEST_SUITE_P(AnyLocale, Locales, ::testing::Values("C", "ru_RU.UTF-8"));

TEST(XfdfPageOrigins, CoordinatesTravelInUserSpace) {
  // Page 1's crop box starts at (50, 100) in user space: XFDF, like the PDF, carries user space,
  // and the model page space. Page 0 starts at the origin.
  std::map<int, int> asked;
  const PageOrigins origins = [&](int page) {
    ++asked[page];
    return page == 1 ? Point{50, 100} : Point{};
  };
  Annotation hl = make(AnnotType::Highlight, "h");
  hl.page = 1, hl.x0 = 10, hl.y0 = 20, hl.x1 = 110, hl.y1 = 32;
  Annotation ink = make(AnnotType::Ink, "i");
  ink.page = 1, ink.points = {{1, 2}, {3, 4}};
  Annotation line = make(AnnotType::Line, "l");
  line.page = 1, line.points = {{0, 0}, {-50, -100}};
  Annotation note = make(AnnotType::Note, "n");
  note.x0 = 1, note.y0 = 2, note.x1 = 3, note.y1 = 4;
  const std::vector<Annotation> model{hl, ink, line, note};

  const std::string xml = to_xfdf(model, "", origins);
  EXPECT_EQ(xml, kHead + kAnnotsOpen +
                     "    <highlight page=\"1\" rect=\"60.000,120.000,160.000,132.000\" color=\"#FFEB3B\" "
                     "name=\"h\" width=\"1.000\" opacity=\"1.000\" "
                     "coords=\"60.000,132.000,160.000,132.000,60.000,120.000,160.000,120.000\"/>\n"
                     "    <ink page=\"1\" rect=\"51.000,102.000,53.000,104.000\" color=\"#FFEB3B\" name=\"i\" "
                     "width=\"1.000\" opacity=\"1.000\"><inklist><gesture>51.000,102.000;53.000,104.000"
                     "</gesture></inklist></ink>\n"
                     "    <line page=\"1\" rect=\"0.000,0.000,50.000,100.000\" color=\"#FFEB3B\" name=\"l\" "
                     "width=\"1.000\" opacity=\"1.000\" start=\"50.000,100.000\" end=\"0.000,0.000\"/>\n"
                     "    <text page=\"0\" rect=\"1.000,2.000,3.000,4.000\" color=\"#FFEB3B\" name=\"n\" "
                     "width=\"1.000\" opacity=\"1.000\"/>\n" +
                     kTail);
  EXPECT_EQ(asked, (std::map<int, int>{{0, 1}, {1, 1}}));  // once per page

  // Read back with the same origins: the model's numbers again. Without: user space.
  const auto back = from_xfdf(xml, origins);
  ASSERT_EQ(back.size(), model.size());
  for (size_t i = 0; i < model.size(); ++i) {
    SCOPED_TRACE(model[i].id);
    const Rect want = bounding_rect(model[i]);
    EXPECT_DOUBLE_EQ(back[i].x0, want.x0);
    EXPECT_DOUBLE_EQ(back[i].y0, want.y0);
    EXPECT_DOUBLE_EQ(back[i].x1, want.x1);
    EXPECT_DOUBLE_EQ(back[i].y1, want.y1);
    ASSERT_EQ(back[i].points.size(), model[i].points.size());
    for (size_t k = 0; k < model[i].points.size(); ++k) {
      EXPECT_DOUBLE_EQ(back[i].points[k].x, model[i].points[k].x);
      EXPECT_DOUBLE_EQ(back[i].points[k].y, model[i].points[k].y);
    }
  }
  const auto user = from_xfdf(xml);
  ASSERT_EQ(user.size(), model.size());
  EXPECT_DOUBLE_EQ(user[0].x0, 60);
  EXPECT_DOUBLE_EQ(user[0].y1, 132);

  // An origin that is no number moves nothing.
  const PageOrigins broken = [](int) { return Point{std::nan(""), 5}; };
  const auto moved = from_xfdf("<square page=\"0\" rect=\"10,20,30,40\"/>", broken);
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_DOUBLE_EQ(moved[0].x0, 10);
  EXPECT_DOUBLE_EQ(moved[0].y0, 15);
}

TEST(XfdfRead, ArrowWithOnePointComesBackAsLine) {
  Annotation arrow = make(AnnotType::Arrow, "a");
  arrow.points = {{5, 6}};
  const auto back = from_xfdf(to_xfdf({arrow}, ""));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].type, AnnotType::Line);
  EXPECT_TRUE(back[0].points.empty());
}

TEST(XfdfRead, Opacity) {
  const struct {
    const char* attr;
    int expected;
  } table[] = {
      {"opacity=\"0.5\"", 127}, {"opacity=\"1\"", 255},     {"opacity=\"2\"", 2},
      {"opacity=\"0\"", 0},     {"opacity=\"0.999\"", 254}, {"opacity=\"255.9\"", 255},
      {"opacity=\"256\"", 255}, {"opacity=\"1000\"", 255},  {"opacity=\"-0.5\"", 0},
      {"opacity=\"-300\"", 0},  {"opacity=\"nan\"", 255},   {"opacity=\"inf\"", 255},
      {"opacity=\"-inf\"", 255}, {"opacity=\"1e999\"", 255}, {"opacity=\"\"", 255},
      {"", 255},
  };
  for (const auto& row : table) {
    const auto a = read_one(std::string("<square ") + row.attr + "/>");
    ASSERT_TRUE(a) << row.attr;
    EXPECT_EQ(a->opacity, row.expected) << row.attr;
  }
}

TEST(XfdfRead, Colour) {
  const struct {
    const char* value;
    uint32_t expected;
  } table[] = {
      {"#e53935", 0xE53935}, {"#E53935", 0xE53935}, {"#000000", 0},
      {"red", kDefaultColor}, {"#F00", kDefaultColor}, {"", kDefaultColor},
      {"#+12345", kDefaultColor}, {"#-12345", kDefaultColor}, {"# 12345", kDefaultColor},
      {"#0x1234", kDefaultColor}, {"#12345G", kDefaultColor}, {"#1234567", kDefaultColor},
      {"e53935", kDefaultColor},
  };
  for (const auto& row : table) {
    const auto a = read_one(std::string("<square color=\"") + row.value + "\"/>");
    ASSERT_TRUE(a) << row.value;
    EXPECT_EQ(a->color, row.expected) << row.value;
  }
  EXPECT_EQ(read_one("<square page=\"1\"/>")->color, kDefaultColor);
}

TEST(XfdfRead, Page) {
  const struct {
    const char* value;
    int expected;
  } table[] = {
      {"3", 3},           {" -2", -2},          {"\t7", 7},
      {"+4x", 4},         {"1.9", 1},           {"x", 0},
      {"", 0},            {"- 5", 0},           {"2147483647", INT_MAX},
      {"2147483648", INT_MAX}, {"99999999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN}, {"-99999999999", INT_MIN},
  };
  for (const auto& row : table) {
    const auto a = read_one(std::string("<text page=\"") + row.value + "\"/>");
    ASSERT_TRUE(a) << row.value;
    EXPECT_EQ(a->page, row.expected) << row.value;
  }
}

TEST(XfdfRead, RectAndWidth) {
  const struct {
    const char* attrs;
    Rect box;
    double width;
  } table[] = {
      {"rect=\"1,2,3,4\"", {1, 2, 3, 4}, 1.0},
      {"rect=\"50,1,10,2\"", {50, 1, 10, 2}, 1.0},  // kept as written
      {"rect=\"1,2,3,4,5\"", {1, 2, 3, 4}, 1.0},
      {"rect=\" 1e1 , -2x,,4\"", {10, -2, 0, 4}, 1.0},
      {"rect=\"1,2,3\" width=\"2.5\"", {0, 0, 0, 0}, 2.5},
      {"rect=\"1;2;3;4\" width=\"abc\"", {0, 0, 0, 0}, 0.0},
      {"width=\"\"", {0, 0, 0, 0}, 1.0},
  };
  for (const auto& row : table) {
    const auto a = read_one(std::string("<circle ") + row.attrs + "/>");
    ASSERT_TRUE(a) << row.attrs;
    EXPECT_DOUBLE_EQ(a->x0, row.box.x0) << row.attrs;
    EXPECT_DOUBLE_EQ(a->y0, row.box.y0) << row.attrs;
    EXPECT_DOUBLE_EQ(a->x1, row.box.x1) << row.attrs;
    EXPECT_DOUBLE_EQ(a->y1, row.box.y1) << row.attrs;
    EXPECT_DOUBLE_EQ(a->width, row.width) << row.attrs;
  }
}

TEST(XfdfRead, AttributesMatchWholeNames) {
  const struct {
    const char* attrs;
    uint32_t color;
    const char* id;
  } table[] = {
      {"interior-color=\"#FF0000\" color=\"#00FF00\"", 0x00FF00, ""},
      {"interior-color=\"#FF0000\"", kDefaultColor, ""},
      {"title='say color=\"#00FF00\" name=\"x\"'", kDefaultColor, ""},
      {"xname=\"q\" name=\"r\"", kDefaultColor, "r"},
      {"name =\"x\"", kDefaultColor, "x"},  // XML allows white space around '='
      {"name='x' color='#00FF00'", 0x00FF00, "x"},  // and single quotes
      {"name=\"a&amp;b&lt;&#65;&#x416;\"", kDefaultColor, "a&b<AЖ"},
  };
  for (const auto& row : table) {
    const auto a = read_one(std::string("<square ") + row.attrs + "/>");
    ASSERT_TRUE(a) << row.attrs;
    EXPECT_EQ(a->color, row.color) << row.attrs;
    EXPECT_EQ(a->id, row.id) << row.attrs;
  }
  const auto line = read_one("<line leaderExtend=\"9\" start=\"1,2\" end=\"3,4\"/>");
  ASSERT_TRUE(line);
  ASSERT_EQ(line->points.size(), 2u);
  EXPECT_DOUBLE_EQ(line->points[1].x, 3);
}

TEST(XfdfRead, LineEndings) {
  // head is the ending at the start point, tail the one at the end point; the model draws
  // the arrowhead at its second point.
  const struct {
    const char* endings;
    AnnotType type;
    bool swapped;
  } table[] = {
      {"", AnnotType::Line, false},
      {"head=\"None\" tail=\"ClosedArrow\"", AnnotType::Arrow, false},
      {"tail=\"OpenArrow\"", AnnotType::Arrow, false},
      {"head=\"ROpenArrow\" tail=\"RClosedArrow\"", AnnotType::Arrow, false},
      {"head=\"ClosedArrow\"", AnnotType::Arrow, true},
      {"head=\"OpenArrow\" tail=\"None\"", AnnotType::Arrow, true},
      {"head=\"RClosedArrow\" tail=\"Circle\"", AnnotType::Arrow, true},
      {"head=\"Square\" tail=\"Slash\"", AnnotType::Line, false},
      {"head=\"None\" tail=\"None\"", AnnotType::Line, false},
      {"head=\"Butt\" tail=\"Diamond\"", AnnotType::Line, false},
      {"head=\"closedarrow\"", AnnotType::Line, false},
  };
  for (const auto& row : table) {
    const auto a =
        read_one(std::string("<line start=\"1,2\" end=\"3,4\" ") + row.endings + "/>");
    ASSERT_TRUE(a) << row.endings;
    EXPECT_EQ(a->type, row.type) << row.endings;
    ASSERT_EQ(a->points.size(), 2u) << row.endings;
    EXPECT_DOUBLE_EQ(a->points[0].x, row.swapped ? 3 : 1) << row.endings;
    EXPECT_DOUBLE_EQ(a->points[1].y, row.swapped ? 2 : 4) << row.endings;
  }
  const auto bare = read_one("<line head=\"ClosedArrow\"/>");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->type, AnnotType::Arrow);
  EXPECT_TRUE(bare->points.empty());
  for (const char* partial : {"start=\"1,2\"", "start=\"1,2\" end=\"3\"", "start=\"\" end=\"3,4\""}) {
    const auto a = read_one(std::string("<line ") + partial + "/>");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->points.empty()) << partial;
  }
}

TEST(XfdfRead, ChildText) {
  const struct {
    const char* body;
    const char* text;
  } table[] = {
      {"<contents-richtext><body><p>rich</p></body></contents-richtext><contents>plain</contents>",
       "plain"},
      {"<contents-richtext>rich only</contents-richtext>", ""},
      {"<contents>a</contents><contents>b</contents>", "a"},
      {"<contents xml:lang=\"en\">t</contents>", "t"},
      {"<contents/><contents>late</contents>", ""},
      {"<contents>a &amp;amp; &#38; &#x416;</contents>", "a &amp; & Ж"},
      {"<contents>two\nlines</contents>", "two\nlines"},
      {"<contents><![CDATA[<b>&]]></contents>", "<b>&"},
      {"<contents>a<!-- no --><?pi no?>b</contents>", "ab"},
      {"<popup><contents>not its own</contents></popup><contents>own</contents>", "own"},
  };
  for (const auto& row : table) {
    const auto a = read_one(std::string("<text page=\"0\">") + row.body + "</text>");
    ASSERT_TRUE(a) << row.body;
    EXPECT_EQ(a->text, row.text) << row.body;
  }
  const auto ink = read_one(
      "<ink name=\"i\"><inklist><gesture>1,2;3,4</gesture><gesture>5,6</gesture></inklist></ink>");
  ASSERT_TRUE(ink);
  ASSERT_EQ(ink->points.size(), 2u);
  EXPECT_DOUBLE_EQ(ink->points[1].y, 4);
}

// The document is read by XML's rules: markup inside comments, processing instructions and
// CDATA sections is no element, and an error ends the reading with what ended before it.
TEST(XfdfRead, ReadsTheDocumentAsXml) {
  const struct {
    const char* xml;
    std::vector<std::string> ids;
  } table[] = {
      {"", {}},
      {"<xfdf><annots></annots></xfdf>", {}},
      {"<highlight\tname=\"tab\"/>", {"tab"}},
      {"<highlight\n name=\"n\"/>", {"n"}},
      {"<annots><square name=\"s\"></square><circle name=\"c\"/></annots>", {"s", "c"}},
      {"<annots><!-- <square page=\"0\" rect=\"50,50,550,750\" color=\"#FF0000\"/> --></annots>", {}},
      {"<annots><![CDATA[<ink name=\"i\"/>]]><?pi <square name=\"p\"/>?><square name=\"real\"/></annots>",
       {"real"}},
      {"<annots><textx name=\"t\"/><square name=\"a\" title=\"x>y\"/></annots>", {"a"}},
      // an annotation's children are not annotations
      {"<annots><text name=\"o\"><square name=\"in\"/></text><circle name=\"after\"/></annots>", {"o", "after"}},
      // errors: what ended before them stays
      {"<annots><square name=\"a\"/><circle name=\"b\"", {"a"}},
      {"<annots><square name=\"a\"/><text name=\"u\"><contents>lost", {"a"}},
      {"<annots><square name=\"w\"><contents>x</contents></circle></annots>", {}},
      {"junk <square name=\"a\"/>", {}},
      {"<circle name=\"b\" <text name=\"c\"/>", {}},
      {"<square name=\"first\" name=\"second\"/>", {}},
      {"<square name=\"unclosed color=\"#00FF00\"/>", {}},
      {"<annots><square name=\"a&bogus;\"/></annots>", {}},
      // declared entities are never expanded: the document is refused
      {"<!DOCTYPE x [<!ENTITY e \"boom\">]><annots><square name=\"&e;\"/></annots>", {}},
      {"<!DOCTYPE x [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]><annots><square name=\"&b;\"/></annots>",
       {}},
  };
  for (const auto& row : table) {
    const auto got = from_xfdf(row.xml);
    std::vector<std::string> ids;
    for (const Annotation& a : got) ids.push_back(a.id);
    EXPECT_EQ(ids, row.ids) << row.xml;
  }
  const auto raw = read_one("<square name=\"a\" title=\"x>y\" page=\"5\"/>");
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->page, 5);
}

TEST(XfdfRead, CountsKindsItDoesNotHave) {
  const XfdfRead got = read_xfdf(
      "<?xml version=\"1.0\"?><xfdf xmlns=\"http://ns.adobe.com/xfdf/\"><annots>"
      "<polygon page=\"0\" vertices=\"1,2;3,4;5,6\"/><polyline page=\"0\"/><stamp page=\"0\"/>"
      "<caret page=\"0\"><popup page=\"0\"/></caret><fileattachment page=\"0\"/><sound page=\"0\"/>"
      "<redact page=\"0\"><text name=\"inside\" page=\"0\"/></redact>"
      "<square name=\"kept\" page=\"0\"><popup page=\"0\"/></square>"
      "<!-- <stamp page=\"0\"/> --></annots><fields><field name=\"f\"/></fields><ids original=\"a\"/></xfdf>");
  ASSERT_EQ(got.annotations.size(), 1u);
  EXPECT_EQ(got.annotations[0].id, "kept");
  EXPECT_EQ(got.unknown, 7);
}

TEST(XfdfRead, FileInTheShapeOtherReadersWrite) {
  const std::string xml = quorvel::test::read_file(quorvel::test::data_dir() + "/other_reader.xfdf");
  ASSERT_FALSE(xml.empty());
  const auto got = from_xfdf(xml);
  ASSERT_EQ(got.size(), 7u);

  EXPECT_EQ(got[0].type, AnnotType::Note);
  EXPECT_EQ(got[0].id, "note-1");
  EXPECT_EQ(got[0].text, "Check this & that");
  EXPECT_EQ(got[0].color, 0xFFFF00u);
  EXPECT_EQ(got[0].opacity, 191);
  EXPECT_DOUBLE_EQ(got[0].y1, 720.25);

  EXPECT_EQ(got[1].type, AnnotType::Rectangle);
  EXPECT_EQ(got[1].color, 0xFF0000u);
  EXPECT_EQ(got[1].page, 1);
  EXPECT_DOUBLE_EQ(got[1].width, 2.5);
  EXPECT_DOUBLE_EQ(got[1].y1, 220);

  EXPECT_EQ(got[2].type, AnnotType::Arrow);
  EXPECT_EQ(got[2].id, "arrow-1");
  ASSERT_EQ(got[2].points.size(), 2u);
  EXPECT_DOUBLE_EQ(got[2].points[0].x, 10);
  EXPECT_DOUBLE_EQ(got[2].points[1].x, 200);

  EXPECT_EQ(got[3].type, AnnotType::Line);
  EXPECT_EQ(got[3].color, kDefaultColor);
  ASSERT_EQ(got[3].points.size(), 2u);
  EXPECT_DOUBLE_EQ(got[3].points[1].y, 420);

  EXPECT_EQ(got[4].type, AnnotType::Ink);
  EXPECT_EQ(got[4].color, 0u);
  EXPECT_DOUBLE_EQ(got[4].width, 3);
  ASSERT_EQ(got[4].points.size(), 3u);  // the first gesture
  EXPECT_DOUBLE_EQ(got[4].points[2].x, 70);

  EXPECT_EQ(got[5].type, AnnotType::Ellipse);
  EXPECT_EQ(got[5].id, "circle-1");
  EXPECT_EQ(got[5].page, 3);
  EXPECT_DOUBLE_EQ(got[5].x1, 3);

  EXPECT_EQ(got[6].type, AnnotType::Highlight);
  EXPECT_EQ(got[6].opacity, 127);
  EXPECT_EQ(got[6].text, "Две\nстроки");
}

TEST(XfdfWrite, TextXmlCannotCarryBecomesReplacement) {
  const struct {
    std::string in;
    std::string out;
  } table[] = {
      {"plain \t\n\r\x7f", "plain \t\n\r\x7f"},
      {"Привет €😀 \xEF\xBF\xBD", "Привет €😀 \xEF\xBF\xBD"},
      {std::string("a\0b\x01\x1f", 5), "a" + kFffd + "b" + kFffd + kFffd},
      {"\xC3", kFffd},
      {"\xC3\xA9\xC3", "\xC3\xA9" + kFffd},
      {"\xC0\xAF", kFffd + kFffd},                  // overlong
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd},      // overlong
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},      // surrogate
      {"\xEF\xBF\xBE|\xEF\xBF\xBF", kFffd + "|" + kFffd},  // not XML characters
      {"\xF0\x9F\x98", kFffd},                      // cut at the end
      {"\xF0\x9F\x98x", kFffd + "x"},
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // beyond U+10FFFF
      {"\x80\xBF\xF5\xFF", kFffd + kFffd + kFffd + kFffd},
  };
  for (const auto& row : table) {
    Annotation a = make(AnnotType::Note, row.in);
    a.text = row.in;
    const auto back = from_xfdf(to_xfdf({a}, ""));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].text, row.out);
    EXPECT_EQ(back[0].id, row.out);
  }
}

TEST(XfdfWrite, HostileTextPassesXmllint) {
  quorvel::test::TempDir dir;
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte.push_back(static_cast<char>(b));
  const std::string hostile[] = {
      every_byte,
      "\"'<>&<!--]]>--></contents></text><text page=\"1\">",
      "\xED\xA0\x80\xC0\xAF\xF4\x90\x80\x80\xEF\xBF\xBE\xC3",
      "&#0;&#x1;&bogus;&",
  };
  std::vector<Annotation> annots;
  for (int t = 0; t <= 10; ++t) {
    for (const std::string& text : hostile) {
      Annotation a = make(static_cast<AnnotType>(t), text);
      a.text = text;
      if (uses_path(a.type)) a.points = {{1, 2}, {3, 4}};
      annots.push_back(a);
    }
  }
  const std::string xml = to_xfdf(annots, every_byte);
  ASSERT_TRUE(quorvel::test::write_file(dir.file("out.xfdf"), xml));
  std::string log;
  const int rc = quorvel::test::run_program({"xmllint", "--noout", dir.file("out.xfdf")}, &log);
  if (rc == -1) GTEST_SKIP() << "xmllint missing";
  EXPECT_EQ(rc, 0) << log.substr(0, 2000);
  EXPECT_EQ(from_xfdf(xml).size(), annots.size());
}

TEST(XfdfRead, LinearOnUnclosedAndBrokenTags) {
  // Thousands of elements without closing tags spread over 10 MB, of every recognised name.
  const char* names[] = {"highlight", "underline", "strikeout", "squiggly", "ink",
                         "text",      "square",    "circle",    "line",     "freetext"};
  const std::string filler(2500, 'x');
  std::string unclosed;
  int count = 0;
  while (unclosed.size() < 10'000'000) {
    unclosed += std::string("<") + names[count % 10] + " page=\"1\" rect=\"0,0,1,1\">" + filler;
    ++count;
  }
  // One start tag after another before a single '>'.
  std::string stacked;
  while (stacked.size() < 10'000'000) stacked += "<highlight ";
  stacked += ">";
  // Long quoted values that never close, each in its own tag.
  std::string open_quotes;
  while (open_quotes.size() < 10'000'000) open_quotes += "<square name=\"" + filler + ">";

  const struct {
    const char* what;
    const std::string& xml;
    size_t annotations;
  } table[] = {
      {"unclosed", unclosed, 0},  // nothing ends
      {"stacked", stacked, 0},
      {"open quotes", open_quotes, 0},
  };
  for (const auto& row : table) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(from_xfdf(row.xml).size(), row.annotations) << row.what;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds * 1000, quorvel::test::time_bound_ms(1000)) << row.what;
  }
}

}  // namespace
