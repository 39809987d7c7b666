// What the backend benchmarks share: the stand-in started on a free port and requests to it.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/process_helpers.h"

namespace quorvel::bench {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The program under test: the first argument when given, else the built stand-in.
inline std::string stand_in_program(int argc, char** argv) {
  if (argc > 1) return argv[1];
  const char* dir = std::getenv("QUORVEL_BUILD_DIR");
  return std::string(dir && *dir ? dir : ".") + "/durovaderiz";
}

// Started with "--port N" (what every version of the stand-in takes) and ready once it accepts.
struct Backend {
  test::Child child;
  int port = 0;
  bool start(const std::string& program, const test::EnvChanges& env = {}) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      port = test::free_port();
      test::EnvChanges e = env;
      e.emplace("QUORVEL_PARENT_WATCH", std::nullopt);
      if (child.start({program, "--port", std::to_string(port)}, e, "/dev/null") &&
          test::wait_for_port(port, 10000) && child.running())
        return true;
    }
    return false;
  }
  std::string head(const std::string& method, const std::string& target, const std::string& type,
                   size_t length) const {
    std::string h = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
    if (!type.empty()) h += "Content-Type: " + type + "\r\n";
    if (method == "POST") h += "Content-Length: " + std::to_string(length) + "\r\n";
    return h + "\r\n";
  }
  test::HttpReply request(const std::string& method, const std::string& target, const std::string& body = {},
                          const std::string& type = {}, int timeout_ms = 600000) const {
    return test::http_raw(port, head(method, target, type, body.size()) + body, timeout_ms);
  }
};

}  // namespace quorvel::bench
