#!/usr/bin/env bash
# Builds one libFuzzer target with clang and runs it for a while:
#   scripts/fuzz.sh TARGET [SECONDS] [libFuzzer options...]
# TARGET is the name of a fuzz/fuzz_*.cpp without its extension (e.g. fuzz_scanner). The
# corpus grows in BUILD/fuzz/corpus/TARGET, seeded from fuzz/seeds/TARGET when that exists;
# fuzz/TARGET.dict is used as the dictionary when it exists. BUILD is build-fuzz, or
# QUORVEL_FUZZ_BUILD. Not part of CI.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: scripts/fuzz.sh TARGET [SECONDS] [libFuzzer options...]}
seconds=${2:-60}
shift $(( $# >= 2 ? 2 : 1 ))
build=${QUORVEL_FUZZ_BUILD:-$root/build-fuzz}

if [ ! -f "$root/fuzz/$target.cpp" ]; then
  echo "fuzz: no fuzz/$target.cpp" >&2
  exit 2
fi

# libFuzzer comes with clang's runtime libraries.
if ! command -v clang++ >/dev/null || ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DQUORVEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" "$target" | { grep -E "error|FAILED" || true; }

corpus=$build/fuzz/corpus/$target
mkdir -p "$corpus"
if [ -d "$root/fuzz/seeds/$target" ]; then
  cp -n "$root/fuzz/seeds/$target"/* "$corpus"/ 2>/dev/null || true
fi
args=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10)
if [ -f "$root/fuzz/$target.dict" ]; then
  args+=(-dict="$root/fuzz/$target.dict")
fi
mkdir -p "$build/fuzz/artifacts"
cd "$build/fuzz/artifacts"
exec "$build/fuzz/$target" "${args[@]}" "$@" "$corpus"
