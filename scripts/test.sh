#!/usr/bin/env bash
# Installs what is missing (scripts/install-packages.sh), builds everything
# and runs the test suite.
#   scripts/test.sh            gcc, warnings as errors, all tests
#   scripts/test.sh sanitize   clang, ASan+UBSan, tests and fuzz-corpus replays
#   scripts/test.sh tsan       clang, ThreadSanitizer, the tests of the code
#                              that runs a thread of its own (the route cache)
# KX_BUILD_DIR overrides the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-packages.sh
jobs=$(nproc 2>/dev/null || echo 2)
mode=${1:-default}
case "$mode" in
  default)
    dir=${KX_BUILD_DIR:-build}
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_WERROR=ON >/dev/null
    ;;
  sanitize)
    dir=${KX_BUILD_DIR:-build-asan}
    CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DKX_WERROR=ON -DKX_SANITIZE=ON -DKX_FUZZ=ON -DKX_BENCH=OFF >/dev/null
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ;;
  tsan)
    dir=${KX_BUILD_DIR:-build-tsan}
    CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DKX_WERROR=ON -DKX_TSAN=ON -DKX_BENCH=OFF >/dev/null
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    cmake --build "$dir" -j "$jobs" --target service_routecache_tests
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300 -R '^RouteCache'
    exit 0
    ;;
  *) echo "usage: $0 [sanitize|tsan]" >&2; exit 2 ;;
esac
cmake --build "$dir" -j "$jobs"
ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
