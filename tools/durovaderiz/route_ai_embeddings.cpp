// Embeddings without a model: each text becomes a hashed bag of its word stems, so texts that
// share words point the same way. Offline, and the same vector for the same text in every run.
#include <QRegularExpression>
#include <QString>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "pdf_io.h"
#include "routes.h"

namespace durovaderiz {

namespace {

constexpr int kDimensions = 256;
// Russian inflects at the end of a word: the first letters stand for the word's forms.
constexpr int kStemChars = 5;
// Texts are checked against the request's time this often.
constexpr size_t kCheckEvery = 256;

using Vector = std::array<double, kDimensions>;

// FNV-1a over the stem's UTF-8 bytes: fixed, unlike Qt's seeded hashes.
uint32_t fnv1a(const QByteArray& bytes) {
  uint32_t h = 2166136261u;
  for (char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  return h;
}

Vector embed(const std::string& utf8) {
  static const QRegularExpression word(QStringLiteral("\\w{2,}"), QRegularExpression::UseUnicodePropertiesOption);
  Vector v{};
  const QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size())).toLower();
  for (auto it = word.globalMatch(text); it.hasNext();)
    v[fnv1a(it.next().captured().left(kStemChars).toUtf8()) % kDimensions] += 1.0;
  double norm = 0.0;
  for (double x : v) norm += x * x;
  norm = std::sqrt(norm);
  // A text without words stays the zero vector, which resembles nothing.
  if (norm > 0.0)
    for (double& x : v) x /= norm;
  return v;
}

void append_vector(std::string& out, const Vector& v) {
  out.push_back('[');
  char buf[32];
  for (int i = 0; i < kDimensions; ++i) {
    if (i > 0) out.push_back(',');
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v[i]);
    out.append(buf, ec == std::errc{} ? end : buf);
  }
  out.push_back(']');
}

}  // namespace

// The answer is written as text as it grows, within the request's memory: a short body of many
// tiny texts asks for a large answer, and that answer is what the limit holds back.
Response handle_ai_embeddings(const Request& req) {
  const std::optional<JSON> doc = json_body(req);
  if (!doc) return text_reply(400, "the body must be a JSON object");
  const std::optional<JSON> texts = json_member(*doc, "texts");
  if (!texts || !texts->isArray()) return text_reply(400, "texts must be an array of strings");

  Work fallback;
  Work& work = req.work ? *req.work : fallback;
  std::string out;
  bool strings = true;
  {
    memory::Guard guard(work.limits().memory);
    try {
      out = "{\"mode\":\"offline\",\"vectors\":[";
      size_t n = 0;
      texts->forEachArrayItem([&](JSON t) {
        std::string s;
        if (!strings || !t.getString(s)) {
          strings = false;
          return;
        }
        if (++n % kCheckEvery == 0) work.check();
        if (n > 1) out.push_back(',');
        append_vector(out, embed(s));
      });
      out += "]}";
    } catch (const std::bad_alloc&) {
      out = std::string();
    }
    if (guard.tripped() != memory::Guard::Trip::None) {
      const WorkRefused no = memory_refused(guard.tripped(), work, "the answer");
      return json_error(no.status, no.what);
    }
  }
  if (!strings) return text_reply(400, "texts must be an array of strings");
  Response r;
  r.content_type = "application/json";
  r.body = std::move(out);
  return r;
}

}  // namespace durovaderiz
