#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "routes.h"

namespace durovaderiz {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxConnections = 64;
constexpr auto kIdleLimit = std::chrono::seconds(30);
constexpr auto kDrainLimit = std::chrono::seconds(2);

enum class State { Reading, Hanging, Writing, Draining };

struct Connection {
  int fd = -1;
  State state = State::Reading;
  std::string in;
  bool head_done = false;
  size_t body_start = 0;
  size_t content_length = 0;
  Request req;
  std::string out;
  size_t out_off = 0;
  Clock::time_point last = Clock::now();

  ~Connection() {
    if (fd >= 0) close(fd);
  }
};

void record(const ServerOptions& opts, const Request& req) {
  if (opts.record_file.empty()) return;
  const int fd = open(opts.record_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const std::string line = std::to_string(opts.port) + " " + req.method + " " + req.path + "\n";
  [[maybe_unused]] const ssize_t n = write(fd, line.data(), line.size());
  close(fd);
}

void respond(Connection& c, const Response& resp) {
  c.out += serialize(resp);
  c.state = State::Writing;
}

// Everything of the request has arrived: answer it, from the script or the route.
void complete(Connection& c, const ServerOptions& opts) {
  c.req.body = c.in.substr(c.body_start, c.content_length);
  c.req.local_port = opts.port;
  c.in.clear();
  c.in.shrink_to_fit();
  record(opts, c.req);
  Response resp;
  const Script::Action act = opts.script ? opts.script->match(c.req, resp) : Script::Action::Route;
  if (act == Script::Action::Hang) {
    c.state = State::Hanging;
    return;
  }
  if (act == Script::Action::Route) resp = dispatch(c.req);
  c.req = Request{};
  respond(c, resp);
}

void on_input(Connection& c, const ServerOptions& opts) {
  if (!c.head_done) {
    const auto end = head_end(c.in);
    if (!end) {
      if (c.in.size() > kMaxHead) respond(c, text_reply(431, "request head too large"));
      return;
    }
    const int refused = parse_head(std::string_view(c.in).substr(0, *end - 4), c.req, c.content_length);
    if (refused != 0) {
      respond(c, text_reply(refused, refused == 501 ? "only Content-Length bodies are accepted"
                                                    : "malformed request"));
      return;
    }
    c.head_done = true;
    c.body_start = *end;
    const std::string* expect = c.req.header("expect");
    if (expect && c.content_length > 0 && c.in.size() - c.body_start < c.content_length) {
      if (strcasecmp(expect->c_str(), "100-continue") != 0) {
        respond(c, text_reply(417, "expectation not supported"));
        return;
      }
      c.out += "HTTP/1.1 100 Continue\r\n\r\n";
    }
  }
  if (c.in.size() - c.body_start >= c.content_length) complete(c, opts);
}

// Reads what is there. False when the peer has gone or the socket failed.
bool read_some(Connection& c) {
  char buf[64 * 1024];
  for (;;) {
    const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
    if (n > 0) {
      if (c.state == State::Reading) c.in.append(buf, static_cast<size_t>(n));
      if (static_cast<size_t>(n) < sizeof buf) return true;
      if (c.state == State::Reading && !c.head_done && c.in.size() > kMaxHead) return true;
      if (c.state == State::Reading && c.head_done &&
          c.in.size() - c.body_start >= c.content_length) {
        return true;
      }
      continue;
    }
    if (n == 0) return false;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  }
}

// Sends what it can. False when the socket failed.
bool write_some(Connection& c) {
  while (c.out_off < c.out.size()) {
    const ssize_t n = send(c.fd, c.out.data() + c.out_off, c.out.size() - c.out_off, MSG_NOSIGNAL);
    if (n > 0) {
      c.out_off += static_cast<size_t>(n);
      continue;
    }
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
  }
  return true;
}

int listen_on(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int serve(const ServerOptions& opts) {
  if (opts.parent_watch) {
    // The kernel tells us when the parent goes; a parent that went before we could ask has
    // already handed us to init.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1) return 0;
  }
  const pid_t parent = getppid();
  const int lfd = listen_on(opts.port);
  if (lfd < 0) {
    std::fprintf(stderr, "durovaderiz: cannot listen on 127.0.0.1:%d\n", opts.port);
    return 1;
  }
  std::vector<std::unique_ptr<Connection>> conns;
  std::vector<pollfd> fds;
  for (;;) {
    if (opts.parent_watch && getppid() != parent) break;

    fds.clear();
    fds.push_back({lfd, static_cast<short>(conns.size() < kMaxConnections ? POLLIN : 0), 0});
    for (const auto& c : conns) {
      short ev = POLLIN;
      if (c->out_off < c->out.size()) ev |= POLLOUT;
      fds.push_back({c->fd, ev, 0});
    }
    const int ready = poll(fds.data(), fds.size(), 250);
    if (ready < 0 && errno != EINTR) break;

    const auto now = Clock::now();
    for (size_t i = 0; i < conns.size(); ++i) {
      Connection& c = *conns[i];
      const short rev = fds[i + 1].revents;
      bool alive = true;
      if (rev & (POLLIN | POLLHUP | POLLERR)) {
        c.last = now;
        alive = read_some(c);
        if (alive && c.state == State::Reading) on_input(c, opts);
      }
      if (alive && c.out_off < c.out.size()) {
        alive = write_some(c);
        c.last = now;
      }
      if (alive && c.state == State::Writing && c.out_off == c.out.size()) {
        // Half-close and let the peer read the answer before the socket goes.
        shutdown(c.fd, SHUT_WR);
        c.state = State::Draining;
        c.last = now;
      }
      const auto limit = c.state == State::Draining ? kDrainLimit : kIdleLimit;
      if (!alive || now - c.last > limit) conns[i].reset();
    }
    std::erase_if(conns, [](const auto& c) { return !c; });

    if (fds[0].revents & POLLIN) {
      while (conns.size() < kMaxConnections) {
        const int cfd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (cfd < 0) break;
        auto c = std::make_unique<Connection>();
        c->fd = cfd;
        conns.push_back(std::move(c));
      }
    }
  }
  close(lfd);
  return 0;
}

}  // namespace durovaderiz
