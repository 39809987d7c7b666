// The stand-in's purchase requests: the form in, the request kept in its database, offers
// added through its own route and shown as a status, a list and a comparison page.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <set>

#include "common/fixtures.h"
#include "routes.h"

namespace durovaderiz {
namespace {

using quorvel::test::TempDir;

// Each test keeps its requests in a folder of its own.
struct DataFolder {
  TempDir dir;
  DataFolder() { setenv("DUROVADERIZ_DATA", dir.path().c_str(), 1); }
  ~DataFolder() { unsetenv("DUROVADERIZ_DATA"); }
};

Response call(const std::string& method, const std::string& path, const std::string& body = {},
              const std::string& type = {}) {
  Request req;
  req.method = method;
  req.path = path;
  req.body = body;
  req.local_port = 4321;
  if (!type.empty()) req.headers.emplace_back("content-type", type);
  return dispatch(req);
}

QJsonObject json(const Response& r) { return QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object(); }

using Fields = std::vector<std::pair<std::string, std::string>>;

std::string form(const std::string& pdf, const std::string& category, const std::string& region, Fields more = {}) {
  std::string body = "--XyZ\r\nContent-Type: application/pdf\r\n"
                     "Content-Disposition: form-data; name=\"file\"; filename=\"zayavka.pdf\"\r\n\r\n" + pdf + "\r\n";
  Fields fields = {{"buyer", "ООО Ромашка"}, {"category", category}, {"region", region}, {"deadline", "2024-06-01"}, {"note", "a\r\nb"}};
  for (auto& [name, value] : more)
    for (auto& f : fields)
      if (f.first == name) f.second = value;
  for (const auto& [name, value] : fields)
    body += std::string("--XyZ\r\nContent-Disposition: form-data; name=\"") + name + "\"\r\n\r\n" + value + "\r\n";
  return body + "--XyZ--\r\n";
}

const std::string kType = "multipart/form-data; boundary=XyZ";

TEST(Requests, AcceptsTheFormAndCountsOffersAddedLater) {
  DataFolder data;
  const Response created = call("POST", "/requests", form(quorvel::test::text_pdf({"x"}), "Бумага", ""), kType);
  ASSERT_EQ(created.status, 200) << created.body;
  const QJsonObject o = json(created);
  const QString id = o["request_id"].toString();
  // 128 random bits after the date: not guessed in any number of tries a local process can make.
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^REQ-\\d{8}-[0-9A-F]{32}$")).match(id).hasMatch()) << id.toStdString();
  EXPECT_EQ(o["status"].toString(), QStringLiteral("accepted"));
  EXPECT_EQ(o["mode"].toString(), QStringLiteral("offline"));
  EXPECT_EQ(o["parsed"].toObject(), (QJsonObject{{"request_type", QStringLiteral("закупка")}, {"subject", QStringLiteral("Бумага")},
                                                 {"location", ""}, {"deadline", "2024-06-01"}}));
  const std::string path = "/requests/" + id.toStdString();
  const QString compare = QStringLiteral("http://127.0.0.1:4321") + QString::fromStdString(path) + "/compare";

  EXPECT_EQ(json(call("GET", path)), (QJsonObject{{"request_id", id}, {"status", "accepted"}, {"responses", 0}, {"compare_url", compare}}));
  EXPECT_EQ(json(call("GET", path + "/responses"))["responses"].toArray(), QJsonArray());

  for (const char* offer : {R"({"supplier":"<b>Альфа</b>","price":99.6,"lead_time":5,"comment":"опт & розница"})",
                            R"({"supplier":"Бета","price":250})"})
    ASSERT_EQ(call("POST", path + "/responses", offer).status, 200);
  EXPECT_EQ(json(call("GET", path)), (QJsonObject{{"request_id", id}, {"status", "offers"}, {"responses", 2}, {"compare_url", compare}}));
  const QJsonArray offers = json(call("GET", path + "/responses"))["responses"].toArray();
  ASSERT_EQ(offers.size(), 2);
  EXPECT_EQ(offers[0].toObject(), (QJsonObject{{"supplier", QStringLiteral("<b>Альфа</b>")}, {"price", 99.6}, {"lead_time", 5},
                                               {"comment", QStringLiteral("опт & розница")}}));
  EXPECT_EQ(offers[1].toObject()["supplier"].toString(), QStringLiteral("Бета"));

  const Response page = call("GET", path + "/compare");
  EXPECT_EQ(page.content_type, "text/html; charset=utf-8");
  EXPECT_NE(page.body.find("<td>&lt;b&gt;Альфа&lt;/b&gt;</td><td>99.6</td><td>5</td><td>опт &amp; розница</td>"), std::string::npos)
      << page.body;

  // Another request has its own offers; the data folder keeps both.
  const QString other = json(call("POST", "/requests", form(quorvel::test::text_pdf({"y"}), "", "Уфа"), kType))["request_id"].toString();
  ASSERT_NE(other, id);
  EXPECT_EQ(json(call("GET", "/requests/" + other.toStdString()))["responses"].toInt(), 0);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(data.dir.file("requests.db"))));
}

// Offers keep their numbers as sent, fractions included; a price or lead time that is not a
// number is refused, never stored as 0.
TEST(Requests, OffersKeepTheirNumbers) {
  DataFolder data;
  const QString id = json(call("POST", "/requests", form(quorvel::test::text_pdf({"x"}), "", ""), kType))["request_id"].toString();
  const std::string path = "/requests/" + id.toStdString() + "/responses";
  ASSERT_EQ(call("POST", path, R"({"supplier":"Гамма","price":125000.75,"lead_time":3.7})").status, 200);
  for (const char* wrong : {R"({"supplier":"x","price":"99"})", R"({"supplier":"x","lead_time":"7"})",
                            R"({"supplier":"x","price":null})", R"({"supplier":"x","price":[1]})"}) {
    const Response r = call("POST", path, wrong);
    EXPECT_EQ(r.status, 400) << wrong;
    EXPECT_NE(r.body.find("must be a JSON number"), std::string::npos) << r.body;
  }
  const QJsonArray offers = json(call("GET", path))["responses"].toArray();
  ASSERT_EQ(offers.size(), 1);
  EXPECT_EQ(offers[0]["price"].toDouble(), 125000.75);
  EXPECT_EQ(offers[0]["lead_time"].toDouble(), 3.7);
  const Response page = call("GET", "/requests/" + id.toStdString() + "/compare");
  EXPECT_NE(page.body.find("<td>Гамма</td><td>125000.75</td><td>3.7</td>"), std::string::npos) << page.body;
}

TEST(Requests, RefusesWhatIsNotARequest) {
  DataFolder data;
  const std::string pdf = quorvel::test::text_pdf({"x"});
  struct Case {
    const char* method;
    std::string path;
    std::string body;
    std::string type;
    int status;
  };
  const Case cases[] = {
      {"POST", "/requests", pdf, "application/pdf", 415},
      {"POST", "/requests", form("not a pdf", "a", "b"), kType, 400},
      {"POST", "/requests", "--XyZ\r\nContent-Disposition: form-data; name=\"category\"\r\n\r\nx", kType, 415},
      {"GET", "/requests", "", "", 405},
      {"GET", "/requests/NOPE-1", "", "", 404},
      {"GET", "/requests/a/b?c", "", "", 404},
      {"GET", "/requests/a b", "", "", 400},
      {"GET", "/requests/..", "", "", 400},
      {"GET", "/requests/" + std::string(65, 'a'), "", "", 400},
      {"GET", "/requests/x/other", "", "", 404},
      {"POST", "/requests/NOPE-1/responses", R"({"supplier":"x"})", "", 404},
      {"POST", "/requests/NOPE-1/responses", "[1]", "", 400},
      {"POST", "/requests/NOPE-1", R"({"supplier":"x"})", "", 404},
  };
  for (const Case& c : cases) {
    const Response r = call(c.method, c.path, c.body, c.type);
    EXPECT_EQ(r.status, c.status) << c.method << " " << c.path << ": " << r.body;
  }
}

TEST(Requests, IdsAreUnguessable) {
  DataFolder data;
  std::set<QString> ids;
  for (int i = 0; i < 20; ++i)
    ids.insert(json(call("POST", "/requests", form(quorvel::test::text_pdf({"x"}), "", ""), kType))["request_id"].toString());
  EXPECT_EQ(ids.size(), 20u);
  for (const QString& id : ids) EXPECT_EQ(id.size(), 4 + 8 + 1 + 32) << id.toStdString();
}

TEST(Requests, StoresNoFieldLongerThanItsLimit) {
  DataFolder data;
  const std::string pdf = quorvel::test::text_pdf({"x"});
  struct Case {
    std::string field;
    size_t size;
    int status;
  } cases[] = {
      {"buyer", 1024, 200},     {"buyer", 1025, 413},     {"category", 1025, 413}, {"region", 1025, 413},
      {"deadline", 1025, 413},  {"note", 16 * 1024, 200}, {"note", 16 * 1024 + 1, 413},
      {"note", 100u << 20, 413},
  };
  for (const Case& c : cases) {
    const Response r = call("POST", "/requests", form(pdf, "c", "r", {{c.field, std::string(c.size, 'n')}}), kType);
    EXPECT_EQ(r.status, c.status) << c.field << " " << c.size << ": " << r.body.substr(0, 200);
  }
  const std::string path = "/requests/" + json(call("POST", "/requests", form(pdf, "c", "r"), kType))["request_id"].toString().toStdString();
  for (const auto& [offer, status] : std::vector<std::pair<std::string, int>>{
           {R"({"supplier":")" + std::string(1024, 's') + R"(","comment":")" + std::string(16 * 1024, 'c') + R"("})", 200},
           {R"({"supplier":")" + std::string(1025, 's') + R"("})", 413},
           {R"({"comment":")" + std::string(16 * 1024 + 1, 'c') + R"("})", 413}}) {
    EXPECT_EQ(call("POST", path + "/responses", offer).status, status) << offer.size();
  }
  EXPECT_EQ(json(call("GET", path))["responses"].toInt(), 1);
  // Nothing refused reached the store: it holds the few small rows above.
  EXPECT_LT(QFileInfo(QString::fromStdString(data.dir.file("requests.db"))).size(), 1 << 20);
}

TEST(Requests, RefusesWhatAFullStoreCannotTake) {
  DataFolder data;
  const std::string pdf = quorvel::test::text_pdf({"x"});
  const QString id = json(call("POST", "/requests", form(pdf, "c", "r"), kType))["request_id"].toString();
  ASSERT_FALSE(id.isEmpty());
  // Fill the store up to its size in one go, as many requests over time would.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(data.dir.file("requests.db").c_str(), &db), SQLITE_OK);
  // Row by row: a full store rolls back the transaction it fills up.
  sqlite3_exec(db, "PRAGMA max_page_count = 16384; PRAGMA synchronous = OFF; PRAGMA journal_mode = MEMORY", nullptr,
               nullptr, nullptr);
  int rc = SQLITE_OK;
  for (int i = 0; rc == SQLITE_OK; ++i) {
    const std::string sql = "INSERT INTO requests(id, created, note, file_size) VALUES('FILL-" + std::to_string(i) +
                            "', '', zeroblob(4000), 0)";
    rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  }
  EXPECT_EQ(rc, SQLITE_FULL);
  sqlite3_close(db);

  const Response created = call("POST", "/requests", form(pdf, std::string(1000, 'c'), "r"), kType);
  EXPECT_EQ(created.status, 507) << created.body;
  const std::string path = "/requests/" + id.toStdString();
  EXPECT_EQ(call("POST", path + "/responses", R"({"comment":")" + std::string(10000, 'c') + R"("})").status, 507);
  // What is there stays readable.
  EXPECT_EQ(call("GET", path).status, 200);
  EXPECT_LE(QFileInfo(QString::fromStdString(data.dir.file("requests.db"))).size(), 64 << 20);
}

mode_t mode_of(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(Requests, MakesOnlyItsOwnFolderPrivate) {
  TempDir dir;
  const std::string shared = dir.file("shared"), fresh = dir.file("parent/fresh");
  ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
  ASSERT_EQ(chmod(shared.c_str(), 0775), 0);
  for (const std::string& folder : {shared, fresh}) {
    setenv("DUROVADERIZ_DATA", folder.c_str(), 1);
    EXPECT_EQ(call("POST", "/requests", form(quorvel::test::text_pdf({"x"}), "c", "r"), kType).status, 200);
    EXPECT_EQ(mode_of(folder + "/requests.db") & 077, 0u) << folder;
  }
  unsetenv("DUROVADERIZ_DATA");
  EXPECT_EQ(mode_of(shared), 0775u) << "an existing folder keeps what its owner set";
  EXPECT_EQ(mode_of(fresh), 0700u);
}

}  // namespace
}  // namespace durovaderiz
