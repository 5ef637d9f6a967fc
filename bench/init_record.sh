#!/usr/bin/env bash
# What the record of installed notebooks and the check for the analyst's changes cost: `init` with
# nothing to do and `init --force`, on a package of 1,000 small notebooks (2 KiB each), for two builds side
# by side in one hyperfine run: BEFORE (a build without the record, e.g. of commit 5aecd69) and AFTER.
#   git worktree add ../qev-before 5aecd69 && (cd ../qev-before && cmake --preset release &&
#     cmake --build --preset release)
#   bench/init_record.sh ../qev-before/build/release [build/release]
# Each program runs from a throw-away prefix holding copies of its built tree and the generated notebooks,
# on a work directory of its own; the ratios after/before are printed.
set -euo pipefail
cd "$(dirname "$0")/.."
before="${1:?usage: bench/init_record.sh BEFORE_BUILD_DIR [AFTER_BUILD_DIR]}"
after="${2:-build/release}"
for b in "$before" "$after"; do
  [ -x "$b/bin/qev-scoreboard" ] || { echo "no program at $b/bin/qev-scoreboard: build first" >&2; exit 1; }
done

scratch=$(mktemp -d /tmp/qev-bench-init-record.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/notebooks"
for i in $(seq -w 1 1000); do
  printf '{"cells": [{"cell_type": "code", "source": "x = %s"}], "metadata": {}, "pad": "%s"}\n' \
    "$i" "$(head -c 1400 /dev/urandom | base64 -w0)" >"$scratch/notebooks/nb_bench_$i.ipynb"
done
for side in before after; do
  build=$before
  [ "$side" = after ] && build=$after
  prefix=$scratch/$side
  mkdir -p "$prefix"
  cp -a "$build/bin" "$build/lib" "$build/share" "$prefix/"
  rm -f "$prefix"/share/qev-scoreboard/notebooks/*.ipynb
  cp "$scratch"/notebooks/*.ipynb "$prefix/share/qev-scoreboard/notebooks/"
  # The runs must do what they claim before they are timed.
  "$prefix/bin/qev-scoreboard" --dir "$scratch/ws-$side" init >/dev/null
  # Read whole: grep -q would stop reading early and end the program with SIGPIPE.
  again=$("$prefix/bin/qev-scoreboard" --dir "$scratch/ws-$side" init)
  grep -q "^  AYNI         : 1000 dosya$" <<<"$again" || { echo "FAIL: $side: the second init copied" >&2; exit 1; }
  forced=$("$prefix/bin/qev-scoreboard" --dir "$scratch/ws-$side" init --force)
  grep -q "^  GÜNCELLENDİ : 1000 dosya$" <<<"$forced" || { echo "FAIL: $side: --force" >&2; exit 1; }
done
[ -f "$scratch/ws-after/db/.nb_installed.json" ] || { echo "FAIL: AFTER keeps no record: not the build meant" >&2; exit 1; }

# Each run starts with no dirty pages left by the one before, so no command pays for another's writeback.
hyperfine -N --prepare sync --warmup 3 --runs 20 --export-json "$scratch/record.json" \
  -n "before: init" "$scratch/before/bin/qev-scoreboard --dir $scratch/ws-before init" \
  -n "after: init" "$scratch/after/bin/qev-scoreboard --dir $scratch/ws-after init" \
  -n "before: init --force" "$scratch/before/bin/qev-scoreboard --dir $scratch/ws-before init --force" \
  -n "after: init --force" "$scratch/after/bin/qev-scoreboard --dir $scratch/ws-after init --force"

python3 - "$scratch/record.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
for what in ("init", "init --force"):
    b, a = r[f"before: {what}"], r[f"after: {what}"]
    # The median is the figure judged; the minimum shows the ratio with the least outside interference.
    print(f"{what:13s} before {b['median']*1e3:7.1f} ms, after {a['median']*1e3:7.1f} ms: "
          f"median {a['median']/b['median']:.2f}x, min {a['min']/b['min']:.2f}x")
PY
