#!/usr/bin/env bash
# Installs the build into a fresh prefix, builds the example host of
# examples/host/ against that prefix alone (CMAKE_PREFIX_PATH) and runs it
# on a store of the sample plant made by the installed kxqhost: it prints
# the replies and change events of its requests; then a second process
# (the installed kxqhost running examples/host/another-client.kxq) changes
# a value of the page the host opened, which reaches the host as a trigger
# callback. Everything happens in a temporary folder, removed at the end,
# with a registration store of its own.
#   scripts/example-host.sh          on build/ (KX_BUILD_DIR overrides)
# The build is brought up to date first (nothing to do after
# scripts/test.sh). The example's output goes to standard output; exit
# status 0 when every step did what it should.
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  "") ;;
  -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;;
  *) echo "usage: $0 [--help]" >&2; exit 2 ;;
esac
root=$PWD
dir=${KX_BUILD_DIR:-build}
fail() { echo "example-host.sh: $*" >&2; exit 1; }

scripts/install-packages.sh
cmake -S . -B "$dir" -G Ninja -DKX_WERROR=ON >/dev/null
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" \
  --target kxqhost KXDBDatasheetSvcs kxmsxml kxhost >&2

work=$(mktemp -d "${TMPDIR:-/tmp}/kxq-example-XXXXXX")
example=
trap '[ -z "$example" ] || kill "$example" 2>/dev/null || true; rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$dir" --prefix "$prefix" >/dev/null
# Warnings as errors, as in the project's own build, which does not compile
# the example.
cmake -S examples/host -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$work/build" >&2

export KXQ_REGISTRY=$work/registry.xml
store=$work/plant.db
# The package names its sample plant, and the example's usage says so.
plant=$prefix/share/KXDBDatasheetSvcs/plant.xml
usage=$("$work/build/example_host" 2>&1 || true)
grep -qF "sample plant $plant," <<<"$usage" ||
  fail "the example host's usage does not name the package's sample plant $plant"
[ -f "$plant" ] || fail "the package's sample plant $plant is not installed"
"$prefix/bin/kxqhost" register >/dev/null
"$prefix/bin/kxqhost" --store "$store" init >/dev/null

out=$work/example.out
# Made before the host starts, so that the wait below never looks for a
# file not there yet.
: >"$out"
"$work/build/example_host" "$store" 60 >"$out" 2>"$work/example.err" &
example=$!
for _ in $(seq 600); do
  grep -q '^waiting ' "$out" && break
  kill -0 "$example" 2>/dev/null || break
  sleep 0.1
done
grep -q '^waiting ' "$out" || { cat "$out" "$work/example.err" >&2; fail "the example host did not start"; }
"$prefix/bin/kxqhost" --store "$store" run "$root/examples/host/another-client.kxq" >/dev/null
status=0
wait "$example" || status=$?
example=
cat "$out"
[ "$status" -eq 0 ] || { cat "$work/example.err" >&2; fail "the example host exited with $status"; }
grep -q '^reply of OpenPage: <XMLMessage.*<OpenPage PageId="1011"' "$out" || fail "no reply of OpenPage"
grep -q '^change event DataField: .*FieldId="103".*Value="395"' "$out" ||
  fail "no change event of SetRealField"
grep -q '^trigger callback: trigger .* on #1011 fired' "$out" || fail "no trigger callback"
grep -q '^change event DataField: .*FieldId="104".*Value="190"' "$out" ||
  fail "the other process's value did not reach the page"
echo "example-host.sh: the installed package built the example host, which answered and heard the other process"
