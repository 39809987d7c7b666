/* The threat scanner's function interface: one scan gives an opaque report that is read
 * through the accessors below and released with quorvel_report_free. Plain C, so that the
 * boundary stays the same whatever compiler either side is built with. */
#ifndef QUORVEL_SCAN_H
#define QUORVEL_SCAN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define QUORVEL_SCAN_NOEXCEPT noexcept
extern "C" {
#else
#define QUORVEL_SCAN_NOEXCEPT
#endif

typedef struct quorvel_report quorvel_report;

/* Interface kind codes; they differ from the library's internal order (XFA comes last). */
enum {
  QUORVEL_KIND_JAVASCRIPT = 0,
  QUORVEL_KIND_OPEN_ACTION = 1,
  QUORVEL_KIND_ADDITIONAL_ACTIONS = 2,
  QUORVEL_KIND_LAUNCH = 3,
  QUORVEL_KIND_EMBEDDED_FILE = 4,
  QUORVEL_KIND_SUBMIT_FORM = 5,
  QUORVEL_KIND_RICH_MEDIA = 6,
  QUORVEL_KIND_GOTO_REMOTE = 7,
  QUORVEL_KIND_SUSPICIOUS_URI = 8,
  QUORVEL_KIND_ENCRYPTED = 9,
  QUORVEL_KIND_XFA = 10
};

/* 24 bytes, 8-aligned; the 4 bytes after has_detail are padding the library never writes. */
typedef struct quorvel_finding {
  uint32_t kind;       /* interface kind code, 0 to 10 */
  uint32_t severity;   /* 0 Info, 1 Low, 2 Medium, 3 High */
  uint64_t offset;     /* byte offset of the name's '/'; inside an object stream, of its data */
  uint32_t has_detail; /* 1 when quorvel_report_finding_detail has text for it */
} quorvel_finding;

#ifdef __cplusplus
#define QUORVEL_SCAN_STATIC_ASSERT static_assert
#define QUORVEL_SCAN_ALIGNOF alignof
#else
#define QUORVEL_SCAN_STATIC_ASSERT _Static_assert
#define QUORVEL_SCAN_ALIGNOF _Alignof
#endif
QUORVEL_SCAN_STATIC_ASSERT(sizeof(quorvel_finding) == 24, "quorvel_finding is 24 bytes");
QUORVEL_SCAN_STATIC_ASSERT(QUORVEL_SCAN_ALIGNOF(quorvel_finding) == 8, "quorvel_finding is 8-aligned");
QUORVEL_SCAN_STATIC_ASSERT(offsetof(quorvel_finding, kind) == 0, "kind at 0");
QUORVEL_SCAN_STATIC_ASSERT(offsetof(quorvel_finding, severity) == 4, "severity at 4");
QUORVEL_SCAN_STATIC_ASSERT(offsetof(quorvel_finding, offset) == 8, "offset at 8");
QUORVEL_SCAN_STATIC_ASSERT(offsetof(quorvel_finding, has_detail) == 16, "has_detail at 16");
#undef QUORVEL_SCAN_STATIC_ASSERT
#undef QUORVEL_SCAN_ALIGNOF

/* Scans len bytes at data (only read, never kept), the decoded content of its object streams
 * included, decrypted with the empty password. Null data with len > 0, or a scan that could
 * not complete, gives null; null data with len 0 scans an empty input. */
quorvel_report* quorvel_scan(const uint8_t* data, size_t len) QUORVEL_SCAN_NOEXCEPT;

/* Outcomes of quorvel_scan_with_password. */
enum {
  QUORVEL_SCAN_DONE = 0,           /* a report was given */
  QUORVEL_SCAN_INCOMPLETE = 1,     /* an object stream could not be read: an unknown filter,
                                      data that does not decode, an encryption the scan cannot
                                      open, or decoding past 64 MB or 100 times len (a few MB
                                      at least) */
  QUORVEL_SCAN_NEEDS_PASSWORD = 2, /* object streams stayed unread only for want of the file's
                                      password */
  QUORVEL_SCAN_FAILED = 3          /* null data with len > 0, or memory ran out */
};

/* Like quorvel_scan, decrypting with password_len bytes of password (UTF-8; a null password
 * with length 0 is the empty one), taken as the user's or the owner's. Gives a report only
 * with QUORVEL_SCAN_DONE, and writes the outcome to status when that is not null. */
quorvel_report* quorvel_scan_with_password(const uint8_t* data, size_t len, const char* password,
                                           size_t password_len, int* status) QUORVEL_SCAN_NOEXCEPT;

/* 1 when the input starts with "%PDF-", else 0; -1 for a null report. */
int quorvel_report_is_pdf(const quorvel_report* report) QUORVEL_SCAN_NOEXCEPT;

/* 0 clean, 1 suspicious, 2 dangerous; -1 for a null report. */
int quorvel_report_verdict(const quorvel_report* report) QUORVEL_SCAN_NOEXCEPT;

/* 1 when some name in the input or its object streams reads /Rotate (a page may be turned),
 * 0 when none does; -1 for a null report. */
int quorvel_report_names_rotate(const quorvel_report* report) QUORVEL_SCAN_NOEXCEPT;

/* Number of findings; 0 for a null report. */
size_t quorvel_report_finding_count(const quorvel_report* report) QUORVEL_SCAN_NOEXCEPT;

/* Fills kind, severity, offset and has_detail of finding index and returns 1; returns 0 and
 * writes nothing for a null report or out, or an index not below the count. */
int quorvel_report_finding(const quorvel_report* report, size_t index,
                           quorvel_finding* out) QUORVEL_SCAN_NOEXCEPT;

/* Full length in bytes of the finding's detail (0 when it has none). With a buffer of
 * buf_len > 0 bytes, also copies up to buf_len - 1 bytes and a terminating zero: call once
 * with a null buffer for the length n, then with n + 1 bytes. */
size_t quorvel_report_finding_detail(const quorvel_report* report, size_t index, char* buf,
                                     size_t buf_len) QUORVEL_SCAN_NOEXCEPT;

/* Releases a report; null is accepted. */
void quorvel_report_free(quorvel_report* report) QUORVEL_SCAN_NOEXCEPT;

#ifdef __cplusplus
}
#endif
#undef QUORVEL_SCAN_NOEXCEPT

#endif /* QUORVEL_SCAN_H */
