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
trap 'rm -f "$big" "$small" /tmp/qev-file-hash.json' EXIT
head -c $((1 << 30)) /dev/urandom >"$big"
head -c $((64 << 20)) "$big" >"$small"

# Same answer first: the fingerprint is the digest's first 16 hex digits.
ours=$("$exe" "$big")
ref=$(openssl dgst -sha256 -r "$big" | cut -c1-16)
[ "$ours" = "$ref" ] || { echo "FAIL: fingerprint $ours, openssl $ref" >&2; exit 1; }

hyperfine -N --warmup 2 --runs 10 --export-json /tmp/qev-file-hash.json \
  -n _file_hash "$exe $big" -n openssl "openssl dgst -sha256 $big"

rss() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
rss_small=$(rss "$exe" "$small")
rss_big=$(rss "$exe" "$big")

python3 - "$rss_small" "$rss_big" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open("/tmp/qev-file-hash.json"))["results"]}
gib = 1.0
ours, ossl = r["_file_hash"]["median"], r["openssl"]["median"]
print(f"_file_hash  median {ours:.3f} s  {gib/ours:.2f} GiB/s")
print(f"openssl     median {ossl:.3f} s  {gib/ossl:.2f} GiB/s")
ratio = ossl / ours
print(f"throughput ratio {ratio:.3f}x of openssl (target >= 0.9): {'yes' if ratio >= 0.9 else 'NO'}")
# On a shared machine wall time drifts with the load; CPU time (user + system) is the steadier view.
cpu = {k: v["user"] + v["system"] for k, v in r.items()}
print(f"CPU time: _file_hash {cpu['_file_hash']:.3f} s, openssl {cpu['openssl']:.3f} s, "
      f"ratio {cpu['openssl'] / cpu['_file_hash']:.3f}x")
small, big = int(sys.argv[1]), int(sys.argv[2])
print(f"max RSS: 64 MiB file {small} KiB, 1 GiB file {big} KiB "
      f"({'flat' if big <= small + 1024 else 'GROWS'})")
PY
