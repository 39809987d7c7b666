#!/usr/bin/env bash
# Fails when an executable of the build names a folder of the machine that built it.
set -u
build=$1
src=$2
bad=0
while IFS= read -r f; do
  if head -c 4 "$f" | grep -q 'ELF' && grep -q -a -F -e "$src" -e "$build" "$f"; then
    echo "absolute build path in $f"
    bad=1
  fi
done < <(find "$build" -maxdepth 2 -type f -perm -u+x ! -path '*/CMakeFiles/*')
exit $bad
