#!/usr/bin/env bash
# Builds the project and runs the sample as a tour: a fresh store made from
# the sample plant (examples/plant.xml) in a temporary folder, then each
# sample request of examples/requests/ sent to the module, in the order of
# the requests table of examples/README.md ("OpenDocuments" first, submit,
# check and issue last), each under a heading with the table's line of
# what it shows, its reply indented (kxqhost --pretty) and its effects
# (--events: the store's changes, notifications and change events; what
# went to standard error, such as a notice or a warning, follows); then the
# datasheet object service on two sample datasheets. Three more sections
# each start from a fresh store of the sample plant, as examples/README.md
# describes them: a value changed by another client reaching a page open for
# editing as a change event, a new pump datasheet whose second page shows
# the pump's motor, and the document workflow. The count of the
# requests that succeeded comes last. The file messages find their files in
# examples/templates/ (examples/templates/folders.cfg).
#   scripts/run-sample.sh            the tour; build into build/ (KX_BUILD_DIR overrides)
#   scripts/run-sample.sh --plain    the form for comparing runs with diff: the
#                                    requests in file-name order (OpenDocuments
#                                    first, submit, check and issue last), each
#                                    reply on one line as the module wrote it,
#                                    the objects each request changed dumped,
#                                    the count after the requests
# Missing Debian packages are installed first (scripts/install-packages.sh).
# The build's progress and errors go to standard error, the sample's output
# to standard output. A request that fails is reported and the next one
# follows.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
plain=false
case "${1:-}" in
  "") ;;
  --plain) plain=true ;;
  -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;;
  *) echo "usage: $0 [--plain | --help]" >&2; exit 2 ;;
esac
dir=${KX_BUILD_DIR:-build}
echo "building kxqhost and the module into $dir/ (the first build takes about 3 minutes on two cores)" >&2
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
case $dir in
  /*) host=$dir/bin/kxqhost ;;
  *) host=$root/$dir/bin/kxqhost ;;
esac

work=$(mktemp -d "${TMPDIR:-/tmp}/kxq-sample-XXXXXX")
trap 'rm -rf "$work"' EXIT
# A registration store of the run's own: the module is registered from the
# build tree on first use.
export KXQ_REGISTRY=$work/registry.xml
store=$work/plant.db
# Said without the run's temporary folder or the checkout's path, so that
# two runs print the same.
made=$("$host" --store "$store" init --fixture "$root/examples/plant.xml")
made=${made//"$work/"/}
echo "${made//"$root/"/}"

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
# the workflow: submit, check and issue, in that order. The tour sends the
# others in the order of examples/README.md's table, where a request's line
# may tell what an earlier one left; the plain form in file-name order.
first=(open-documents.xml)
last=(submit-documents.xml check-documents.xml issue-documents.xml)
# The table's rows: "| `FILE` | "MESSAGE" | WHAT IT SHOWS |".
table_rows() {
  sed -n 's/^| `\([^`]*\.\(xml\|txt\)\)` | [^|]* | \(.*\) |$/\1|\3/p' "$root/examples/README.md"
}
declare -A shows=()
while IFS='|' read -r name what; do shows[$name]=$what; done < <(table_rows)
middle=()
if ! $plain; then
  while IFS='|' read -r name _; do
    [ -f "$root/examples/requests/$name" ] && middle+=("$name")
  done < <(table_rows)
fi
for file in "$root"/examples/requests/*; do
  name=$(basename "$file")
  case " ${middle[*]} " in *" $name "*) continue ;; esac
  middle+=("$name")
done
requests=()
for name in "${first[@]}"; do
  [ -f "$root/examples/requests/$name" ] && requests+=("$root/examples/requests/$name")
done
for name in "${middle[@]}"; do
  case " ${first[*]} ${last[*]} " in
    *" $name "*) ;;
    *) requests+=("$root/examples/requests/$name") ;;
  esac
done
for name in "${last[@]}"; do
  [ -f "$root/examples/requests/$name" ] && requests+=("$root/examples/requests/$name")
done
if [ ${#requests[@]} -eq 0 ]; then
  echo "no sample requests in examples/requests"
fi

# The tour's indentation of what a command printed; the empty current
# datasheet and page that nearly every request leaves is not worth a line.
indent() { sed -e '/^== current datasheet none, page none$/d' -e 's/^/    /'; }

if ! $plain; then
  echo
  echo "The sample requests of examples/requests/, one after the other on this store, in the"
  echo "order of examples/README.md's table; under each heading the table's line of what it"
  echo "shows, then the reply and what the request changed (kxqhost --pretty --events)."
fi
failed=0
number=0
for file in "${requests[@]}"; do
  number=$((number + 1))
  name=$(basename "$file")
  message=$(message_of "$file" || true)
  if [ -z "$message" ]; then
    echo "== skipped $name: no message element"
    continue
  fi
  echo
  output=$work/output.txt
  if $plain; then
    echo "==== $message ($name)"
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
    continue
  fi
  echo "==== $number. $message ($name)"
  what=${shows[$name]:-}
  echo "${what:-(not in the table of examples/README.md)}" | tr -d '`'
  if "$host" --store "$store" --settings examples/templates/folders.cfg --events --pretty \
    request "$message" "$file" >"$output" 2>"$work/errors.txt"; then
    indent <"$output"
    if [ -s "$work/errors.txt" ]; then
      echo "  on standard error:"
      indent <"$work/errors.txt"
    fi
  else
    failed=$((failed + 1))
    indent <"$output"
    echo "  failed:"
    indent <"$work/errors.txt"
  fi
done
count="$((${#requests[@]} - failed)) of ${#requests[@]} sample requests succeeded"
if $plain; then
  echo
  echo "$count"
fi

# The datasheet object service: a pump datasheet and the pump summary.
echo
echo "==== datasheet services"
$plain || echo "The datasheet object service (kxqhost service 10 ID METHOD) of P-101A's datasheet and the pump summary."
for id in 1001 1007; do
  for method in DatasheetName IsSummarySheet GetSummarySheetProject DatasheetObjects \
    GetRealFieldsWithUOM; do
    echo "-- service 10 $id $method"
    if $plain; then
      "$host" --store "$store" service 10 "$id" "$method" || true
    else
      { "$host" --store "$store" --pretty service 10 "$id" "$method" 2>&1 || true; } | indent
    fi
  done
done

# A fresh store of the sample plant for a section that starts from the
# plant as examples/README.md describes it.
fresh_store() {
  local made=$work/$1.db
  "$host" --store "$made" init --fixture "$root/examples/plant.xml" >/dev/null
  echo "$made"
}

# A script of examples/, on a fresh store: the plain form prints it as
# kxqhost does, the tour indented, with its comment as the heading's line.
scripts_failed=()
run_script() {
  local script=$root/examples/$1 made
  made=$(fresh_store "${1%.kxq}")
  if $plain; then
    "$host" --store "$made" --events run "$script"
    return
  fi
  sed -n '/^#/!q; s/^# \{0,1\}//p' "$script"
  { "$host" --store "$made" --events --pretty run "$script" 2>&1 ||
    echo "failed: exit status $?"; } >"$work/script.txt"
  indent <"$work/script.txt"
  grep -q '^failed: exit status' "$work/script.txt" && scripts_failed+=("$1")
  return 0
}

# A value changed by another client while a page is open for editing: the
# page's trigger fires and the module posts the change event.
echo
echo "==== a value changed by another client (a fresh store of the sample plant)"
run_script value-changed-by-another-client.kxq

# A new pump datasheet: its second page shows the pump's motor, which the
# page reaches through the pump's attribute "Driver".
echo
echo "==== a new pump datasheet (a fresh store of the sample plant)"
run_script new-pump-datasheet.kxq

# The document workflow: P-101A submitted, checked and issued at B, then,
# after its rated flow changed, at C; its pages and revision marks are
# dumped after each issue.
echo
echo "==== the document workflow (a fresh store of the sample plant)"
run_script workflow.kxq

if ! $plain; then
  echo
  for script in "${scripts_failed[@]}"; do echo "the script examples/$script failed (above)"; done
  echo "$count"
fi
