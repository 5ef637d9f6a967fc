#!/usr/bin/env bash
# The status command on a database shaped like the pipeline's: views over a few hundred MiB of raw CSV
# and Parquet files, named relative to the work directory, between ordinary tables. Timed side by side
# with qev-bench-status-baseline, a plain C program that opens the same file read-only from inside the
# work directory and makes the same counts (target: <= 1.1x). The generated data lives in a temp dir.
# Usage: bench/status_views.sh [BUILD_DIR]   (default: build/release)
# Environment: ROWS per file (default 1500000), FILES of each kind (default 4), ROUNDS (default 4) of
# RUNS (default 3) runs of each program.
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
exe="$(realpath "$build")/bin/qev-scoreboard"
baseline="$build/bin/qev-bench-status-baseline"
mkdb="$build/bin/qev-bench-status-views-mkdb"
require_programs "$exe" "$baseline" "$mkdb"

ws="$(mktemp -d /tmp/qev-bench-status-views-XXXXXX)"
elsewhere="$(mktemp -d /tmp/qev-bench-status-views-cwd-XXXXXX)"
trap 'rm -rf "$ws" "$elsewhere"' EXIT
echo "building the work directory (${FILES:-4} CSV and ${FILES:-4} Parquet files of ${ROWS:-1500000} rows)..."
"$mkdb" "$ws" "${ROWS:-1500000}" "${FILES:-4}"
du -sh "$ws/external_data"/* "$ws/db/qev.duckdb"

# Both must report the same tables before their times mean anything; status runs from elsewhere.
db_lines() { (cd "$elsewhere" && "$exe" --dir "$ws" status) | grep '^      '; }
if ! diff <(db_lines) <("$baseline" "$ws/db/qev.duckdb" "$ws"); then
  echo "FAIL: status and the baseline disagree on the table lines" >&2; exit 1
fi
db_lines

# Rounds alternate the two programs so that load from elsewhere on the machine falls on both alike.
rounds="${ROUNDS:-4}"
for r in $(seq 1 "$rounds"); do
  hyperfine -N --warmup 1 --runs "${RUNS:-3}" --style basic --export-json "$elsewhere/times-$r.json" \
    -n status "$exe --dir $ws status" \
    -n baseline "$baseline $ws/db/qev.duckdb $ws" | grep -E '^(Benchmark|  Time)'
done

python3 - "$elsewhere" "$rounds" <<'PY'
import json, statistics, sys
d, rounds = sys.argv[1], int(sys.argv[2])
wall, cpu = {}, {}
for r in range(1, rounds + 1):
    for x in json.load(open(f"{d}/times-{r}.json"))["results"]:
        wall.setdefault(x["command"], []).extend(x["times"])
        cpu.setdefault(x["command"], []).append(x["user"] + x["system"])
for name in ("status", "baseline"):
    t = wall[name]
    print(f"{name:9s} wall median {statistics.median(t)*1e3:8.1f} ms  min {min(t)*1e3:8.1f} ms  ({len(t)} runs);"
          f" cpu (user+sys) median {statistics.median(cpu[name])*1e3:8.1f} ms")
ratio = statistics.median(wall["status"]) / statistics.median(wall["baseline"])
cpu_ratio = statistics.median(cpu["status"]) / statistics.median(cpu["baseline"])
print(f"status / baseline: {ratio:.3f}x wall median, {min(wall['status']) / min(wall['baseline']):.3f}x wall min,"
      f" {cpu_ratio:.3f}x cpu; target <= 1.1x: {'met' if ratio <= 1.1 else 'MISSED'}")
PY
