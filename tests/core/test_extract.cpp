#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/extract.h"

using namespace quorvel;
using namespace quorvel::extract;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs pairs_of(const std::vector<Entity>& entities) {
  Pairs out;
  for (const Entity& e : entities) out.emplace_back(e.label, e.value);
  return out;
}

struct EntityCase {
  std::string text;
  Pairs expected;
};

TEST(ExtractEntities, Table) {
  const EntityCase cases[] = {
      {"ИНН: 1234567890", {{"ИНН", "1234567890"}}},
      {"ИНН 123456789012 и ИНН123456789012", {{"ИНН", "123456789012"}}},
      {"инн: 1234567890", {}},
      {"+7 (000) 123-45-67", {{"Телефон", "+7 (000) 123-45-67"}}},
      {"звоните 80001234567", {{"Телефон", "80001234567"}}},
      {"8 900\n123 45 67", {{"Телефон", "8 900\n123 45 67"}}},
      {"Дата: 01.02.2024.", {{"Дата", "01.02.2024"}}},
      {"1.02.2024", {}},
      {"1 234 567,89 руб", {{"Сумма", "1 234 567,89"}}},
      {"12345.67", {{"Сумма", "12345.67"}}},
      {"3.14", {{"Сумма", "3.14"}}},
      {"1,5", {}},
      // The class stands for single bytes: a no-break space is two of them.
      {"1\xc2\xa0" "234,56", {{"Сумма", "234,56"}}},
      {"Итого: 1.234.567,89", {{"Сумма", "567,89"}}},
      {"10,00 и 10,00", {{"Сумма", "10,00"}}},
      {"пишите a.b-c@mail.example.ru, или x@y.ru.", {{"Email", "a.b-c@mail.example.ru"}, {"Email", "x@y.ru"}}},
      // Values are whole tokens: nothing is cut out of a longer run of letters or digits.
      {"x@y.abcdefghijklmnop", {}},
      {"Счёт 40702810900000012345", {}},
      {"тел.89001234567доб", {}},
      {"«01.02.2024» и №15.03.2024", {{"Дата", "01.02.2024"}, {"Дата", "15.03.2024"}}},
      {"ИНН 1234567890123", {}},
      {"v2.10 и 2.10", {{"Сумма", "2.10"}}},
      {"a@x.ru a@x.ru", {{"Email", "a@x.ru"}}},
      // Row order first, then text order.
      {"ИНН 7701234567 от 01.02.2024 b@x.ru a@x.ru",
       {{"Email", "b@x.ru"}, {"Email", "a@x.ru"}, {"Дата", "01.02.2024"}, {"ИНН", "7701234567"}}},
      {"", {}},
  };
  for (const EntityCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(pairs_of(extract_entities(c.text)), c.expected);
  }
}

TEST(ExtractEntities, HostileInputEndsWithoutCrash) {
  EXPECT_TRUE(extract_entities(std::string(100000, 'a')).empty());
  EXPECT_TRUE(extract_entities("8" + std::string(100000, ' ')).empty());
  EXPECT_TRUE(extract_entities(std::string(100000, '1')).empty());
  std::string at_signs;
  for (int i = 0; i < 20000; ++i) at_signs += "a@a";
  EXPECT_TRUE(extract_entities(at_signs).empty());
  // A value after a long stretch is still found.
  EXPECT_EQ(pairs_of(extract_entities(std::string(100000, ' ') + "x@y.ru")), (Pairs{{"Email", "x@y.ru"}}));
}

// A run laid out left to right, characters 10 points wide, one box per byte.
TextRun laid_out(const std::string& text, double x, double y) {
  TextRun run{text, x, y + 12, x + 10.0 * static_cast<double>(text.size()), y, {}};
  for (size_t i = 0; i < text.size(); ++i)
    run.chars.push_back(CharBox{i, x + 10.0 * static_cast<double>(i), y + 12, x + 10.0 * static_cast<double>(i + 1), y});
  return run;
}

using Boxes = std::vector<std::tuple<double, double, double, double>>;

Boxes boxes_of(const std::vector<annot::Rect>& rects) {
  Boxes out;
  for (const annot::Rect& r : rects) out.emplace_back(r.x0, r.y0, r.x1, r.y1);
  return out;
}

TEST(PiiRects, OccurrencesInsideRuns) {
  TextPage page{{laid_out("a a a", 0, 0), laid_out("x aa y", 100, 50)}};
  // Overlapping occurrences each get a box, widened by a point; run order, then needle order.
  EXPECT_EQ(boxes_of(pii_rects(page, {"a a", "y"})),
            (Boxes{{-1, -1, 31, 13}, {19, -1, 51, 13}, {149, 49, 161, 63}}));
  // A place found by two needles is boxed twice.
  EXPECT_EQ(pii_rects(page, {"aa", "aa"}).size(), 2u);
  // An occurrence inside a longer token of letters or digits of any script is none.
  TextPage tokens{{laid_out("xaay 10,005 Ð¹10,00 10,00", 0, 0)}};
  EXPECT_EQ(boxes_of(pii_rects(tokens, {"aa", "10,00"})), (Boxes{{219, -1, 271, 13}}));  // one box a byte

  // Boxes are normalised whatever the order of a character's edges.
  TextRun flipped{"ab", 0, 0, 0, 0, {CharBox{0, 20, 5, 10, 15}, CharBox{1, 30, 5, 20, 15}}};
  EXPECT_EQ(boxes_of(pii_rects(TextPage{{flipped}}, {"ab"})), (Boxes{{9, 4, 31, 16}}));

  // Without characters in the range, the run's own box, not widened, for every occurrence.
  TextRun bare{"id id", 5, 90, 75, 80, {}};
  EXPECT_EQ(boxes_of(pii_rects(TextPage{{bare}}, {"id"})), (Boxes{{5, 80, 75, 90}, {5, 80, 75, 90}}));

  EXPECT_TRUE(pii_rects(page, {}).empty());
  EXPECT_TRUE(pii_rects(page, {"", "zzzzzzz"}).empty());
  EXPECT_TRUE(pii_rects(TextPage{}, {"a"}).empty());
  EXPECT_TRUE(pii_rects(TextPage{{TextRun{}}}, {"a"}).empty());
}

TEST(PiiRects, ValuesAcrossRuns) {
  // A phone number broken over two lines: the entity's value holds the line feed of the page text.
  TextPage page{{TextRun{}, laid_out("тел. 8 900", 0, 100), laid_out("123 45 67", 0, 80), laid_out("end", 0, 60)}};
  std::string text;
  for (const TextRun& run : page.runs) {
    if (!text.empty()) text += '\n';
    text += run.text;
  }
  auto entities = extract_entities(text);
  ASSERT_EQ(entities.size(), 1u);
  EXPECT_EQ(entities[0].value, "8 900\n123 45 67");
  // One box per run the value touches, each covering only its part of the run.
  EXPECT_EQ(boxes_of(pii_rects(page, {entities[0].value})),
            (Boxes{{79, 99, 131, 113}, {-1, 79, 91, 93}}));

  // An empty run in the middle gives a line feed of its own and no box.
  TextPage gap{{laid_out("a b", 0, 0), TextRun{}, laid_out("c d", 0, 20)}};
  EXPECT_EQ(boxes_of(pii_rects(gap, {"b\n\nc"})), (Boxes{{19, -1, 31, 13}, {-1, 19, 11, 33}}));
  EXPECT_TRUE(pii_rects(gap, {"b\nc"}).empty());

  // Occurrences inside one run are boxed once, as before, also when the run holds a line feed.
  TextPage inner{{laid_out("a\nb", 0, 0), laid_out("a", 0, 20)}};
  EXPECT_EQ(boxes_of(pii_rects(inner, {"a\nb"})), (Boxes{{-1, -1, 31, 13}}));
  // ... and a needle that spans a run boundary after one inside a run comes after the run boxes.
  EXPECT_EQ(boxes_of(pii_rects(inner, {"b\na", "a"})),
            (Boxes{{-1, -1, 11, 13}, {-1, 19, 11, 33}, {19, -1, 31, 13}, {-1, 19, 11, 33}}));
}

}  // namespace
