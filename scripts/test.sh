#!/usr/bin/env bash
# Installs what is missing (scripts/install-packages.sh), builds everything
# and runs the test suite.
#   scripts/test.sh            gcc, warnings as errors, all tests
#   scripts/test.sh sanitize   clang, ASan+UBSan, tests and fuzz-corpus replays
#   scripts/test.sh tsan       clang, ThreadSanitizer, the tests of the code
#                              that runs a thread of its own (the route cache)
# KX_BUILD_DIR overrides the build folder.
# It says first what it builds; the build's progress and any compiler error
# go to standard error, the tests' results to standard output. The tests'
# temporary folders are removed at the end, Ctrl-C too (which says
# "interrupted" on standard error, exit status 130). A test that
# skips itself fails the run: each skip is for something the machine lacks
# (a package, a locale), which scripts/install-packages.sh provides.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
mode=${1:-default}
case "$mode" in
  default) dir=${KX_BUILD_DIR:-build} what="everything with gcc, warnings as errors," ;;
  sanitize) dir=${KX_BUILD_DIR:-build-asan} what="everything with clang, ASan and UBSan," ;;
  tsan) dir=${KX_BUILD_DIR:-build-tsan} what="the route cache's tests with clang, TSan," ;;
  -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;;
  *) echo "usage: $0 [sanitize | tsan | --help]" >&2; exit 2 ;;
esac
# Said however far the run got; the clean-up below still runs (exit).
trap 'echo "test.sh: interrupted" >&2; exit 130' INT
trap 'echo "test.sh: terminated" >&2; exit 143' TERM
echo "building $what into $dir/ (a first run, build and tests, takes about 6 minutes on two cores), then testing" >&2
scripts/install-packages.sh
regex=()
case "$mode" in
  default)
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_WERROR=ON >/dev/null
    cmake --build "$dir" -j "$jobs" >&2
    ;;
  sanitize)
    CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DKX_WERROR=ON -DKX_SANITIZE=ON -DKX_FUZZ=ON -DKX_BENCH=OFF >/dev/null
    cmake --build "$dir" -j "$jobs" >&2
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ;;
  tsan)
    CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DKX_WERROR=ON -DKX_TSAN=ON -DKX_BENCH=OFF >/dev/null
    cmake --build "$dir" -j "$jobs" --target service_routecache_tests >&2
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    regex=(-R '^RouteCache')
    ;;
esac
log=$(mktemp "${TMPDIR:-/tmp}/kx-ctest-XXXXXX")
# The tests make their temporary folders in one of the run's own, removed
# however the run ends: a test stopped by Ctrl-C cannot remove its own. It
# is open to all, as a test runs the host program as another user.
tests_tmp=$(mktemp -d "${TMPDIR:-/tmp}/kx-tests-XXXXXX")
chmod 755 "$tests_tmp"
trap 'rm -rf "$tests_tmp"; rm -f "$log"' EXIT
TMPDIR=$tests_tmp ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300 \
  "${regex[@]}" | tee "$log"
# ctest counts a skipped test as run; here it is a failure.
if grep -q '(Skipped)' "$log"; then
  echo "test.sh: these tests were skipped, so what they check was not checked:" >&2
  grep '(Skipped)' "$log" | sed 's/^[[:space:]]*/  /' >&2
  echo "test.sh: each skip names what it missed; scripts/install-packages.sh provides" \
    "the packages and the locale the tests need" >&2
  exit 1
fi
