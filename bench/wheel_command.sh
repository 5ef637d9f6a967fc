#!/usr/bin/env bash
# `qev-scoreboard version` as the wheel's command in a virtual environment, against the program in the
# wheel's package directory (the anchor: what the command costs with nothing in front of it), in one
# hyperfine run; `python3 -m qev_scoreboard_cli version` beside them, for what an interpreter in front
# costs. Target: the command <= 1.2x the program.
# Usage: bench/wheel_command.sh [WHEEL]   (default: the x86-64 wheel in build/packages/, which
#        scripts/package.sh makes)
set -euo pipefail
cd "$(dirname "$0")/.."
wheel=${1:-$(ls -t build/packages/qev_scoreboard_cli-*_x86_64.whl 2>/dev/null | head -1)}
[ -f "$wheel" ] || { echo "no wheel${1:+ at $1}: make one with scripts/package.sh" >&2; exit 1; }

scratch=$(mktemp -d /tmp/qev-bench-wheel.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
/usr/bin/python3 -m venv "$scratch/venv"
"$scratch/venv/bin/python" -m pip install -q --no-index "$wheel"
command=$scratch/venv/bin/qev-scoreboard
program=$(echo "$scratch"/venv/lib/python3*/site-packages/qev_scoreboard_cli/bin/qev-scoreboard)
# Both must answer alike before they are timed, and the command must be no script.
[ "$(head -c 4 "$command" | od -An -c | tr -d ' ')" = '177ELF' ] || { echo "FAIL: $command is no program" >&2; exit 1; }
[ "$("$command" version)" = "$("$program" version)" ] || { echo "FAIL: the command and the program differ" >&2; exit 1; }

hyperfine -N --warmup 50 --runs 1000 --export-json "$scratch/wheel.json" \
  -n command "$command version" -n program "$program version" \
  -n "python -m" "$scratch/venv/bin/python -m qev_scoreboard_cli version" >/dev/null 2>"$scratch/hyperfine.err" ||
  { cat "$scratch/hyperfine.err" >&2; exit 1; }

python3 - "$scratch/wheel.json" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
ratio, target = r["command"] / r["program"], 1.2
print(f"wheel command {r['command'] * 1e3:.2f} ms vs the program in the wheel {r['program'] * 1e3:.2f} ms: "
      f"median {ratio:.2f}x (target <= {target}x): {'yes' if ratio <= target else 'NO'}; "
      f"python -m {r['python -m'] * 1e3:.1f} ms ({r['python -m'] / r['program']:.1f}x)")
PY
