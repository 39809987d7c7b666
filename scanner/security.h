// How the application rates a file for active content before the PDF engine sees it: a
// plain report made from the scanner library's function interface. No library handle
// outlives a call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
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
  // The scan could not complete (out of memory). Such a report is rated Dangerous and has
  // no findings: nothing was proven harmless.
  bool failed = false;

  bool has(ThreatKind kind) const;
};

// Never throws; a scan that cannot complete gives a failed, Dangerous report.
ThreatReport scan(std::span<const std::byte> bytes) noexcept;

}  // namespace quorvel::security
