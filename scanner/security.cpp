#include "scanner/security.h"

#include <memory>
#include <new>

#include "scanner/quorvel_scan.h"

namespace quorvel::security {

namespace {

ThreatKind kind_from_code(uint32_t code) {
  switch (code) {
    case QUORVEL_KIND_JAVASCRIPT: return ThreatKind::JavaScript;
    case QUORVEL_KIND_OPEN_ACTION: return ThreatKind::OpenAction;
    case QUORVEL_KIND_ADDITIONAL_ACTIONS: return ThreatKind::AdditionalActions;
    case QUORVEL_KIND_LAUNCH: return ThreatKind::Launch;
    case QUORVEL_KIND_EMBEDDED_FILE: return ThreatKind::EmbeddedFile;
    case QUORVEL_KIND_SUBMIT_FORM: return ThreatKind::SubmitForm;
    case QUORVEL_KIND_RICH_MEDIA: return ThreatKind::RichMedia;
    case QUORVEL_KIND_GOTO_REMOTE: return ThreatKind::GoToRemote;
    case QUORVEL_KIND_SUSPICIOUS_URI: return ThreatKind::SuspiciousUri;
    case QUORVEL_KIND_ENCRYPTED: return ThreatKind::Encrypted;
    case QUORVEL_KIND_XFA: return ThreatKind::Xfa;
    default: return ThreatKind::JavaScript;
  }
}

ThreatReport failed_report() noexcept {
  ThreatReport r;
  r.verdict = Verdict::Dangerous;
  r.failed = true;
  return r;
}

struct ReportFree {
  void operator()(quorvel_report* r) const noexcept { quorvel_report_free(r); }
};

}  // namespace

bool ThreatReport::has(ThreatKind kind) const {
  for (const Finding& f : findings) {
    if (f.kind == kind) return true;
  }
  return false;
}

ThreatReport scan(std::span<const std::byte> bytes) noexcept { return scan(bytes, {}); }

ThreatReport scan(std::span<const std::byte> bytes, std::string_view password) noexcept {
  // A scan that did not finish proves nothing about the file, so it must not read as clean.
  int status = QUORVEL_SCAN_FAILED;
  const std::unique_ptr<quorvel_report, ReportFree> lib(quorvel_scan_with_password(
      reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), password.data(), password.size(), &status));
  if (!lib) {
    ThreatReport failed = failed_report();
    failed.needs_password = status == QUORVEL_SCAN_NEEDS_PASSWORD;
    return failed;
  }
  try {
    ThreatReport out;
    out.is_pdf = quorvel_report_is_pdf(lib.get()) == 1;
    const int verdict = quorvel_report_verdict(lib.get());
    out.verdict = (verdict == 1 || verdict == 2) ? static_cast<Verdict>(verdict) : Verdict::Clean;
    out.no_rotate_key = quorvel_report_names_rotate(lib.get()) == 0;
    const size_t n = quorvel_report_finding_count(lib.get());
    out.findings.reserve(n);
    for (size_t i = 0; i < n; ++i) {
      quorvel_finding rec{};
      if (quorvel_report_finding(lib.get(), i, &rec) != 1) continue;
      Finding f;
      f.kind = kind_from_code(rec.kind);
      f.severity = (rec.severity >= 1 && rec.severity <= 3) ? static_cast<Severity>(rec.severity)
                                                            : Severity::Info;
      f.offset = rec.offset;
      if (rec.has_detail != 0) {
        const size_t m = quorvel_report_finding_detail(lib.get(), i, nullptr, 0);
        if (m > 0) {
          std::string text(m, '\0');
          // m + 1: the library's terminator lands on the string's own.
          quorvel_report_finding_detail(lib.get(), i, text.data(), m + 1);
          f.detail = std::move(text);
        }
      }
      out.findings.push_back(std::move(f));
    }
    return out;
  } catch (...) {
    return failed_report();
  }
}

}  // namespace quorvel::security
