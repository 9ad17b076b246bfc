#!/usr/bin/env bash
# Builds the project and runs the sample: a fresh store made from the sample
# plant (examples/plant.xml) in a temporary folder, each sample request of
# examples/requests/ sent to the module with its reply and change events
# printed, and the objects each request changed dumped afterwards; then the
# datasheet object service on two sample datasheets. Two more sections each
# start from a fresh store of the sample plant, as examples/README.md
# describes them: a value changed by another client reaching a page open for
# editing as a change event, and the document workflow. The file messages
# find their files in examples/templates/ (examples/templates/folders.cfg).
#   scripts/run-sample.sh            build into build/ (KX_BUILD_DIR overrides)
# Missing Debian packages are installed first (scripts/install-packages.sh).
# The build's progress and errors go to standard error, the sample's output
# to standard output. A request that fails is reported and the next one
# follows.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir=${KX_BUILD_DIR:-build}
echo "building kxqhost and the module into $dir/ (the first build takes a few minutes)" >&2
scripts/install-packages.sh
configure_log=$(mktemp "${TMPDIR:-/tmp}/kxq-configure-XXXXXX")
if ! cmake -S . -B "$dir" -G Ninja -DKX_WERROR=ON >"$configure_log" 2>&1; then
  cat "$configure_log" >&2
  rm -f "$configure_log"
  echo "run-sample.sh: configuring the build failed (above)" >&2
  exit 1
fi
rm -f "$configure_log"
if ! cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" --target kxqhost >&2; then
  echo "run-sample.sh: the build failed; the compiler's errors are above" >&2
  exit 1
fi
host=$root/$dir/bin/kxqhost

work=$(mktemp -d "${TMPDIR:-/tmp}/kxq-sample-XXXXXX")
trap 'rm -rf "$work"' EXIT
# A registration store of the run's own: the module is registered from the
# build tree on first use.
export KXQ_REGISTRY=$work/registry.xml
store=$work/plant.db
"$host" --store "$store" init --fixture "$root/examples/plant.xml"

# The message a request file holds: its message element (the first element
# inside "XMLMessage"), or for a bare text body the file name in camel case
# ("open-page.txt" is "OpenPage").
message_of() {
  local file=$1
  case "$file" in
    *.xml)
      sed -e 's/<!--.*-->//g' -e 's/<?[^>]*?>//g' "$file" | tr '\n' ' ' |
        grep -o '<[A-Za-z_][A-Za-z0-9_]*' | sed 's/^<//' | grep -v '^XMLMessage$' | head -n 1
      ;;
    *)
      # "open-page.txt" is "OpenPage"; "SetQMFDBTemplate.txt" is the name
      # itself.
      basename "${file%.*}" | sed -E 's/(^|-)([a-z])/\U\2/g'
      ;;
  esac
}

shopt -s nullglob
# The main job starts as an editor does, opening documents, and ends with
# the workflow: submit, check and issue, in that order.
first=(open-documents.xml)
last=(submit-documents.xml check-documents.xml issue-documents.xml)
requests=()
for name in "${first[@]}"; do
  [ -f "$root/examples/requests/$name" ] && requests+=("$root/examples/requests/$name")
done
for file in "$root"/examples/requests/*; do
  case " ${first[*]} ${last[*]} " in
    *" $(basename "$file") "*) ;;
    *) requests+=("$file") ;;
  esac
done
for name in "${last[@]}"; do
  [ -f "$root/examples/requests/$name" ] && requests+=("$root/examples/requests/$name")
done
if [ ${#requests[@]} -eq 0 ]; then
  echo "no sample requests in examples/requests"
fi
failed=0
for file in "${requests[@]}"; do
  message=$(message_of "$file" || true)
  if [ -z "$message" ]; then
    echo "== skipped $(basename "$file"): no message element"
    continue
  fi
  echo
  echo "==== $message ($(basename "$file"))"
  output=$work/output.txt
  if "$host" --store "$store" --settings examples/templates/folders.cfg --events \
    request "$message" "$file" >"$output" 2>"$work/errors.txt"; then
    cat "$output"
    echo
    ids=$(sed -n 's/^== store changed #\([0-9]*\):.*/\1/p' "$output" | sort -un)
    for id in $ids; do
      echo "---- object $id after the request"
      # An object the request deleted (an emptied summary page) has no dump.
      "$host" --store "$store" dump "$id" 2>/dev/null || echo "(deleted)"
    done
  else
    failed=$((failed + 1))
    echo "---- failed:"
    cat "$work/errors.txt"
  fi
done
echo
echo "$((${#requests[@]} - failed)) of ${#requests[@]} sample requests succeeded"

# The datasheet object service: a pump datasheet and the pump summary.
echo
echo "==== datasheet services"
for id in 1001 1007; do
  for method in DatasheetName IsSummarySheet GetSummarySheetProject DatasheetObjects \
    GetRealFieldsWithUOM; do
    echo "-- service 10 $id $method"
    "$host" --store "$store" service 10 "$id" "$method" || true
  done
done

# A fresh store of the sample plant for a section that starts from the
# plant as examples/README.md describes it.
fresh_store() {
  local made=$work/$1.db
  "$host" --store "$made" init --fixture "$root/examples/plant.xml" >/dev/null
  echo "$made"
}

# A value changed by another client while a page is open for editing: the
# page's trigger fires and the module posts the change event.
echo
echo "==== a value changed by another client (a fresh store of the sample plant)"
"$host" --store "$(fresh_store value-changed)" --events run "$root/examples/value-changed-by-another-client.kxq"

# The document workflow: P-101A submitted, checked and issued at B, then,
# after its rated flow changed, at C; its pages and revision marks are
# dumped after each issue.
echo
echo "==== the document workflow (a fresh store of the sample plant)"
"$host" --store "$(fresh_store workflow)" --events run "$root/examples/workflow.kxq"
