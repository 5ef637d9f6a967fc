#!/usr/bin/env bash
# Builds the fuzz targets (the `fuzz` preset: clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60) over a scratch copy of its seed
# corpus in fuzz/corpus/. Exits non-zero on any finding (crash, failed property, leak, timeout,
# sanitizer report) and keeps the scratch directory, with the failing input, for inspection.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "kullanım: $0 [SANİYE]" >&2
  exit 2
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

scratch="$(mktemp -d "${TMPDIR:-/tmp}/qev-fuzz.XXXXXX")"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
if symbolizer="$(command -v llvm-symbolizer-15 || command -v llvm-symbolizer)"; then
  export ASAN_SYMBOLIZER_PATH="$symbolizer"
fi

status=0
for target in meta_json args; do
  exe="build/fuzz/bin/qev-fuzz-${target//_/-}"
  corpus="$scratch/$target/corpus"
  mkdir -p "$corpus" "$scratch/$target/findings"
  cp fuzz/corpus/"$target"/* "$corpus"/
  log="$scratch/$target/log"
  if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$scratch/$target/findings/" "$corpus" >"$log" 2>&1; then
    echo "fuzz $target: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$log" || echo 'done'), no finding"
  else
    status=1
    echo "fuzz $target: FINDING (log and input in $scratch/$target)" >&2
    tail -n 60 "$log" >&2
  fi
done

if [ "$status" -eq 0 ]; then
  rm -rf "$scratch"
fi
exit "$status"
