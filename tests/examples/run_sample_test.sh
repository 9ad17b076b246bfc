#!/usr/bin/env bash
# scripts/run-sample.sh run as README.md shows it, on the build BUILD_DIR
# (its KX_BUILD_DIR): the tour answers every sample request, each under a
# heading "==== N. MESSAGE (FILE)" followed by the line of examples/README.md's
# table that says what it shows, with everything the request printed
# indented, the empty current document not shown, and the count last.
#   run_sample_test.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
out=$(mktemp "${TMPDIR:-/tmp}/kx-run-sample-XXXXXX")
trap 'rm -f "$out" "$out.err"' EXIT
fail() { echo "run_sample_test: $*" >&2; exit 1; }

KX_BUILD_DIR=$build "$root/scripts/run-sample.sh" >"$out" 2>"$out.err" ||
  { cat "$out.err" >&2; fail "scripts/run-sample.sh failed"; }

requests=$(find "$root/examples/requests" -maxdepth 1 -type f | wc -l)
last=$(tail -n 1 "$out")
[ "$last" = "$requests of $requests sample requests succeeded" ] ||
  fail "the last line is \"$last\", not the count of $requests requests all answered"

# Every request under its heading, in the order of the README's table
# ("OpenDocuments" first; submit, check and issue last), numbered.
expected=$(sed -n 's/^| `\([^`]*\.\(xml\|txt\)\)` | .*/\1/p' "$root/examples/README.md")
headed=$(sed -n 's/^==== [0-9][0-9]*\. [A-Za-z]* (\(.*\))$/\1/p' "$out")
[ "$headed" = "$expected" ] ||
  fail "the headings do not follow the requests table: $(diff <(echo "$expected") <(echo "$headed") | head -n 5)"

# Under each heading: the table's line, then only indented lines (the
# command's output, standard error after "  on standard error:").
awk '
  /^==== [0-9]+\. / { heading = $0; state = 1; next }
  /^==== / { state = 0; next }
  state == 1 { if ($0 == "" || $0 ~ /^    /) { print "no description under " heading; bad = 1 } state = 2; next }
  state == 2 && $0 != "" && $0 !~ /^    / && $0 != "  on standard error:" { print "not indented under " heading ": " $0; bad = 1; state = 0 }
  END { exit bad }' "$out" || fail "a section is not laid out as a tour (above)"

grep -q '^ *== current datasheet none, page none$' "$out" &&
  fail "the empty current document is shown"
# Replies are indented one element a line: no line as long as a whole reply.
longest=$(awk '{ if (length($0) > max) max = length($0) } END { print max + 0 }' "$out")
[ "$longest" -le 2000 ] || fail "a line of $longest characters"
# What a request shows only on standard error is in the tour too.
grep -q '^    notice: the request changed nothing and wrote no reply' "$out" ||
  fail "no notice of a request that did nothing"
# A script's request shows its text under its step, as the script holds it,
# so that the workflow's first question (about P-101B, 1002) can be read
# against the request that names it.
grep -A1 '^    ## request SubmitDocuments <<END$' "$out" |
  grep -q '<Datasheet DocumentId="1002"/>' ||
  fail "the workflow's first request is shown without its text"
# A new pump datasheet's second page shows the pump's motor, found through
# the pump's attribute "Driver".
pump=$(sed -n '/^==== a new pump datasheet/,/^==== /p' "$out")
grep -q 'PageId="1206" FieldId="206" .*Value="PM-101B"' <<<"$pump" ||
  fail "the new pump datasheet's second page does not show its motor PM-101B"
# The section says where the motor is placed, and the store's changes bear
# it out: by the creation, before the page is opened.
grep -q "already places the pump's motor PM-101B on its" <<<"$pump" ||
  fail "the new pump datasheet's section does not say that its creation places the motor"
sed -n '/## request CreateDocuments/,/## request OpenPage/p' <<<"$pump" |
  grep -q '== store changed #1206: .*NodeObjects' ||
  fail "creating the new pump datasheet does not place the motor on page 1206"
echo "run_sample_test: $requests requests under their headings, the count last"
