#!/usr/bin/env bash
# Peak memory of the meta-hash refresh (run by `init` after a version change) on one large meta file, by
# /usr/bin/time -v, for three shapes of a 50 MB file: `[0,0,...]` alone (not an object: read, then left
# alone), the same list inside a step's meta object, and an object of 200,000 members with long text;
# then for each shape the same file four times as large, against which the ratio of the peaks is printed:
# the file is read and written in pieces, so the peak must not grow with it.
# Targets: peak <= 96 MiB for 50 MB; goal <= 32 MiB whatever the size.
# The program finds its package data relative to its own file, so it runs from a throw-away prefix.
# Usage: bench/meta_refresh_memory.sh [BUILD_DIR]   (default: build/release)
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
require_programs "$build/bin/qev-scoreboard"

make_scratch meta-memory
make_prefix
ws=$scratch/ws
"$exe" --dir "$ws" init >/dev/null
meta=$ws/seasons/2024_01/meta/adim_01a.json
mkdir -p "$(dirname "$meta")"

# peak_kib SHAPE MEGABYTES: the refresh's peak resident memory on a meta file of that shape and size.
peak_kib() {
  python3 - "$meta" "$1" "$2" <<'PY'
import sys
path, shape, mb = sys.argv[1], sys.argv[2], int(sys.argv[3])
with open(path, "w") as f:
    if shape == "members":
        text = "açıklama \\\"alıntı\\\" \\u00e7 " * 8
        n = mb * 1_000_000 // (len(text) + 24)
        f.write('{"kod": "01a", ' + ", ".join(f'"alan_{i:07}": "{text}"' for i in range(n)) + ', "nb_hash": "0"}')
    else:
        zeros = ",".join(["0"] * (mb * 500_000))
        f.write(f"[{zeros}]" if shape == "array" else f'{{"kod": "01a", "x": [{zeros}], "nb_hash": "0"}}')
PY
  echo -n 0.0.1 >"$ws/db/.nb_version"
  /usr/bin/time -v "$exe" --dir "$ws" init >"$scratch/out.txt" 2>"$scratch/time.txt"
  if [ "$1" != array ]; then
    grep -q '^  \[SYNC\] 1 meta hash' "$scratch/out.txt" || { echo "FAIL: the $1 meta file was not refreshed" >&2; exit 1; }
  fi
  sed -n 's/.*Maximum resident set size (kbytes): //p' "$scratch/time.txt"
}

target=$((96 * 1024)) goal=$((32 * 1024))
for shape in array object members; do
  small=$(peak_kib "$shape" 50)
  large=$(peak_kib "$shape" 200)
  python3 - "$shape" "$small" "$large" "$target" "$goal" <<'PY'
import sys
shape, small, large, target, goal = sys.argv[1], *map(int, sys.argv[2:])
print(f"{shape:8} 50 MB: peak {small / 1024:.1f} MiB (target <= {target // 1024} MiB: {'yes' if small <= target else 'NO'}; "
      f"goal <= {goal // 1024} MiB: {'yes' if small <= goal else 'no'}); 200 MB: peak {large / 1024:.1f} MiB, "
      f"{large / small:.2f}x the 50 MB peak")
PY
done
