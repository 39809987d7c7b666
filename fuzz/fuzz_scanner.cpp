// Scans arbitrary bytes through the library and through the wrapper (which reads the
// library's report through its function interface) and checks what must hold for any input.
// An input that starts with "Z" is also compressed into an object stream, whose findings must
// be those of the rest of the input scanned plainly. Encrypted inputs are also scanned with a
// password taken from their first bytes.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <zlib.h>

#include "scanner/scan.h"
#include "scanner/security.h"

namespace {

#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) std::abort(); \
  } while (0)

// Strict UTF-8 check, written apart from the scanner's decoder.
bool valid_utf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (b < 0x80) {
      ++i;
      continue;
    }
    if ((b & 0xE0) == 0xC0) {
      n = 1;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      n = 2;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      n = 3;
      cp = b & 0x07;
    } else {
      return false;
    }
    for (std::size_t k = 1; k <= n; ++k) {
      if (i + k >= s.size()) return false;
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    const std::uint32_t min[] = {0, 0x80, 0x800, 0x10000};
    if (cp < min[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

// The rest of the input compressed as the one object stream of a file; its data's offset.
std::string packed_file(std::span<const std::uint8_t> rest, std::size_t& data) {
  uLongf n = compressBound(static_cast<uLong>(rest.size()));
  std::string z(n, '\0');
  FUZZ_CHECK(compress(reinterpret_cast<Bytef*>(z.data()), &n, rest.data(), static_cast<uLong>(rest.size())) == Z_OK);
  z.resize(n);
  std::string file = "%PDF-1.7\n1 0 obj\n<< /Type /ObjStm /N 1 /First 4 /Filter /FlateDecode >>\nstream\n";
  data = file.size();
  return file + z + "\nendstream\nendobj\n";
}

// What packing the input into an object stream must keep: every finding, in order, at the
// stream's data.
void check_packed(std::span<const std::uint8_t> rest) {
  // Without any allowance for decoding, the scan rates the plain names alone: object streams
  // of the rest's own cannot be read once it is packed, as packed objects hold no streams.
  const quorvel_scan::ThreatReport plain = quorvel_scan::scan(rest, quorvel_scan::InflateLimits{0, 0, 0});
  std::size_t data = 0;
  const std::string file = packed_file(rest, data);
  const quorvel_scan::ThreatReport packed =
      quorvel_scan::scan({reinterpret_cast<const std::uint8_t*>(file.data()), file.size()});
  if (!packed.complete) {
    // The only bound such a file can pass, unless the rest stands in it as stored (zlib keeps
    // what it cannot compress) and names an encryption dictionary there.
    const quorvel_scan::InflateLimits limits;
    FUZZ_CHECK(rest.size() > std::min(limits.max_total, std::max(limits.floor, limits.max_ratio * file.size())) ||
               packed.has(quorvel_scan::ThreatKind::Encrypted));
    return;
  }
  std::vector<const quorvel_scan::Finding*> inside;
  for (const auto& f : packed.findings) {
    if (f.offset == data) inside.push_back(&f);
  }
  FUZZ_CHECK(inside.size() == plain.findings.size());
  for (std::size_t i = 0; i < inside.size(); ++i) {
    FUZZ_CHECK(inside[i]->kind == plain.findings[i].kind);
    FUZZ_CHECK(inside[i]->severity == plain.findings[i].severity);
    FUZZ_CHECK(inside[i]->detail == plain.findings[i].detail);
  }
  FUZZ_CHECK(packed.verdict >= plain.verdict);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const quorvel_scan::ThreatReport lib = quorvel_scan::scan(bytes);
  const quorvel::security::ThreatReport app =
      quorvel::security::scan({reinterpret_cast<const std::byte*>(data), size});

  // A scan that left content unread gives no report through the interface, and the wrapper a
  // failed one.
  FUZZ_CHECK(app.failed == !lib.complete);
  FUZZ_CHECK(app.needs_password == lib.needs_password);
  FUZZ_CHECK(!lib.needs_password || !lib.complete);
  if (app.failed) {
    FUZZ_CHECK(app.verdict == quorvel::security::Verdict::Dangerous && app.findings.empty());
  } else {
    FUZZ_CHECK(app.is_pdf == lib.is_pdf);
    FUZZ_CHECK(static_cast<int>(app.verdict) == static_cast<int>(lib.verdict));
    FUZZ_CHECK(app.findings.size() == lib.findings.size());
  }

  int top = -1;
  std::optional<std::uint64_t> last_plain;
  for (std::size_t i = 0; i < lib.findings.size(); ++i) {
    const auto& f = lib.findings[i];
    FUZZ_CHECK(f.offset < size);
    FUZZ_CHECK(i == 0 || lib.findings[i - 1].offset <= f.offset);
    // A finding stands at its name's '/', or at the data of an object stream. Each plain name
    // gives one finding; a packed one may share the offset of a name that starts the data
    // (filters other than Flate can store text as it stands).
    if (data[f.offset] == '/' && (!last_plain || *last_plain < f.offset)) last_plain = f.offset;
    FUZZ_CHECK(!last_plain || *last_plain <= f.offset);
    if (!app.failed) {
      const auto& g = app.findings[i];
      FUZZ_CHECK(static_cast<int>(g.kind) == static_cast<int>(f.kind));
      FUZZ_CHECK(static_cast<int>(g.severity) == static_cast<int>(f.severity));
      FUZZ_CHECK(g.offset == f.offset);
      FUZZ_CHECK(g.detail == f.detail);
    }
    FUZZ_CHECK(f.detail.has_value() == (f.kind == quorvel_scan::ThreatKind::SuspiciousUri));
    if (f.detail) {
      FUZZ_CHECK(f.detail->size() <= quorvel_scan::kDetailCap);
      FUZZ_CHECK(valid_utf8(*f.detail));
    }
    top = std::max(top, static_cast<int>(f.severity));
  }
  const int verdict = top <= 0 ? 0 : top == 3 ? 2 : 1;
  FUZZ_CHECK(static_cast<int>(lib.verdict) == verdict);

  if (size > 0 && data[0] == 'Z') check_packed(bytes.subspan(1));
  if (lib.has(quorvel_scan::ThreatKind::Encrypted) && size > 8) {
    const auto with = quorvel_scan::scan(bytes, {reinterpret_cast<const char*>(data), 8});
    FUZZ_CHECK(with.findings.size() >= lib.findings.size() || !with.complete || !lib.complete);
  }

  // The decoded and the raw walk see the same tokens, each starting at a '/'.
  quorvel_scan::parser::NameScanner decoded(bytes);
  quorvel_scan::parser::NameScanner raw(bytes);
  quorvel_scan::parser::NameScanner::RawName r;
  std::size_t last_end = 0;
  while (raw.next_raw(r)) {
    const auto n = decoded.next();
    FUZZ_CHECK(n && n->start == r.start && n->end == r.end);
    FUZZ_CHECK(n->start >= last_end && n->start < n->end && n->end <= size && data[n->start] == '/');
    FUZZ_CHECK(valid_utf8(n->text));
    last_end = n->end;
  }
  FUZZ_CHECK(!decoded.next());

  if (size > 0) {
    const auto s = quorvel_scan::parser::read_following_string(bytes, data[0] % size, 64);
    FUZZ_CHECK(!s || (s->size() <= 64 && valid_utf8(*s)));
  }
  return 0;
}
