#include "tools/process_helpers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace quorvel::test {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> make_env(const EnvChanges& changes) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq) vars[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
  }
  for (const auto& [k, v] : changes) {
    if (v) {
      vars[k] = *v;
    } else {
      vars.erase(k);
    }
  }
  std::vector<std::string> out;
  for (const auto& [k, v] : vars) out.push_back(k + "=" + v);
  return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (std::string& s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

pid_t spawn(const std::vector<std::string>& argv, const EnvChanges& env, int out_fd, int err_fd, int in_fd = -1) {
  std::vector<std::string> args = argv;
  std::vector<std::string> envs = make_env(env);
  auto argp = pointers(args);
  auto envp = pointers(envs);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (in_fd >= 0)
    posix_spawn_file_actions_adddup2(&fa, in_fd, 0);
  else
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (out_fd >= 0) posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
  if (err_fd >= 0) posix_spawn_file_actions_adddup2(&fa, err_fd, 2);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0].c_str(), &fa, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  return rc == 0 ? pid : -1;
}

int exit_status(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

RunResult run(const std::vector<std::string>& argv, const EnvChanges& env, int timeout_ms, const std::string& input) {
  RunResult r;
  int out[2], err[2], in[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0) return r;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return r;
  }
  // The input fits the pipe's buffer: it is written whole before the program starts.
  if (!input.empty() && pipe2(in, O_CLOEXEC) == 0) {
    if (write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) r.err = "input not written";
    close(in[1]);
  }
  const pid_t pid = spawn(argv, env, out[1], err[1], in[0]);
  close(out[1]);
  close(err[1]);
  if (in[0] >= 0) close(in[0]);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open_fds = 2;
  while (pid > 0 && open_fds > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      r.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[8192];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
      } else {
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  close(out[0]);
  close(err[0]);
  if (pid > 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = r.timed_out ? -1 : exit_status(status);
  }
  return r;
}

bool Child::start(const std::vector<std::string>& argv, const EnvChanges& env,
                  const std::string& output, int* stdout_pipe) {
  stop();
  status_ = -1;
  int fd = -1;
  if (!output.empty()) {
    fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
  }
  int p[2] = {-1, -1};
  if (stdout_pipe && pipe2(p, O_CLOEXEC) != 0) {
    if (fd >= 0) close(fd);
    return false;
  }
  pid_ = spawn(argv, env, stdout_pipe ? p[1] : fd, fd);
  if (fd >= 0) close(fd);
  if (stdout_pipe) {
    close(p[1]);
    *stdout_pipe = p[0];
  }
  return pid_ > 0;
}

bool Child::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = exit_status(status);
    pid_ = -1;
    return false;
  }
  return true;
}

int Child::stop() {
  if (pid_ > 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = exit_status(status);
    } else {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  return status_;
}

StandIn::StandIn(const std::string& log, EnvChanges env) {
  env.emplace("QUORVEL_PARENT_WATCH", std::nullopt);
  if (!child_.start({built("durovaderiz"), "--port", "0"}, env, log, &out_)) return;
  line_ = read_line(out_, time_bound_ms(10000));
  port_ = listening_port(line_);
  ready_ = port_ > 0 && child_.running();
}

StandIn::~StandIn() {
  child_.stop();
  if (out_ >= 0) close(out_);
}

std::string StandIn::more_output() {
  std::string out;
  char buf[4096];
  pollfd p{out_, POLLIN, 0};
  while (out_ >= 0 && poll(&p, 1, 0) == 1) {
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

std::string read_line(int fd, int timeout_ms) {
  std::string line;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  pollfd p{fd, POLLIN, 0};
  while (line.empty() || line.back() != '\n') {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1) return {};
    char c;
    if (read(fd, &c, 1) != 1) return {};
    line.push_back(c);
  }
  return line;
}

int listening_port(const std::string& line) {
  constexpr std::string_view prefix = "listening 127.0.0.1:";
  if (line.rfind(prefix, 0) != 0 || line.back() != '\n') return 0;
  const int port = std::atoi(line.c_str() + prefix.size());
  return port > 0 && port < 65536 && line == std::string(prefix) + std::to_string(port) + "\n" ? port : 0;
}

int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

int connect_to(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool port_open(int port) {
  const int fd = connect_to(port);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool wait_for_port(int port, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < deadline) {
    if (port_open(port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

OpenConnection::OpenConnection(int port, const std::string& raw) : fd_(connect_to(port)) {
  size_t sent = 0;
  while (fd_ >= 0 && sent < raw.size()) {
    const ssize_t n = send(fd_, raw.data() + sent, raw.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
}

OpenConnection::~OpenConnection() {
  if (fd_ >= 0) close(fd_);
}

bool OpenConnection::unanswered() const {
  char c;
  const ssize_t n = recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  return fd_ >= 0 && n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

bool wait_for_exit(pid_t pid, int timeout_ms) {
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return errno == ESRCH;
  pollfd p{fd, POLLIN, 0};
  const bool ended = poll(&p, 1, timeout_ms) == 1;
  close(fd);
  return ended;
}

bool alive(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

HttpReply http_raw(int port, const std::string& raw, int timeout_ms) {
  HttpReply reply;
  const int fd = connect_to(port);
  if (fd < 0) return reply;
  size_t sent = 0;
  while (sent < raw.size()) {
    const ssize_t n = send(fd, raw.data() + sent, raw.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string all;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[65536];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    all.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  // A "100 Continue" interim answer comes before the real one.
  while (all.rfind("HTTP/1.1 100", 0) == 0) {
    const size_t e = all.find("\r\n\r\n");
    if (e == std::string::npos) break;
    all.erase(0, e + 4);
  }
  const size_t end = all.find("\r\n\r\n");
  if (all.rfind("HTTP/1.", 0) != 0 || end == std::string::npos || all.size() < 12) return reply;
  reply.status = std::atoi(all.c_str() + 9);
  reply.head = all.substr(0, end);
  reply.body = all.substr(end + 4);
  return reply;
}

std::string host_line(int port) { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }

HttpReply http_request(int port, const std::string& method, const std::string& target,
                       const std::string& body, const std::string& content_type, const std::string& extra) {
  std::string raw = method + " " + target + " HTTP/1.1\r\n" + host_line(port) + extra;
  if (!content_type.empty()) raw += "Content-Type: " + content_type + "\r\n";
  if (!body.empty() || method == "POST") raw += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  raw += "\r\n" + body;
  return http_raw(port, raw);
}

std::string built(const std::string& name) {
  const char* dir = std::getenv("QUORVEL_BUILD_DIR");
  return std::string(dir && *dir ? dir : ".") + "/" + name;
}

}  // namespace quorvel::test
