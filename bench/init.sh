#!/usr/bin/env bash
# `init` on a package of 200 notebooks of 1 MiB each, side by side in one hyperfine run with the work it
# cannot avoid:
#   a second init (everything identical)  vs  openssl dgst -sha256 over both trees' notebooks  (<= 0.2x)
# The second init trusts both trees by the facts its record keeps: it reads no notebook at all.
# (init --force, which flushes what it copies, is measured by bench/init_durable.sh.)
# The program finds its package data relative to its own file, so it runs from a throw-away prefix
# holding copies of the built program and libraries and the generated notebooks.
# Usage: bench/init.sh [BUILD_DIR]   (default: build/release)
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
require_programs "$build/bin/qev-scoreboard"
make_scratch init
make_prefix
bench_notebooks
ws=$scratch/ws

# The runs must do what they claim before they are timed.
"$exe" --dir "$ws" init >/dev/null
# Read whole: grep -q stops reading at its match, and the program is then told of a closed pipe.
second=$("$exe" --dir "$ws" init)
grep -q "^  AYNI         : 200 dosya$" <<<"$second" || { echo "FAIL: second init copied: $second" >&2; exit 1; }
forced=$("$exe" --dir "$ws" init --force)
grep -q "^  GÜNCELLENDİ : 200 dosya$" <<<"$forced" || { echo "FAIL: --force: $forced" >&2; exit 1; }

pkg_nbs=$(echo "$share"/notebooks/*.ipynb)
ws_nbs=$(echo "$ws"/nb_bench_*.ipynb)
# Each run starts with no dirty pages left by the one before, so no command pays for another's writeback.
hyperfine -N --prepare sync --warmup 3 --runs 20 --export-json "$scratch/init.json" \
  -n "init (identical)" "$exe --dir $ws init" \
  -n "openssl both trees" "openssl dgst -sha256 $pkg_nbs $ws_nbs"

python3 - "$scratch/init.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
def line(ours, ref, target):
    # The median is the figure judged; the minimum shows the ratio with the least outside interference.
    ratio = r[ours]["median"] / r[ref]["median"]
    best = r[ours]["min"] / r[ref]["min"]
    ok = "yes" if ratio <= target else "NO"
    print(f"{ours:16s} {r[ours]['median']*1e3:7.1f} ms vs {ref:18s} {r[ref]['median']*1e3:7.1f} ms: "
          f"median {ratio:.2f}x, min {best:.2f}x (target <= {target}x): {ok}")
line("init (identical)", "openssl both trees", 0.2)
PY
