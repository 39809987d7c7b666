// Purchase requests without a marketplace: a request is the uploaded form kept in SQLite, its
// status says whether suppliers have answered, and offers arrive only through the route that
// adds one (a test, or a user with an HTTP client, plays the supplier).
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QStandardPaths>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pdf_io.h"
#include "routes.h"

namespace durovaderiz {

namespace {

constexpr size_t kMaxIdLength = 64;
// Limits of what one request or offer may put into the store, and of the store as a whole.
constexpr size_t kMaxField = 1024;
constexpr size_t kMaxText = 16 * 1024;  // a note or an offer's comment
constexpr int kStorePages = 16384;      // of 4 KB: 64 MB

bool valid_id(std::string_view id) {
  if (id.empty() || id.size() > kMaxIdLength) return false;
  for (char c : id) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

// --- storage ---------------------------------------------------------------------------------

struct DbClose {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Db = std::unique_ptr<sqlite3, DbClose>;

struct StmtFinalize {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalize>;

QString data_folder() {
  const QString configured = qEnvironmentVariable("DUROVADERIZ_DATA");
  if (!configured.isEmpty()) return configured;
  return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
      .filePath(QStringLiteral("durovaderiz"));
}

// The folder, made for the owner alone when it is not there yet. A folder that exists keeps its
// permissions: it may be shared, and it is the user's to set.
bool ensure_folder(const QString& folder) {
  if (QFileInfo(folder).isDir()) return true;
  const QString parent = QFileInfo(folder).absolutePath();
  if (!QDir().mkpath(parent)) return false;
  return mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || (errno == EEXIST && QFileInfo(folder).isDir());
}

// The database, created with its tables on first use; null when the folder or file cannot be had.
Db open_db() {
  const QString folder = data_folder();
  if (!ensure_folder(folder)) return nullptr;
  sqlite3* raw = nullptr;
  const QByteArray path = QFile::encodeName(QDir(folder).filePath(QStringLiteral("requests.db")));
  // Requests name buyers and their documents: a new store is the owner's alone.
  if (const int fd = open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600); fd >= 0) close(fd);
  const int rc = sqlite3_open_v2(path.constData(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) return nullptr;
  sqlite3_busy_timeout(db.get(), 2000);
  const std::string limit = "PRAGMA max_page_count = " + std::to_string(kStorePages);
  if (sqlite3_exec(db.get(), limit.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return nullptr;
  const char* schema =
      "CREATE TABLE IF NOT EXISTS requests(id TEXT PRIMARY KEY, created TEXT NOT NULL, buyer TEXT, "
      "category TEXT, region TEXT, deadline TEXT, note TEXT, file_size INTEGER NOT NULL);"
      "CREATE TABLE IF NOT EXISTS offers(seq INTEGER PRIMARY KEY AUTOINCREMENT, request_id TEXT NOT NULL, "
      "supplier TEXT, price REAL, lead_time INTEGER, comment TEXT);";
  if (sqlite3_exec(db.get(), schema, nullptr, nullptr, nullptr) != SQLITE_OK) return nullptr;
  return db;
}

Stmt prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) return nullptr;
  return Stmt(s);
}

void bind_text(sqlite3_stmt* s, int index, const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  sqlite3_bind_text(s, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

QString column_text(sqlite3_stmt* s, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
  return text ? QString::fromUtf8(text, sqlite3_column_bytes(s, column)) : QString();
}

bool request_exists(sqlite3* db, const std::string& id) {
  Stmt s = prepare(db, "SELECT 1 FROM requests WHERE id = ?1");
  if (!s) return false;
  bind_text(s.get(), 1, QString::fromStdString(id));
  return sqlite3_step(s.get()) == SQLITE_ROW;
}

struct Offer {
  QString supplier;
  double price = 0;
  double lead_time = 0;
  QString comment;
};

// A number as it was sent, fraction included: the shortest text that reads back the same.
QString as_sent(double n) { return QString::number(n, 'f', QLocale::FloatingPointShortest); }

std::optional<std::vector<Offer>> offers_of(sqlite3* db, const std::string& id) {
  Stmt s = prepare(db, "SELECT supplier, price, lead_time, comment FROM offers WHERE request_id = ?1 ORDER BY seq");
  if (!s) return std::nullopt;
  bind_text(s.get(), 1, QString::fromStdString(id));
  std::vector<Offer> out;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
    out.push_back({column_text(s.get(), 0), sqlite3_column_double(s.get(), 1), sqlite3_column_double(s.get(), 2),
                   column_text(s.get(), 3)});
  if (rc != SQLITE_DONE) return std::nullopt;
  return out;
}

// --- the form --------------------------------------------------------------------------------

struct Part {
  std::string name;
  bool is_file = false;
  std::string body;
};

// A parameter of a header value such as `boundary=x` or `name="x"`, unquoted.
std::string parameter(std::string_view value, std::string_view name) {
  size_t at = 0;
  while ((at = value.find(name, at)) != std::string_view::npos) {
    const bool starts = at == 0 || value[at - 1] == ' ' || value[at - 1] == ';' || value[at - 1] == '\t';
    const size_t eq = at + name.size();
    if (!starts || eq >= value.size() || value[eq] != '=') {
      at = eq;
      continue;
    }
    std::string_view rest = value.substr(eq + 1);
    if (!rest.empty() && rest.front() == '"') {
      rest.remove_prefix(1);
      return std::string(rest.substr(0, rest.find('"')));
    }
    return std::string(rest.substr(0, rest.find_first_of("; \t")));
  }
  return {};
}

// The parts of a multipart/form-data body; nothing when it does not parse.
std::optional<std::vector<Part>> parse_form(const Request& req) {
  const std::string* type = req.header("content-type");
  if (!type || type->rfind("multipart/form-data", 0) != 0) return std::nullopt;
  const std::string boundary = parameter(*type, "boundary");
  if (boundary.empty()) return std::nullopt;
  const std::string delimiter = "--" + boundary;
  const std::string_view body = req.body;
  size_t at = body.find(delimiter);
  if (at == std::string_view::npos) return std::nullopt;
  std::vector<Part> parts;
  for (;;) {
    at += delimiter.size();
    if (body.substr(at, 2) == "--") return parts;
    if (body.substr(at, 2) != "\r\n") return std::nullopt;
    at += 2;
    const size_t head_end = body.find("\r\n\r\n", at);
    if (head_end == std::string_view::npos) return std::nullopt;
    const std::string_view head = body.substr(at, head_end - at);
    const size_t next = body.find("\r\n" + delimiter, head_end + 4);
    if (next == std::string_view::npos) return std::nullopt;
    Part p;
    for (size_t line = 0; line < head.size();) {
      const size_t eol = std::min(head.find("\r\n", line), head.size());
      const std::string_view l = head.substr(line, eol - line);
      const size_t colon = l.find(':');
      std::string key(l.substr(0, colon == std::string_view::npos ? 0 : colon));
      for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (key == "content-disposition") {
        const std::string_view value = l.substr(colon + 1);
        p.name = parameter(value, "name");
        p.is_file = value.find("filename=") != std::string_view::npos;
      }
      line = eol + 2;
    }
    p.body = std::string(body.substr(head_end + 4, next - head_end - 4));
    parts.push_back(std::move(p));
    at = next + 2;
  }
}

QString field(const std::vector<Part>& parts, std::string_view name) {
  for (const Part& p : parts)
    if (p.name == name && !p.is_file) return QString::fromUtf8(p.body.data(), qsizetype(p.body.size()));
  return {};
}

// The date, for people reading the journal, and 128 random bits, so that an id is not guessed.
QString new_id() {
  unsigned char raw[16];
  if (!random_bytes(raw, sizeof raw)) return {};
  return QStringLiteral("REQ-%1-%2")
      .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd")),
           QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(raw), sizeof raw).toHex().toUpper()));
}

// The refusal of a text longer than the store keeps, or nothing.
std::optional<Response> too_long(std::string_view name, size_t size, size_t limit) {
  if (size <= limit) return std::nullopt;
  return json_error(413, std::string(name) + " is longer than " + size_text(limit));
}

// The form's fields that are stored, each within its limit.
std::optional<Response> too_long(const std::vector<Part>& parts) {
  for (const char* name : {"buyer", "category", "region", "deadline", "note"}) {
    for (const Part& p : parts)
      if (p.name == name && !p.is_file)
        if (auto no = too_long(name, p.body.size(), p.name == "note" ? kMaxText : kMaxField)) return no;
  }
  return std::nullopt;
}

Response full_store() { return json_error(507, "the request store is full"); }

QString status_of(size_t offers) { return offers == 0 ? QStringLiteral("accepted") : QStringLiteral("offers"); }

QString compare_url(const Request& req, const std::string& id) {
  return QStringLiteral("http://127.0.0.1:%1/requests/%2/compare").arg(req.local_port).arg(QString::fromStdString(id));
}

Response compare_page(const std::string& id, const std::vector<Offer>& offers) {
  QString html = QStringLiteral(
                     "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Сравнение предложений</title></head>"
                     "<body><h1>Заявка %1</h1>\n")
                     .arg(QString::fromStdString(id).toHtmlEscaped());
  if (offers.empty()) {
    html += QStringLiteral("<p>Откликов пока нет</p>\n");
  } else {
    html += QStringLiteral("<table border=\"1\"><tr><th>Поставщик</th><th>Цена, ₽</th><th>Срок, дн.</th>"
                           "<th>Комментарий</th></tr>\n");
    for (const Offer& o : offers)
      html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\n")
                  .arg(o.supplier.toHtmlEscaped(), as_sent(o.price), as_sent(o.lead_time),
                       o.comment.toHtmlEscaped());
    html += QStringLiteral("</table>\n");
  }
  html += QStringLiteral("</body></html>\n");
  Response r;
  r.content_type = "text/html; charset=utf-8";
  r.body = html.toStdString();
  return r;
}

// "/requests/ID" and "/requests/ID/TAIL": the id and the tail, or nothing for another shape.
std::optional<std::pair<std::string, std::string>> split_path(const std::string& path) {
  constexpr std::string_view prefix = "/requests/";
  const std::string rest = path.substr(prefix.size());
  const size_t slash = rest.find('/');
  std::string id = rest.substr(0, slash);
  std::string tail = slash == std::string::npos ? std::string{} : rest.substr(slash + 1);
  if (tail.find('/') != std::string::npos) return std::nullopt;
  return std::pair{std::move(id), std::move(tail)};
}

}  // namespace

Response handle_requests_create(const Request& req) {
  const auto parts = parse_form(req);
  if (!parts) return json_error(415, "the body must be multipart/form-data");
  const Part* file = nullptr;
  for (const Part& p : *parts)
    if (p.name == "file" && p.is_file) file = &p;
  if (!file || !looks_like_pdf(file->body)) return json_error(400, "the form must carry the document as a PDF");
  if (auto no = too_long(*parts)) return *no;
  const Db db = open_db();
  if (!db) return json_error(500, "the request store is not available");

  const QString category = field(*parts, "category"), region = field(*parts, "region"),
                deadline = field(*parts, "deadline");
  QString id;
  for (int attempt = 0; attempt < 8 && id.isEmpty(); ++attempt) {
    const QString candidate = new_id();
    if (candidate.isEmpty()) return json_error(500, "no random data for a request id");
    Stmt s = prepare(db.get(),
                     "INSERT INTO requests(id, created, buyer, category, region, deadline, note, file_size) "
                     "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    if (!s) return json_error(500, "the request store is not available");
    bind_text(s.get(), 1, candidate);
    bind_text(s.get(), 2, QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    bind_text(s.get(), 3, field(*parts, "buyer"));
    bind_text(s.get(), 4, category);
    bind_text(s.get(), 5, region);
    bind_text(s.get(), 6, deadline);
    bind_text(s.get(), 7, field(*parts, "note"));
    sqlite3_bind_int64(s.get(), 8, static_cast<sqlite3_int64>(file->body.size()));
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) id = candidate;
    else if (rc == SQLITE_FULL) return full_store();
    else if (rc != SQLITE_CONSTRAINT) return json_error(500, "the request could not be stored");
  }
  if (id.isEmpty()) return json_error(500, "no free request id");
  return json_reply(200, {{QStringLiteral("request_id"), id},
                          {QStringLiteral("status"), status_of(0)},
                          {QStringLiteral("mode"), QStringLiteral("offline")},
                          {QStringLiteral("parsed"), QJsonObject{{QStringLiteral("request_type"), QStringLiteral("закупка")},
                                                                 {QStringLiteral("subject"), category},
                                                                 {QStringLiteral("location"), region},
                                                                 {QStringLiteral("deadline"), deadline}}}});
}

Response handle_requests_get(const Request& req) {
  const auto path = split_path(req.path);
  if (!path) return json_error(404, "no such route");
  const auto& [id, tail] = *path;
  if (!valid_id(id)) return json_error(400, "a request id has only letters, digits, '_' and '-'");
  if (!tail.empty() && tail != "responses" && tail != "compare") return json_error(404, "no such route");
  const Db db = open_db();
  if (!db) return json_error(500, "the request store is not available");
  if (!request_exists(db.get(), id)) return json_error(404, "no such request");
  const auto offers = offers_of(db.get(), id);
  if (!offers) return json_error(500, "the offers could not be read");

  const QString qid = QString::fromStdString(id);
  if (tail == "compare") return compare_page(id, *offers);
  if (tail == "responses") {
    QJsonArray list;
    for (const Offer& o : *offers)
      list.append(QJsonObject{{QStringLiteral("supplier"), o.supplier},
                              {QStringLiteral("price"), o.price},
                              {QStringLiteral("lead_time"), o.lead_time},
                              {QStringLiteral("comment"), o.comment}});
    return json_reply(200, {{QStringLiteral("request_id"), qid},
                            {QStringLiteral("responses"), list},
                            {QStringLiteral("compare_url"), compare_url(req, id)}});
  }
  return json_reply(200, {{QStringLiteral("request_id"), qid},
                          {QStringLiteral("status"), status_of(offers->size())},
                          {QStringLiteral("responses"), qint64(offers->size())},
                          {QStringLiteral("compare_url"), compare_url(req, id)}});
}

// One supplier's offer: a JSON object with `supplier`, `price`, `lead_time` and `comment`.
Response handle_requests_add_offer(const Request& req) {
  const auto path = split_path(req.path);
  if (!path || path->second != "responses") return json_error(404, "no such route");
  const std::string& id = path->first;
  if (!valid_id(id)) return json_error(400, "a request id has only letters, digits, '_' and '-'");
  QJsonParseError err{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &err);
  if (err.error != QJsonParseError::NoError || !doc.isObject()) return json_error(400, "the body must be a JSON object");
  const QJsonObject o = doc.object();
  const QString supplier = o.value(QLatin1String("supplier")).toString(), comment = o.value(QLatin1String("comment")).toString();
  // A price or lead time is a number or absent; a text or anything else is not stored as 0.
  for (const char* key : {"price", "lead_time"}) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isUndefined() && !v.isDouble())
      return json_error(400, std::string(key) + " must be a JSON number");
  }
  if (auto no = too_long("supplier", size_t(supplier.toUtf8().size()), kMaxField)) return *no;
  if (auto no = too_long("comment", size_t(comment.toUtf8().size()), kMaxText)) return *no;
  const Db db = open_db();
  if (!db) return json_error(500, "the request store is not available");
  if (!request_exists(db.get(), id)) return json_error(404, "no such request");
  Stmt s = prepare(db.get(),
                   "INSERT INTO offers(request_id, supplier, price, lead_time, comment) VALUES(?1, ?2, ?3, ?4, ?5)");
  if (!s) return json_error(500, "the request store is not available");
  bind_text(s.get(), 1, QString::fromStdString(id));
  bind_text(s.get(), 2, supplier);
  sqlite3_bind_double(s.get(), 3, o.value(QLatin1String("price")).toDouble());
  // The column's integer affinity keeps a whole number as an integer and a fraction as it is.
  sqlite3_bind_double(s.get(), 4, o.value(QLatin1String("lead_time")).toDouble());
  bind_text(s.get(), 5, comment);
  if (const int rc = sqlite3_step(s.get()); rc != SQLITE_DONE)
    return rc == SQLITE_FULL ? full_store() : json_error(500, "the offer could not be stored");
  const auto offers = offers_of(db.get(), id);
  return json_reply(200, {{QStringLiteral("request_id"), QString::fromStdString(id)},
                          {QStringLiteral("responses"), qint64(offers ? offers->size() : 0)}});
}

}  // namespace durovaderiz
