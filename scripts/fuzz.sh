#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Usage: scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-20}
BUILD=${QUILLORY_FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLORY_FUZZ=ON >/dev/null
cmake --build "$BUILD" --target fuzzers
status=0
for fuzzer in "$BUILD"/bin/*_fuzz; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus="$BUILD/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz-seeds/$name" ] && seeds=("fuzz-seeds/$name")
  echo "== fuzzing $name for ${SECONDS_EACH}s"
  if ! "$fuzzer" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -print_final_stats=0 "$corpus" "${seeds[@]}" 2>"$BUILD/$name.log"; then
    tail -n 60 "$BUILD/$name.log"
    status=1
  else
    tail -n 1 "$BUILD/$name.log"
  fi
done
exit $status
