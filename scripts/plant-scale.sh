#!/usr/bin/env bash
# Measures the store at plant scale: the sample plant (examples/plant.xml)
# with generated pumps added, ten values each, for stores of 10,000, 100,000
# and 1,000,000 values; for each, the CPU time and peak memory of
# `kxqhost dump 101`. Run by hand (the largest store takes a while to make);
# the test suite does not run it.
#   scripts/plant-scale.sh [VALUES...]   default: 10000 100000 1000000
# KX_BUILD_DIR chooses the build folder (default build/); KXQ_SCALE_DIR
# keeps the stores in that folder (default: a temporary one, removed).
set -euo pipefail
case "${1:-}" in
  -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;;
esac
cd "$(dirname "$0")/.."
root=$PWD
dir=${KX_BUILD_DIR:-build}
cmake -S . -B "$dir" -G Ninja -DKX_WERROR=ON >/dev/null
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
