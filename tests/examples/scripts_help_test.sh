#!/usr/bin/env bash
# Every script of scripts/, and CI's .ci/run, answers --help with what it
# does (more than a usage line) on standard output and exit status 0, doing
# nothing else: no build, no package check (each would print on standard
# error or take long).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "scripts_help_test: $*" >&2; exit 1; }
out=$(mktemp "${TMPDIR:-/tmp}/kx-help-XXXXXX")
trap 'rm -f "$out" "$out.err"' EXIT
count=0
for script in "$root"/scripts/*.sh "$root"/.ci/run; do
  name=${script#"$root/"}
  status=0
  timeout 10 bash "$script" --help </dev/null >"$out" 2>"$out.err" || status=$?
  [ "$status" -eq 0 ] || fail "$name --help exited with $status: $(head -c 300 "$out.err")"
  [ -s "$out" ] || fail "$name --help printed nothing"
  [ "$(wc -l <"$out")" -ge 3 ] || fail "$name --help says no more than: $(head -c 300 "$out")"
  [ ! -s "$out.err" ] || fail "$name --help wrote to standard error: $(head -c 300 "$out.err")"
  count=$((count + 1))
done
[ "$count" -ge 6 ] || fail "only $count scripts found"
echo "scripts_help_test: $count scripts answer --help"
