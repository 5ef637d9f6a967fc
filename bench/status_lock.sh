#!/usr/bin/env bash
# How long status holds the database file, during which the pipeline's own read-write open is refused:
# from the lock the engine takes on db/qev.duckdb to the file's close, read from an strace of the run;
# beside the whole run's time (without strace). On a demo database (tables and views over small raw CSV and
# Parquet files) and on one whose view reads a 400 MiB CSV file.
# Usage: bench/status_lock.sh [BUILD_DIR [OTHER_PROGRAM]]   (default: build/release); OTHER_PROGRAM, a build of
# another version, is measured the same way on the same directories.
# Environment: RUNS (default 5) of each; BIG_ROWS (default 9000000: about 400 MiB of CSV).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
exe="$(realpath "$build")/bin/qev-scoreboard"
mkdb="$build/bin/qev-bench-status-views-mkdb"
programs=("$exe")
[ $# -lt 2 ] || programs+=("$(realpath "$2")")
for f in "${programs[@]}" "$mkdb"; do
  [ -x "$f" ] || { echo "no program at $f: build first" >&2; exit 1; }
done
command -v strace >/dev/null || { echo "strace is needed" >&2; exit 1; }

ws="$(mktemp -d /tmp/qev-bench-status-lock-XXXXXX)"
trap 'rm -rf "$ws"' EXIT
echo "building the work directories..."
"$exe" --dir "$ws/demo" init >/dev/null
"$mkdb" "$ws/demo" 1000 2
"$exe" --dir "$ws/big" init >/dev/null
"$mkdb" "$ws/big" "${BIG_ROWS:-9000000}" 1
du -sh "$ws/big/external_data/kik_data_ham_csv"/*.csv

for p in "${!programs[@]}"; do
  for w in demo big; do
    for r in $(seq 1 "${RUNS:-5}"); do
      strace -f --seccomp-bpf -tt -y -e trace=fcntl,close -o "$ws/trace-$p-$w-$r" "${programs[p]}" --dir "$ws/$w" status >/dev/null
      start=$(date +%s%N)
      "${programs[p]}" --dir "$ws/$w" status >/dev/null
      echo $(( ($(date +%s%N) - start) / 1000 )) >"$ws/total-$p-$w-$r"
    done
  done
done

python3 - "$ws" "${RUNS:-5}" "${programs[@]}" <<'PY'
import re, statistics, sys
from datetime import datetime
ws, runs, programs = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
def seconds(stamp):
    t = datetime.strptime(stamp, "%H:%M:%S.%f")
    return t.hour * 3600 + t.minute * 60 + t.second + t.microsecond / 1e6
for p, w in ((p, w) for p in range(len(programs)) for w in ("demo", "big")):
    if w == "demo":
        print(programs[p])
    held, total = [], []
    for r in range(1, runs + 1):
        spans, locked, pending = [], None, {}
        for line in open(f"{ws}/trace-{p}-{w}-{r}"):
            # A call another thread's interrupts is split: "<unfinished ...>", then "<... fcntl resumed>".
            resumed = re.match(r"(\d+)\s+\S+ <\.\.\. fcntl resumed>.*= 0$", line)
            if resumed and resumed.group(1) in pending:
                locked = pending.pop(resumed.group(1))
                continue
            m = re.match(r"(\d+)\s+(\S+) (fcntl|close)\((\d+)<([^>]*qev\.duckdb)>(.*)", line)
            if not m:
                continue
            pid, stamp, call, fd, _, rest = m.groups()
            rest = rest.rstrip()
            if call == "fcntl" and "F_SETLK" in rest and "F_UNLCK" not in rest:
                if rest.endswith("= 0"):
                    locked = (fd, seconds(stamp))
                elif rest.endswith("<unfinished ...>"):
                    pending[pid] = (fd, seconds(stamp))
            elif call == "close" and locked and locked[0] == fd:
                spans.append(seconds(stamp) - locked[1])
                locked = None
        held.append(sum(spans) * 1e3)
        total.append(int(open(f"{ws}/total-{p}-{w}-{r}").read()) / 1e3)
    print(f"  {w:5s}: file held {statistics.median(held):8.1f} ms (median of {runs}; min {min(held):.1f}, "
          f"max {max(held):.1f}) in {len(spans)} hold(s); whole run {statistics.median(total):8.1f} ms")
PY
