#!/usr/bin/env bash
# Builds everything and runs every test headless. QUORVEL_SANITIZE=address,undefined builds
# and tests a sanitizer build in build-sanitize instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${QUORVEL_SANITIZE:-}" ]; then
  build=$root/build-sanitize
  bash "$root/scripts/build.sh" "$build" -DQUORVEL_SANITIZE="$QUORVEL_SANITIZE"
else
  build=$root/build
  bash "$root/scripts/build.sh" "$build"
fi
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 600
