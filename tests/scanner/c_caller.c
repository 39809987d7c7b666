/* A plain C caller of the scanner: proves the header is C and the functions link as C. */
#include <stdio.h>
#include <string.h>

#include "scanner/quorvel_scan.h"

#define CHECK(cond)                                              \
  do {                                                           \
    if (!(cond)) {                                               \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
      return 1;                                                  \
    }                                                            \
  } while (0)

int main(void) {
  static const char input[] = "%PDF-1.7\n/XFA /URI(javascript:go)";
  quorvel_report* r = quorvel_scan((const uint8_t*)input, sizeof input - 1);
  quorvel_finding f;
  char buf[32];
  size_t n;
  CHECK(r != NULL);
  CHECK(quorvel_report_is_pdf(r) == 1);
  CHECK(quorvel_report_names_rotate(r) == 0);
  CHECK(quorvel_report_verdict(r) == 1);
  CHECK(quorvel_report_finding_count(r) == 2);
  memset(&f, 0, sizeof f);
  CHECK(quorvel_report_finding(r, 0, &f) == 1);
  CHECK(f.kind == QUORVEL_KIND_XFA && f.severity == 2 && f.offset == 9 && f.has_detail == 0);
  CHECK(quorvel_report_finding(r, 1, &f) == 1);
  CHECK(f.kind == QUORVEL_KIND_SUSPICIOUS_URI && f.has_detail == 1);
  n = quorvel_report_finding_detail(r, 1, NULL, 0);
  CHECK(n == 13 && n < sizeof buf);
  CHECK(quorvel_report_finding_detail(r, 1, buf, n + 1) == n);
  CHECK(strcmp(buf, "javascript:go") == 0);
  quorvel_report_free(r);
  return 0;
}
