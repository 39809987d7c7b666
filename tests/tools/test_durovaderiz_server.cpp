// The built stand-in over loopback: routes, real encryption checked with qpdf, refusals,
// silence, parent watch and the scripted mode.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>


#include "common/fixtures.h"
#include "tools/process_helpers.h"

namespace quorvel::test {
namespace {

// The stand-in on a free port, its output kept for checking that it says nothing.
class Backend : public StandIn {
 public:
  explicit Backend(const TempDir& dir, EnvChanges env = {})
      : StandIn(dir.file("backend.log"), std::move(env)), log_(dir.file("backend.log")) {}
  std::string output() const { return read_file(log_); }

 private:
  std::string log_;
};

std::string encode(const std::string& s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// qpdf's account of an encrypted file opened with `password`, or "" when it does not open.
std::string show_encryption(const std::string& file, const std::string& password) {
  RunResult r = run({"qpdf", "--show-encryption", "--password=" + password, file});
  return r.status == 0 && r.out.find("Incorrect password") == std::string::npos ? r.out : std::string{};
}

// What the environment of a running process still holds, as /proc shows it.
std::string environment_of(pid_t pid) { return read_file("/proc/" + std::to_string(pid) + "/environ"); }

TEST(DurovaderizServer, SaysWhereItListensAndNothingElse) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready()) << b.listening_line();
  EXPECT_EQ(b.listening_line(), "listening 127.0.0.1:" + std::to_string(b.port()) + "\n");
  EXPECT_EQ(http_request(b.port(), "GET", "/health").status, 200);
  EXPECT_EQ(http_request(b.port(), "POST", "/pdf/optimize", "junk", "text/plain").status, 415);
  EXPECT_EQ(b.more_output(), "");
  EXPECT_EQ(b.output(), "");
  // Listed under its own name, though it starts itself again through /proc/self/exe.
  EXPECT_EQ(read_file("/proc/" + std::to_string(b.child().pid()) + "/comm"), "durovaderiz\n");

  // A port given is the port said.
  const int port = free_port();
  int out = -1;
  Child fixed;
  ASSERT_TRUE(fixed.start({built("durovaderiz"), "--port", std::to_string(port)}, {}, dir.file("fixed.log"), &out));
  EXPECT_EQ(read_line(out, time_bound_ms(10000)), "listening 127.0.0.1:" + std::to_string(port) + "\n");
  close(out);
}

TEST(DurovaderizServer, AsksForItsStartersTokenAndForgetsTheVariable) {
  TempDir dir;
  const std::string token = "tok-4f9a2c81d3e7b605";
  Backend b(dir, {{"DUROVADERIZ_TOKEN", token}});
  ASSERT_TRUE(b.ready());
  const std::string pdf = text_pdf({"x"});
  const std::string bearer = "Authorization: Bearer " + token + "\r\n";
  struct Case {
    std::string method, target, headers;
    int status;
  } cases[] = {
      {"GET", "/health", "", 200},
      {"POST", "/pdf/encrypt?user_password=x", "", 401},
      {"POST", "/pdf/encrypt?user_password=x", "Authorization: Bearer wrong\r\n", 401},
      {"POST", "/pdf/encrypt?user_password=x", bearer, 200},
      {"GET", "/requests/REQ-1", "", 401},
      // A web page that has the token still is a web page.
      {"POST", "/pdf/encrypt?user_password=x", bearer + "Origin: http://attacker.example\r\n", 403},
  };
  for (const Case& c : cases) {
    const HttpReply r = http_request(b.port(), c.method, c.target, c.method == "POST" ? pdf : "",
                                     c.method == "POST" ? "application/pdf" : "", c.headers);
    EXPECT_EQ(r.status, c.status) << c.method << " " << c.target << " " << c.headers;
    if (c.status == 401) {
      EXPECT_NE(r.head.find("Content-Type: application/json"), std::string::npos);
      EXPECT_EQ(r.body.find(token), std::string::npos);
    }
  }
  // Neither its environment nor the copy it started with holds the secret any more.
  EXPECT_EQ(environment_of(b.child().pid()).find(token), std::string::npos);
  EXPECT_NE(environment_of(b.child().pid()).find("OMP_THREAD_LIMIT"), std::string::npos) << "not its environment";
}

TEST(DurovaderizServer, AnswersHealth) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  const HttpReply r = http_request(b.port(), "GET", "/health");
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.head.find("Connection: close"), std::string::npos);
}

TEST(DurovaderizServer, EncryptsWithAes256AndTheQueryPermissions) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  const std::string pdf = text_pdf({"first page", "second page"});
  struct Case {
    std::string query_tail;
    bool print, extract, modify;
  } cases[] = {
      {"&allow_print=1&allow_copy=0", true, false, false},
      {"&allow_print=1&allow_copy=0&allow_modify=0", true, false, false},
      {"&allow_print=1&allow_copy=1&allow_modify=1", true, true, true},
      {"", false, false, false},
      {"&allow_print=yes&allow_copy=true", false, true, false},
  };
  const std::string password = "a+b%41 c";
  for (const Case& c : cases) {
    const HttpReply r = http_request(b.port(), "POST",
                                     "/pdf/encrypt?user_password=" + encode(password) + c.query_tail,
                                     pdf, "application/pdf");
    ASSERT_EQ(r.status, 200) << c.query_tail << r.body;
    const std::string out = dir.file("out.pdf");
    ASSERT_TRUE(write_file(out, r.body));
    const std::string info = show_encryption(out, password);
    ASSERT_NE(info.find("R = 6"), std::string::npos) << c.query_tail << info;
    EXPECT_NE(info.find("file encryption method: AESv3"), std::string::npos);
    EXPECT_NE(info.find("Supplied password is user password"), std::string::npos);
    auto shows = [&](const char* what, bool yes) {
      return info.find(std::string(what) + (yes ? "allowed" : "not allowed")) != std::string::npos;
    };
    EXPECT_TRUE(shows("print high resolution: ", c.print)) << c.query_tail << info;
    EXPECT_TRUE(shows("extract for any purpose: ", c.extract)) << c.query_tail << info;
    EXPECT_TRUE(shows("modify other: ", c.modify)) << c.query_tail << info;
    EXPECT_TRUE(shows("modify annotations: ", c.modify)) << c.query_tail << info;
    EXPECT_EQ(show_encryption(out, ""), "") << "opens without the password";
    EXPECT_EQ(run({"qpdf", "--password=" + password, "--decrypt", "--stream-data=uncompress", out,
                   dir.file("plain.pdf")}).status, 0);
    EXPECT_NE(read_file(dir.file("plain.pdf")).find("second page"), std::string::npos);
  }
}

TEST(DurovaderizServer, DecodesPlusAsSpace) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  // A client that does not encode '+' loses it: the server reads a space, as HTTP servers do.
  const HttpReply r = http_request(b.port(), "POST", "/pdf/encrypt?user_password=a+b", text_pdf({"x"}),
                                   "application/pdf");
  ASSERT_EQ(r.status, 200);
  ASSERT_TRUE(write_file(dir.file("out.pdf"), r.body));
  EXPECT_EQ(show_encryption(dir.file("out.pdf"), "a+b"), "");
  EXPECT_NE(show_encryption(dir.file("out.pdf"), "a b"), "");
}

TEST(DurovaderizServer, RefusesWithShortErrors) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  const std::string secret = "s3cret-Passw0rd";
  const std::string q = "/pdf/encrypt?user_password=" + secret;
  struct Case {
    std::string method, target, body;
    int status;
  } cases[] = {
      {"POST", q, "plain text, not a document", 415},
      {"POST", q, "", 415},
      {"POST", q, "%PDF-1.4\nthis is not really a PDF at all", 422},
      {"POST", "/pdf/encrypt?allow_print=1", text_pdf({"x"}), 400},
      {"POST", "/pdf/encrypt?user_password=&allow_print=1", text_pdf({"x"}), 400},
      {"POST", "/pdf/encrypt?user_password", text_pdf({"x"}), 400},
      {"POST", "/pdf/encrypt?user_password=a%00b", text_pdf({"x"}), 400},
      {"GET", q, "", 405},
      {"GET", "/no/such/route?user_password=" + secret, "", 404},
  };
  for (const Case& c : cases) {
    const HttpReply r = http_request(b.port(), c.method, c.target, c.body, "application/pdf");
    EXPECT_EQ(r.status, c.status) << c.target << " " << c.body;
    EXPECT_TRUE(r.head.find("Content-Type: text/plain") != std::string::npos ||
                r.head.find("Content-Type: application/json") != std::string::npos)
        << r.head;
    EXPECT_LT(r.body.size(), 80u) << r.body;
    EXPECT_EQ(r.body.find(secret), std::string::npos);
  }
  // Protecting with an empty password would give a file that opens without one.
  const HttpReply empty = http_request(b.port(), "POST", "/pdf/encrypt?user_password=", text_pdf({"x"}), "application/pdf");
  EXPECT_EQ(empty.status, 400);
  EXPECT_NE(empty.body.find("user_password must not be empty"), std::string::npos) << empty.body;
  const HttpReply garbage = http_raw(b.port(), "\x16\x03\x01 hello\r\n\r\n");
  EXPECT_EQ(garbage.status, 400);
  // Nothing of the queries, headers or bodies was written anywhere.
  EXPECT_EQ(b.output(), "");
  EXPECT_TRUE(b.child().running());
}

TEST(DurovaderizServer, RefusesMalformedAndDoubledHeads) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  const std::string host = host_line(b.port());
  const std::string pdf = text_pdf({"x"});
  const std::string length = "Content-Length: " + std::to_string(pdf.size()) + "\r\n";
  const std::string post = "POST /pdf/encrypt?user_password=x HTTP/1.1\r\n";
  struct Case {
    std::string head;
    int status;
  } cases[] = {
      {post + host + "Content-Type: application/pdf\r\n" + length, 200},
      // The first Host names us, the second another site; the second type is another reader's.
      {post + host + "Host: attacker.example\r\nContent-Type: application/pdf\r\n" + length, 400},
      {post + host + host + "Content-Type: application/pdf\r\n" + length, 400},
      {post + host + "Content-Type: application/pdf\r\nContent-Type: text/html\r\n" + length, 400},
      {post + host + "Content-Type: application/pdf\r\n" + length + length, 400},
      {"GET http://127.0.0.1/health HTTP/1.1\r\n" + host, 400},
      {"GET /health HTTP/2.0\r\n" + host, 505},
      {post + host + "Content-Type: application/pdf\r\nContent-Length: -1\r\n", 400},
      {post + host + "Content-Type: application/pdf\r\nContent-Length: 5x\r\n", 400},
      {post + host + "Content-Type: application/pdf\r\nContent-Length: 99999999999999\r\n", 413},
      {"GET /health HTTP/1.1\r\n" + host + "no colon here\r\n", 400},
  };
  for (const Case& c : cases) {
    const HttpReply r = http_raw(b.port(), c.head + "\r\n" + pdf);
    EXPECT_EQ(r.status, c.status) << c.head;
  }
  EXPECT_TRUE(b.child().running());
}

TEST(DurovaderizServer, TakesChunkedBodiesUpToWhatTheRouteTakes) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  const auto chunked = [&](const std::string& target, const std::string& type, const std::string& body) {
    std::string raw = "POST " + target + " HTTP/1.1\r\n" + host_line(b.port()) + "Content-Type: " + type +
                      "\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (size_t at = 0; at < body.size(); at += 1000) {
      const std::string piece = body.substr(at, 1000);
      char size[16];
      std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
      raw += size + piece + "\r\n";
    }
    return http_raw(b.port(), raw + "0\r\n\r\n");
  };
  const std::string password = "chunk-pw";
  const HttpReply r = chunked("/pdf/encrypt?user_password=" + password, "application/pdf", text_pdf({"chunked page"}));
  ASSERT_EQ(r.status, 200) << r.body;
  ASSERT_TRUE(write_file(dir.file("out.pdf"), r.body));
  EXPECT_NE(show_encryption(dir.file("out.pdf"), password), "");
  // An offer takes 64 KB at most, whether its length is said first or not.
  const HttpReply big = chunked("/requests/REQ-1/responses", "application/json", std::string(100000, ' '));
  EXPECT_EQ(big.status, 413);
  EXPECT_NE(big.body.find("\"error\""), std::string::npos);
  EXPECT_EQ(http_request(b.port(), "GET", "/health").status, 200);
}

TEST(DurovaderizServer, ServesOthersWhileAClientStalls) {
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  // Half a head, then nothing; a body that never comes. Both connect before the next client, so
  // a server that waited for them would not answer it while they stay open.
  const OpenConnection stalled(b.port(), "POST /pdf/encrypt HTTP/1.1\r\nContent-Le");
  const OpenConnection short_body(b.port(), "POST /pdf/encrypt?user_password=x HTTP/1.1\r\n" + host_line(b.port()) +
                                               "Content-Type: application/pdf\r\nContent-Length: 100\r\n\r\n%PDF");
  ASSERT_TRUE(stalled.connected() && short_body.connected());
  EXPECT_EQ(http_request(b.port(), "GET", "/health").status, 200);
  EXPECT_TRUE(stalled.unanswered());
  EXPECT_TRUE(short_body.unanswered());
  // A client that waits for "100 Continue" before sending its body.
  const std::string pdf = text_pdf({"continued"});
  const HttpReply r = http_raw(b.port(), "POST /pdf/encrypt?user_password=x HTTP/1.1\r\n" + host_line(b.port()) +
                                             "Content-Type: application/pdf\r\nExpect: 100-continue\r\n"
                                             "Content-Length: " + std::to_string(pdf.size()) + "\r\n\r\n" + pdf);
  EXPECT_EQ(r.status, 200);
}

TEST(DurovaderizServer, RefusesBadCommandLinesAndBusyPorts) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"--port"}, {"--port", "abc"}, {"--port", "-1"}, {"--port", "70000"},
        {"--port", ""}, {"--port", "8077", "--verbose"}}) {
    std::vector<std::string> argv{built("durovaderiz")};
    argv.insert(argv.end(), args.begin(), args.end());
    const RunResult r = run(argv, {}, 5000);
    EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args.back());
  }
  TempDir dir;
  Backend b(dir);
  ASSERT_TRUE(b.ready());
  const RunResult busy = run({built("durovaderiz"), "--port", std::to_string(b.port())}, {}, 5000);
  EXPECT_EQ(busy.status, 1);
  EXPECT_EQ(busy.out, "") << "said it listens";
}

TEST(DurovaderizServer, ExitsWithItsParentOnlyWhenAsked) {
  // Two orphans at once, one watching: by the time the watcher has noticed, the other had the
  // same chance to go and must still be there.
  TempDir dir;
  struct Orphan {
    int port = 0;
    Child parent;
    pid_t pid = -1;
  } orphans[2];
  for (int i = 0; i < 2; ++i) {
    const bool watch = i == 0;
    Orphan& o = orphans[i];
    o.port = free_port();
    EnvChanges env;
    env["QUORVEL_PARENT_WATCH"] = watch ? std::optional<std::string>("1") : std::nullopt;
    // A shell starts the stand-in and waits; killing the shell orphans it. The pid is written
    // by the process that then becomes the stand-in, so it is there once the port is open.
    const std::string pid_file = dir.file(watch ? "pid-watch" : "pid-free");
    ASSERT_TRUE(o.parent.start({"sh", "-c", "sh -c 'echo $$; exec \"$0\" --port \"$1\"' \"$0\" \"$1\" & wait",
                                built("durovaderiz"),
                                std::to_string(o.port)},
                               env, pid_file));
    ASSERT_TRUE(wait_for_port(o.port, 5000));
    o.pid = std::atoi(read_file(pid_file).c_str());
    ASSERT_GT(o.pid, 0);
  }
  for (Orphan& o : orphans) o.parent.stop();
  EXPECT_TRUE(wait_for_exit(orphans[0].pid, time_bound_ms(2000))) << "kept running after its parent died";
  EXPECT_TRUE(alive(orphans[1].pid) && port_open(orphans[1].port)) << "exited without a watch";
  for (const Orphan& o : orphans)
    if (alive(o.pid)) kill(o.pid, SIGKILL);
}

TEST(DurovaderizServer, PlaysScriptedRepliesAndRecordsPaths) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("script"),
                         "GET /health 503\nGET /health hang\nPOST /pdf/encrypt 200 fill:100\n"
                         "*POST /pdf/encrypt 500 text:scripted failure\n"));
  Backend b(dir, {{"DUROVADERIZ_SCRIPT", dir.file("script")}, {"DUROVADERIZ_RECORD", dir.file("record")}});
  ASSERT_TRUE(b.ready());
  EXPECT_EQ(http_request(b.port(), "GET", "/health").status, 503);
  EXPECT_EQ(http_raw(b.port(), "GET /health HTTP/1.1\r\n" + host_line(b.port()) + "\r\n", 500).status, 0);
  EXPECT_EQ(http_request(b.port(), "GET", "/health").status, 200);
  const HttpReply canned = http_request(b.port(), "POST", "/pdf/encrypt?user_password=x", "body");
  EXPECT_EQ(canned.status, 200);
  EXPECT_EQ(canned.body.size(), 100u);
  for (int i = 0; i < 2; ++i) {
    const HttpReply r = http_request(b.port(), "POST", "/pdf/encrypt?user_password=x", text_pdf({"x"}));
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body, "scripted failure");
  }
  const std::string p = std::to_string(b.port());
  EXPECT_EQ(read_file(dir.file("record")),
            p + " GET /health\n" + p + " GET /health\n" + p + " GET /health\n" + p + " POST /pdf/encrypt\n" +
                p + " POST /pdf/encrypt\n" + p + " POST /pdf/encrypt\n");

  write_file(dir.file("bad"), "GET /health maybe\n");
  EXPECT_EQ(run({built("durovaderiz"), "--port", std::to_string(free_port())},
                {{"DUROVADERIZ_SCRIPT", dir.file("bad")}}, 5000)
                .status,
            2);
  EXPECT_EQ(run({built("durovaderiz"), "--port", std::to_string(free_port())},
                {{"DUROVADERIZ_SCRIPT", dir.file("missing")}}, 5000)
                .status,
            2);
}

}  // namespace
}  // namespace quorvel::test
