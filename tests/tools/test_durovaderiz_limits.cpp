// The stand-in's loop under clients that stall, never read or send too much, and routes that
// take too long: run in-process with short deadlines, small budgets and a handler of the test's.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "common/time_bound.h"
#include "memory.h"
#include "server.h"
#include "tools/process_helpers.h"

namespace durovaderiz {
namespace {

using namespace std::chrono_literals;
using quorvel::test::host_line;
using quorvel::test::http_raw;
using quorvel::test::time_bound_ms;

// serve() on a thread of its own, stopped and joined when the object goes.
class LocalServer {
 public:
  explicit LocalServer(ServerOptions opts) : opts_(std::move(opts)) {
    opts_.stop = &stop_;
    std::promise<int> listening;
    auto port = listening.get_future();
    thread_ = std::thread([this, &listening] { serve(opts_, [&](int p) { listening.set_value(p); }); });
    port_ = port.wait_for(std::chrono::milliseconds(time_bound_ms(10000))) == std::future_status::ready ? port.get() : 0;
  }
  ~LocalServer() {
    stop_ = true;
    thread_.join();
  }
  int port() const { return port_; }
  std::string head(const std::string& line, const std::string& more = {}) const {
    return line + " HTTP/1.1\r\n" + host_line(port_) + more + "\r\n";
  }

 private:
  ServerOptions opts_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  int port_ = 0;
};

// A client socket that the test drives by hand.
class Client {
 public:
  explicit Client(int port) : fd_(quorvel::test::connect_to(port)) {}
  ~Client() {
    if (fd_ >= 0) close(fd_);
  }
  bool send(const std::string& s) {
    return fd_ >= 0 && ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
  }
  // Waits up to `ms` for the server to answer or close; true when it did.
  bool wait(int ms) {
    pollfd p{fd_, POLLIN | POLLRDHUP, 0};
    return poll(&p, 1, ms) == 1;
  }
  // Waits up to `ms` for the server to reset the connection, whatever it sent before.
  bool reset(int ms) {
    pollfd p{fd_, 0, 0};
    return poll(&p, 1, ms) == 1 && (p.revents & (POLLHUP | POLLERR));
  }
  // The status of what the server sent before it closed, 0 for none.
  int status() {
    std::string all;
    char buf[65536];
    for (;;) {
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) break;
      all.append(buf, static_cast<size_t>(n));
    }
    body_ = all.substr(std::min(all.size(), all.find("\r\n\r\n") + 4));
    return all.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(all.c_str() + 9) : 0;
  }
  const std::string& body() const { return body_; }

 private:
  int fd_;
  std::string body_;
};

ServerLimits short_limits() {
  ServerLimits l;
  l.head = 300ms;
  l.body = 300ms;
  l.send = 300ms;
  l.rate = 0;
  l.workers = 2;
  return l;
}

// Keeps sending a byte at a third of the deadline until the server has answered or closed.
bool trickles_until_dropped(Client& c, int deadline_ms) {
  for (int sent = 0; sent < 60; ++sent) {
    if (c.wait(deadline_ms / 3)) return true;
    c.send("X");
  }
  return false;
}

TEST(DurovaderizLimits, HeadAndBodyDeadlinesHoldWhileBytesTrickleIn) {
  ServerOptions opts;
  opts.limits = short_limits();
  LocalServer server(opts);
  ASSERT_GT(server.port(), 0);

  Client head(server.port());
  ASSERT_TRUE(head.send("POST /pdf/optimize HTTP/1.1\r\nX-Slow: "));
  EXPECT_TRUE(trickles_until_dropped(head, 300)) << "a byte now and then kept the head open";
  EXPECT_EQ(head.status(), 0) << "a late head is dropped, not answered";

  Client body(server.port());
  ASSERT_TRUE(body.send(server.head("POST /pdf/optimize", "Content-Type: application/pdf\r\nContent-Length: 1000\r\n")));
  EXPECT_TRUE(trickles_until_dropped(body, 300)) << "a byte now and then kept the body open";
  EXPECT_EQ(body.status(), 0);
}

TEST(DurovaderizLimits, HeldHeadsMakeRoomForAQuickRequest) {
  ServerOptions opts;
  opts.limits.max_connections = 8;
  LocalServer server(opts);
  ASSERT_GT(server.port(), 0);
  // Every place taken by clients that keep their heads open, and many more than that.
  std::vector<std::unique_ptr<Client>> held;
  for (int i = 0; i < 100; ++i) {
    held.push_back(std::make_unique<Client>(server.port()));
    ASSERT_TRUE(held.back()->send("POST /pdf/optimize HTTP/1.1\r\nX-Slow: "));
  }
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(http_raw(server.port(), server.head("GET /health"), time_bound_ms(2000)).status, 200);
  // The oldest heads went to make that room; the newest are still held.
  EXPECT_TRUE(held.front()->wait(time_bound_ms(2000)));
  EXPECT_FALSE(held.back()->wait(0));
}

TEST(DurovaderizLimits, DropsAnAnswerThatIsNotRead) {
  ServerOptions opts;
  opts.limits = short_limits();
  // Far more than the socket buffers take, so the answer waits for a reader that never comes.
  opts.handler = [](const Request&) { return text_reply(200, std::string(64u << 20, 'a')); };
  LocalServer server(opts);
  ASSERT_GT(server.port(), 0);
  Client idle(server.port());
  ASSERT_TRUE(idle.send(server.head("POST /pdf/optimize", "Content-Type: application/pdf\r\nContent-Length: 1\r\n") + "x"));
  // A reset, not a close behind the unread data: only then is the answer gone from the server.
  EXPECT_TRUE(idle.reset(time_bound_ms(10000)));
  // Its memory went with it.
  EXPECT_LT(memory::held(), 1u << 20);
}

TEST(DurovaderizLimits, BoundsWhatAllBodiesHoldTogether) {
  ServerOptions opts;
  opts.limits = short_limits();
  opts.limits.body = std::chrono::milliseconds(time_bound_ms(10000));
  opts.limits.max_held = 1u << 20;
  opts.handler = [](const Request& r) { return text_reply(200, std::to_string(r.body.size())); };
  LocalServer server(opts);
  ASSERT_GT(server.port(), 0);
  const std::string pdf_head = "Content-Type: application/pdf\r\nContent-Length: 700000\r\n";

  Client first(server.port());
  ASSERT_TRUE(first.send(server.head("POST /pdf/optimize", pdf_head) + "%PDF-"));
  // The first holds 700 KB of the megabyte before it has sent it; a second finds no room. The
  // two may be read by different threads: the second goes once the first has its share.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(time_bound_ms(5000));
  while (memory::held() < 700000 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  ASSERT_GE(memory::held(), 700000u);
  Client second(server.port());
  ASSERT_TRUE(second.send(server.head("POST /pdf/optimize", pdf_head)));
  ASSERT_TRUE(second.wait(time_bound_ms(5000)));
  EXPECT_EQ(second.status(), 503);
  EXPECT_NE(second.body().find("memory"), std::string::npos) << second.body();

  ASSERT_TRUE(first.send(std::string(700000 - 5, 'x')));
  ASSERT_TRUE(first.wait(time_bound_ms(5000)));
  EXPECT_EQ(first.status(), 200);
  EXPECT_EQ(first.body(), "700000\n");

  // Room again once the first is done; a single body over what a route takes is another answer.
  EXPECT_EQ(http_raw(server.port(), server.head("POST /pdf/optimize", pdf_head) + std::string(700000, 'x')).status, 200);
  const std::string offer_head = "Content-Type: application/json\r\nContent-Length: 100000\r\n";
  EXPECT_EQ(http_raw(server.port(), server.head("POST /requests/REQ-1/responses", offer_head)).status, 413);
}

TEST(DurovaderizLimits, AnswersTheHealthCheckWhileUnreadAnswersHoldTheBudget) {
  ServerOptions opts;
  opts.limits.max_held = 1u << 20;
  opts.handler = [](const Request&) { return text_reply(200, std::string(32u << 20, 'a')); };
  LocalServer server(opts);
  ASSERT_GT(server.port(), 0);
  Client idle(server.port());
  ASSERT_TRUE(idle.send(server.head("POST /pdf/optimize", "Content-Type: application/pdf\r\nContent-Length: 1\r\n") + "x"));
  ASSERT_TRUE(idle.wait(time_bound_ms(10000)));  // its answer is there, and held, unread
  EXPECT_EQ(http_raw(server.port(), server.head("GET /health")).status, 200);
  EXPECT_EQ(http_raw(server.port(), server.head("POST /pdf/optimize", "Content-Type: application/pdf\r\nContent-Length: 1\r\n") + "x")
                .status,
            503);
}

// A handler that works until the test lets it go, or until its request is cancelled.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  bool open = false, entered = false, left = false, saw_cancel = false;

  Response pass(const Request& req) {
    std::unique_lock lock(m);
    entered = true;
    cv.notify_all();
    // Cancelling has no signal of its own: the work looks at it now and then, as routes do.
    while (!open && !req.work->cancelled()) cv.wait_for(lock, 10ms);
    saw_cancel = !open;
    left = true;
    cv.notify_all();
    return text_reply(200, "done");
  }
  void wait_for(bool& flag) {
    std::unique_lock lock(m);
    cv.wait_for(lock, std::chrono::milliseconds(time_bound_ms(10000)), [&] { return flag; });
  }
  void release() {
    std::lock_guard lock(m);
    open = true;
    cv.notify_all();
  }
};

TEST(DurovaderizLimits, AnswersTheHealthCheckWhileEveryWorkerIsBusy) {
  Gate gate;
  ServerOptions opts;
  opts.limits.workers = 1;
  opts.handler = [&](const Request& r) { return gate.pass(r); };
  LocalServer server(opts);
  ASSERT_GT(server.port(), 0);
  Client busy(server.port());
  ASSERT_TRUE(busy.send(server.head("POST /ai/chat", "Content-Type: application/json\r\nContent-Length: 2\r\n") + "{}"));
  gate.wait_for(gate.entered);
  Client queued(server.port());
  ASSERT_TRUE(queued.send(server.head("POST /ai/chat", "Content-Type: application/json\r\nContent-Length: 2\r\n") + "{}"));

  const quorvel::test::HttpReply health = http_raw(server.port(), server.head("GET /health"), time_bound_ms(2000));
  EXPECT_EQ(health.status, 200);
  EXPECT_FALSE(busy.wait(0)) << "answered before its work was done";
  gate.release();
  ASSERT_TRUE(busy.wait(time_bound_ms(5000)));
  EXPECT_EQ(busy.status(), 200);
  ASSERT_TRUE(queued.wait(time_bound_ms(5000)));
  EXPECT_EQ(queued.status(), 200);
}

TEST(DurovaderizLimits, EndsARequestThatRunsPastItsTime) {
  Gate gate;
  ServerOptions opts;
  opts.limits.work.time = 200ms;
  opts.handler = [&](const Request& r) { return gate.pass(r); };
  LocalServer server(opts);
  ASSERT_GT(server.port(), 0);
  Client slow(server.port());
  ASSERT_TRUE(slow.send(server.head("POST /ai/chat", "Content-Type: application/json\r\nContent-Length: 2\r\n") + "{}"));
  ASSERT_TRUE(slow.wait(time_bound_ms(10000)));
  EXPECT_EQ(slow.status(), 503);
  EXPECT_NE(slow.body().find("took longer"), std::string::npos) << slow.body();
  // The route learnt that nobody waits for it any more.
  gate.wait_for(gate.left);
  EXPECT_TRUE(gate.saw_cancel);
  EXPECT_EQ(http_raw(server.port(), server.head("GET /health")).status, 200);
}

}  // namespace
}  // namespace durovaderiz
