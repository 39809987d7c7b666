// Who the stand-in serves: the checks on a request head before its body is read.
#include <gtest/gtest.h>

#include "access.h"

namespace durovaderiz {
namespace {

constexpr int kPort = 4321;

struct Head {
  std::string method = "POST";
  std::string path = "/pdf/encrypt";
  Fields headers{{"host", "127.0.0.1:4321"}, {"content-type", "application/pdf"}};
  size_t length = 100;
};

Request request(const Head& h) {
  Request r;
  r.method = h.method;
  r.path = h.path;
  r.headers = h.headers;
  return r;
}

int status_of(const Head& h, const std::string& token = {}, bool scripted = false) {
  const std::optional<Response> no = refusal(request(h), h.length, Access{kPort, token}, scripted);
  return no ? no->status : 0;
}

Head with(Head h, const std::string& name, const std::optional<std::string>& value) {
  std::erase_if(h.headers, [&](const auto& f) { return f.first == name; });
  if (value) h.headers.emplace_back(name, *value);
  return h;
}

TEST(DurovaderizAccess, ServesOnlyItsOwnAddressAndNoWebPage) {
  const Head ok;
  struct Case {
    Head head;
    int status;
  } cases[] = {
      {ok, 0},
      {with(ok, "host", "localhost:4321"), 0},
      {with(ok, "host", "LOCALHOST:4321"), 0},
      {with(ok, "host", std::nullopt), 400},
      {with(ok, "host", "127.0.0.1"), 421},
      {with(ok, "host", "127.0.0.1:4322"), 421},
      {with(ok, "host", "attacker.example:4321"), 421},
      {with(ok, "host", "127.0.0.1:4321.attacker.example"), 421},
      {with(ok, "origin", "http://attacker.example"), 403},
      {with(ok, "origin", "null"), 403},
      {with(with(ok, "origin", "http://127.0.0.1:4321"), "host", "127.0.0.1:4321"), 403},
  };
  for (const Case& c : cases) EXPECT_EQ(status_of(c.head), c.status) << testing::PrintToString(c.head.headers);
}

TEST(DurovaderizAccess, RefusesAHeaderThatIsGivenTwice) {
  const auto twice = [](const std::string& name, const std::string& second) {
    Head h;
    if (!request(h).header(name)) h.headers.emplace_back(name, second);
    h.headers.emplace_back(name, second);
    return h;
  };
  struct Case {
    Head head;
    int status;
  } cases[] = {
      // The first names us; a reader that takes the last one sees another address.
      {twice("host", "attacker.example"), 400},
      {twice("host", "127.0.0.1:4321"), 400},
      {twice("content-type", "text/html"), 400},
      {twice("content-type", "application/pdf"), 400},
      {twice("content-length", "100"), 400},
      {twice("authorization", "Bearer x"), 400},
      {twice("accept", "*/*"), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(status_of(c.head), c.status) << testing::PrintToString(c.head.headers);
}

TEST(DurovaderizAccess, AsksForTheTokenEverywhereButTheHealthCheckAndTheOffersPage) {
  const std::string token = "Zq8-secret";
  const auto get = [](std::string path) {
    Head h;
    h.method = "GET";
    h.path = std::move(path);
    h.length = 0;
    return h;
  };
  struct Case {
    Head head;
    std::string token;
    int status;
  } cases[] = {
      {Head{}, "", 0},  // a backend started by hand asks for nothing
      {Head{}, token, 401},
      {with(Head{}, "authorization", "Bearer " + token), token, 0},
      {with(Head{}, "authorization", "bearer  " + token), token, 0},
      {with(Head{}, "authorization", "Bearer " + token + "x"), token, 401},
      {with(Head{}, "authorization", "Bearer " + token.substr(1)), token, 401},
      {with(Head{}, "authorization", "Basic " + token), token, 401},
      {with(Head{}, "authorization", token), token, 401},
      {get("/health"), token, 0},
      // The offers page a browser opens from the journal; nothing else below the request.
      {get("/requests/REQ-20261211-0123456789abcdef0123456789abcdef/compare"), token, 0},
      {get("/requests/REQ-1/responses"), token, 401},
      {get("/requests/a/b/compare"), token, 401},
      // A refused token is refused before anything else is looked at, even for a scripted line.
      {with(Head{}, "content-type", "text/plain"), token, 401},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(status_of(c.head, c.token), c.status) << testing::PrintToString(c.head.headers);
    EXPECT_EQ(status_of(c.head, c.token, true), c.status == 401 ? 401 : 0);
  }
  const std::optional<Response> no = refusal(request(Head{}), 100, Access{kPort, token}, false);
  ASSERT_TRUE(no);
  EXPECT_EQ(no->content_type, "application/json");
  EXPECT_EQ(no->body.find(token), std::string::npos);
  EXPECT_NE(std::find(no->headers.begin(), no->headers.end(), std::pair<std::string, std::string>{"WWW-Authenticate", "Bearer"}),
            no->headers.end());
}

TEST(DurovaderizAccess, TakesOnlyTheBodyTypesAndSizesOfTheRoute) {
  struct Case {
    std::string method, path, type;
    size_t length;
    int status;
  } cases[] = {
      {"POST", "/pdf/optimize", "application/pdf", 100, 0},
      {"POST", "/pdf/optimize", "Application/PDF; charset=binary", 100, 0},
      {"POST", "/pdf/optimize", "text/plain", 100, 415},
      {"POST", "/pdf/optimize", "application/x-www-form-urlencoded", 100, 415},
      {"POST", "/pdf/optimize", "", 100, 415},
      {"POST", "/pdf/optimize", "", 0, 0},  // nothing to read: the route says what is missing
      {"POST", "/pdf/set-bookmarks", "application/json", 100, 0},
      {"POST", "/pdf/set-bookmarks", "text/plain", 100, 415},
      {"POST", "/ai/chat", "application/json", 100, 0},
      {"POST", "/ai/chat", "text/plain;charset=UTF-8", 100, 415},
      {"POST", "/ai/chat", "application/json", 33u << 20, 413},
      {"POST", "/requests", "multipart/form-data; boundary=x", 100, 0},
      {"POST", "/requests", "text/plain", 100, 415},
      {"POST", "/requests/REQ-1/responses", "application/json", 100, 0},
      {"POST", "/requests/REQ-1/responses", "text/plain", 100, 415},
      {"POST", "/requests/REQ-1/responses", "application/json", 65 * 1024, 413},
      {"POST", "/ocr", "application/octet-stream", 100, 0},
      {"POST", "/ocr", "image/png", 100, 0},
      {"POST", "/ocr", "image/", 100, 415},
      {"POST", "/ocr", "application/pdf", 100, 415},
      {"GET", "/health", "text/plain", 10, 415},
      {"GET", "/requests/REQ-1", "", 0, 0},
      {"GET", "/pdf/optimize", "", 0, 405},
      {"POST", "/no/such", "application/pdf", 100, 404},
  };
  for (const Case& c : cases) {
    Head h;
    h.method = c.method;
    h.path = c.path;
    h.length = c.length;
    h = with(h, "content-type", c.type.empty() ? std::nullopt : std::optional(c.type));
    EXPECT_EQ(status_of(h), c.status) << c.method << " " << c.path << " " << c.type << " " << c.length;
  }
  // The script answers paths and bodies of its own choosing.
  Head scripted;
  scripted.path = "/no/such";
  scripted = with(scripted, "content-type", "text/plain");
  EXPECT_EQ(status_of(scripted, "", true), 0);
}

TEST(DurovaderizAccess, ComparesSecretsWhole) {
  EXPECT_TRUE(same_secret("abc", "abc"));
  EXPECT_FALSE(same_secret("abc", "abd"));
  EXPECT_FALSE(same_secret("abc", "ab"));
  EXPECT_FALSE(same_secret("abc", "abcd"));
  EXPECT_FALSE(same_secret("abc", ""));
}

}  // namespace
}  // namespace durovaderiz
