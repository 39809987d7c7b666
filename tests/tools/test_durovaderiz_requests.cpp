// The stand-in's purchase requests: the form in, the request kept in its database, offers
// added through its own route and shown as a status, a list and a comparison page.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QRegularExpression>

#include <cstdlib>

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

std::string form(const std::string& pdf, const std::string& category, const std::string& region) {
  std::string body = "--XyZ\r\nContent-Type: application/pdf\r\n"
                     "Content-Disposition: form-data; name=\"file\"; filename=\"zayavka.pdf\"\r\n\r\n" + pdf + "\r\n";
  const std::pair<const char*, std::string> fields[] = {
      {"buyer", "ООО Ромашка"}, {"category", category}, {"region", region}, {"deadline", "2024-06-01"}, {"note", "a\r\nb"}};
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
  EXPECT_NE(page.body.find("<td>&lt;b&gt;Альфа&lt;/b&gt;</td><td>100</td><td>5</td><td>опт &amp; розница</td>"), std::string::npos)
      << page.body;

  // Another request has its own offers; the data folder keeps both.
  const QString other = json(call("POST", "/requests", form(quorvel::test::text_pdf({"y"}), "", "Уфа"), kType))["request_id"].toString();
  ASSERT_NE(other, id);
  EXPECT_EQ(json(call("GET", "/requests/" + other.toStdString()))["responses"].toInt(), 0);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(data.dir.file("requests.db"))));
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

}  // namespace
}  // namespace durovaderiz
