#!/usr/bin/env bash
# Fingerprint throughput against `openssl dgst -sha256` on the same 1 GiB file, side by side, and peak
# memory of the fingerprint for 64 MiB and 1 GiB (it must not grow with the file).
# Usage: bench/file_hash.sh [BUILD_DIR]   (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
exe="${1:-build/release}/bin/qev-bench-hash"
[ -x "$exe" ] || { echo "no program at $exe: build first" >&2; exit 1; }

big=$(mktemp /tmp/qev-hash-1g.XXXXXX)
small=$(mktemp /tmp/qev-hash-64m.XXXXXX)
trap 'rm -f "$big" "$small"' EXIT
head -c $((1 << 30)) /dev/urandom >"$big"
head -c $((64 << 20)) "$big" >"$small"

# Same answer first: the fingerprint is the digest's first 16 hex digits.
ours=$("$exe" "$big")
ref=$(openssl dgst -sha256 -r "$big" | cut -c1-16)
[ "$ours" = "$ref" ] || { echo "FAIL: fingerprint $ours, openssl $ref" >&2; exit 1; }

hyperfine -N --warmup 1 --runs 5 -n _file_hash "$exe $big" -n openssl "openssl dgst -sha256 $big"

rss() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
rss_small=$(rss "$exe" "$small")
rss_big=$(rss "$exe" "$big")

# The verdict comes from interleaved pairs: on a shared machine the load drifts between hyperfine's
# two phases, while each pair sees nearly the same load. CPU time (user + system) is shown as well.
python3 - "$exe" "$big" "$rss_small" "$rss_big" <<'PY'
import os, statistics, subprocess, sys, time
exe, big, rss_small, rss_big = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
cmds = {"_file_hash": [exe, big], "openssl": ["openssl", "dgst", "-sha256", big]}

def run(cmd):
    before = os.times()
    t = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - t
    after = os.times()
    return wall, (after.children_user - before.children_user) + (after.children_system - before.children_system)

wall = {k: [] for k in cmds}
cpu = {k: [] for k in cmds}
for _ in range(10):
    for name, cmd in cmds.items():
        w, c = run(cmd)
        wall[name].append(w)
        cpu[name].append(c)
for name in cmds:
    w = statistics.median(wall[name])
    print(f"{name:10s} median wall {w:.3f} s ({1 / w:.2f} GiB/s), median CPU {statistics.median(cpu[name]):.3f} s")
ratio = statistics.median(o / f for f, o in zip(wall["_file_hash"], wall["openssl"]))
cpu_ratio = statistics.median(o / f for f, o in zip(cpu["_file_hash"], cpu["openssl"]))
print(f"throughput vs openssl, median of 10 interleaved pairs: wall {ratio:.3f}x, CPU {cpu_ratio:.3f}x "
      f"(target >= 0.9: {'yes' if ratio >= 0.9 else 'NO'})")
print(f"max RSS: 64 MiB file {rss_small} KiB, 1 GiB file {rss_big} KiB "
      f"({'flat' if rss_big <= rss_small + 1024 else 'GROWS'})")
PY
