#!/usr/bin/env bash
# scripts/run-sample.sh --plain prints the same bytes on every run (no
# temporary folder, no path of the checkout), so that two runs compare with
# diff; on the build BUILD_DIR (its KX_BUILD_DIR).
#   run_sample_plain_test.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
fail() { echo "run_sample_plain_test: $*" >&2; exit 1; }
first=$(mktemp "${TMPDIR:-/tmp}/kx-plain-XXXXXX")
second=$(mktemp "${TMPDIR:-/tmp}/kx-plain-XXXXXX")
trap 'rm -f "$first" "$second" "$first.err"' EXIT
for out in "$first" "$second"; do
  KX_BUILD_DIR=$build "$root/scripts/run-sample.sh" --plain >"$out" 2>"$first.err" ||
    { cat "$first.err" >&2; fail "scripts/run-sample.sh --plain failed"; }
done
diff "$first" "$second" >&2 || fail "two runs printed different texts (above)"
! grep -q "$root\|${TMPDIR:-/tmp}/" "$first" || fail "a path: $(grep "$root\|${TMPDIR:-/tmp}/" "$first" | head -n 3)"
echo "run_sample_plain_test: two runs, $(wc -l <"$first") lines alike"
