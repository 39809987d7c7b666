#!/usr/bin/env bash
# Builds everything and starts the application with the given arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh" "$root/build"
exec "$root/build/quorvel" "$@"
