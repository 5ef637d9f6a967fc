#!/usr/bin/env bash
# The status command, whole process, side by side with its yardsticks:
#  1. on a database of 500 tables (4 of a million rows) against qev-bench-status-baseline, a plain C
#     program that opens the same file read-only and runs the same queries (target: <= 1.3x);
#  2. on a directory without a database against `version`: the engine must not be loaded at all.
# Usage: bench/status.sh [BUILD_DIR]   (default: build/release)
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
exe="$build/bin/qev-scoreboard"
baseline="$build/bin/qev-bench-status-baseline"
mkdb="$build/bin/qev-bench-status-mkdb"
require_programs "$exe" "$baseline" "$mkdb"

ws="$(mktemp -d /tmp/qev-bench-status-XXXXXX)"
trap 'rm -rf "$ws"' EXIT
subdirs="kik_data_ham_csv kredi_db yis_tahmin_data eus_tahmin_data eus_hedef_muta eus_sql_kapsam_muta
         statik_db yis_train_data rkd_donem_data memzuc_data_donem"
for w in full nodb; do
  for s in $subdirs; do mkdir -p "$ws/$w/external_data/$s"; done
  for i in $(seq 1 40); do : > "$ws/$w/external_data/kredi_db/part-$i.parquet"; done
  mkdir -p "$ws/$w/db" "$ws/$w/outputs/json"
  head -c 300000 /dev/zero > "$ws/$w/outputs/json/sample_scoreboard.json"
done
echo "building the database (500 tables, 4 of 1,000,000 rows)..."
"$mkdb" "$ws/full/db/qev.duckdb" 500 4
ls -l "$ws/full/db/qev.duckdb"

# Both must report the same tables before their times mean anything.
if ! diff <("$exe" --dir "$ws/full" status | grep '^      ') <("$baseline" "$ws/full/db/qev.duckdb") >/dev/null; then
  echo "FAIL: status and the baseline disagree on the table lines" >&2; exit 1
fi
# The loader's trace shows every library mapped; the engine must appear only where a database exists.
loads_engine() { LD_DEBUG=files "$exe" --dir "$1" status 2>&1 >/dev/null | grep -c 'libduckdb' || true; }
if [ "$(loads_engine "$ws/nodb")" != 0 ]; then
  echo "FAIL: status without a database loaded libduckdb" >&2; exit 1
fi
if [ "$(loads_engine "$ws/full")" = 0 ]; then
  echo "FAIL: the engine check cannot see the engine being loaded" >&2; exit 1
fi

# Rounds alternate the two programs so that load from elsewhere on the machine falls on both alike.
rounds="${ROUNDS:-6}"
for r in $(seq 1 "$rounds"); do
  hyperfine -N --warmup 2 --runs 10 --style basic --export-json "$ws/db-$r.json" \
    -n status "$exe --dir $ws/full status" \
    -n baseline "$baseline $ws/full/db/qev.duckdb" | grep -E '^(Benchmark|  Time)'
  hyperfine -N --warmup 10 --runs 100 --style basic --export-json "$ws/nodb-$r.json" \
    -n status-no-db "$exe --dir $ws/nodb status" \
    -n version "$exe version" | grep -E '^(Benchmark|  Time)'
done

python3 - "$ws" "$rounds" <<'PY'
import json, statistics, sys
ws, rounds = sys.argv[1], int(sys.argv[2])
def times(kind):
    out = {}
    for r in range(1, rounds + 1):
        for x in json.load(open(f"{ws}/{kind}-{r}.json"))["results"]:
            out.setdefault(x["command"], []).extend(x["times"])
    return out
def line(name, t):
    return f"{name:13s} median {statistics.median(t)*1e3:8.3f} ms  min {min(t)*1e3:8.3f} ms  ({len(t)} runs)"
db, nodb = times("db"), times("nodb")
for name in ("status", "baseline"): print(line(name, db[name]))
ratio = statistics.median(db["status"]) / statistics.median(db["baseline"])
print(f"status / baseline: {ratio:.3f}x median, {min(db['status']) / min(db['baseline']):.3f}x min;"
      f" target <= 1.3x: {'met' if ratio <= 1.3 else 'MISSED'}")
for name in ("status-no-db", "version"): print(line(name, nodb[name]))
gap = (statistics.median(nodb["status-no-db"]) - statistics.median(nodb["version"])) * 1e3
print(f"status without a database is {gap:+.3f} ms from version (median); libduckdb not loaded")
PY
