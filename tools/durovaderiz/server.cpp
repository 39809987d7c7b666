#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
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

constexpr auto kTick = std::chrono::milliseconds(50);
// Room for the connections that close while new ones come, beyond the ones we keep.
constexpr size_t kConnectionMargin = 64;
// A chunked body is taken from the budget in steps of this much as it comes.
constexpr size_t kChunkStep = 1024 * 1024;

std::chrono::milliseconds per_size(std::chrono::milliseconds base, size_t bytes, size_t rate) {
  return base + std::chrono::milliseconds(rate ? bytes / rate * 1000 : 0);
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
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

// As many connections as the descriptors allow, up to `wanted`: the soft limit is raised first.
size_t connection_room(size_t wanted) {
  rlimit lim{};
  if (getrlimit(RLIMIT_NOFILE, &lim) != 0) return 64;
  const rlim_t need = wanted + kConnectionMargin + 256;
  if (lim.rlim_cur < need) {
    lim.rlim_cur = std::min(need, lim.rlim_max);
    setrlimit(RLIMIT_NOFILE, &lim);
    getrlimit(RLIMIT_NOFILE, &lim);
  }
  const rlim_t spare = kConnectionMargin + 256;
  return lim.rlim_cur > spare + 16 ? std::min<size_t>(wanted, lim.rlim_cur - spare) : 16;
}

// Runs jobs on a few threads of their own.
class Workers {
 public:
  explicit Workers(int count) {
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
  void submit(std::function<void()> job) {
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
  }

 private:
  void run() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

enum class Phase { Head, Body, Working, Hanging, Sending, Done };

struct Exchange;

// One connection, from its accept to its close; guarded by the server's mutex.
struct Tracked {
  int fd = -1;
  Phase phase = Phase::Head;
  Clock::time_point deadline;
  bool dropped = false;
  std::shared_ptr<Exchange> exchange;  // while it is suspended: working or hanging
};

// One request, from its request line to its answer.
struct Exchange {
  std::string target;  // as it came
  bool started = false;
  Request req;
  std::optional<size_t> length;  // nullopt: chunked
  size_t limit = kMaxBody;
  size_t body_held = 0;          // taken from the budgets for the body
  std::optional<Response> refused;  // answered once the body is in (or dropped)
  MHD_Connection* connection = nullptr;
  // Between the worker, the watchdog and the connection's thread:
  std::mutex m;
  bool answered = false;  // the answer below is the one; nobody resumes again
  Response resp;
};

// What an answer's bytes are held in until the library is done with them.
struct Held {
  std::string body;
  size_t counted = 0;
  std::atomic<size_t>* server_held = nullptr;
};

class Server {
 public:
  Server(const ServerOptions& opts, int port)
      : opts_(opts),
        limits_(opts.limits),
        access_{port, opts.token},
        port_(port),
        handler_(opts.handler ? opts.handler : dispatch),
        max_connections_(connection_room(limits_.max_connections)),
        workers_(std::max(1, limits_.workers)) {}

  bool start(int lfd) {
    const unsigned idle = static_cast<unsigned>(
        std::chrono::ceil<std::chrono::seconds>(std::max({limits_.head, limits_.body, limits_.send})).count());
    daemon_ = MHD_start_daemon(
        MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr, &Server::on_request, this,
        MHD_OPTION_LISTEN_SOCKET, lfd, MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(std::max(1, limits_.io_threads)),
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(max_connections_ + kConnectionMargin),
        // The library's own limit is on silence; ours, below, on the whole of each part.
        MHD_OPTION_CONNECTION_TIMEOUT, std::max(1u, idle), MHD_OPTION_CONNECTION_MEMORY_LIMIT, kMaxHead,
        MHD_OPTION_URI_LOG_CALLBACK, &Server::on_target, this, MHD_OPTION_UNESCAPE_CALLBACK, &Server::keep_escaped,
        this, MHD_OPTION_NOTIFY_COMPLETED, &Server::on_completed, this, MHD_OPTION_NOTIFY_CONNECTION,
        &Server::on_connection, this, MHD_OPTION_END);
    return daemon_ != nullptr;
  }

  // Every suspended request gets its answer, so that the library can stop.
  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      for (auto& [id, t] : tracked_) {
        if (!t->exchange) continue;
        // Queued work would otherwise still run, for nobody.
        if (t->exchange->req.work) t->exchange->req.work->cancel();
        conclude(*t->exchange, json_error(503, "the backend is stopping"));
      }
    }
    if (daemon_) MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
  }

  // Drops the connections whose part took too long, and answers work past its time.
  void watch() {
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    for (auto& [id, t] : tracked_) {
      if (t->dropped || now < t->deadline) continue;
      switch (t->phase) {
        case Phase::Head:
        case Phase::Body: drop(*t, false); break;
        // The client does not read: the answer goes at once instead of waiting in the socket.
        case Phase::Sending: drop(*t, true); break;
        case Phase::Working:
          if (t->exchange) {
            if (t->exchange->req.work) t->exchange->req.work->cancel();
            conclude(*t->exchange, json_error(503, overtime_text(limits_.work.time)));
            t->exchange.reset();
          }
          break;
        case Phase::Hanging:
        case Phase::Done: break;
      }
    }
  }

 private:
  // --- the library's callbacks -------------------------------------------------------------

  static void* on_target(void*, const char* uri, MHD_Connection* c) {
    auto* ex = new std::shared_ptr<Exchange>(std::make_shared<Exchange>());
    (*ex)->target = uri ? uri : "";
    (*ex)->connection = c;
    return ex;
  }

  // Targets are decoded by us, as the routes have always had them ('+' in a query aside, which
  // the library turns into a space as form data does).
  static size_t keep_escaped(void*, MHD_Connection*, char* s) { return std::strlen(s); }

  static MHD_Result on_request(void* cls, MHD_Connection* c, const char*, const char* method, const char*,
                               const char* upload, size_t* upload_size, void** con_cls) {
    auto* server = static_cast<Server*>(cls);
    auto* holder = static_cast<std::shared_ptr<Exchange>*>(*con_cls);
    if (!holder) return MHD_NO;
    Exchange& ex = **holder;
    try {
      if (!ex.started) {
        ex.started = true;
        return server->begin(c, ex, method);
      }
      if (*upload_size > 0) {
        server->take_body(ex, std::string_view(upload, *upload_size));
        *upload_size = 0;
        return MHD_YES;
      }
      return server->finish(c, *holder);
    } catch (...) {
      return MHD_NO;  // out of memory in the middle: the connection goes
    }
  }

  static void on_completed(void* cls, MHD_Connection* c, void** con_cls, MHD_RequestTerminationCode) {
    auto* server = static_cast<Server*>(cls);
    auto* holder = static_cast<std::shared_ptr<Exchange>*>(*con_cls);
    *con_cls = nullptr;
    server->set_phase(c, Phase::Done, {});
    if (!holder) return;
    {
      // A body a worker has is the worker's to give back.
      std::lock_guard lock((*holder)->m);
      if (!(*holder)->req.work) server->release_body(**holder);
    }
    delete holder;
  }

  static void on_connection(void* cls, MHD_Connection* c, void** socket_context, MHD_ConnectionNotificationCode code) {
    auto* server = static_cast<Server*>(cls);
    std::lock_guard lock(server->mutex_);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      auto t = std::make_unique<Tracked>();
      const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
      t->fd = info ? info->connect_fd : -1;
      t->deadline = Clock::now() + server->limits_.head;
      *socket_context = t.get();
      server->tracked_.emplace(++server->last_id_, std::move(t));
      server->make_room();
    } else {
      // Before the library closes the socket: from here on nobody touches its descriptor.
      std::erase_if(server->tracked_, [&](const auto& e) { return e.second.get() == *socket_context; });
      *socket_context = nullptr;
    }
  }

  // --- a request's steps -------------------------------------------------------------------

  MHD_Result begin(MHD_Connection* c, Exchange& ex, const char* method) {
    Request& req = ex.req;
    req.method = method;
    req.local_port = port_;
    MHD_get_connection_values_n(
        c, MHD_HEADER_KIND,
        [](void* cls, MHD_ValueKind, const char* key, size_t key_size, const char* value, size_t value_size) {
          static_cast<Request*>(cls)->headers.emplace_back(lower(std::string_view(key, key_size)),
                                                           std::string(value ? value : "", value ? value_size : 0));
          return MHD_YES;
        },
        &req);
    if (!parse_target(ex.target, req)) return answer_now(c, ex, json_error(400, "malformed request"));

    const std::string* te = req.header("transfer-encoding");
    if (te) {
      if (strcasecmp(te->c_str(), "chunked") != 0) return answer_now(c, ex, json_error(501, "only chunked bodies are taken"));
      ex.length.reset();
    } else {
      size_t n = 0;
      if (const std::string* cl = req.header("content-length")) {
        const auto [p, ec] = std::from_chars(cl->data(), cl->data() + cl->size(), n);
        if (ec != std::errc{} || p != cl->data() + cl->size())
          return answer_now(c, ex, json_error(400, "malformed request"));
      }
      if (n > kMaxBody) return answer_now(c, ex, json_error(413, "the body is larger than " + size_text(kMaxBody)));
      ex.length = n;
    }
    bool scripted = false;
    if (opts_.script) {
      std::lock_guard lock(script_mutex_);
      scripted = opts_.script->covers(req.method, req.path);
    }
    if (std::optional<Response> no = refusal(req, ex.length, access_, scripted)) return answer_now(c, ex, std::move(*no));
    if (const std::string* expect = req.header("expect"); expect && strcasecmp(expect->c_str(), "100-continue") != 0)
      return answer_now(c, ex, json_error(417, "expectation not supported"));

    bool known = false;
    if (const Route* route = find_route(req.method, req.path, known); route && !scripted && !opts_.handler)
      ex.limit = route->max_body;
    const size_t first = ex.length ? *ex.length : 0;
    if (!hold(first)) return answer_now(c, ex, json_error(503, "the backend is busy: its memory for requests is taken"));
    ex.body_held = first;
    // Room for the whole body at once, so that it is never copied while it grows.
    req.body.reserve(first);
    const size_t expected = ex.length ? *ex.length : ex.limit;
    set_phase(c, Phase::Body, per_size(limits_.body, expected, limits_.rate));
    return MHD_YES;
  }

  void take_body(Exchange& ex, std::string_view got) {
    if (ex.refused) return;  // what comes after a refusal is read and dropped
    std::string& body = ex.req.body;
    if (ex.length) {
      body.append(got.substr(0, *ex.length - body.size()));
      return;
    }
    if (body.size() + got.size() > ex.limit) {
      refuse_body(ex, json_error(413, "the body is larger than " + size_text(ex.limit) + ", the most this route takes"));
      return;
    }
    if (body.size() + got.size() > ex.body_held) {
      const size_t more = body.size() + got.size() - ex.body_held + kChunkStep;
      if (!hold(more)) {
        refuse_body(ex, json_error(503, "the backend is busy: its memory for requests is taken"));
        return;
      }
      ex.body_held += more;
      body.reserve(ex.body_held);
    }
    body.append(got);
  }

  void refuse_body(Exchange& ex, Response r) {
    ex.refused = std::move(r);
    release_body(ex);
  }

  MHD_Result finish(MHD_Connection* c, const std::shared_ptr<Exchange>& shared) {
    Exchange& ex = *shared;
    if (ex.refused) return answer_now(c, ex, std::move(*ex.refused));
    {
      std::unique_lock lock(ex.m);
      if (ex.answered) {
        Response r = std::move(ex.resp);
        lock.unlock();
        return answer_now(c, ex, std::move(r));
      }
    }
    Request& req = ex.req;
    record(req);
    Response resp;
    Script::Action act = Script::Action::Route;
    if (opts_.script) {
      std::lock_guard lock(script_mutex_);
      act = opts_.script->match(req, resp);
    }
    if (act == Script::Action::Reply) return answer_now(c, ex, std::move(resp));
    if (act == Script::Action::Route && req.method == "GET" && req.path == "/health")
      return answer_now(c, ex, handle_health(req));

    auto work = act == Script::Action::Hang ? nullptr : std::make_shared<Work>(limits_.work);
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return answer_now_locked(c, ex, json_error(503, "the backend is stopping"));
      {
        std::lock_guard ex_lock(ex.m);
        req.work = work;
      }
      if (Tracked* t = tracked(c)) {
        t->phase = work ? Phase::Working : Phase::Hanging;
        t->deadline = work ? work->deadline() : Clock::time_point::max();
        t->exchange = shared;
      }
      MHD_suspend_connection(c);
    }
    if (!work) return MHD_YES;
    ++inflight_;
    workers_.submit([this, shared] { run(shared); });
    return MHD_YES;
  }

  // On a worker: the route's answer, then what the request held goes back.
  void run(const std::shared_ptr<Exchange>& shared) {
    Exchange& ex = *shared;
    Response resp = answer(ex.req);
    // Work past its time may have stopped half-way while it still answers: whoever notices
    // the deadline first, the client gets the same refusal.
    if (ex.req.work->cancelled() && resp.status < 400) resp = json_error(503, overtime_text(limits_.work.time));
    {
      // The budget is free for the next request before this answer leaves; the memory goes
      // right after it.
      std::lock_guard lock(mutex_);
      bool waiting = false;
      {
        std::lock_guard ex_lock(ex.m);
        release_body(ex);
        waiting = !ex.answered;
      }
      // Once answered by others, the connection may be gone: only a waiting one is looked at.
      if (waiting) {
        if (Tracked* t = tracked(ex.connection); t && t->exchange == shared) t->exchange.reset();
        conclude(ex, std::move(resp));
      }
    }
    // What the work kept may still point into the body: both go here, after the answer.
    ex.req.work->release_kept();
    ex.req.body = std::string();
    // A large document leaves the heap wide; once nothing works, it goes back to the system.
    if (--inflight_ == 0) malloc_trim(0);
  }

  Response answer(const Request& req) {
    try {
      // A request that waited longer than it may run is not started at all.
      req.work->check();
      return handler_(req);
    } catch (const WorkRefused& r) {
      return json_error(r.status, r.what);
    } catch (const std::bad_alloc&) {
      return json_error(503, "the backend is out of memory for requests");
    } catch (...) {
      return json_error(500, "the request failed");
    }
  }

  // Gives a suspended request its answer and lets its connection go on, once. Under mutex_.
  void conclude(Exchange& ex, Response resp) {
    std::lock_guard lock(ex.m);
    if (ex.answered) return;
    ex.answered = true;
    ex.resp = std::move(resp);
    MHD_resume_connection(ex.connection);
  }

  MHD_Result answer_now(MHD_Connection* c, Exchange& ex, Response resp) {
    std::lock_guard lock(mutex_);
    return answer_now_locked(c, ex, std::move(resp));
  }

  MHD_Result answer_now_locked(MHD_Connection* c, Exchange& ex, Response resp) {
    {
      std::lock_guard lock(ex.m);
      if (!ex.req.work) release_body(ex);
    }
    auto* held = new Held{std::move(resp.body), 0, &held_};
    // The answer exists already; counting it keeps new requests out while it is held.
    held->counted = held->body.capacity();
    held_ += held->counted;
    memory::add(held->counted);
    MHD_Response* r = MHD_create_response_from_buffer_with_free_callback_cls(
        held->body.size(), held->body.data(),
        [](void* cls) {
          auto* h = static_cast<Held*>(cls);
          *h->server_held -= h->counted;
          memory::give(h->counted);
          delete h;
        },
        held);
    if (!r) {
      held_ -= held->counted;
      memory::give(held->counted);
      delete held;
      return MHD_NO;
    }
    MHD_add_response_header(r, "Content-Type", header_value(resp.content_type).c_str());
    for (const auto& [k, v] : resp.headers) MHD_add_response_header(r, k.c_str(), header_value(v).c_str());
    MHD_add_response_header(r, "Connection", "close");
    const MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(resp.status), r);
    MHD_destroy_response(r);
    if (Tracked* t = tracked(c)) {
      t->phase = Phase::Sending;
      t->deadline = Clock::now() + per_size(limits_.send, held->body.size(), limits_.rate);
    }
    return queued;
  }

  // --- budgets, connections ----------------------------------------------------------------

  bool hold(size_t n) {
    if (n == 0) return true;
    if (held_.fetch_add(n) + n > limits_.max_held) {
      held_ -= n;
      return false;
    }
    if (!memory::take(n)) {
      held_ -= n;
      return false;
    }
    return true;
  }

  void release_body(Exchange& ex) {
    const size_t n = std::exchange(ex.body_held, 0);
    if (n == 0) return;
    held_ -= n;
    memory::give(n);
  }

  Tracked* tracked(MHD_Connection* c) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<Tracked*>(info->socket_context) : nullptr;
  }

  void set_phase(MHD_Connection* c, Phase phase, std::chrono::milliseconds limit) {
    std::lock_guard lock(mutex_);
    Tracked* t = tracked(c);
    if (!t) return;
    if (phase == Phase::Head && t->phase == Phase::Head) return;  // the deadline runs from the accept
    t->phase = phase;
    t->deadline = phase == Phase::Done ? Clock::time_point::max() : Clock::now() + limit;
  }

  // Shuts the socket down under the library, which then sees it end and closes it. Under mutex_.
  static void drop(Tracked& t, bool reset) {
    t.dropped = true;
    if (t.fd < 0) return;
    if (reset) {
      const linger hard{1, 0};
      setsockopt(t.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    shutdown(t.fd, SHUT_RDWR);
  }

  // Past the limit, the connection that has spent longest on its head goes. Under mutex_.
  void make_room() {
    size_t open = 0;
    for (const auto& [id, t] : tracked_) open += !t->dropped;
    if (open <= max_connections_) return;
    for (auto& [id, t] : tracked_)
      if (!t->dropped && t->phase == Phase::Head) {
        drop(*t, false);
        return;
      }
  }

  void record(const Request& req) {
    if (opts_.record_file.empty()) return;
    std::lock_guard lock(script_mutex_);
    const int fd = open(opts_.record_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const std::string line = std::to_string(port_) + " " + req.method + " " + req.path + "\n";
    [[maybe_unused]] const ssize_t n = write(fd, line.data(), line.size());
    close(fd);
  }

  const ServerOptions& opts_;
  const ServerLimits& limits_;
  const Access access_;
  const int port_;
  const std::function<Response(const Request&)> handler_;
  const size_t max_connections_;
  std::mutex mutex_;         // the connections and every resume
  std::mutex script_mutex_;  // the script and the record file
  std::map<uint64_t, std::unique_ptr<Tracked>> tracked_;  // in the order they came
  uint64_t last_id_ = 0;
  bool stopping_ = false;
  std::atomic<size_t> held_{0};
  std::atomic<int> inflight_{0};
  MHD_Daemon* daemon_ = nullptr;
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
  Server server(opts, port);
  if (!server.start(lfd)) {
    close(lfd);
    std::fprintf(stderr, "durovaderiz: cannot serve on 127.0.0.1:%d\n", port);
    return 1;
  }
  if (on_listening) on_listening(port);
  for (;;) {
    if (opts.parent_watch && getppid() != parent) break;
    if (opts.stop && opts.stop->load()) break;
    server.watch();
    std::this_thread::sleep_for(kTick);
  }
  server.stop();  // the library closes the listening socket
  return 0;
}

}  // namespace durovaderiz
