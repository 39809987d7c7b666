#!/usr/bin/env bash
# The scanner library's unmangled functions are exactly its interface functions.
set -euo pipefail
nm_tool=$1
lib=$2
expected="quorvel_report_finding
quorvel_report_finding_count
quorvel_report_finding_detail
quorvel_report_free
quorvel_report_is_pdf
quorvel_report_names_rotate
quorvel_report_verdict
quorvel_scan
quorvel_scan_with_password"
actual=$("$nm_tool" -g --defined-only --format=posix "$lib" | awk '($2 == "T" || $2 == "W") && $1 !~ /^_Z/ { print $1 }' | sort -u)
if [ "$actual" != "$expected" ]; then
  echo "unmangled functions of $lib:"
  echo "$actual"
  echo "expected:"
  echo "$expected"
  exit 1
fi
