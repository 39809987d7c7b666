// How the application rates a file for active content before the PDF engine sees it: a
// plain report made from the scanner library's function interface. No library handle
// outlives a call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::security {

enum class ThreatKind : int {
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

enum class Severity : int { Info = 0, Low = 1, Medium = 2, High = 3 };

enum class Verdict : int { Clean = 0, Suspicious = 1, Dangerous = 2 };

struct Finding {
  ThreatKind kind = ThreatKind::JavaScript;
  Severity severity = Severity::Info;
  std::uint64_t offset = 0;           // of the '/' that begins the PDF name
  std::optional<std::string> detail;  // SuspiciousUri only: the link text, UTF-8
};

struct ThreatReport {
  bool is_pdf = false;
  Verdict verdict = Verdict::Clean;
  std::vector<Finding> findings;  // in file order
  // The scan could not complete (some object stream could not be read, or memory ran out).
  // Such a report is rated Dangerous and has no findings: nothing was proven harmless.
  bool failed = false;
  // Failed only because the file's password is needed to read its object streams: scanned
  // again with the password, the report is complete.
  bool needs_password = false;
  // No page of the file can be turned: no name in it, object streams included, reads /Rotate.
  // Known only from a complete scan; false otherwise.
  bool no_rotate_key = false;

  bool has(ThreatKind kind) const;
};

// Never throws; a scan that cannot complete gives a failed, Dangerous report. Encrypted
// content is read with the empty password, or with the password given (UTF-8).
ThreatReport scan(std::span<const std::byte> bytes) noexcept;
ThreatReport scan(std::span<const std::byte> bytes, std::string_view password) noexcept;

}  // namespace quorvel::security
