#!/usr/bin/env bash
# The meta-hash refresh after a version change (run by `init`) over 100,000 season directories, every
# step's meta file in the oldest one, so the search looks into each season: timed in one hyperfine run
# beside `find` over the same seasons tree (target: <= 3x). Its memory on a large meta file:
# bench/meta_refresh_memory.sh.
# The program finds its package data relative to its own file, so it runs from a throw-away prefix.
# Usage: bench/meta_refresh.sh [BUILD_DIR]   (default: build/release)
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
require_programs "$build/bin/qev-scoreboard"

make_scratch meta
make_prefix
registry=$prefix/share/qev-scoreboard/adim_registry.json
ws=$scratch/ws
"$exe" --dir "$ws" init >/dev/null

python3 - "$ws/seasons" "$registry" <<'PY'
import json, os, sys
seasons, registry = sys.argv[1], sys.argv[2]
for i in range(100_000):
    os.makedirs(f"{seasons}/s{i:06}/meta")
for kod in json.load(open(registry)):
    with open(f"{seasons}/s000000/meta/adim_{kod}.json", "w") as f:
        json.dump({"kod": kod, "nb_hash": "0000000000000000"}, f)
PY
steps=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))))' "$registry")

# The refresh must do what it claims before it is timed: every step's file, found in the oldest season.
echo -n 0.0.1 >"$ws/db/.nb_version"
refreshed=$("$exe" --dir "$ws" init)
grep -q "^  \[SYNC\] $steps meta hash" <<<"$refreshed" || { echo "FAIL: not every step refreshed: $refreshed" >&2; exit 1; }

# Each timed run starts from an older stamp, so it searches every step again (nothing left to rewrite).
hyperfine -N --warmup 2 --runs 10 --export-json "$scratch/seasons.json" \
  --prepare "sh -c 'printf 0.0.1 >$ws/db/.nb_version'" -n "init refresh (100k seasons)" "$exe --dir $ws init" \
  --prepare true -n "find seasons" "find $ws/seasons"

python3 - "$scratch/seasons.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
ours, ref, target = "init refresh (100k seasons)", "find seasons", 3.0
ratio = r[ours]["median"] / r[ref]["median"]
print(f"{ours} {r[ours]['median']*1e3:.0f} ms vs {ref} {r[ref]['median']*1e3:.0f} ms: "
      f"median {ratio:.2f}x (target <= {target}x): {'yes' if ratio <= target else 'NO'}")
PY

