#!/usr/bin/env bash
# Times poppler's pdftoppm and pdftotext and mupdf's mutool draw on the pages that
# bench_render reads, for figures side by side with it.
#   bench/render_peers.sh FILE.pdf [PAGES]
set -euo pipefail
pdf=$1
pages=${2:-$(pdfinfo "$pdf" | awk '/^Pages:/ {print $2}')}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

run() {  # label, pages, command...
  local label=$1 n=$2; shift 2
  local start end peak
  start=$(date +%s.%N)
  /usr/bin/time -f '%M' -o "$out/.peak" "$@" >/dev/null 2>&1
  peak=$(cat "$out/.peak")
  end=$(date +%s.%N)
  awk -v l="$label" -v s="$start" -v e="$end" -v p="$n" -v k="$peak" \
    'BEGIN { printf "%-24s %8.2f s  %8.1f pages/s  peak %7.1f MiB\n", l, e - s, p / (e - s), k / 1024 }'
  rm -f "$out"/*
}

echo "file: $pdf, pages: $pages"
for dpi in 96 144; do
  run "pdftoppm -r $dpi" "$pages" pdftoppm -r "$dpi" -f 1 -l "$pages" "$pdf" "$out/p"
  if command -v mutool >/dev/null; then
    run "mutool draw -r $dpi" "$pages" mutool draw -q -r "$dpi" -o "$out/m%d.ppm" "$pdf" "1-$pages"
  fi
done
run "pdftotext" "$pages" pdftotext -f 1 -l "$pages" -enc UTF-8 "$pdf" "$out/t.txt"
