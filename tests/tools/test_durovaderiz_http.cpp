// The stand-in's request parsing, answers, routing and scripted replies, in-process.
#include <gtest/gtest.h>

#include "http.h"
#include "routes.h"
#include "script.h"

namespace durovaderiz {
namespace {

TEST(DurovaderizHttp, DecodesPercentAndPlus) {
  struct Case {
    const char* in;
    bool plus_is_space;
    const char* out;
  } cases[] = {
      {"a+b", true, "a b"},          {"a+b", false, "a+b"},     {"a%2Bb", true, "a+b"},
      {"%25", true, "%"},            {"%41%4a%4A", true, "AJJ"}, {"100%", true, "100%"},
      {"%4", true, "%4"},            {"%zz1", true, "%zz1"},    {"%C3%A9", true, "\xC3\xA9"},
      {"a%2541+c", true, "a%41 c"},  {"", true, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(url_decode(c.in, c.plus_is_space), c.out) << c.in;
  }
}

TEST(DurovaderizHttp, ParsesTargets) {
  Request req;
  ASSERT_TRUE(parse_target("/pdf/encrypt?user_password=a%2Bb%2541+c&allow_print=1&flag&=x&&", req));
  EXPECT_EQ(req.path, "/pdf/encrypt");
  ASSERT_NE(req.query_value("user_password"), nullptr);
  EXPECT_EQ(*req.query_value("user_password"), "a+b%41 c");
  EXPECT_EQ(*req.query_value("allow_print"), "1");
  EXPECT_EQ(*req.query_value("flag"), "");
  EXPECT_EQ(*req.query_value(""), "x");
  EXPECT_EQ(req.query_value("allow_copy"), nullptr);
  EXPECT_EQ(req.query.size(), 4u);

  Request plain;
  ASSERT_TRUE(parse_target("/a%20b+c", plain));
  EXPECT_EQ(plain.path, "/a b+c") << "a '+' in a path is a plus";
  EXPECT_TRUE(plain.query.empty());
  for (const char* bad : {"", "*", "http://127.0.0.1/health", "health"}) {
    Request r;
    EXPECT_FALSE(parse_target(bad, r)) << bad;
  }
}

TEST(DurovaderizHttp, KeepsLineBreaksOutOfAnswerHeaders) {
  EXPECT_EQ(header_value("a\r\nSet-Cookie: x"), "a  Set-Cookie: x");
  EXPECT_EQ(header_value("plain"), "plain");
}

TEST(DurovaderizRoutes, AnswersUnknownPathsAndMethods) {
  Request req;
  req.method = "GET";
  req.path = "/health";
  EXPECT_EQ(dispatch(req).status, 200);
  req.method = "POST";
  EXPECT_EQ(dispatch(req).status, 405);
  req.method = "GET";
  req.path = "/pdf/encrypt";
  EXPECT_EQ(dispatch(req).status, 405);
  req.path = "/health/";
  EXPECT_EQ(dispatch(req).status, 404);
}

TEST(DurovaderizRoutes, KnowsPdfBodies) {
  EXPECT_TRUE(looks_like_pdf("%PDF-1.7\n"));
  EXPECT_TRUE(looks_like_pdf(std::string(1000, ' ') + "%PDF-1.4"));
  EXPECT_FALSE(looks_like_pdf(std::string(1024, ' ') + "%PDF-1.4"));
  EXPECT_FALSE(looks_like_pdf("hello"));
  EXPECT_FALSE(looks_like_pdf(""));
}

TEST(DurovaderizScript, UsesLinesInOrderAndRepeatsStarred) {
  Script s;
  std::string error;
  ASSERT_TRUE(s.parse("# canned\n\nGET /health 503 text:not yet\r\nGET /health hang\n"
                      "*POST /pdf/encrypt 200 fill:101\nPOST /other 204 -\n",
                      error))
      << error;
  Request health;
  health.method = "GET";
  health.path = "/health";
  Response r;
  ASSERT_EQ(s.match(health, r), Script::Action::Reply);
  EXPECT_EQ(r.status, 503);
  EXPECT_EQ(r.body, "not yet");
  EXPECT_EQ(s.match(health, r), Script::Action::Hang);
  EXPECT_EQ(s.match(health, r), Script::Action::Route);

  Request enc;
  enc.method = "POST";
  enc.path = "/pdf/encrypt";
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(s.match(enc, r), Script::Action::Reply);
    EXPECT_EQ(r.body.size(), 101u);
    EXPECT_EQ(r.body.rfind("%PDF-", 0), 0u);
  }
}

TEST(DurovaderizScript, RefusesBadLines) {
  for (const char* text : {"GET /health", "GET health 200", "GET /health 99", "GET /health 600",
                           "GET /health ok", "GET /health 200 fill:x", "GET /health 200 blob"}) {
    Script s;
    std::string error;
    EXPECT_FALSE(s.parse(text, error)) << text;
    EXPECT_NE(error.find("line 1"), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace durovaderiz
