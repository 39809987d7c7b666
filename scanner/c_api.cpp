#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>
#include <stddef.h>
#include <stdint.h>

#include "scanner/scan.h"

// The function quorvel_scan and the namespace quorvel_scan cannot both be declared in the
// global scope of one translation unit. Functions with C linkage are the same function in
// whatever namespace they are declared, so the interface is declared (from its own header,
// which keeps the definitions below checked against it) and defined inside a namespace of
// its own. The C headers are already included above, so their guards keep them out here.
namespace quorvel_scan_c_interface {
#include "scanner/quorvel_scan.h"

struct quorvel_report {
  quorvel_scan::ThreatReport report;
};

namespace {
const quorvel_scan::Finding* finding_at(const quorvel_report* r, std::size_t index) {
  if (!r || index >= r->report.findings.size()) return nullptr;
  return &r->report.findings[index];
}
}  // namespace

quorvel_report* quorvel_scan(const uint8_t* data, size_t len) noexcept {
  return quorvel_scan_with_password(data, len, nullptr, 0, nullptr);
}

quorvel_report* quorvel_scan_with_password(const uint8_t* data, size_t len, const char* password,
                                           size_t password_len, int* status) noexcept {
  int outcome = QUORVEL_SCAN_FAILED;
  quorvel_report* out = nullptr;
  if ((data || len == 0) && (password || password_len == 0)) {
    try {
      quorvel_scan::ThreatReport report =
          quorvel_scan::scan({data, len}, std::string_view(password ? password : "", password_len));
      // Content left unread proves nothing harmless: that is a scan that could not finish.
      if (report.complete) {
        out = new quorvel_report{std::move(report)};
        outcome = QUORVEL_SCAN_DONE;
      } else {
        outcome = report.needs_password ? QUORVEL_SCAN_NEEDS_PASSWORD : QUORVEL_SCAN_INCOMPLETE;
      }
    } catch (...) {
      outcome = QUORVEL_SCAN_FAILED;
    }
  }
  if (status) *status = outcome;
  return out;
}

int quorvel_report_is_pdf(const quorvel_report* report) noexcept {
  if (!report) return -1;
  return report->report.is_pdf ? 1 : 0;
}

int quorvel_report_verdict(const quorvel_report* report) noexcept {
  if (!report) return -1;
  return static_cast<int>(report->report.verdict);
}

int quorvel_report_names_rotate(const quorvel_report* report) noexcept {
  if (!report) return -1;
  return report->report.names_rotate ? 1 : 0;
}

size_t quorvel_report_finding_count(const quorvel_report* report) noexcept {
  return report ? report->report.findings.size() : 0;
}

int quorvel_report_finding(const quorvel_report* report, size_t index,
                           quorvel_finding* out) noexcept {
  const quorvel_scan::Finding* f = finding_at(report, index);
  if (!f || !out) return 0;
  // Field by field: the padding after has_detail belongs to the caller.
  out->kind = quorvel_scan::interface_code(f->kind);
  out->severity = static_cast<uint32_t>(f->severity);
  out->offset = f->offset;
  out->has_detail = f->detail ? 1 : 0;
  return 1;
}

size_t quorvel_report_finding_detail(const quorvel_report* report, size_t index, char* buf,
                                     size_t buf_len) noexcept {
  const quorvel_scan::Finding* f = finding_at(report, index);
  if (!f || !f->detail) return 0;
  const std::string& d = *f->detail;
  if (buf && buf_len > 0) {
    const std::size_t n = std::min(d.size(), buf_len - 1);
    std::memcpy(buf, d.data(), n);
    buf[n] = '\0';
  }
  return d.size();
}

void quorvel_report_free(quorvel_report* report) noexcept { delete report; }

}  // namespace quorvel_scan_c_interface
