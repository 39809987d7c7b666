#!/usr/bin/env bash
# scripts/build.sh ends with the build's own status: a failed build beside an older binary must
# fail, a good one pass, and the progress lines stay out of the output either way. The build
# script runs in a copy of its folder with a stand-in set-up and a stand-in cmake.
set -u
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/scripts" "$work/bin" "$work/build"
cp "$src/scripts/build.sh" "$work/tree/scripts/build.sh"
printf '#!/bin/sh\nexit 0\n' >"$work/tree/scripts/setup.sh"
cat >"$work/bin/cmake" <<'STUB'
#!/bin/sh
case " $* " in
  *" --build "*)
    echo "[1/2] Building CXX object core/broken.cpp.o"
    echo "broken.cpp:1:1: error: expected unqualified-id"
    exit "$FAKE_BUILD_STATUS" ;;
esac
exit 0
STUB
chmod +x "$work/bin/cmake"
printf '#!/bin/sh\n' >"$work/build/quorvel"  # the binary of an earlier build
chmod +x "$work/build/quorvel"

failures=0
for status in 1 0; do
  out=$(PATH="$work/bin:$PATH" FAKE_BUILD_STATUS=$status bash "$work/tree/scripts/build.sh" "$work/build" 2>&1)
  rc=$?
  if [ "$status" -ne 0 ] && [ "$rc" -eq 0 ]; then
    echo "a failed build ended with status 0"
    failures=1
  fi
  if [ "$status" -eq 0 ] && [ "$rc" -ne 0 ]; then
    echo "a good build ended with status $rc"
    failures=1
  fi
  case $out in *"[1/2]"*) echo "progress lines were shown"; failures=1 ;; esac
  case $out in *"error: expected"*) ;; *) echo "the compiler's message was lost"; failures=1 ;; esac
done
exit $failures
