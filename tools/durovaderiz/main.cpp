// Stand-in for the backend companion program: serves the routes the application calls on
// 127.0.0.1 at the port given with --port.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "ocr_engine.h"
#include "script.h"
#include "server.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: durovaderiz --port N\n");
  return 2;
}

bool parse_port(const char* s, int& port) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s, &end, 10);
  if (errno != 0 || end == s || *end != '\0' || v < 1 || v > 65535) return false;
  port = static_cast<int>(v);
  return true;
}

const char* env(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? v : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  taviocr::run_single_threaded(argv);
  durovaderiz::ServerOptions opts;
  bool have_port = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
      if (!parse_port(argv[++i], opts.port)) return usage();
      have_port = true;
    } else {
      return usage();
    }
  }
  if (!have_port) return usage();
  std::signal(SIGPIPE, SIG_IGN);

  const char* watch = env("QUORVEL_PARENT_WATCH");
  opts.parent_watch = watch && std::strcmp(watch, "0") != 0;

  durovaderiz::Script script;
  if (const char* file = env("DUROVADERIZ_SCRIPT")) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    if (!in || !script.parse(text.str(), error)) {
      std::fprintf(stderr, "durovaderiz: %s\n", in ? error.c_str() : "cannot read the script");
      return 2;
    }
    opts.script = &script;
  }
  if (const char* file = env("DUROVADERIZ_RECORD")) opts.record_file = file;
  return durovaderiz::serve(opts);
}
