// The threat scanner's own C++ layer. It walks raw bytes once and rates every PDF name token
// against a fixed table, and rates the names packed in object streams the same way, after
// decrypting and decoding them as readers do; it parses nothing else. The rest of the system
// reaches it only through quorvel_scan.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel_scan {

enum class Severity : std::uint8_t { Info = 0, Low = 1, Medium = 2, High = 3 };

enum class Verdict : std::uint8_t { Clean = 0, Suspicious = 1, Dangerous = 2 };

enum class ThreatKind : std::uint8_t {
  JavaScript = 0,
  OpenAction = 1,
  AdditionalActions = 2,
  Launch = 3,
  EmbeddedFile = 4,
  SubmitForm = 5,
  RichMedia = 6,
  Xfa = 7,
  GoToRemote = 8,
  SuspiciousUri = 9,
  Encrypted = 10,
};

inline constexpr int kKindCount = 11;

const char* severity_name(Severity s);
const char* verdict_name(Verdict v);
const char* kind_text(ThreatKind k);
// The function interface numbers kinds differently (XFA last).
std::uint32_t interface_code(ThreatKind k);

// A link detail holds at most this many bytes of UTF-8, cut between characters. Once a
// report's details add up to kDetailBudget, further ones keep only kDetailCapOverBudget
// bytes, so that a file of many links cannot make a report far larger than itself.
inline constexpr std::size_t kDetailCap = 2048;
inline constexpr std::size_t kDetailBudget = std::size_t{4} << 20;
inline constexpr std::size_t kDetailCapOverBudget = 64;

struct Finding {
  // Of the '/' that begins the name; for a name inside an object stream, of that stream's
  // data (the first byte after the end of line that follows its "stream" keyword).
  std::uint64_t offset = 0;
  std::optional<std::string> detail;  // SuspiciousUri only: the link text as read
  ThreatKind kind = ThreatKind::JavaScript;
  Severity severity = Severity::Info;
};

struct ThreatReport {
  std::vector<Finding> findings;  // ascending offset, one per occurrence
  Verdict verdict = Verdict::Clean;
  bool is_pdf = false;
  // False when some object stream was not read: a bound stopped the reading, or the stream
  // could not be read at all (an unknown filter, data that does not decode, encryption that
  // the password given does not open). The findings then cover what was read, and the
  // function interface gives no report.
  bool complete = true;
  // Object streams stayed unread only because the file is encrypted with a password other
  // than the one given (the empty one unless said otherwise).
  bool needs_password = false;
  // Whether some name reads /Rotate, in the file or in an object stream read. Without one in a
  // complete report, no page of the file is turned, which spares a reader its own search.
  bool names_rotate = false;

  std::optional<Severity> max_severity() const;
  bool has(ThreatKind kind) const;
  std::string to_text() const;
};

// What decoding object streams may cost, all streams of one input together: the decoded bytes
// of every filter stage, at most max_total, and at most max_ratio times the input's size or
// floor, whichever is more (a small file may hold a few megabytes of objects). Their stored
// data and dictionaries may add up to the input's size each, which sound files never pass.
struct InflateLimits {
  std::size_t max_total = std::size_t{64} << 20;
  std::size_t max_ratio = 100;
  std::size_t floor = std::size_t{4} << 20;
};

// Object streams are decrypted (the standard security handler, with the empty password or the
// one given, as the user's or the owner's) and decoded with the filters readers apply to them
// (Flate and LZW with their predictors, ASCIIHex, ASCII85, RunLength, chains of them, and
// crypt filters), as far as they decode.
ThreatReport scan(std::span<const std::uint8_t> bytes, const InflateLimits& limits = {});
ThreatReport scan(std::span<const std::uint8_t> bytes, std::string_view password, const InflateLimits& limits = {});

namespace parser {

// Whether b ends a name: PDF white space and delimiters.
bool is_delimiter(std::uint8_t b);

struct Name {
  std::string text;        // decoded: #xx resolved, then UTF-8 with U+FFFD replacement
  std::size_t start = 0;   // offset of the '/'
  std::size_t end = 0;     // offset after the name's last byte
};

class NameScanner {
 public:
  explicit NameScanner(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::optional<Name> next();

  // The scan's fast path: the next name with only #xx resolved, and only while it is no
  // longer than raw_cap bytes (longer names match no rule). False at the end.
  static constexpr std::size_t raw_cap = 16;
  struct RawName {
    std::uint8_t bytes[raw_cap];
    std::size_t size = 0;  // raw_cap + 1 when the name was longer than raw_cap
    std::size_t start = 0;
    std::size_t end = 0;
  };
  bool next_raw(RawName& out);

 private:
  template <class Sink>
  bool advance(Sink&& sink, std::size_t& start, std::size_t& end);

  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// The literal string that follows position p after PDF white space, decoded like a name's
// bytes; none when something other than '(' comes first. Reads no further than needed for
// max_bytes bytes of text, which it cuts between characters.
std::optional<std::string> read_following_string(std::span<const std::uint8_t> bytes,
                                                 std::size_t p,
                                                 std::size_t max_bytes = kDetailCap);

// UTF-8 to UTF-8 with one U+FFFD for each maximal ill-formed subpart.
std::string decode_utf8(std::span<const std::uint8_t> bytes);

}  // namespace parser
}  // namespace quorvel_scan
