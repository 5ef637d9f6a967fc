#!/usr/bin/env bash
# What the report as data costs, on a database of 60 tables (4 of a million rows), side by side in one
# hyperfine run:
#   status (CLI)              the command's whole run
#   status() (Python)         a Python process that imports the module and calls status(), whole
#   import only (Python)      the same process without the call: what Python itself costs
# The call's own cost is the difference of the last two; target: status() <= 1.3x the command's run. With
# BEFORE_BUILD (a build without the report as data, e.g. of commit 5aecd69), its command runs beside ours:
# the command's report must not be slowed.
# Usage: bench/status_forms.sh [BUILD_DIR] [BEFORE_BUILD_DIR]   (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
before="${2:-}"
exe="$build/bin/qev-scoreboard"
mkdb="$build/bin/qev-bench-status-mkdb"
module="$build/lib/python3/dist-packages"
for f in "$exe" "$mkdb"; do [ -x "$f" ] || { echo "no program at $f: build first" >&2; exit 1; }; done
[ -d "$module/qev_scoreboard_cli" ] || { echo "no Python module under $module" >&2; exit 1; }

ws="$(mktemp -d /tmp/qev-bench-status-forms-XXXXXX)"
trap 'rm -rf "$ws"' EXIT
"$exe" --dir "$ws" init >/dev/null
echo "building the database (60 tables, 4 of 1,000,000 rows)..."
rm -f "$ws/db/qev.duckdb"
"$mkdb" "$ws/db/qev.duckdb" 60 4
for s in 2024 2025; do
  mkdir -p "$ws/seasons/$s/meta"
  for k in 01a 01b 02_bronze 02_silver 03_html 04_train; do
    printf '{"kod": "%s", "nb_hash": "0123456789abcdef"}' "$k" >"$ws/seasons/$s/meta/adim_$k.json"
  done
done

call="import sys; sys.path.insert(0, '$module'); import qev_scoreboard_cli as q"
# The forms must agree before their times mean anything.
python3 -c "$call; r = q.status('$ws'); open('$ws/str.txt', 'w').write(str(r)); assert len(r.to_dict()['database']['tables']) == 60"
"$exe" --dir "$ws" status >"$ws/cli.txt"
cmp -s "$ws/cli.txt" "$ws/str.txt" || { echo "FAIL: str(status()) differs from the command's report" >&2; exit 1; }

commands=(-n "status (CLI)" "$exe --dir $ws status"
          -n "status() (Python)" "python3 -c \"$call; q.status('$ws')\""
          -n "import only (Python)" "python3 -c \"$call\"")
if [ -n "$before" ]; then
  [ -x "$before/bin/qev-scoreboard" ] || { echo "no program at $before/bin/qev-scoreboard" >&2; exit 1; }
  commands+=(-n "status (CLI, before)" "$before/bin/qev-scoreboard --dir $ws status")
fi
hyperfine --warmup 3 --runs 30 --export-json "$ws/forms.json" "${commands[@]}"

python3 - "$ws/forms.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
cli, full, imp = r["status (CLI)"]["median"], r["status() (Python)"]["median"], r["import only (Python)"]["median"]
call = full - imp
print(f"status (CLI) {cli*1e3:.1f} ms; status() call {call*1e3:.1f} ms (Python process {full*1e3:.1f} ms, "
      f"of which import {imp*1e3:.1f} ms)")
print(f"status() / CLI: {call/cli:.2f}x (target <= 1.3x: {'met' if call / cli <= 1.3 else 'MISSED'}); "
      f"whole Python process / CLI: {full/cli:.2f}x")
if "status (CLI, before)" in r:
    b = r["status (CLI, before)"]["median"]
    print(f"the command now / before: {cli/b:.2f}x ({cli*1e3:.1f} ms vs {b*1e3:.1f} ms)")
PY
