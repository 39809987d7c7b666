#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "access.h"
#include "memory.h"
#include "routes.h"

namespace durovaderiz {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kDrainLimit = std::chrono::seconds(2);
// So much of every head is read whatever the budget says, so that a health check or a small
// request is never refused by memory that others hold; the connection cap bounds the sum.
constexpr size_t kFreeHead = 16 * 1024;
constexpr auto kTick = std::chrono::milliseconds(250);

enum class State { Head, Body, Working, Hanging, Writing, Draining };

struct Connection {
  uint64_t id = 0;
  int fd = -1;
  State state = State::Head;
  std::string head;             // what has come of the head
  std::string body;
  size_t content_length = 0;
  Request req;
  std::string out_head, out_body;
  size_t out_off = 0;           // sent of out_head, then of out_body
  Clock::time_point deadline;   // of the current state
  size_t held = 0;              // head or answer bytes counted against the budgets
  size_t body_held = 0;         // the body's reservation, until a worker has it

  size_t out_size() const { return out_head.size() + out_body.size(); }
  ~Connection() {
    if (fd >= 0) close(fd);
  }
};

struct Job {
  uint64_t id;
  Request req;
};

struct Done {
  uint64_t id;
  Response resp;
};

// The workers: they take complete requests in order and hand back answers, waking the loop.
class Workers {
 public:
  Workers(int count, std::function<Response(const Request&)> handler, int wake_fd)
      : handler_(std::move(handler)), wake_fd_(wake_fd) {
    for (int i = 0; i < count; ++i) threads_.emplace_back([this] { run(); });
  }
  ~Workers() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  void submit(Job job) {
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
  }

  std::vector<Done> finished() {
    std::lock_guard lock(mutex_);
    return std::exchange(done_, {});
  }

 private:
  void run() {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      Response resp = answer(job.req);
      {
        std::lock_guard lock(mutex_);
        done_.push_back({job.id, std::move(resp)});
      }
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t n = write(wake_fd_, &one, sizeof one);
      // What the work kept may still point into the body: both go here, after the answer.
      if (job.req.work) job.req.work->release_kept();
    }
  }

  Response answer(const Request& req) {
    try {
      // A request that waited longer than it may run is not started at all.
      if (req.work) req.work->check();
      return handler_(req);
    } catch (const WorkRefused& r) {
      return json_error(r.status, r.what);
    } catch (const std::bad_alloc&) {
      return json_error(503, "the backend is out of memory for requests");
    } catch (...) {
      return json_error(500, "the request failed");
    }
  }

  std::function<Response(const Request&)> handler_;
  int wake_fd_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Job> jobs_;
  std::vector<Done> done_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

std::chrono::milliseconds per_size(std::chrono::milliseconds base, size_t bytes, size_t rate) {
  return base + std::chrono::milliseconds(rate ? bytes / rate * 1000 : 0);
}

int listen_on(int port, int& bound) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, SOMAXCONN) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    return -1;
  }
  bound = ntohs(addr.sin_port);
  return fd;
}

class Loop {
 public:
  Loop(const ServerOptions& opts, int port, int wake_fd)
      : opts_(opts),
        limits_(opts.limits),
        access_{port, opts.token},
        port_(port),
        wake_fd_(wake_fd),
        workers_(std::max(1, limits_.workers), opts.handler ? opts.handler : dispatch, wake_fd) {}

  ~Loop() {
    for (auto& [id, job] : inflight_) {
      job.work->cancel();
      unhold(job.body_held);
    }
    for (auto& c : conns_) release(*c);
  }

  bool accepting() const { return conns_.size() < limits_.max_connections; }

  void accept_from(int lfd) {
    while (accepting()) {
      const int fd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) break;
      auto c = std::make_unique<Connection>();
      c->id = ++last_id_;
      c->fd = fd;
      c->deadline = Clock::now() + limits_.head;
      conns_.push_back(std::move(c));
    }
  }

  void poll_set(std::vector<pollfd>& fds) const {
    for (const auto& c : conns_) {
      short ev = 0;
      switch (c->state) {
        case State::Head:
        case State::Body:
        case State::Hanging:
        case State::Draining: ev = POLLIN; break;
        case State::Writing: ev = POLLOUT; break;
        case State::Working: break;
      }
      // A "100 Continue" waits to go out while the body comes.
      if (c->out_off < c->out_size()) ev |= POLLOUT;
      fds.push_back({c->fd, ev, 0});
    }
  }

  // How long poll may sleep: until the next deadline, and never long.
  int timeout_ms() const {
    auto next = Clock::now() + kTick;
    for (const auto& c : conns_)
      if (c->state != State::Hanging) next = std::min(next, c->deadline);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left + 1, 0, kTick.count()));
  }

  // `fds` holds the connections from `first` on, in order.
  void serve_ready(const std::vector<pollfd>& fds, size_t first) {
    const auto now = Clock::now();
    for (size_t i = 0; i < conns_.size(); ++i) {
      Connection& c = *conns_[i];
      const short rev = fds[first + i].revents;
      bool alive = true;
      if (rev & (POLLIN | POLLHUP | POLLERR)) alive = read_some(c);
      if (alive && c.out_off < c.out_size() && (rev & POLLOUT)) alive = write_some(c);
      if (alive && c.state == State::Writing && c.out_off == c.out_size()) {
        // Half-close and let the peer read the answer before the socket goes.
        shutdown(c.fd, SHUT_WR);
        c.state = State::Draining;
        c.deadline = now + kDrainLimit;
      }
      if (alive && c.state != State::Hanging && now >= c.deadline) alive = expire(c);
      if (!alive) {
        release(c);
        conns_[i].reset();
      }
    }
    std::erase_if(conns_, [](const auto& c) { return !c; });
  }

  void collect() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = read(wake_fd_, &count, sizeof count);
    for (Done& d : workers_.finished()) {
      // Work past its time may have stopped half-way while it still answers: whoever notices
      // the deadline first, the client gets the same refusal.
      bool late = false;
      if (auto it = inflight_.find(d.id); it != inflight_.end()) {
        late = it->second.work->cancelled();
        unhold(it->second.body_held);
        inflight_.erase(it);
      }
      Connection* c = find(d.id);
      if (!c || c->state != State::Working) continue;
      if (late && d.resp.status < 400) {
        refuse(*c, 503, overtime_text(limits_.work.time));
      } else {
        respond(*c, std::move(d.resp));
      }
    }
  }

 private:
  struct Inflight {
    std::shared_ptr<Work> work;
    size_t body_held = 0;
  };

  Connection* find(uint64_t id) {
    for (auto& c : conns_)
      if (c->id == id) return c.get();
    return nullptr;
  }

  bool hold(size_t n) {
    if (n == 0) return true;
    if (held_ + n > limits_.max_held || !memory::take(n)) return false;
    held_ += n;
    return true;
  }
  void unhold(size_t n) {
    held_ -= n;
    memory::give(n);
  }

  void release(Connection& c) {
    unhold(c.held + c.body_held);
    c.held = c.body_held = 0;
  }

  void respond(Connection& c, Response resp) {
    release(c);
    c.out_head += serialize_head(resp);
    c.out_body = std::move(resp.body);
    // The answer exists already; counting it keeps new requests out while it is held. What
    // it takes is its strings' room, which a growing answer leaves larger than its size.
    c.held = c.out_head.capacity() + c.out_body.capacity();
    held_ += c.held;
    memory::add(c.held);
    c.head.clear();
    c.head.shrink_to_fit();
    c.body.clear();
    c.body.shrink_to_fit();
    c.state = State::Writing;
    c.deadline = Clock::now() + per_size(limits_.send, c.out_size(), limits_.rate);
  }

  void refuse(Connection& c, int status, const std::string& what) { respond(c, json_error(status, what)); }

  // The deadline of the connection's state has passed. False when the connection goes.
  bool expire(Connection& c) {
    switch (c.state) {
      case State::Head:
        refuse(c, 408, "the request head did not arrive within " + duration_text(limits_.head));
        return true;
      case State::Body:
        refuse(c, 408, "the request body did not arrive in time");
        return true;
      case State::Working:
        if (auto it = inflight_.find(c.id); it != inflight_.end()) it->second.work->cancel();
        refuse(c, 503, overtime_text(limits_.work.time));
        return true;
      case State::Writing: {
        // The client does not read: drop the answer at once instead of queueing it for it.
        const linger hard{1, 0};
        setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        return false;
      }
      case State::Hanging:
      case State::Draining: return false;
    }
    return false;
  }

  // Reads what is there. False when the peer has gone or the socket failed.
  bool read_some(Connection& c) {
    char buf[64 * 1024];
    // A fast large body is read in turns with the other connections.
    for (int turn = 0; turn < 64; ++turn) {
      const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
      if (n == 0) return false;
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
      const std::string_view got(buf, static_cast<size_t>(n));
      if (c.state == State::Head) {
        on_head_bytes(c, got);
      } else if (c.state == State::Body) {
        c.body.append(got.substr(0, c.content_length - c.body.size()));
        if (c.body.size() == c.content_length) complete(c);
      }
      // In the other states what comes is not read: a client that keeps sending is not waited for.
      if (c.state != State::Head && c.state != State::Body) return true;
    }
    return true;
  }

  void on_head_bytes(Connection& c, std::string_view got) {
    const size_t counted = c.head.size() + got.size() > kFreeHead ? c.head.size() + got.size() - kFreeHead - c.held : 0;
    if (counted > 0 && !hold(counted)) {
      refuse(c, 503, "the backend is busy: its memory for requests is taken");
      return;
    }
    c.held += counted;
    c.head.append(got);
    const auto end = head_end(c.head);
    if (!end) {
      if (c.head.size() > kMaxHead) refuse(c, 431, "the request head is too large");
      return;
    }
    Request& req = c.req;
    const int refused = parse_head(std::string_view(c.head).substr(0, *end - 4), req, c.content_length);
    if (refused != 0) {
      refuse(c, refused, refused == 501 ? "only Content-Length bodies are accepted"
                         : refused == 413 ? "the body is larger than " + size_text(kMaxBody)
                                          : "malformed request");
      return;
    }
    const bool scripted = opts_.script && opts_.script->covers(req.method, req.path);
    if (std::optional<Response> no = refusal(req, c.content_length, access_, scripted)) {
      respond(c, std::move(*no));
      return;
    }
    const std::string_view rest = std::string_view(c.head).substr(*end);
    if (!hold(c.content_length)) {
      refuse(c, 503, "the backend is busy: its memory for requests is taken");
      return;
    }
    c.body_held = c.content_length;
    // Room for the whole body at once, so that it is never copied while it grows.
    c.body.reserve(c.content_length);
    c.body.append(rest.substr(0, c.content_length));
    unhold(c.held);
    c.held = 0;
    c.head.clear();
    c.head.shrink_to_fit();
    c.state = State::Body;
    c.deadline = Clock::now() + per_size(limits_.body, c.content_length, limits_.rate);
    if (c.body.size() == c.content_length) {
      complete(c);
      return;
    }
    const std::string* expect = req.header("expect");
    if (expect) {
      if (strcasecmp(expect->c_str(), "100-continue") != 0) {
        refuse(c, 417, "expectation not supported");
        return;
      }
      c.out_head = "HTTP/1.1 100 Continue\r\n\r\n";
    }
  }

  void record(const Request& req) {
    if (opts_.record_file.empty()) return;
    const int fd = open(opts_.record_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const std::string line = std::to_string(port_) + " " + req.method + " " + req.path + "\n";
    [[maybe_unused]] const ssize_t n = write(fd, line.data(), line.size());
    close(fd);
  }

  // Everything of the request has arrived: answer it from the script, here, or by a worker.
  void complete(Connection& c) {
    c.req.body = std::move(c.body);
    c.req.local_port = port_;
    record(c.req);
    Response resp;
    const Script::Action act = opts_.script ? opts_.script->match(c.req, resp) : Script::Action::Route;
    if (act == Script::Action::Hang) {
      c.state = State::Hanging;
      return;
    }
    if (act == Script::Action::Reply) {
      respond(c, std::move(resp));
      return;
    }
    if (c.req.method == "GET" && c.req.path == "/health") {
      respond(c, handle_health(c.req));
      return;
    }
    auto work = std::make_shared<Work>(limits_.work);
    c.req.work = work;
    inflight_[c.id] = {work, c.body_held};
    c.body_held = 0;
    c.state = State::Working;
    c.deadline = work->deadline();
    workers_.submit({c.id, std::exchange(c.req, Request{})});
  }

  // Sends what it can. False when the socket failed.
  static bool write_some(Connection& c) {
    while (c.out_off < c.out_size()) {
      iovec iov[2];
      int count = 0;
      if (c.out_off < c.out_head.size()) {
        iov[count++] = {c.out_head.data() + c.out_off, c.out_head.size() - c.out_off};
        iov[count++] = {c.out_body.data(), c.out_body.size()};
      } else {
        const size_t at = c.out_off - c.out_head.size();
        iov[count++] = {c.out_body.data() + at, c.out_body.size() - at};
      }
      msghdr msg{};
      msg.msg_iov = iov;
      msg.msg_iovlen = static_cast<size_t>(count);
      const ssize_t n = sendmsg(c.fd, &msg, MSG_NOSIGNAL);
      if (n > 0) {
        c.out_off += static_cast<size_t>(n);
        continue;
      }
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    }
    return true;
  }

  const ServerOptions& opts_;
  const ServerLimits& limits_;
  const Access access_;
  const int port_;
  const int wake_fd_;
  std::vector<std::unique_ptr<Connection>> conns_;
  std::map<uint64_t, Inflight> inflight_;
  size_t held_ = 0;
  uint64_t last_id_ = 0;
  Workers workers_;  // last: it goes first, while what it reports to is still there
};

}  // namespace

int serve(const ServerOptions& opts, const std::function<void(int port)>& on_listening) {
  if (opts.parent_watch) {
    // The kernel tells us when the parent goes; a parent that went before we could ask has
    // already handed us to init.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1) return 0;
  }
  const pid_t parent = getppid();
  int port = 0;
  const int lfd = listen_on(opts.port, port);
  if (lfd < 0) {
    std::fprintf(stderr, "durovaderiz: cannot listen on 127.0.0.1:%d\n", opts.port);
    return 1;
  }
  const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    close(lfd);
    return 1;
  }
  {
    Loop loop(opts, port, wake);
    if (on_listening) on_listening(port);
    std::vector<pollfd> fds;
    for (;;) {
      if (opts.parent_watch && getppid() != parent) break;
      if (opts.stop && opts.stop->load()) break;
      fds.clear();
      fds.push_back({lfd, static_cast<short>(loop.accepting() ? POLLIN : 0), 0});
      fds.push_back({wake, POLLIN, 0});
      loop.poll_set(fds);
      const int ready = poll(fds.data(), fds.size(), loop.timeout_ms());
      if (ready < 0 && errno != EINTR) break;
      if (fds[1].revents & POLLIN) loop.collect();
      loop.serve_ready(fds, 2);
      if (fds[0].revents & POLLIN) loop.accept_from(lfd);
    }
  }
  close(wake);
  close(lfd);
  return 0;
}

}  // namespace durovaderiz
