# shellcheck shell=bash disable=SC2034  # the variables set here are the sourcing script's
# Sourced by the benchmark scripts, from the repository's root: the build to measure (the script's first
# argument, default build/release), a scratch directory removed at exit, and a throw-away prefix holding
# copies of the built program, its libraries and its package data (the program finds its package data
# relative to its own file).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"

# require_programs FILE...: each an executable the build made.
require_programs() {
  local f
  for f in "$@"; do
    [ -x "$f" ] || { echo "no program at $f: build first" >&2; exit 1; }
  done
}

# make_scratch NAME: $scratch, a fresh directory under /tmp, gone at exit.
make_scratch() {
  scratch=$(mktemp -d "/tmp/qev-bench-$1.XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
}

# make_prefix: $prefix in $scratch with the build's program, libraries and package data; $share the package
# data, $exe the program.
make_prefix() {
  prefix=$scratch/prefix
  mkdir -p "$prefix/bin"
  cp "$build/bin/qev-scoreboard" "$prefix/bin/"
  cp -a "$build/lib" "$build/share" "$prefix/"
  share=$prefix/share/qev-scoreboard
  exe=$prefix/bin/qev-scoreboard
}

# bench_notebooks: the prefix's package notebooks replaced by 200 of 1 MiB each, then left to settle, as an
# installed package's files are: a package file changed moments before a run is read again in case it is
# still being written, one installed a while ago is trusted by its facts.
bench_notebooks() {
  rm -f "$share"/notebooks/*.ipynb
  local i
  for i in $(seq -w 1 200); do head -c $((1 << 20)) /dev/urandom >"$share/notebooks/nb_bench_$i.ipynb"; done
  sleep 2.1
}
