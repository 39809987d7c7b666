#include "scanner/scan.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "scanner/object_streams.h"
#include "scanner/syntax.h"

namespace quorvel_scan {

namespace {

using detail::is_pdf_white;
using detail::kDelimiter;
using detail::LiteralSource;

bool is_unicode_white(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

// Byte sources for the decoder: peek() gives the next byte or -1 at the end, pop() takes it.
class SpanSource {
 public:
  explicit SpanSource(std::span<const std::uint8_t> b) : b_(b) {}
  int peek() const { return i_ < b_.size() ? b_[i_] : -1; }
  void pop() { ++i_; }

 private:
  std::span<const std::uint8_t> b_;
  std::size_t i_ = 0;
};

constexpr char32_t kEnd = 0xFFFFFFFF;

// One character in, its UTF-8 (or U+FFFD's, for one maximal ill-formed subpart) out.
template <class Src>
char32_t decode_one(Src& src, char (&out)[4], std::size_t& len) {
  const int b0 = src.peek();
  if (b0 < 0) return kEnd;
  src.pop();
  out[0] = static_cast<char>(b0);
  len = 1;
  if (b0 < 0x80) return static_cast<char32_t>(b0);
  int need = 0;
  int lo = 0x80;
  int hi = 0xBF;
  char32_t cp = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  }
  bool ok = need > 0;
  for (int k = 0; ok && k < need; ++k) {
    const int b = src.peek();
    if (b < lo || b > hi) {
      ok = false;  // the offending byte starts the next character
      break;
    }
    src.pop();
    out[len++] = static_cast<char>(b);
    cp = (cp << 6) | static_cast<char32_t>(b & 0x3F);
    lo = 0x80;
    hi = 0xBF;
  }
  if (ok) return cp;
  out[0] = '\xEF';
  out[1] = '\xBF';
  out[2] = '\xBD';
  len = 3;
  return 0xFFFD;
}

// Position just after the '(' of the literal string that follows p, or none.
std::optional<std::size_t> string_start(std::span<const std::uint8_t> bytes, std::size_t p) {
  while (p < bytes.size() && is_pdf_white(bytes[p])) ++p;
  if (p >= bytes.size() || bytes[p] != '(') return std::nullopt;
  return p + 1;
}

// Appends whole characters while they fit in cap bytes.
struct CappedText {
  std::string& text;
  std::size_t cap;
  bool full = false;
  void add(const char (&c)[4], std::size_t len) {
    if (full) return;
    if (text.size() + len > cap) {
      full = true;
      return;
    }
    text.append(c, len);
  }
};

constexpr std::string_view kSchemes[] = {"javascript:", "file:", "data:", "vbscript:"};
constexpr std::size_t kLongestScheme = 11;

// The detail of a /URI whose string starts with a dangerous scheme, else none. Reads the
// leading white space and at most the longest scheme unless the scheme matches.
std::optional<std::string> dangerous_uri(std::span<const std::uint8_t> bytes, std::size_t p,
                                         std::string& scratch, std::size_t cap) {
  const auto start = string_start(bytes, p);
  if (!start) return std::nullopt;
  LiteralSource src(bytes, *start);
  scratch.clear();
  CappedText detail{scratch, cap};
  char head[kLongestScheme];
  std::size_t head_len = 0;
  bool leading = true;
  char c[4];
  std::size_t len = 0;
  for (char32_t cp; (cp = decode_one(src, c, len)) != kEnd;) {
    detail.add(c, len);
    if (leading && is_unicode_white(cp)) continue;
    leading = false;
    if (cp >= 0x80) break;
    head[head_len++] = (cp >= 'A' && cp <= 'Z') ? static_cast<char>(cp - 'A' + 'a') : static_cast<char>(cp);
    if (head_len == kLongestScheme) break;
  }
  const std::string_view h(head, head_len);
  bool match = false;
  for (std::string_view s : kSchemes) match = match || h.starts_with(s);
  if (!match) return std::nullopt;
  while (!detail.full && decode_one(src, c, len) != kEnd) detail.add(c, len);
  return std::string(scratch);  // exact size, not the scratch's capacity
}

struct Rule {
  std::string_view name;
  ThreatKind kind;
  Severity severity;
};

constexpr Rule kRules[] = {
    {"JavaScript", ThreatKind::JavaScript, Severity::High},
    {"JS", ThreatKind::JavaScript, Severity::High},
    {"OpenAction", ThreatKind::OpenAction, Severity::High},
    {"AA", ThreatKind::AdditionalActions, Severity::High},
    {"Launch", ThreatKind::Launch, Severity::High},
    {"EmbeddedFile", ThreatKind::EmbeddedFile, Severity::Medium},
    {"SubmitForm", ThreatKind::SubmitForm, Severity::Medium},
    {"RichMedia", ThreatKind::RichMedia, Severity::Medium},
    {"XFA", ThreatKind::Xfa, Severity::Medium},
    {"GoToR", ThreatKind::GoToRemote, Severity::Low},
    {"Encrypt", ThreatKind::Encrypted, Severity::Info},
};

constexpr bool rules_fit_fast_path() {
  for (const Rule& r : kRules) {
    if (r.name.size() > parser::NameScanner::raw_cap) return false;
  }
  return true;
}
static_assert(rules_fit_fast_path());

enum class Structure_name { ObjectStream, Encrypt, Id, Rotate };

// Whether a name whose first two raw bytes are a and b may be one of the rule table or one
// that leads to structure. Every such name has two bytes at least, and any '#' may spell
// anything.
[[gnu::always_inline]] inline bool may_matter(std::uint8_t a, std::uint8_t b) {
  if (b == '#') return true;
  switch (a) {
    case '#': return true;
    case 'J': return b == 'a' || b == 'S';             // JavaScript, JS
    case 'O': return b == 'p' || b == 'b';             // OpenAction, ObjStm
    case 'A': return b == 'A';                         // AA
    case 'L': return b == 'a';                         // Launch
    case 'E': return b == 'm' || b == 'n';             // EmbeddedFile, Encrypt
    case 'S': return b == 'u';                         // SubmitForm
    case 'R': return b == 'i' || b == 'o';             // RichMedia, Rotate
    case 'X': return b == 'F';                         // XFA
    case 'G': return b == 'o';                         // GoToR
    case 'U': return b == 'R';                         // URI
    case 'F': return b == 'i';                         // First
    case 'I': return b == 'D';                         // ID
    default: return false;
  }
}

// The offset of the first '/' at or after from, or the end: sixteen bytes are compared at
// once, as names stand a few bytes apart in dictionaries.
[[gnu::always_inline]] inline std::size_t next_slash(const std::uint8_t* d, std::size_t n, std::size_t from) {
#ifdef __SSE2__
  const __m128i slash = _mm_set1_epi8('/');
  while (n - from >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + from));
    const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, slash)));
    if (m != 0) return from + static_cast<std::size_t>(__builtin_ctz(m));
    from += 16;
  }
#endif
  if (from >= n) return n;  // also for an empty input, whose data may be null
  const void* hit = std::memchr(d + from, '/', n - from);
  return hit ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - d) : n;
}

// Rates names against the rule table and keeps what a whole scan shares: the highest
// severity so far and the budget of link details.
class Rater {
 public:
  explicit Rater(std::size_t details_so_far = 0) : detail_total_(details_so_far) {}

  // Appends a finding for each rated name of buf to out, at its name's offset, or at `at` for
  // every one when given. Hands the names that may lead to object streams or encryption to
  // structure. The same names as NameScanner's, of which those that cannot matter are
  // stepped over unread.
  template <class Structure>
  void rate(std::span<const std::uint8_t> buf, std::optional<std::uint64_t> at, std::vector<Finding>& out,
            Structure&& structure) {
    const std::uint8_t* d = buf.data();
    const std::size_t n = buf.size();
    parser::NameScanner::RawName name;
    for (std::size_t pos = next_slash(d, n, 0); pos < n; pos = next_slash(d, n, pos)) {
      if (n - pos < 3 || !may_matter(d[pos + 1], d[pos + 2])) {
        ++pos;  // a name holds no '/', so the next one starts further on
        continue;
      }
      name.size = 0;
      name.start = pos;
      name.end = detail::read_name(buf, pos + 1, [&](std::uint8_t b) {
        if (name.size < parser::NameScanner::raw_cap) {
          name.bytes[name.size++] = b;
        } else {
          name.size = parser::NameScanner::raw_cap + 1;
        }
      });
      pos = name.end;
      if (name.size > parser::NameScanner::raw_cap) continue;
      const std::string_view text(reinterpret_cast<const char*>(name.bytes), name.size);
      Finding f;
      f.offset = at ? *at : name.start;
      bool found = false;
      for (const Rule& r : kRules) {
        // Most names match no rule: the length and the first byte settle nearly all of them.
        if (r.name.size() == text.size() && r.name[0] == text[0] && r.name == text) {
          f.kind = r.kind;
          f.severity = r.severity;
          found = true;
          break;
        }
      }
      if (!found && text == "URI") {
        const std::size_t cap = detail_total_ < kDetailBudget ? kDetailCap : kDetailCapOverBudget;
        f.detail = dangerous_uri(buf, name.end, scratch_, cap);
        if (f.detail) {
          detail_total_ += f.detail->size();
          f.kind = ThreatKind::SuspiciousUri;
          f.severity = Severity::Medium;
          found = true;
        }
      }
      if (!found) {
        if (text == "ObjStm" || text == "First") structure(Structure_name::ObjectStream, name);
        else if (text == "ID") structure(Structure_name::Id, name);
        else if (text == "Rotate") structure(Structure_name::Rotate, name);
        continue;
      }
      if (f.kind == ThreatKind::Encrypted) structure(Structure_name::Encrypt, name);
      out.push_back(std::move(f));
    }
  }

  std::size_t details() const { return detail_total_; }

 private:
  std::string scratch_;
  std::size_t detail_total_ = 0;
};

bool by_offset(const Finding& a, const Finding& b) { return a.offset < b.offset; }

Verdict verdict_of(std::optional<Severity> top) {
  if (!top || *top == Severity::Info) return Verdict::Clean;
  return *top == Severity::High ? Verdict::Dangerous : Verdict::Suspicious;
}

// Shortens UTF-8 text to at most cap bytes, between characters.
void cut_between_characters(std::string& text, std::size_t cap) {
  if (text.size() <= cap) return;
  std::size_t k = cap;
  while (k > 0 && (static_cast<unsigned char>(text[k]) & 0xC0) == 0x80) --k;
  text.resize(k);
}

}  // namespace

const char* severity_name(Severity s) {
  switch (s) {
    case Severity::Info: return "Info";
    case Severity::Low: return "Low";
    case Severity::Medium: return "Medium";
    case Severity::High: return "High";
  }
  return "Info";
}

const char* verdict_name(Verdict v) {
  switch (v) {
    case Verdict::Clean: return "Clean";
    case Verdict::Suspicious: return "Suspicious";
    case Verdict::Dangerous: return "Dangerous";
  }
  return "Clean";
}

const char* kind_text(ThreatKind k) {
  switch (k) {
    case ThreatKind::JavaScript: return "Embedded JavaScript";
    case ThreatKind::OpenAction: return "Auto-run action on open";
    case ThreatKind::AdditionalActions: return "Additional auto-action";
    case ThreatKind::Launch: return "Launch external program";
    case ThreatKind::EmbeddedFile: return "Embedded file / attachment";
    case ThreatKind::SubmitForm: return "Form submission to remote endpoint";
    case ThreatKind::RichMedia: return "Embedded multimedia (RichMedia)";
    case ThreatKind::Xfa: return "XFA dynamic form";
    case ThreatKind::GoToRemote: return "Remote navigation (GoToR)";
    case ThreatKind::SuspiciousUri: return "Suspicious URI scheme";
    case ThreatKind::Encrypted: return "Encrypted document";
  }
  return "";
}

std::uint32_t interface_code(ThreatKind k) {
  switch (k) {
    case ThreatKind::Xfa: return 10;
    case ThreatKind::GoToRemote:
    case ThreatKind::SuspiciousUri:
    case ThreatKind::Encrypted: return static_cast<std::uint32_t>(k) - 1;
    default: return static_cast<std::uint32_t>(k);
  }
}

std::optional<Severity> ThreatReport::max_severity() const {
  std::optional<Severity> best;
  for (const Finding& f : findings) {
    if (!best || f.severity > *best) best = f.severity;
  }
  return best;
}

bool ThreatReport::has(ThreatKind kind) const {
  for (const Finding& f : findings) {
    if (f.kind == kind) return true;
  }
  return false;
}

std::string ThreatReport::to_text() const {
  std::string out = "PDF threat report: ";
  out += verdict_name(verdict);
  out += '\n';
  if (findings.empty()) {
    out += "  (no risky constructs detected)\n";
    return out;
  }
  for (const Finding& f : findings) {
    out += "  [";
    out += severity_name(f.severity);
    out += "] ";
    out += kind_text(f.kind);
    out += " @ byte ";
    out += std::to_string(f.offset);
    if (f.detail) {
      out += " \xE2\x80\x94 ";
      out += *f.detail;
    }
    out += '\n';
  }
  return out;
}

ThreatReport scan(std::span<const std::uint8_t> bytes, const InflateLimits& limits) {
  return scan(bytes, {}, limits);
}

ThreatReport scan(std::span<const std::uint8_t> bytes, std::string_view password, const InflateLimits& limits) {
  ThreatReport report;
  report.is_pdf = bytes.size() >= 5 && std::memcmp(bytes.data(), "%PDF-", 5) == 0;
  Rater rater;
  detail::ObjectStreams streams(bytes, limits, password);
  rater.rate(bytes, std::nullopt, report.findings, [&](Structure_name what, const parser::NameScanner::RawName& n) {
    switch (what) {
      case Structure_name::ObjectStream: streams.candidate(n.start); break;
      case Structure_name::Encrypt: streams.encrypt_name(n.end); break;
      case Structure_name::Id: streams.id_name(n.end); break;
      case Structure_name::Rotate: report.names_rotate = true; break;
    }
  });
  const std::size_t plain_details = rater.details();
  // From inside object streams, at their data's offsets.
  std::vector<Finding> packed =
      streams.read_all([&](std::size_t data, std::span<const std::uint8_t> content, std::vector<Finding>& out) {
        // Objects packed in a stream hold no streams, so nothing in there leads further.
        Rater own(plain_details);
        own.rate(content, data, out, [&](Structure_name what, const parser::NameScanner::RawName&) {
          if (what == Structure_name::Rotate) report.names_rotate = true;
        });
      });
  report.complete = !streams.exhausted() && !streams.unreadable();
  report.needs_password = streams.needs_password();
  if (!packed.empty()) {
    // The streams were rated apart: the budget of link details holds across them, in order.
    std::size_t details = plain_details;
    for (Finding& f : packed) {
      if (!f.detail) continue;
      if (details >= kDetailBudget) cut_between_characters(*f.detail, kDetailCapOverBudget);
      details += f.detail->size();
    }
    // Data offsets come in file order unless the file's objects overlap.
    if (!std::is_sorted(packed.begin(), packed.end(), by_offset)) {
      std::stable_sort(packed.begin(), packed.end(), by_offset);
    }
    const auto plain = static_cast<std::ptrdiff_t>(report.findings.size());
    report.findings.insert(report.findings.end(), std::make_move_iterator(packed.begin()),
                           std::make_move_iterator(packed.end()));
    std::inplace_merge(report.findings.begin(), report.findings.begin() + plain, report.findings.end(), by_offset);
  }
  report.verdict = verdict_of(report.max_severity());
  return report;
}

namespace parser {

bool is_delimiter(std::uint8_t b) { return kDelimiter[b]; }

template <class Sink>
bool NameScanner::advance(Sink&& sink, std::size_t& start, std::size_t& end) {
  const std::size_t n = bytes_.size();
  if (pos_ >= n) {
    pos_ = n;
    return false;
  }
  const std::uint8_t* d = bytes_.data();
  const void* slash = std::memchr(d + pos_, '/', n - pos_);
  if (!slash) {
    pos_ = n;
    return false;
  }
  const std::size_t s = static_cast<std::size_t>(static_cast<const std::uint8_t*>(slash) - d);
  const std::size_t i = detail::read_name(bytes_, s + 1, sink);
  start = s;
  end = i;
  pos_ = i;
  return true;
}

std::optional<Name> NameScanner::next() {
  std::string raw;
  Name name;
  if (!advance([&](std::uint8_t b) { raw.push_back(static_cast<char>(b)); }, name.start, name.end)) {
    return std::nullopt;
  }
  name.text = decode_utf8({reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()});
  return name;
}

bool NameScanner::next_raw(RawName& out) {
  out.size = 0;
  return advance(
      [&](std::uint8_t b) {
        if (out.size < raw_cap) {
          out.bytes[out.size++] = b;
        } else {
          out.size = raw_cap + 1;
        }
      },
      out.start, out.end);
}

std::optional<std::string> read_following_string(std::span<const std::uint8_t> bytes,
                                                 std::size_t p, std::size_t max_bytes) {
  const auto start = string_start(bytes, p);
  if (!start) return std::nullopt;
  LiteralSource src(bytes, *start);
  std::string out;
  CappedText text{out, max_bytes};
  char c[4];
  std::size_t len = 0;
  while (!text.full && decode_one(src, c, len) != kEnd) text.add(c, len);
  return out;
}

std::string decode_utf8(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  SpanSource src(bytes);
  char c[4];
  std::size_t len = 0;
  while (decode_one(src, c, len) != kEnd) out.append(c, len);
  return out;
}

}  // namespace parser
}  // namespace quorvel_scan
