#include "desktop/batch/batch.h"

#include <stdlib.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <vector>

#include "core/engine.h"
#include "core/c_locale.h"
#include "core/exportdoc.h"
#include "core/extract.h"
#include "core/pii_redaction.h"
#include "core/pdf_check.h"
#include "core/safe_write.h"
#include "desktop/window/BackendLink.h"

namespace quorvel::desktop {

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::byte>;

// Larger inputs are treated as unreadable rather than risking the allocation.
constexpr std::uintmax_t kMaxInputBytes = std::uintmax_t{2} << 30;

struct Inputs {
  std::vector<fs::path> files;
  bool complete = true;  // false when the listing broke off
};

bool has_pdf_extension(const fs::path& p) {
  std::string ext = p.extension().native();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".pdf";
}

// The folder's regular files (links followed) named *.pdf in any case, in listing order. An
// entry whose type cannot be read is kept, so that it shows as a failed file.
Inputs list_inputs(const fs::path& dir, bool console = true) {
  Inputs in;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (!has_pdf_extension(p)) continue;
    std::error_code sec;
    const fs::file_status st = it->status(sec);
    if (fs::is_regular_file(st) || (sec && st.type() != fs::file_type::not_found)) in.files.push_back(p);
  }
  if (ec) {
    in.complete = false;
    if (console) std::fprintf(stderr, "Не удалось дочитать папку: %s\n", dir.c_str());
  }
  return in;
}

Bytes read_bytes(const fs::path& p) {
  std::ifstream f(p, std::ios::binary | std::ios::ate);
  if (!f) return {};
  const std::streamoff size = f.tellg();
  if (size <= 0 || static_cast<std::uintmax_t>(size) > kMaxInputBytes) return {};
  try {
    Bytes data(static_cast<size_t>(size));
    f.seekg(0);
    f.read(reinterpret_cast<char*>(data.data()), size);
    if (f.gcount() != size) return {};
    return data;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

bool write_text(const fs::path& p, const std::string& data) {
  return write_file_atomically(p.native(), {reinterpret_cast<const uint8_t*>(data.data()), data.size()});
}

// A saved PDF counts only when it is there and begins like one.
bool saved_pdf_ok(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  char head[1024];
  f.read(head, sizeof head);
  return std::string_view(head, static_cast<size_t>(f.gcount())).find("%PDF-") != std::string_view::npos;
}

std::string csv_field(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::span<const std::byte> span_of(const Bytes& b) { return {b.data(), b.size()}; }

// Why a file's output may not be written: two inputs that would write one output name, or an
// output that would replace an input of the same folder. Null for the files that may go ahead.
std::vector<const char*> output_refusals(const std::vector<fs::path>& files, const fs::path& dir,
                                         const fs::path& out_dir, const char* ext) {
  std::vector<const char*> why(files.size(), nullptr);
  if (!ext) return why;
  std::map<std::string, int> uses;
  std::vector<std::string> names;
  for (const fs::path& f : files) {
    names.push_back(f.stem().native() + ext);
    ++uses[names.back()];
  }
  std::error_code ec;
  const bool same_folder = fs::equivalent(dir, out_dir, ec);
  std::map<std::string, bool> input_names;
  for (const fs::path& f : files) input_names[f.filename().native()] = true;
  for (size_t i = 0; i < files.size(); ++i) {
    if (uses[names[i]] > 1) {
      why[i] = "имя вывода совпадает с другим файлом";
    } else if (same_folder && input_names.count(names[i])) {
      why[i] = "вывод заменил бы исходный файл";
    }
  }
  return why;
}

// Numbers every input as it goes; a refused one is reported and skipped, the others are handed
// to `work`. Gives how many of them `work` reported done.
int for_each_input(const Inputs& in, const std::vector<const char*>& refusals,
                   const std::function<bool(const fs::path&)>& work) {
  int done = 0;
  for (size_t n = 0; n < in.files.size(); ++n) {
    const fs::path& file = in.files[n];
    std::printf("[%d] %s\n", static_cast<int>(n + 1), file.filename().c_str());
    if (refusals[n]) {
      std::fprintf(stderr, "  пропуск (%s): %s\n", refusals[n], file.c_str());
    } else if (work(file)) {
      ++done;
    }
  }
  return done;
}

bool write_entities_csv(IDocument& doc, const fs::path&, const fs::path& target) {
  std::string text;
  for (int p = 0; p < doc.page_count(); ++p) {
    if (p > 0) text.push_back('\n');
    text += page_text(doc.extract_text(p));
  }
  std::string csv = "kind,value\n";
  for (const extract::Entity& e : extract::extract_entities(text)) {
    csv += csv_field(e.label) + "," + csv_field(e.value) + "\n";
  }
  return write_text(target, csv);
}

bool write_redacted(IDocument& doc, const fs::path& file, const fs::path& target) {
  // The window's redaction and its checks: a value found and not removed fails the file, and no
  // copy with it still readable is written.
  const extract::RedactionOutcome o = extract::redact_personal_data(doc);
  if (o.unredacted >= 0) {
    std::fprintf(stderr, "  вычеркнуть не удалось (стр. %d): %s\n", o.unredacted + 1, file.c_str());
    return false;
  }
  if (!doc.save_as(target.native(), {}) || !saved_pdf_ok(target)) return false;
  std::printf("    вычеркнуто фрагментов: %d\n", o.count);
  return true;
}

// An operation that turns each input document into one output file: the output is named by
// the input's stem and the operation's extension.
struct FileOp {
  std::string_view name;
  const char* extension;
  bool (*write)(IDocument& doc, const fs::path& file, const fs::path& target);
};

constexpr FileOp kFileOps[] = {
    {"extract-csv", ".csv", write_entities_csv},
    {"text", ".txt",
     [](IDocument& doc, const fs::path&, const fs::path& target) {
       return write_text(target, exportdoc::to_text(doc));
     }},
    {"html", ".html",
     [](IDocument& doc, const fs::path&, const fs::path& target) {
       return write_text(target, exportdoc::to_html(doc, false));
     }},
    {"doc", ".doc",
     [](IDocument& doc, const fs::path&, const fs::path& target) {
       return write_text(target, exportdoc::to_html(doc, true));
     }},
    {"redact", ".pdf", write_redacted},
};

const FileOp* file_op(std::string_view name) {
  for (const FileOp& op : kFileOps) {
    if (op.name == name) return &op;
  }
  return nullptr;
}

bool process_one(IPdfEngine& engine, const fs::path& file, const FileOp* op, const std::string& op_name,
                 const fs::path& out_dir) {
  const Bytes bytes = read_bytes(file);
  if (bytes.empty()) {
    std::fprintf(stderr, "  пропуск (пусто): %s\n", file.c_str());
    return false;
  }
  const std::unique_ptr<IDocument> doc = engine.open(span_of(bytes), "");
  // A document without a page that can be read is no document to the batch.
  if (!doc || !has_readable_page(*doc)) {
    std::fprintf(stderr, "  не открылся: %s\n", file.c_str());
    return false;
  }
  if (!op) {
    std::fprintf(stderr, "Неизвестная операция: %s\n", op_name.c_str());
    return false;
  }
  // Every operation writes what the pages hold: one that cannot be read would be left out
  // of the output without a word.
  if (const std::vector<int> lost = doc->unreadable_pages(); !lost.empty()) {
    std::fprintf(stderr, "  не читается стр. %d: %s\n", lost.front() + 1, file.c_str());
    return false;
  }
  return op->write(*doc, file, out_dir / (file.stem().native() + op->extension));
}

int run_verify(IPdfEngine& engine, const Inputs& in, const fs::path& out_dir) {
  std::string report = "file,opened,pages\n";
  int total = 0;
  int opened = 0;
  for (const fs::path& file : in.files) {
    ++total;
    int pages = 0;
    bool ok = false;
    const Bytes bytes = read_bytes(file);
    if (!bytes.empty()) {
      const std::unique_ptr<IDocument> doc = engine.open(span_of(bytes), "");
      if (doc && has_readable_page(*doc)) {
        ok = true;
        ++opened;
        pages = doc->page_count();
      }
    }
    report += csv_field(file.filename().native()) + (ok ? ",yes," : ",no,") + int_text(pages) + "\n";
  }
  const fs::path report_path = out_dir / "open-report.csv";
  const bool written = write_text(report_path, report);
  if (!written) std::fprintf(stderr, "Не удалось записать отчёт: %s\n", report_path.c_str());
  // The share is printed with a '.' whatever the locale.
  std::string share;
  append_fixed(share, total ? opened * 100.0 / total : 0.0, 1);
  std::printf("Проверка корпуса: открыто %d из %d (%s%%) → %s\n", opened, total, share.c_str(),
              report_path.c_str());
  return written && in.complete && total >= 1 && opened == total ? 0 : 1;
}

// Why a file cannot join the merged document, or null when every one of its pages can.
const char* merge_refusal(const Bytes& bytes, const IDocument* doc) {
  if (bytes.empty()) return "пусто";
  if (!doc) return "не открылся";
  if (!has_readable_page(*doc)) return "нет читаемых страниц";
  if (!doc->unreadable_pages().empty()) return "не все страницы читаются";
  return nullptr;
}

// `console` false keeps every line to itself, for the window. A file counts only when all its
// pages are in the result; any file left out makes the result 1, the merged file written all
// the same from the others.
FolderMerge run_merge(const std::string& dir, const std::string& out_file, bool console, int& status) {
  const auto say = [console](const char* format, auto... args) {
    if (console) std::printf(format, args...);
  };
  const auto complain = [console](const char* format, auto... args) {
    if (console) std::fprintf(stderr, format, args...);
  };
  FolderMerge result;
  status = 1;
  const std::unique_ptr<IPdfEngine> engine = make_engine(EngineKind::Pdfium);
  if (!engine) {
    complain("Движок PDFium недоступен.\n");
    return result;
  }
  Inputs in = list_inputs(dir, console);
  // An earlier result written into the folder itself is not an input of the next run.
  std::erase_if(in.files, [&](const fs::path& p) {
    std::error_code ec;
    return fs::equivalent(p, out_file, ec);
  });
  std::sort(in.files.begin(), in.files.end());
  if (in.files.empty()) {
    complain("Нет PDF в папке.\n");
    return result;
  }
  const auto skip = [&](const char* why, const fs::path& file) {
    ++result.skipped;
    complain("  пропуск (merge: %s): %s\n", why, file.filename().c_str());
  };
  // The engine may read from every buffer until the merged document is saved and gone, so the
  // buffers are declared before the document and outlive it.
  std::vector<Bytes> buffers;
  buffers.reserve(in.files.size());
  std::unique_ptr<IDocument> doc;
  for (size_t k = 0; k < in.files.size(); ++k) {
    buffers.push_back(read_bytes(in.files[k]));
    const std::string name = in.files[k].filename().native();
    std::unique_ptr<IDocument> one = buffers.back().empty() ? nullptr : engine->open(span_of(buffers.back()), "");
    if (const char* why = merge_refusal(buffers.back(), one.get())) {
      skip(why, in.files[k]);
      continue;
    }
    // The result starts from the first file that opens.
    if (!doc) {
      doc = std::move(one);
      say("[%d] %s\n", static_cast<int>(k + 1), name.c_str());
      ++result.merged;
      continue;
    }
    one.reset();
    if (doc->merge(span_of(buffers.back()), -1)) {
      ++result.merged;
      say("[%d] + %s\n", static_cast<int>(k + 1), name.c_str());
    } else {
      skip("страницы не добавлены", in.files[k]);
    }
  }
  if (!doc) {
    complain("Ни один PDF не открылся.\n");
    return result;
  }
  if (!doc->save_as(out_file, {}) || !saved_pdf_ok(out_file)) {
    complain("Не удалось сохранить: %s\n", out_file.c_str());
    return result;
  }
  result.written = true;
  say("Объединено %d файлов → %s\n", result.merged, out_file.c_str());
  status = in.complete && result.skipped == 0 ? 0 : 1;
  return result;
}

// A private folder for the normalised copies, removed with its contents on every path.
class PrivateTemp {
 public:
  PrivateTemp() {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) return;
    std::string tmpl = (base / "quorvel-encsrc-XXXXXX").native();
    if (mkdtemp(tmpl.data())) path_ = tmpl;  // mkdtemp makes it 0700
  }
  ~PrivateTemp() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  PrivateTemp(const PrivateTemp&) = delete;
  PrivateTemp& operator=(const PrivateTemp&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Runs a local event loop until the reply finishes or `ms` pass.
void wait_for(QNetworkReply* reply, int ms) {
  if (reply->isFinished()) return;
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Starts the backend and waits until it answers or gives up; the base address once it does.
bool start_backend(BackendLink& link, const QString& program, QString& base) {
  const QString port =
      qEnvironmentVariableIsSet("QUORVEL_BACKEND_PORT") ? qEnvironmentVariable("QUORVEL_BACKEND_PORT") : "0";
  link.start(program, port);
  QEventLoop loop;
  QObject::connect(&link, &BackendLink::ready, &loop, &QEventLoop::quit);
  QObject::connect(&link, &BackendLink::failed, &loop, &QEventLoop::quit);
  if (link.state() == BackendLink::State::Starting) loop.exec();
  base = link.base();
  return link.state() == BackendLink::State::Ready;
}

// The bytes to send: a full copy saved by the engine when the file opens, else the file as is.
QByteArray normalised(IPdfEngine* engine, const Bytes& bytes, const PrivateTemp& temp, const std::string& stem) {
  const QByteArray raw(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
  if (!engine || temp.path().empty()) return raw;
  const std::unique_ptr<IDocument> doc = engine->open(span_of(bytes), "");
  if (!doc) return raw;
  const fs::path copy = temp.path() / ("quorvel-encsrc-" + stem + ".pdf");
  const bool saved = doc->save_as(copy.native(), {});
  const Bytes again = saved ? read_bytes(copy) : Bytes{};
  std::error_code ec;
  fs::remove(copy, ec);
  if (again.empty()) return raw;
  return QByteArray(reinterpret_cast<const char*>(again.data()), static_cast<qsizetype>(again.size()));
}

int run_encrypt(const std::string& dir, const std::string& out_dir, const std::string& pw) {
  if (pw.empty()) {
    std::fprintf(stderr, "Шифрование требует --batch-pw <пароль>\n");
    return 1;
  }
  if (!QCoreApplication::instance()) {
    std::fprintf(stderr, "Шифрование: нет QCoreApplication.\n");
    return 1;
  }
  std::error_code ec;
  fs::create_directories(out_dir, ec);

  QNetworkAccessManager configured;
  BackendLink link;
  QNetworkAccessManager* nam = &configured;
  QString base = qEnvironmentVariable("QUORVEL_BACKEND");
  if (base.isEmpty()) {
    QString program = qEnvironmentVariable("QUORVEL_BACKEND_EXE");
    if (program.isEmpty()) program = QDir(QCoreApplication::applicationDirPath()).filePath("durovaderiz");
    if (!QFileInfo::exists(program)) {
      std::fprintf(stderr, "Нет backend (tavibackend) и QUORVEL_BACKEND не задан.\n");
      return 1;
    }
    if (!start_backend(link, program, base)) {
      std::fprintf(stderr, "Backend не поднялся вовремя.\n");
      return 1;
    }
    nam = link.network();
  }

  // Every value is percent-encoded from its bytes, so '+', '%', '&' and any other byte of the
  // password arrive as they are.
  const QByteArray query = "user_password=" + QByteArray::fromStdString(pw).toPercentEncoding() +
                           "&allow_print=1&allow_copy=0";
  QUrl url(base + "/pdf/encrypt");
  url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
  QNetworkRequest request(url);
  request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/pdf"));
  // Only the backend started here holds the secret; a configured one is used as it stands.
  if (link.state() == BackendLink::State::Ready) request.setRawHeader("Authorization", link.authorization());

  const std::unique_ptr<IPdfEngine> engine = make_engine(EngineKind::Pdfium);
  const PrivateTemp temp;
  const Inputs in = list_inputs(dir);
  const std::vector<const char*> refusals = output_refusals(in.files, dir, out_dir, ".pdf");
  const int total = static_cast<int>(in.files.size());
  const int encrypted = for_each_input(in, refusals, [&](const fs::path& file) {
    const std::string stem = file.stem().native();
    const QByteArray body = normalised(engine.get(), read_bytes(file), temp, stem);
    QNetworkReply* reply = nam->post(request, body);
    wait_for(reply, 60000);
    const bool ok = reply->isFinished() && reply->error() == QNetworkReply::NoError;
    if (!reply->isFinished()) reply->abort();
    const QByteArray answer = reply->readAll();
    reply->deleteLater();
    // Only what opens with this password, and not without it, counts as encrypted.
    if (ok && pdfcheck::encrypted_for(std::as_bytes(std::span<const char>(answer.constData(), size_t(answer.size()))), pw)) {
      const fs::path target = fs::path(out_dir) / (stem + ".pdf");
      return write_file_atomically(target.native(), {reinterpret_cast<const uint8_t*>(answer.constData()),
                                                     static_cast<size_t>(answer.size())});
    }
    std::fprintf(stderr, "  шифрование не удалось: %s\n", file.filename().c_str());
    return false;
  });
  if (QProcess* backend = link.process(); backend && backend->state() != QProcess::NotRunning) {
    backend->kill();
    backend->waitForFinished(3000);
  }
  std::printf("Пакетное шифрование: успешно %d из %d → %s\n", encrypted, total, out_dir.c_str());
  return in.complete && total >= 1 && encrypted == total ? 0 : 1;
}

}  // namespace

int run_batch(const std::string& dir, const std::string& op, const std::string& out, const std::string& pw) {
  std::error_code ec;
  if (!fs::is_directory(fs::status(dir, ec))) {
    std::fprintf(stderr, "Не папка: %s\n", dir.c_str());
    return 1;
  }
  if (op == "encrypt") return run_encrypt(dir, out, pw == "-" ? stdin_secret_line() : pw);
  if (op == "merge") {
    int status = 1;
    run_merge(dir, out, true, status);
    return status;
  }

  fs::create_directories(out, ec);
  const std::unique_ptr<IPdfEngine> engine = make_engine(EngineKind::Pdfium);
  if (!engine) {
    std::fprintf(stderr, "Движок PDFium недоступен.\n");
    return 1;
  }
  const Inputs in = list_inputs(dir);
  if (op == "verify") return run_verify(*engine, in, out);

  const FileOp* file_work = file_op(op);
  const std::vector<const char*> refusals =
      output_refusals(in.files, dir, out, file_work ? file_work->extension : nullptr);
  const int total = static_cast<int>(in.files.size());
  const int ok = for_each_input(
      in, refusals, [&](const fs::path& file) { return process_one(*engine, file, file_work, op, out); });
  std::printf("Пакетная обработка (%s): успешно %d из %d → %s\n", op.c_str(), ok, total, out.c_str());
  return in.complete && total >= 1 && ok == total ? 0 : 1;
}

std::string stdin_secret_line() {
  std::string line;
  std::getline(std::cin, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

FolderMerge merge_pdf_folder(const std::string& dir, const std::string& out) {
  std::error_code ec;
  if (!fs::is_directory(fs::status(dir, ec))) return {};
  int status = 1;
  return run_merge(dir, out, false, status);
}

std::optional<BatchArgs> batch_args(int argc, const char* const* argv) {
  BatchArgs a;
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string_view opt = argv[i];
    std::string* value = opt == "--batch"       ? &a.dir
                         : opt == "--batch-op"  ? &a.op
                         : opt == "--batch-out" ? &a.out
                         : opt == "--batch-pw"  ? &a.pw
                                                : nullptr;
    if (value) *value = argv[++i];
  }
  if (a.dir.empty()) return std::nullopt;
  if (a.op.empty()) a.op = "extract-csv";
  if (a.out.empty()) a.out = a.dir + "/out";
  return a;
}

}  // namespace quorvel::desktop
