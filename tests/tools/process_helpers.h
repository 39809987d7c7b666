// Running the built programs from tests: separate output streams, a changed environment, time
// limits, and a tiny loopback HTTP client for the backend stand-in.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "common/time_bound.h"

namespace quorvel::test {

// Variables to set (a value) or to remove (nullopt) on top of this process's environment.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

struct RunResult {
  int status = -1;      // exit status; -1 when it did not start or was killed
  bool timed_out = false;
  std::string out;
  std::string err;
};

// `input`, when given, is the program's standard input (at most a pipe's buffer); else it reads
// nothing.
RunResult run(const std::vector<std::string>& argv, const EnvChanges& env = {}, int timeout_ms = 60000,
              const std::string& input = {});

// A program running in the background; killed when the object goes.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { stop(); }
  // `output`, when given, receives the program's standard output and error; with `stdout_pipe`
  // standard output goes to a pipe instead, whose reading end (owned by the caller) it gets.
  bool start(const std::vector<std::string>& argv, const EnvChanges& env = {},
             const std::string& output = {}, int* stdout_pipe = nullptr);
  bool running();
  // SIGKILL and reap; gives the exit status when it had already ended by itself.
  int stop();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// The backend stand-in on a port the system picks, as its starter learns it: from the line it
// prints once it listens. Its standard error goes to `log`. QUORVEL_PARENT_WATCH is removed
// from its environment unless `env` sets it.
class StandIn {
 public:
  explicit StandIn(const std::string& log, EnvChanges env = {});
  ~StandIn();
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;
  bool ready() const { return ready_; }
  int port() const { return port_; }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  Child& child() { return child_; }
  // The first line of its standard output, and what it wrote there after it so far.
  const std::string& listening_line() const { return line_; }
  std::string more_output();

 private:
  Child child_;
  int out_ = -1;
  int port_ = 0;
  bool ready_ = false;
  std::string line_;
};

// Reads one line from `fd` within `timeout_ms`; empty when none came.
std::string read_line(int fd, int timeout_ms);

// The port of a "listening 127.0.0.1:PORT" line, or 0.
int listening_port(const std::string& line);

// A port on 127.0.0.1 that was free a moment ago.
int free_port();
// A connected socket to 127.0.0.1:port, or -1.
int connect_to(int port);
bool port_open(int port);
bool wait_for_port(int port, int timeout_ms);

// A client that sent `raw` and then waits, holding its connection open until the object goes.
class OpenConnection {
 public:
  OpenConnection(int port, const std::string& raw);
  OpenConnection(const OpenConnection&) = delete;
  OpenConnection& operator=(const OpenConnection&) = delete;
  ~OpenConnection();
  bool connected() const { return fd_ >= 0; }
  // Still open, and the server has sent nothing on it.
  bool unanswered() const;

 private:
  int fd_ = -1;
};

// Waits until process `pid` (not necessarily our child) has ended; false after `timeout_ms`.
bool wait_for_exit(pid_t pid, int timeout_ms);
bool alive(pid_t pid);

struct HttpReply {
  int status = 0;  // 0: no answer
  std::string head;
  std::string body;
};

// Sends `raw` as it stands and reads until the server closes.
HttpReply http_raw(int port, const std::string& raw, int timeout_ms = 10000);
// A request as the application sends it: Host naming the port, no Origin; `extra` heads more.
HttpReply http_request(int port, const std::string& method, const std::string& target,
                       const std::string& body = {}, const std::string& content_type = {},
                       const std::string& extra = {});
// "Host: 127.0.0.1:PORT\r\n"
std::string host_line(int port);

// Path of a built program: QUORVEL_BUILD_DIR/name.
std::string built(const std::string& name);

}  // namespace quorvel::test
