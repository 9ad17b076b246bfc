#!/usr/bin/env bash
# Builds the project and runs the sample: a fresh store made from the sample
# plant (examples/plant.xml) in a temporary folder, each sample request of
# examples/requests/ sent to the module with its reply and change events
# printed, and the objects each request changed dumped afterwards; then the
# datasheet object service on two sample datasheets. The file messages find
# their files in examples/templates/ (examples/templates/folders.cfg).
#   scripts/run-sample.sh            build into build/ (KX_BUILD_DIR overrides)
# A request that fails is reported and the next one follows.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir=${KX_BUILD_DIR:-build}
cmake -S . -B "$dir" -G Ninja -DKX_WERROR=ON >/dev/null
cmake --build "$dir" -j 2 --target kxqhost >/dev/null
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
requests=("$root"/examples/requests/*)
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
      "$host" --store "$store" dump "$id"
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
  for method in DatasheetName IsSummarySheet GetSummarySheetProject DatasheetObjects; do
    echo "-- service 10 $id $method"
    "$host" --store "$store" service 10 "$id" "$method" || true
  done
done
