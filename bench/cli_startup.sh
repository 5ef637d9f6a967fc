#!/usr/bin/env bash
# Whole-process start-up cost of the cheapest commands, with /bin/true as the floor.
# Usage: bench/cli_startup.sh [BUILD_DIR]   (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
exe="${1:-build/release}/bin/qev-scoreboard"
[ -x "$exe" ] || { echo "no program at $exe: build first" >&2; exit 1; }

# The engine must not be mapped for these commands: check before timing them.
for cmd in version --help; do
  if LD_DEBUG=files "$exe" $cmd 2>&1 >/dev/null | grep -q libduckdb; then
    echo "FAIL: '$cmd' loaded libduckdb" >&2; exit 1
  fi
done

hyperfine -N --warmup 50 --runs 1000 --export-json /tmp/qev-cli-startup.json \
  -n true /bin/true -n version "$exe version" -n help "$exe --help"

python3 - <<'PY'
import json
r = {x["command"]: x for x in json.load(open("/tmp/qev-cli-startup.json"))["results"]}
floor = r["true"]["median"]
for name in ("true", "version", "help"):
    m = r[name]["median"]
    print(f"{name:8s} median {m*1e3:7.3f} ms   (+{(m-floor)*1e3:6.3f} ms over /bin/true)")
gap = (r["version"]["median"] - floor) * 1e3
print(f"version within 3 ms of /bin/true: {'yes' if gap <= 3 else 'NO'} ({gap:.3f} ms)")
PY
