#!/usr/bin/env bash
# Builds a fuzz target with clang (libFuzzer, ASan, UBSan) and runs it for a
# bounded time: FUZZ_TARGET (stadium, the default, lanes or blob), FUZZ_SECONDS
# (default 90), FUZZ_JOBS (default 2). Findings land in
# build/fuzz/findings-<target>; the script fails if there are any.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build/fuzz}"
target="${FUZZ_TARGET:-stadium}"
seconds="${FUZZ_SECONDS:-90}"
jobs="${FUZZ_JOBS:-2}"

case "$target" in
  stadium) seeds="$root/fuzz/seeds"; extra=(-dict="$root/fuzz/stadium.dict" -max_len=65536) ;;
  lanes)
    # The lane files are built for AVX-512 as a whole (see fuzz/CMakeLists.txt).
    grep -qw avx512f /proc/cpuinfo || { echo "the lanes target needs AVX-512" >&2; exit 2; }
    seeds="$root/fuzz/seeds-lanes"; extra=(-max_len=4096) ;;
  blob)
    # Built with the lane files too, so the same processor need.
    grep -qw avx512f /proc/cpuinfo || { echo "the blob target needs AVX-512" >&2; exit 2; }
    seeds="$root/fuzz/seeds-blob"; extra=(-max_len=4096) ;;
  *) echo "FUZZ_TARGET must be stadium, lanes or blob" >&2; exit 2 ;;
esac
binary="fuzz_$target"
[ "$target" = blob ] && binary=fuzz_state_blob

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEXLO_FUZZ=ON -DVEXLO_BUILD_MODULE=OFF -DVEXLO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target "$binary"

corpus="$build/corpus-$target"
findings="$build/findings-$target"
mkdir -p "$corpus" "$findings"
cp "$seeds"/* "$corpus"/
if [ "$target" = stadium ]; then
  for suite in "$root"/tests/data/jsontestsuite/test_parsing; do
    [ -d "$suite" ] && cp "$suite"/*.json "$corpus"/ 2>/dev/null || true
  done
fi

cd "$findings"
"$build/fuzz/$binary" "$corpus" "${extra[@]}" \
  -max_total_time="$seconds" -fork="$jobs" -ignore_crashes=0 -rss_limit_mb=2048 \
  -timeout=10 -print_funcs=0 -artifact_prefix="$findings/" -print_final_stats=1
if compgen -G "$findings/crash-*" >/dev/null || compgen -G "$findings/timeout-*" >/dev/null ||
   compgen -G "$findings/oom-*" >/dev/null || compgen -G "$findings/leak-*" >/dev/null; then
  echo "fuzzing found problems: see $findings" >&2
  exit 1
fi
echo "fuzzing $target ran ${seconds}s without findings"
