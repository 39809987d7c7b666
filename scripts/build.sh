#!/usr/bin/env bash
# Set-up, configure and build. Usage: scripts/build.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
bash "$root/scripts/setup.sh" "$build"
cmake -S "$root" -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build" -- -j"$(nproc)" | grep -v '^\[' || true
test -x "$build/quorvel"
