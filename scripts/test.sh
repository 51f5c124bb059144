#!/usr/bin/env bash
# Installs the build dependencies, builds everything (Debug with AddressSanitizer
# and UBSan), runs every test, then runs each fuzz target for a short time.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

BUILD=${QUILLORY_BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLORY_SANITIZE=ON
cmake --build "$BUILD"
# The local news server for the integration tests; with QUILLORY_INN=1 they
# fail instead of skipping when it is missing.
bash scripts/inn-setup.sh
export QUILLORY_INN=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$BUILD" --output-on-failure -j2 --timeout 300

if command -v clang++ >/dev/null && [ "${QUILLORY_SKIP_FUZZ:-0}" != 1 ]; then
  bash scripts/fuzz.sh "${QUILLORY_FUZZ_SECONDS:-20}"
fi
