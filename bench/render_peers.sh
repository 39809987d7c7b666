#!/usr/bin/env bash
# Times poppler's pdftoppm and pdftotext and mupdf's mutool draw on the pages that
# bench_render reads, for figures side by side with it. Pages are rendered in chunks whose
# images are removed after each chunk, so a long document does not fill the disk.
#   bench/render_peers.sh FILE.pdf [PAGES]
set -euo pipefail
pdf=$1
pages=${2:-$(pdfinfo "$pdf" | awk '/^Pages:/ {print $2}')}
chunk=200
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# run LABEL COMMAND... : COMMAND is run once per chunk with FIRST and LAST in its environment.
run() {
  local label=$1; shift
  local total=0 peak=0 first last start end kb
  for ((first = 1; first <= pages; first += chunk)); do
    last=$((first + chunk - 1 < pages ? first + chunk - 1 : pages))
    start=$(date +%s.%N)
    FIRST=$first LAST=$last /usr/bin/time -f '%M' -o "$out/.peak" bash -c "$*" >/dev/null 2>&1
    end=$(date +%s.%N)
    total=$(awk -v t="$total" -v s="$start" -v e="$end" 'BEGIN { print t + e - s }')
    kb=$(cat "$out/.peak")
    ((kb > peak)) && peak=$kb
    find "$out" -type f ! -name .peak -delete
  done
  awk -v l="$label" -v t="$total" -v p="$pages" -v k="$peak" \
    'BEGIN { printf "%-24s %8.2f s  %8.1f pages/s  peak %7.1f MiB\n", l, t, p / t, k / 1024 }'
}

echo "file: $pdf, pages: $pages"
for dpi in 96 144; do
  run "pdftoppm -r $dpi" "pdftoppm -r $dpi -f \$FIRST -l \$LAST '$pdf' '$out/p'"
  if command -v mutool >/dev/null; then
    run "mutool draw -r $dpi" "mutool draw -q -r $dpi -o '$out/m%d.ppm' '$pdf' \$FIRST-\$LAST"
  fi
done
run "pdftotext" "pdftotext -f \$FIRST -l \$LAST -enc UTF-8 '$pdf' '$out/t.txt'"
