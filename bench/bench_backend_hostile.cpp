// The backend stand-in under the loads one hostile local process can make, each on a fresh
// stand-in: whether the health check kept answering meanwhile (a probe every 100 ms, each
// given 5 s), its worst latency, the stand-in's peak resident memory (VmHWM, against the hard
// limit of 640 MB), its resident memory when idle before and a few seconds after the load, and
// what became of the load itself. The slow clients send a byte every 2 s by default: any pause shorter
// than a server's idle limit keeps a connection that restarts its limit on every byte, so the
// 16 s of the field report show the same in longer runs.
// Usage: bench_backend_hostile [durovaderiz] [seconds between the slow clients' bytes] [part of
// the names of the loads to run]
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "backend_bench.h"
#include "common/fixtures.h"

namespace {

using namespace quorvel;
using bench::Clock;

constexpr int kProbeTimeoutMs = 5000;

using test::connect_to;

bool send_all(int fd, const char* data, size_t n) {
  while (n > 0) {
    const ssize_t k = send(fd, data, n, MSG_NOSIGNAL);
    if (k <= 0) return false;
    data += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

// The status of the answer on `fd`, 0 when none came within `timeout_ms`.
int read_status(int fd, int timeout_ms) {
  std::string got;
  const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
  pollfd p{fd, POLLIN, 0};
  while (got.find("\r\n") == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1) return 0;
    char buf[4096];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return 0;
    got.append(buf, static_cast<size_t>(n));
  }
  return got.rfind("HTTP/1.", 0) == 0 && got.size() > 12 ? std::atoi(got.c_str() + 9) : 0;
}

// Whether the server has closed or reset the connection (without reading what it sent).
bool closed_by_peer(int fd) {
  pollfd p{fd, POLLRDHUP, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

constexpr size_t kHardLimitMb = 640;

// A field of the stand-in's /proc status (VmHWM, VmRSS) in KB.
size_t status_kb(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key + ":", 0) == 0) return std::stoul(line.substr(key.size() + 1));
  return 0;
}

// Probes the health check until stopped: the worst latency, and whether every probe answered.
class Prober {
 public:
  explicit Prober(const bench::Backend& b) : b_(b), thread_([this] { run(); }) {}
  ~Prober() { stop(); }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool held() const { return failed_ == 0 && probes_ > 0; }
  double worst() const { return worst_; }
  int probes() const { return probes_; }
  int failed() const { return failed_; }

 private:
  void run() {
    while (!stop_) {
      const auto t = Clock::now();
      const int fd = connect_to(b_.port);
      int status = 0;
      if (fd >= 0) {
        const std::string h = b_.head("GET", "/health", "", 0);
        if (send_all(fd, h.data(), h.size())) status = read_status(fd, kProbeTimeoutMs);
        close(fd);
      }
      worst_ = std::max(worst_, bench::seconds_since(t));
      ++probes_;
      if (status != 200) ++failed_;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  const bench::Backend& b_;
  std::atomic<bool> stop_{false};
  double worst_ = 0;
  int probes_ = 0, failed_ = 0;
  std::thread thread_;
};

std::string deflated(const std::string& raw) {
  uLongf n = compressBound(raw.size());
  std::string out(n, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 9);
  out.resize(n);
  return out;
}

// `total` zero bytes, deflated a megabyte at a time.
std::string deflated_zeros(size_t total) {
  z_stream z{};
  deflateInit(&z, 9);
  const std::string chunk(1 << 20, '\0');
  std::string out;
  char buf[1 << 16];
  for (size_t done = 0; done < total;) {
    const size_t n = std::min(chunk.size(), total - done);
    done += n;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
    z.avail_in = static_cast<uInt>(n);
    const int flush = done == total ? Z_FINISH : Z_NO_FLUSH;
    do {
      z.next_out = reinterpret_cast<Bytef*>(buf);
      z.avail_out = sizeof buf;
      deflate(&z, flush);
      out.append(buf, sizeof buf - z.avail_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  return out;
}

std::string png_chunk(const std::string& type, const std::string& data) {
  std::string c;
  const uint32_t n = static_cast<uint32_t>(data.size());
  for (int s = 24; s >= 0; s -= 8) c.push_back(static_cast<char>(n >> s));
  std::string td = type + data;
  c += td;
  const uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(td.data()), td.size()));
  for (int s = 24; s >= 0; s -= 8) c.push_back(static_cast<char>(crc >> s));
  return c;
}

// A one-bit grey PNG of `side` × `side` white pixels: small as a file, huge once decoded.
std::string huge_png(uint32_t side) {
  std::string ihdr;
  for (uint32_t v : {side, side})
    for (int s = 24; s >= 0; s -= 8) ihdr.push_back(static_cast<char>(v >> s));
  ihdr += std::string{1, 0, 0, 0, 0};  // bit depth 1, grey, deflate, no filter, no interlace
  std::string row(1 + (side + 7) / 8, '\xff');
  row[0] = 0;
  std::string raw;
  raw.reserve(row.size() * side);
  for (uint32_t y = 0; y < side; ++y) raw += row;
  return "\x89PNG\r\n\x1a\n" + png_chunk("IHDR", ihdr) + png_chunk("IDAT", deflated(raw)) + png_chunk("IEND", "");
}

// One page whose content stream holds `stream_data` with `filter`.
std::string pdf_with_stream(const std::string& filter, const std::string& stream_data, const std::string& padding = {}) {
  return test::build_pdf(
      {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
       "<< /Length " + std::to_string(stream_data.size()) + " /Filter " + filter + " >>\nstream\n" + stream_data +
           "\nendstream"},
      "", "%PDF-1.7\n" + padding);
}

// `pages` pages in a two-level page tree, each a small two-row table, about 125 bytes a page.
std::string many_pages_pdf(int pages) {
  const std::string table = "BT /F1 10 Tf 72 700 Td (Item) Tj 150 0 Td (Price) Tj -150 -14 Td (Pen) Tj 150 0 Td (12) Tj ET";
  constexpr int kPerNode = 1000;
  const int nodes = (pages + kPerNode - 1) / kPerNode;
  const int first_node = 5, first_page = first_node + nodes;
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
                                      "<< /Length " + std::to_string(table.size()) + " >>\nstream\n" + table + "\nendstream"};
  std::string root_kids;
  for (int n = 0; n < nodes; ++n) {
    root_kids += std::to_string(first_node + n) + " 0 R ";
    const int count = std::min(kPerNode, pages - n * kPerNode);
    std::string kids;
    for (int i = 0; i < count; ++i) kids += std::to_string(first_page + n * kPerNode + i) + " 0 R ";
    objects.push_back("<< /Type /Pages /Parent 2 0 R /Count " + std::to_string(count) + " /Kids [" + kids + "] >>");
  }
  objects[1] = "<< /Type /Pages /Count " + std::to_string(pages) + " /Kids [" + root_kids + "] >>";
  for (int p = 0; p < pages; ++p)
    objects.push_back("<< /Type /Page /Parent " + std::to_string(first_node + p / kPerNode) +
                      " 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> /Contents 4 0 R >>");
  return test::build_pdf(objects);
}

// Answers of the requests, e.g. "200 200 503", in the order they finished.
std::string statuses_text(const std::vector<int>& statuses) {
  std::string s = "answers:";
  for (int st : statuses) s += " " + std::to_string(st);
  return s;
}

// Run as another process (this program with --flood): holds `count` connections open to the
// port, sending one byte of a head on each every second for `seconds`, then ends.
int flood_heads(int port, int count, int seconds) {
  std::vector<int> fds;
  for (int i = 0; i < count; ++i) {
    const int fd = connect_to(port);
    if (fd >= 0) fds.push_back(fd);
  }
  const std::string head = "POST /pdf/optimize HTTP/1.1\r\nX-Slow: ";
  for (int s = 0; s < seconds; ++s) {
    for (int fd : fds) send(fd, &head[std::min<size_t>(s, head.size() - 1)], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  return 0;
}

pid_t head_flood(int port, int count, int seconds) {
  const std::vector<std::string> args = {"/proc/self/exe", "--flood", std::to_string(port), std::to_string(count),
                                         std::to_string(seconds)};
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

struct Load {
  std::string name;
  std::function<std::string(const bench::Backend&)> run;  // gives a line on what became of it
};

// Posts `body` and says how the stand-in answered and how long it took.
std::string timed_post(const bench::Backend& b, const std::string& target, const std::string& body,
                       const std::string& type) {
  const auto t = Clock::now();
  const test::HttpReply r = b.request("POST", target, body, type, 300000);
  char line[128];
  std::snprintf(line, sizeof line, "%zu KB file: answer %d after %.2f s", body.size() / 1024, r.status,
                bench::seconds_since(t));
  return line;
}

std::string request_head(const bench::Backend& b, const std::string& target, const std::string& type, size_t n,
                         const std::string& extra = {}) {
  std::string h = b.head("POST", target, type, n);
  return h.insert(h.size() - 2, extra);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--flood") return flood_heads(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
  const std::string only = argc > 3 ? argv[3] : "";
  const std::string program = bench::stand_in_program(argc, argv);
  const double interval = argc > 2 ? std::atof(argv[2]) : 2.0;
  test::TempDir dir;

  std::mt19937 rng(7);
  std::string noise(6u << 20, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  const std::string big_answer_pdf = pdf_with_stream("/FlateDecode", noise);

  const std::vector<Load> loads = {
      {"64 partial requests, a byte every " + std::to_string(interval).substr(0, 4) + " s",
       [&](const bench::Backend& b) {
         std::vector<int> fds;
         for (int i = 0; i < 64; ++i) {
           const int fd = connect_to(b.port);
           if (fd >= 0 && send_all(fd, "POST /pdf/optimize HTTP/1.1\r\n", 29)) fds.push_back(fd);
         }
         const auto end = Clock::now() + std::chrono::seconds(24);
         while (Clock::now() < end) {
           for (int fd : fds) send(fd, "X", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
           std::this_thread::sleep_for(std::chrono::duration<double>(interval));
         }
         int dropped = 0;
         for (int fd : fds) {
           dropped += closed_by_peer(fd);
           close(fd);
         }
         return std::to_string(dropped) + " of " + std::to_string(fds.size()) + " dropped by the stand-in in 24 s";
       }},
      {"64 clients that never read their answers (6 MB each)",
       [&](const bench::Backend& b) {
         std::vector<int> fds;
         const std::string h = request_head(b, "/pdf/optimize", "application/pdf", big_answer_pdf.size());
         for (int i = 0; i < 64; ++i) {
           const int fd = connect_to(b.port);
           if (fd < 0) continue;
           send_all(fd, h.data(), h.size());
           send_all(fd, big_answer_pdf.data(), big_answer_pdf.size());
           fds.push_back(fd);
         }
         const auto end = Clock::now() + std::chrono::seconds(30);
         int dropped = 0;
         while (Clock::now() < end) {
           dropped = 0;
           for (int fd : fds) dropped += closed_by_peer(fd);
           if (dropped == static_cast<int>(fds.size())) break;
           std::this_thread::sleep_for(std::chrono::milliseconds(200));
         }
         for (int fd : fds) close(fd);
         return std::to_string(dropped) + " of " + std::to_string(fds.size()) + " dropped by the stand-in";
       }},
      {"six requests of 255 MB at once",
       [&](const bench::Backend& b) {
         const std::string pdf = pdf_with_stream("/FlateDecode", deflated("BT ET"), "%" + std::string(255u << 20, 'x') + "\n");
         std::mutex m;
         std::vector<int> statuses;
         std::vector<std::thread> clients;
         for (int i = 0; i < 6; ++i)
           clients.emplace_back([&] {
             const int fd = connect_to(b.port);
             int status = 0;
             if (fd >= 0) {
               const std::string h = request_head(b, "/pdf/optimize", "application/pdf", pdf.size());
               send_all(fd, h.data(), h.size());
               send_all(fd, pdf.data(), pdf.size());  // may be cut short by a refusal
               status = read_status(fd, 120000);
               close(fd);
             }
             std::lock_guard lock(m);
             statuses.push_back(status);
           });
         for (std::thread& t : clients) t.join();
         return statuses_text(statuses);
       }},
      {"30,000 x 30,000 PNG to /ocr",
       [&](const bench::Backend& b) { return timed_post(b, "/ocr", huge_png(30000), "application/octet-stream"); }},
      {"1 GB Flate stream to /pdf/optimize",
       [&](const bench::Backend& b) {
         return timed_post(b, "/pdf/optimize", pdf_with_stream("/FlateDecode", deflated_zeros(1ull << 30)),
                           "application/pdf");
       }},
      {"1 GB Flate stream that rewriting decodes",
       [&](const bench::Backend& b) {
         // In a filter array, so a writer that recompresses what is not plain Flate decodes it.
         return timed_post(b, "/pdf/optimize", pdf_with_stream("[/FlateDecode]", deflated_zeros(1ull << 30)),
                           "application/pdf");
       }},
      {"/ai/embeddings: 500,000 one-letter texts (2 MB)",
       [&](const bench::Backend& b) {
         std::string body = "{\"texts\":[";
         for (int i = 0; i < 500000; ++i) body += i ? ",\"a\"" : "\"a\"";
         body += "]}";
         const auto t = Clock::now();
         const test::HttpReply r = b.request("POST", "/ai/embeddings", body, "application/json", 300000);
         char line[128];
         std::snprintf(line, sizeof line, "answer %d of %zu MB after %.2f s", r.status, r.body.size() >> 20,
                       bench::seconds_since(t));
         return std::string(line);
       }},
      {"4 parallel tables of 100,000-page documents",
       [&](const bench::Backend& b) {
         const std::string pdf = many_pages_pdf(100000);
         std::mutex m;
         std::vector<int> statuses;
         std::vector<std::thread> clients;
         const auto t = Clock::now();
         for (int i = 0; i < 4; ++i)
           clients.emplace_back([&] {
             const int status = b.request("POST", "/pdf/extract?what=tables&format=csv", pdf, "application/pdf", 300000).status;
             std::lock_guard lock(m);
             statuses.push_back(status);
           });
         for (std::thread& c : clients) c.join();
         char line[96];
         std::snprintf(line, sizeof line, " (%.1f MB each) after %.1f s", pdf.size() / 1048576.0, bench::seconds_since(t));
         return statuses_text(statuses) + line;
       }},
      {"1,000 held heads from another process, client",
       [&](const bench::Backend& b) {
         constexpr int kSeconds = 20;
         const pid_t flood = head_flood(b.port, 1000, kSeconds);
         // The window's requests meanwhile: a small document to protect, one after another.
         const std::string pdf = test::text_pdf({"client page"});
         std::this_thread::sleep_for(std::chrono::seconds(2));  // let the flood connect
         double worst = 0;
         int sent = 0, answered = 0;
         for (const auto end = Clock::now() + std::chrono::seconds(kSeconds - 4); Clock::now() < end; ++sent) {
           const auto t = Clock::now();
           answered += b.request("POST", "/pdf/encrypt?user_password=x", pdf, "application/pdf", 5000).status == 200;
           worst = std::max(worst, bench::seconds_since(t));
           std::this_thread::sleep_for(std::chrono::milliseconds(200));
         }
         int st = 0;
         if (flood > 0) waitpid(flood, &st, 0);
         char line[128];
         std::snprintf(line, sizeof line, "client: %d of %d answered, worst %.2f s", answered, sent, worst);
         return std::string(line);
       }},
      {"foreign-Origin post to /requests/{id}/responses",
       [&](const bench::Backend& b) {
         const std::string form = "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"zayavka.pdf\"\r\n"
                                  "Content-Type: application/pdf\r\n\r\n" + test::text_pdf({"x"}) + "\r\n--B--\r\n";
         const test::HttpReply created = b.request("POST", "/requests", form, "multipart/form-data; boundary=B");
         const size_t at = created.body.find("\"request_id\":\"");
         if (created.status != 200 || at == std::string::npos) return std::string("no request could be made");
         const std::string id = created.body.substr(at + 14, created.body.find('"', at + 14) - at - 14);
         const std::string offer = "{\"supplier\":\"forged\",\"price\":1}";
         const test::HttpReply r = test::http_raw(
             b.port, request_head(b, "/requests/" + id + "/responses", "text/plain", offer.size(),
                                  "Origin: http://attacker.example\r\n") + offer);
         const test::HttpReply after = b.request("GET", "/requests/" + id);
         const bool stored = after.body.find("\"responses\":0") == std::string::npos;
         return "answer " + std::to_string(r.status) + (stored ? ", the forged offer was stored" : ", nothing stored");
       }},
  };

  std::printf("hard limit of resident memory: %zu MB\n", kHardLimitMb);
  std::printf("%-50s %6s %9s %9s %8s %8s  %s\n", "load", "held", "worst s", "VmHWM MB", "idle MB", "after MB",
              "outcome");
  for (const Load& load : loads) {
    if (load.name.find(only) == std::string::npos) continue;
    bench::Backend b;
    if (!b.start(program, {{"DUROVADERIZ_DATA", dir.file("data-" + std::to_string(&load - loads.data()))}})) {
      std::fprintf(stderr, "the stand-in %s did not start\n", program.c_str());
      return 1;
    }
    const size_t idle = status_kb(b.child.pid(), "VmRSS");
    Prober probe(b);
    const std::string outcome = load.run(b);
    probe.stop();
    const size_t hwm = status_kb(b.child.pid(), "VmHWM");
    // What the stand-in gives back once the load is over.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const size_t after = status_kb(b.child.pid(), "VmRSS");
    std::printf("%-50s %6s %9.2f %9zu %8zu %8zu  %s (%d of %d probes failed)%s\n", load.name.c_str(),
                probe.held() ? "yes" : "NO", probe.worst(), hwm / 1024, idle / 1024, after / 1024, outcome.c_str(),
                probe.failed(), probe.probes(), hwm / 1024 > kHardLimitMb ? ", PAST THE HARD LIMIT" : "");
    std::fflush(stdout);
  }
  return 0;
}
