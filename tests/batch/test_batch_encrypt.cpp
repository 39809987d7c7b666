// Batch encryption through the backend: the configured backend or the stand-in the batch starts
// itself, the password on its way, the reply rules, and what is left behind.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "batch/batch_fixture.h"
#include "common/time_bound.h"

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string summary(int ok, int total, const std::string& out) {
  return "Пакетное шифрование: успешно " + std::to_string(ok) + " из " + std::to_string(total) + " → " + out + "\n";
}

// The encryption qpdf sees in a file opened with `password`; empty when it does not open.
std::string encryption_of(const std::string& file, const std::string& password) {
  const RunResult r = run({"qpdf", "--show-encryption", "--password=" + password, file}, {}, 30000);
  return r.status == 0 && r.out.find("Incorrect password") == std::string::npos ? r.out : std::string{};
}

void expect_protected(const std::string& file, const std::string& password) {
  const std::string info = encryption_of(file, password);
  EXPECT_NE(info.find("R = 6\n"), std::string::npos) << file << "\n" << info;
  EXPECT_NE(info.find("file encryption method: AESv3"), std::string::npos) << info;
  EXPECT_NE(info.find("extract for any purpose: not allowed"), std::string::npos) << info;
  EXPECT_NE(info.find("modify other: not allowed"), std::string::npos) << info;
  EXPECT_NE(info.find("modify anything: not allowed"), std::string::npos) << info;
  EXPECT_NE(info.find("print high resolution: allowed"), std::string::npos) << info;
  EXPECT_EQ(encryption_of(file, ""), "") << "opens without a password";
}

std::vector<std::string> record_lines(const std::string& file) { return sorted_lines(read_file(file)); }

TEST(BatchEncrypt, ThroughAConfiguredBackendWithThePasswordIntact) {
  for (const std::string password : {"a+b%41 c", "пароль&user_password=x#1", "=?+ +"}) {
    Sandbox s;
    s.put("one.pdf", text_pdf({"first"}));
    s.put("Two.PDF", text_pdf({"second", "page"}));
    StandIn backend(s.path("backend.log"), {{"DUROVADERIZ_RECORD", s.path("configured.rec")}});
    ASSERT_TRUE(backend.ready());
    const std::string out = s.path("enc");
    // The variable names a running backend: nothing is started, even with the stand-in at hand.
    const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "encrypt", "--batch-out", out, "--batch-pw", password},
                                  {{"QUORVEL_BACKEND", backend.base()},
                                   {"DUROVADERIZ_RECORD", s.path("started.rec")},
                                   {"QT_QPA_PLATFORM", "nonexistent"}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find(summary(2, 2, out)), std::string::npos) << r.out;
    const std::string p = std::to_string(backend.port());
    EXPECT_EQ(record_lines(s.path("configured.rec")),
              (std::vector<std::string>{p + " POST /pdf/encrypt", p + " POST /pdf/encrypt"}));
    EXPECT_FALSE(exists(s.path("started.rec")));
    expect_protected(out + "/one.pdf", password);
    expect_protected(out + "/Two.pdf", password);
    EXPECT_EQ(pdf_pages(out + "/Two.pdf", password), 2);
    EXPECT_TRUE(s.tmp_empty());
  }
}

TEST(BatchEncrypt, SendsWhatDoesNotOpenUnchanged) {
  Sandbox s;
  s.put("locked.pdf", qpdf_encrypt(text_pdf({"x"}), "other", "owner"));
  s.put("fine.pdf", text_pdf({"fine"}));
  StandIn backend(s.path("backend.log"));
  ASSERT_TRUE(backend.ready());
  const std::string out = s.path("enc");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "encrypt", "--batch-out", out, "--batch-pw", "pw"},
                                {{"QUORVEL_BACKEND", backend.base()}});
  EXPECT_EQ(r.status, 1);
  // The stand-in cannot read a file locked with another password and refuses it.
  EXPECT_EQ(r.err, "  шифрование не удалось: locked.pdf\n");
  EXPECT_NE(r.out.find(summary(1, 2, out)), std::string::npos) << r.out;
  EXPECT_FALSE(exists(out + "/locked.pdf"));
  expect_protected(out + "/fine.pdf", "pw");
  EXPECT_TRUE(s.tmp_empty());
}

// A success status is not enough: only a reply that opens with the password sent, and not
// without one, counts as encrypted and is written.
TEST(BatchEncrypt, CountsOnlyRepliesProtectedWithThePassword) {
  struct Case {
    std::string script;  // empty: the stand-in's own encryption
    bool ok;
  } cases[] = {
      {"POST /pdf/encrypt 200 fill:100", false},
      {"POST /pdf/encrypt 200 fill:101", false},
      {"POST /pdf/encrypt 200 fill:5000", false},
      {"POST /pdf/encrypt 500 fill:5000", false},
      {"POST /pdf/encrypt 200 text:" + std::string(200, 'h'), false},
      {"", true},
  };
  for (const Case& c : cases) {
    Sandbox s;
    s.put("doc.pdf", text_pdf({"doc"}));
    write_file(s.path("script"), c.script + "\n");
    StandIn backend(s.path("backend.log"), {{"DUROVADERIZ_SCRIPT", s.path("script")}});
    ASSERT_TRUE(backend.ready());
    const std::string out = s.path("enc");
    const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "encrypt", "--batch-out", out, "--batch-pw", "pw"},
                                  {{"QUORVEL_BACKEND", backend.base()}});
    EXPECT_EQ(r.status, c.ok ? 0 : 1) << c.script;
    EXPECT_EQ(r.out, "[1] doc.pdf\n" + summary(c.ok ? 1 : 0, 1, out)) << c.script;
    EXPECT_EQ(r.err, c.ok ? "" : "  шифрование не удалось: doc.pdf\n") << c.script;
    EXPECT_EQ(exists(out + "/doc.pdf"), c.ok) << c.script;
    if (c.ok) expect_protected(out + "/doc.pdf", "pw");
  }
}

// "-" is one line of standard input, so the password never stands in the process list.
TEST(BatchEncrypt, ReadsThePasswordFromStandardInput) {
  Sandbox s;
  s.put("doc.pdf", text_pdf({"doc"}));
  StandIn backend(s.path("backend.log"));
  ASSERT_TRUE(backend.ready());
  const std::string out = s.path("enc");
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "encrypt", "--batch-out", out, "--batch-pw", "-"},
                                {{"QUORVEL_BACKEND", backend.base()}}, 120000, "pass word -\r\nnot this line\n");
  EXPECT_EQ(r.status, 0) << r.err;
  expect_protected(out + "/doc.pdf", "pass word -");
  EXPECT_EQ(encryption_of(out + "/doc.pdf", "-"), "");
}

TEST(BatchEncrypt, NeedsAPasswordBeforeAnythingElse) {
  Sandbox s;
  s.put("doc.pdf", text_pdf({"doc"}));
  const std::string out = s.path("enc");
  const int port = free_port();
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "encrypt", "--batch-out", out},
                                {{"QUORVEL_BACKEND_PORT", std::to_string(port)},
                                 {"DUROVADERIZ_RECORD", s.path("started.rec")}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Шифрование требует --batch-pw <пароль>\n");
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(exists(out));
  EXPECT_FALSE(exists(s.path("started.rec")));
}

TEST(BatchEncrypt, RefusesToReplaceItsInputs) {
  Sandbox s;
  const std::string original = text_pdf({"original"});
  s.put("doc.pdf", original);
  StandIn backend(s.path("backend.log"), {{"DUROVADERIZ_RECORD", s.path("configured.rec")}});
  ASSERT_TRUE(backend.ready());
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "encrypt", "--batch-out", s.in(), "--batch-pw", "pw"},
                                {{"QUORVEL_BACKEND", backend.base()}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "  пропуск (вывод заменил бы исходный файл): " + s.in("doc.pdf") + "\n");
  EXPECT_EQ(read_file(s.in("doc.pdf")), original);
  EXPECT_FALSE(exists(s.path("configured.rec")));  // nothing was sent
}

TEST(BatchEncrypt, WithoutTheStandInBesideTheApplication) {
  Sandbox s;
  s.put("doc.pdf", text_pdf({"doc"}));
  // A copy of the application in a folder of its own, with the engine library but no backend.
  fs::create_directory(s.path("app"));
  fs::copy_file(built("quorvel"), s.path("app/quorvel"));
  fs::create_directory_symlink(fs::absolute(built("pdfium")), s.path("app/pdfium"));
  const std::string out = s.path("enc");
  EnvChanges env = s.env();
  const RunResult r = run({s.path("app/quorvel"), "--batch", s.in(), "--batch-op", "encrypt", "--batch-out", out,
                           "--batch-pw", "pw"},
                          env, 60000);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Нет backend (tavibackend) и QUORVEL_BACKEND не задан.\n");
  EXPECT_TRUE(fs::is_directory(out));
}

TEST(BatchEncrypt, GivesUpAtOnceWhenItsBackendCannotStart) {
  Sandbox s;
  s.put("doc.pdf", text_pdf({"doc"}));
  // Someone else holds the port and never answers: the started stand-in exits, and the batch
  // must not hand the document to whoever listens there.
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(fd, 16), 0);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const auto t0 = Clock::now();
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "encrypt", "--batch-out", s.path("enc"),
                                 "--batch-pw", "pw"},
                                {{"QUORVEL_BACKEND_PORT", std::to_string(ntohs(addr.sin_port))}});
  close(fd);
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(time_bound_ms(10000)));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Backend не поднялся вовремя.\n");
  EXPECT_EQ(r.out, "");
}

// The batch starts the stand-in itself on a port the system picks, with a secret of its own
// that every request carries (the stand-in refuses one without it), and stops it at the end.
TEST(BatchEncrypt, StartsItsOwnStandInAndStopsIt) {
  Sandbox s;
  s.put("one.pdf", text_pdf({"first"}));
  s.put("two.pdf", text_pdf({"second"}));
  const std::string out = s.path("enc");
  const std::string password = "a+b%41 c";
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "encrypt", "--batch-out", out, "--batch-pw", password},
                                {{"DUROVADERIZ_RECORD", s.path("started.rec")}, {"QT_QPA_PLATFORM", "nonexistent"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find(summary(2, 2, out)), std::string::npos) << r.out;
  const std::string rec = read_file(s.path("started.rec"));
  const std::string port = rec.substr(0, rec.find(' '));
  // Health first, once it listens; then one request per file.
  EXPECT_EQ(rec, port + " GET /health\n" + port + " POST /pdf/encrypt\n" + port + " POST /pdf/encrypt\n");
  ASSERT_FALSE(port.empty());
  expect_protected(out + "/one.pdf", password);
  expect_protected(out + "/two.pdf", password);
  EXPECT_FALSE(port_open(std::stoi(port))) << "the started stand-in is still running";
  EXPECT_TRUE(s.tmp_empty());
}

// About 40 seconds of polling.
TEST(BatchEncryptSlow, GivesUpOnABackendThatNeverAnswers) {
  Sandbox s;
  s.put("doc.pdf", text_pdf({"doc"}));
  write_file(s.path("script"), "*GET /health hang\n");
  const int port = free_port();
  const auto t0 = Clock::now();
  const RunResult r = s.quorvel({"--batch", s.in(), "--batch-op", "encrypt", "--batch-out", s.path("enc"),
                                 "--batch-pw", "pw"},
                                {{"QUORVEL_BACKEND_PORT", std::to_string(port)},
                                 {"DUROVADERIZ_SCRIPT", s.path("script")},
                                 {"DUROVADERIZ_RECORD", s.path("started.rec")}},
                                100000);
  const auto took = Clock::now() - t0;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Backend не поднялся вовремя.\n");
  EXPECT_EQ(r.out, "");
  const std::vector<std::string> rec = record_lines(s.path("started.rec"));
  // The first attempts may come before it listens; every later one reaches it.
  EXPECT_GE(rec.size(), 35u);
  EXPECT_LE(rec.size(), 40u);
  EXPECT_GT(took, std::chrono::seconds(30));
  EXPECT_LT(took, std::chrono::milliseconds(time_bound_ms(60000)));
  EXPECT_FALSE(port_open(port)) << "the stand-in was not stopped";
  EXPECT_FALSE(exists(s.path("enc/doc.pdf")));
}

}  // namespace
}  // namespace quorvel::test
