#!/usr/bin/env bash
# Measures the service at plant scale, by hand (the test suite runs neither).
#   scripts/plant-scale.sh [VALUES...]      default: 10000 100000 1000000
#   scripts/plant-scale.sh --table [REGEX]  default: every plant-scale bench
#   scripts/plant-scale.sh --profile REQUEST/STATE/SIZE
#   scripts/plant-scale.sh --instructions REGEX
#
# Without --table, the store: the sample plant (examples/plant.xml) with
# generated pumps added, ten values each, for stores of 10,000, 100,000 and
# 1,000,000 values; for each, the CPU time and peak memory of
# `kxqhost dump 101` (the largest store takes a while to make).
#
# With --table, the requests: each benchmark of build/bin/plantscale_bench
# (bench/plantscale) whose name REGEX matches, each in a process of its
# own, then the table of their ratios: 4,000 over 1,000 (target at most 5;
# at most 2 for a single field edit on an open list) and open (or held)
# over closed (target at most 3), failing ratios marked. bench/README.md
# says how to read it. KX_SCALE_LIMIT (default 60) is the seconds a bench
# may run before it is stopped and shown as taking more than that;
# KX_SCALE_ROUNDS (default 1) how often each runs, the least time kept;
# KX_SCALE_SIZES (default "1000 4000") the two sizes compared.
#
# With --profile, one of those benches under `perf record`, its set-up left
# out: the functions where its request spends 2% of its time or more.
#
# With --instructions, each request and state (REQUEST/STATE) whose name
# REGEX matches, at each size under valgrind's callgrind, counting only the
# step (its set-up left out): a line a row, the instructions at each size
# and their ratio to the first size's, which a busy machine does not blur
# as it does times (minutes a row; KX_SCALE_JOBS rows at a time, default
# half the cores). KX_SCALE_CACHE=BYTES adds the data reads and writes that
# miss a simulated last-level cache of that size (try the machine's L2).
#
# KX_BUILD_DIR chooses the build folder (default build/); KXQ_SCALE_DIR
# keeps the stores of the first form in that folder (default: a temporary
# one, removed).
set -euo pipefail
case "${1:-}" in
  -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;;
esac
cd "$(dirname "$0")/.."
root=$PWD
dir=${KX_BUILD_DIR:-build}
cmake -S . -B "$dir" -G Ninja -DKX_WERROR=ON >/dev/null

if [[ "${1:-}" == --profile ]]; then
  [[ -n "${2:-}" ]] || { echo "usage: scripts/plant-scale.sh --profile REQUEST/STATE/SIZE" >&2; exit 2; }
  command -v perf >/dev/null || { echo "plant-scale.sh --profile needs perf" >&2; exit 2; }
  cmake --build "$dir" -j 2 --target plantscale_bench >/dev/null
  work=$(mktemp -d "${TMPDIR:-/tmp}/kxq-profile-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  mkfifo "$work/control" "$work/ack"
  # Recording starts disabled; the bench enables it for the request alone.
  # The build keeps no frame pointers: the calls are read from the stack.
  KX_SCALE_PERF_CONTROL="$work/control,$work/ack" perf record -q -e cpu-clock -F "${KX_SCALE_PERF_FREQ:-1000}" \
    --call-graph dwarf,8192 -D -1 --control="fifo:$work/control,$work/ack" \
    -o "$work/perf.data" -- "$root/$dir/bin/plantscale_bench" --benchmark_filter="^$2/" \
    >"$work/out" 2>&1 || { cat "$work/out" >&2; exit 1; }
  grep -E "^$2/" "$work/out" || true
  # Names without their template arguments, which can fill a screen.
  short() { grep -v -e '^#' -e '^$' | sed -E ':a; s/<[^<>]*>//g; ta' | cut -c1-150; }
  echo "where the time is spent (self):"
  perf report -i "$work/perf.data" --no-children --percent-limit 2 --stdio -g none 2>/dev/null |
    short | head -15
  echo "what spends it (with what it calls; the frames every request passes left out):"
  perf report -i "$work/perf.data" --children --percent-limit 5 --stdio -g none 2>/dev/null |
    short | grep -v -E '(\[k\]|libbenchmark|\(inlined\)|\[unknown\]|anonymous namespace\)::(Run|Send)$|Host::(Request|SendRequest)$|_Function_handler|ProcessRequest$|Dispatch$|ServeDataServiceRequest$|RunSpecifiedBenchmarks$|main$|_start$|__libc_start)' |
    head -30
  exit 0
fi

if [[ "${1:-}" == --instructions ]]; then
  [[ -n "${2:-}" ]] || { echo "usage: scripts/plant-scale.sh --instructions REGEX" >&2; exit 2; }
  command -v valgrind >/dev/null || { echo "plant-scale.sh --instructions needs valgrind" >&2; exit 2; }
  cmake --build "$dir" -j 2 --target plantscale_bench >/dev/null
  bench=$root/$dir/bin/plantscale_bench
  work=$(mktemp -d "${TMPDIR:-/tmp}/kxq-count-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  cache=()
  [[ -n "${KX_SCALE_CACHE:-}" ]] && cache=(--cache-sim=yes "--LL=$KX_SCALE_CACHE,16,64")
  # One row's line: its instructions at each size, their ratio to the
  # first size's, and with a cache its data misses the same way.
  count() {
    local row=$1 at=$2 size first='' firstMisses='' count misses line
    line="$row:"
    for size in ${KX_SCALE_SIZES:-1000 4000}; do
      # Collected while the bench calls its step, which holds nothing of the
      # set-up (bench/plantscale: Case::step).
      KX_SCALE_SIZES=$size valgrind --tool=callgrind --collect-atstart=no "${cache[@]}" \
        "--toggle-collect=std::_Function_handler<(anonymous namespace)::Outcome (*_M_invoke*" \
        --callgrind-out-file="$at.out.$size" "$bench" --benchmark_filter="^$row/$size/" \
        >"$at.log.$size" 2>&1 || { echo "$row: $(tail -1 "$at.log.$size")"; return; }
      grep -q "^$row/$size/" "$at.log.$size" || { echo "$row: no bench at $size"; return; }
      count=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$at.log.$size")
      [[ -z "$first" ]] && first=$count
      line+=$(printf ' %s %s instructions (%.2f)' "$size" "$count" \
        "$(awk -v a="$first" -v b="$count" 'BEGIN { print (a > 0 ? b / a : 0) }')")
      if [[ ${#cache[@]} -gt 0 ]]; then
        misses=$(sed -n 's/.*LLd misses: *\([0-9,]*\).*/\1/p' "$at.log.$size" | tr -d ,)
        [[ -z "$firstMisses" ]] && firstMisses=$misses
        line+=$(printf ', %s data misses (%.2f)' "$misses" \
          "$(awk -v a="$firstMisses" -v b="$misses" 'BEGIN { print (a > 0 ? b / a : 0) }')")
      fi
      line+=";"
    done
    echo "${line%;}"
  }
  # The rows (REQUEST/STATE) whose name REGEX matches, KX_SCALE_JOBS of them
  # at a time (default: half the cores), printed in the bench's order.
  mapfile -t rows < <("$bench" --benchmark_list_tests | sed -E 's|/[0-9]+(/iterations:.*)?$||' |
    awk '!seen[$0]++' | grep -E -- "$2" || true)
  [[ ${#rows[@]} -gt 0 ]] || { echo "no bench matches $2" >&2; exit 1; }
  parallel=${KX_SCALE_JOBS:-$(($(nproc 2>/dev/null || echo 2) / 2))}
  ((parallel > 0)) || parallel=1
  for i in "${!rows[@]}"; do
    while (($(jobs -rp | wc -l) >= parallel)); do wait -n || true; done
    count "${rows[$i]}" "$work/$i" >"$work/row.$i" &
  done
  wait
  for i in "${!rows[@]}"; do cat "$work/row.$i"; done
  exit 0
fi

if [[ "${1:-}" == --table ]]; then
  cmake --build "$dir" -j 2 --target plantscale_bench >/dev/null
  bench=$root/$dir/bin/plantscale_bench
  pattern=${2:-.}
  limit=${KX_SCALE_LIMIT:-60}
  export KX_SCALE_SIZES=${KX_SCALE_SIZES:-1000 4000}
  results=$(mktemp "${TMPDIR:-/tmp}/kxq-table-XXXXXX")
  trap 'rm -f "$results"' EXIT
  rounds=${KX_SCALE_ROUNDS:-1}
  # One bench's milliseconds, "> LIMIT" or "error: WHY".
  measure() {
    local name=$1 status=0 out line
    out=$(timeout "$limit" "$bench" --benchmark_filter="^$name/" 2>&1) || status=$?
    line=$(grep -E "^$name/" <<<"$out" | tail -1 || true)
    if [[ $status == 124 ]]; then
      echo "> $((limit * 1000))"
    elif [[ "$line" == *"ERROR OCCURRED"* ]]; then
      echo "error: ${line#*ERROR OCCURRED: }"
    elif [[ $status != 0 || -z "$line" ]]; then
      echo "error: $(tail -1 <<<"$out")"
    else
      awk '{ v = $2; if ($3 == "s") v *= 1000; if ($3 == "us") v /= 1000; print v }' <<<"$line"
    fi
  }
  # One line a bench: REQUEST STATE SIZE and its result, the least of its
  # rounds (a round stopped or failed ends them).
  "$bench" --benchmark_list_tests | sed 's|/iterations:.*||' | grep -E -- "$pattern" |
    while read -r name; do
      printf '%s ... ' "$name" >&2
      value=
      for ((round = 0; round < rounds; ++round)); do
        this=$(measure "$name")
        if [[ "$this" != [0-9]* ]]; then value=$this; break; fi
        if [[ -z "$value" ]] || awk -v a="$this" -v b="$value" 'BEGIN { exit !(a < b) }'; then
          value=$this
        fi
      done
      printf '%s\n' "$value" >&2
      printf '%s %s\n' "${name//\// }" "$value" >>"$results"
    done
  read -r small large <<<"$KX_SCALE_SIZES"
  awk -v small="$small" -v large="$large" '
    function ms(v) { return v ~ /^>/ ? substr(v, 3) + 0 : v + 0 }
    function shown(v) {
      if (v ~ /^error/) return v
      if (v ~ /^>/) return sprintf("> %.0f ms", ms(v))
      return sprintf(v >= 10 ? "%.0f ms" : v >= 1 ? "%.1f ms" : "%.2f ms", v)
    }
    function known(v) { return v != "" && v !~ /^error/ }
    # A ratio of two results: "> X" when the larger was stopped.
    function ratio(a, b) {
      if (!known(a) || !known(b) || a ~ /^>/ || ms(a) <= 0) return "-"
      return sprintf("%s%.2f", b ~ /^>/ ? "> " : "", ms(b) / ms(a))
    }
    function fails(r, target) { return r != "-" && r + 0 > target || (r ~ /^>/ && substr(r, 3) + 0 > target) }
    {
      key = $1 " " $2
      value = $4; for (i = 5; i <= NF; ++i) value = value " " $i
      result[key, $3] = value
      if (!(key in seen)) { seen[key] = 1; order[++rows] = key }
    }
    END {
      printf "| request | state | %s | %s | %s/%s | over closed, %s | |\n", small, large, large, small, large
      print "|---|---|---|---|---|---|---|"
      failed = 0
      for (k = 1; k <= rows; ++k) {
        split(order[k], part, " ")
        request = part[1]; state = part[2]
        a = result[order[k], small]; b = result[order[k], large]
        growth = ratio(a, b)
        single = request == "SetRealField" && (state == "open" || state == "held")
        target = single ? 2 : 5
        mark = ""
        if (fails(growth, target)) mark = mark "growth over " target "; "
        closed = "-"
        if (state != "closed" && (request " closed", large) in result) {
          closed = ratio(result[request " closed", large], b)
          if ((state == "open" || state == "held") && fails(closed, 3)) mark = mark "open over 3; "
        }
        if (a ~ /^error/ || b ~ /^error/) mark = mark "error; "
        if (mark != "") { failed++; mark = "FAILS: " substr(mark, 1, length(mark) - 2) }
        printf "| %s | %s | %s | %s | %s | %s | %s |\n", request, state, shown(a), shown(b), growth, closed, mark
      }
      printf "\n%d of %d rows fail their targets\n", failed, rows
    }' "$results"
  exit 0
fi

cmake --build "$dir" -j 2 --target kxqhost >/dev/null
host=$root/$dir/bin/kxqhost
command -v sqlite3 >/dev/null || { echo "plant-scale.sh needs the sqlite3 shell" >&2; exit 2; }

if [[ -n "${KXQ_SCALE_DIR:-}" ]]; then
  work=$KXQ_SCALE_DIR
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/kxq-scale-XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
export KXQ_REGISTRY=$work/registry.xml
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(10000 100000 1000000)

# Adds PUMPS pumps after every id in use, each with one value in each of ten
# single-valued attributes (texts, reals, integers) of class "Pump" and its
# bases, written as the store writes its rows.
add_pumps() {
  local store=$1 pumps=$2
  sqlite3 "$store" <<SQL
PRAGMA foreign_keys=ON;
BEGIN;
CREATE TEMP TABLE base AS SELECT max((SELECT coalesce(max(id), 0) FROM objects),
  (SELECT coalesce(max(id), 0) FROM retired), (SELECT coalesce(max(value), 0) FROM meta WHERE key='next_object_id'))
  AS first;
CREATE TEMP TABLE chain AS WITH RECURSIVE c(id, base) AS (
  SELECT id, base FROM classes WHERE name='Pump'
  UNION ALL SELECT classes.id, classes.base FROM classes JOIN c ON classes.id = c.base)
  SELECT id FROM c;
CREATE TEMP TABLE picked AS SELECT id, type FROM attributes
  WHERE class IN (SELECT id FROM chain) AND is_list=0 AND inverse='' AND type IN (1, 2, 4, 5)
  ORDER BY id LIMIT 10;
WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < $pumps)
INSERT INTO objects(id, class, owner, holder, holder_attr, flags)
  SELECT (SELECT first FROM base) + k, (SELECT id FROM classes WHERE name='Pump'), NULL, NULL, '', 0 FROM n;
WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < $pumps)
INSERT INTO vals(obj, attr, pos, kind, num, txt, flags)
  SELECT (SELECT first FROM base) + k, picked.id, 1, CASE picked.type WHEN 4 THEN 1 ELSE picked.type END,
         CASE WHEN picked.type IN (2, 5) THEN k % 997 END,
         CASE WHEN picked.type IN (1, 4) THEN 'G-' || k END, 0
  FROM n, picked;
INSERT INTO meta(key, value) VALUES('next_object_id', (SELECT first FROM base) + $pumps + 1)
  ON CONFLICT(key) DO UPDATE SET value=excluded.value;
SELECT count(*) FROM picked;
COMMIT;
SQL
}

printf '%-12s %-10s %-14s %-14s\n' values pumps "dump 101, CPU" "peak memory"
for values in "${sizes[@]}"; do
  pumps=$((values / 10))
  store=$work/plant-$values.db
  if [[ ! -f "$store" ]]; then
    "$host" --store "$store" init --fixture "$root/examples/plant.xml" >/dev/null
    per=$(add_pumps "$store" "$pumps")
    [[ "$per" == 10 ]] || { echo "class Pump has $per single values to fill, not 10" >&2; exit 1; }
  fi
  "$host" --store "$store" dump 101 >/dev/null  # registers the module, warms the file cache
  # CPU: the mean of 20 runs (the timer counts in 10 ms steps); memory: the
  # peak resident size of one.
  cpu=$( { /usr/bin/time -f '%U %S' bash -c "for i in \$(seq 20); do \"$host\" --store \"$store\" dump 101 >/dev/null; done"; } 2>&1 |
    awk 'END { printf "%.1f\n", ($1 + $2) * 1000 / 20 }')
  mem=$( { /usr/bin/time -f '%M' "$host" --store "$store" dump 101 >/dev/null; } 2>&1 | tail -1)
  printf '%-12s %-10s %-14s %-14s\n' "$values" "$pumps" "$cpu ms" "$((mem / 1024)) MB"
done
