#!/usr/bin/env bash
# Installs the build dependencies, builds everything and runs every test
# twice: in a Debug build with AddressSanitizer and UBSan, then in a Release
# build without them, since a fault that only a faster build exposes (a
# crash-recovery window, say) is a real fault. Then runs each fuzz target for
# a short time. Says how long each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
stage() { echo "== $1 (at $(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s)"; }

stage "dependencies"
bash scripts/install-deps.sh

BUILD=${QUILLORY_BUILD_DIR:-build}
RELEASE=${QUILLORY_RELEASE_BUILD_DIR:-build-rel}
stage "Debug build with the sanitizers in $BUILD"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLORY_SANITIZE=ON
cmake --build "$BUILD"
# The local news server for the integration tests; with QUILLORY_INN=1 they
# fail instead of skipping when it is missing.
stage "the local news server"
bash scripts/inn-setup.sh
export QUILLORY_INN=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
stage "tests in $BUILD"
ctest --test-dir "$BUILD" --output-on-failure -j2 --timeout 300

stage "Release build in $RELEASE"
cmake -S . -B "$RELEASE" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_SANITIZE=OFF
cmake --build "$RELEASE"
stage "tests in $RELEASE"
ctest --test-dir "$RELEASE" --output-on-failure -j2 --timeout 300

if command -v clang++ >/dev/null && [ "${QUILLORY_SKIP_FUZZ:-0}" != 1 ]; then
  stage "fuzz targets"
  bash scripts/fuzz.sh "${QUILLORY_FUZZ_SECONDS:-20}"
fi
stage "done"
