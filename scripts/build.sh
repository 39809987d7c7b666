#!/usr/bin/env bash
# Set-up, configure and build. Usage: scripts/build.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
bash "$root/scripts/setup.sh" "$build"
cmake -S "$root" -B "$build" -G Ninja "$@" >/dev/null
# The progress lines are dropped; the status is the build's own, so a failed build never falls
# through to an older binary.
set +e
cmake --build "$build" -- -j"$(nproc)" | grep -v '^\['
status=${PIPESTATUS[0]}
set -e
[ "$status" -eq 0 ] || exit "$status"
test -x "$build/quorvel"
