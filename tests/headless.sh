#!/usr/bin/env bash
# Runs one desktop test program headless with a home of its own: the offscreen platform, and
# HOME, XDG folders and TMPDIR inside a fresh folder that is removed afterwards, so nothing the
# program writes lands outside it. Usage: tests/headless.sh program [arguments...]
set -u
base=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-test.XXXXXX") || exit 1
trap 'rm -rf "$base"' EXIT
mkdir -p "$base/home" "$base/config" "$base/cache" "$base/data" "$base/runtime" "$base/tmp"
chmod 0700 "$base/runtime"
export HOME=$base/home
export XDG_CONFIG_HOME=$base/config XDG_CACHE_HOME=$base/cache XDG_DATA_HOME=$base/data
export XDG_RUNTIME_DIR=$base/runtime TMPDIR=$base/tmp
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
# Loopback, where nothing listens: a test that needs the backend starts a stand-in and sets
# its own address; any other call fails at once instead of leaving the machine.
export QUORVEL_BACKEND=http://127.0.0.1:9
"$@"
