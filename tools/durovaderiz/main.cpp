// Stand-in for the backend companion program: serves the routes the application calls on
// 127.0.0.1 at the port given with --port (0: one the system picks). Once it listens it prints
// "listening 127.0.0.1:PORT" on standard output, and nothing else there. DUROVADERIZ_TOKEN,
// when set, is the secret that every request but the health check must carry as a bearer
// token; the variable is removed from the environment once read.
#include <malloc.h>
#include <sys/prctl.h>

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
  std::fprintf(stderr, "usage: durovaderiz --port N (0: any free port)\n");
  return 2;
}

bool parse_port(const char* s, int& port) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s, &end, 10);
  if (errno != 0 || end == s || *end != '\0' || v < 0 || v > 65535) return false;
  port = static_cast<int>(v);
  return true;
}

const char* env(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? v : nullptr;
}

// The secret, taken out of the environment: children would inherit it, and the process's own
// copy of its starting environment is readable to its user, so that copy is wiped too.
std::string take_token() {
  std::string token;
  if (char* v = std::getenv("DUROVADERIZ_TOKEN")) {
    token = v;
    explicit_bzero(v, token.size());
  }
  unsetenv("DUROVADERIZ_TOKEN");
  return token;
}

}  // namespace

int main(int argc, char** argv) {
  taviocr::run_single_threaded(argv);
  // Started again through /proc/self/exe, the process would be listed as "exe".
  prctl(PR_SET_NAME, "durovaderiz");
  // Routes run on worker threads; glibc's per-thread arenas make qpdf's many small objects a
  // fifth slower there than on the main thread's heap, which all workers share instead.
  mallopt(M_ARENA_MAX, 1);
  durovaderiz::ServerOptions opts;
  opts.token = take_token();
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
  return durovaderiz::serve(opts, [](int port) {
    std::printf("listening 127.0.0.1:%d\n", port);
    std::fflush(stdout);
  });
}
