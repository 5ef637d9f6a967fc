#!/usr/bin/env bash
# Cross-builds the Windows x64 preset and runs its checks under wine, beside the Linux release build
# (which must be built): the unit suite passes (what needs POSIX, or what wine lacks, skipping itself),
# the reports are the Linux bytes but for the paths' separator, the DLL's auto-sync does what the Linux
# library does, an interrupted replacement leaves nothing, nothing needs a MinGW DLL, the zip works wherever it is unpacked, and so
# does the win_amd64 wheel (its contents, its program and DLL under wine, what its module picks), and
# Windows works as its users have it (a Turkish profile, every path form, runs at once, left-overs). Runs
# headless, without standard input, in a wine prefix of its own under the build directory, made on the
# first run (about 13 s).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64

export WINEPREFIX="$PWD/build/windows-x64/wine" WINEDEBUG=-all WINEARCH=win64
# No offer to install Mono or Gecko: nothing here needs them, and nobody is there to answer.
export WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w
fi

status=0
fail() { echo "check_windows: $*" >&2; status=1; }

# The zip: what it must hold, and the program run from it unpacked elsewhere finds its data and DuckDB.
mapfile -t made < <(scripts/package.sh windows-x64)
zip=${made[0]:-} wheel=${made[1]:-}
[ "${#made[@]}" -eq 2 ] || fail "package.sh printed ${#made[@]} paths, expected the zip and the wheel: ${made[*]}"
[[ $zip == /*/qev-scoreboard-*-windows-x64.zip && -f $zip ]] || fail "package.sh printed '$zip', not the zip"
top=$(basename "$zip" .zip)
listed=$(unzip -Z1 "$zip")
for f in bin/qev-scoreboard.exe bin/qev_scoreboard.dll bin/duckdb.dll share/qev-scoreboard/adim_registry.json \
  share/qev-scoreboard/VERI_KOPYALA.txt include/qev_scoreboard/qev_scoreboard.h include/qev_scoreboard/qev_scoreboard.hpp \
  python/qev_scoreboard_cli/__init__.py python/qev_scoreboard_cli/__main__.py share/powershell/qev-scoreboard.ps1 \
  README.txt; do
  grep -qx "$top/$f" <<<"$listed" || fail "$f is not in $zip"
done
grep -q "^$top/share/qev-scoreboard/notebooks/nb_.*\.ipynb$" <<<"$listed" || fail "no notebook in $zip"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" -d "$unpacked"
# What the package files tell a consumer of the library is where Windows' SHA-256 comes from.
for f in lib/cmake/qev_scoreboard/qev_scoreboardConfig.cmake lib/pkgconfig/qev_scoreboard.pc; do
  grep -q "CNG" "$unpacked/$top/$f" && ! grep -qi "libcrypto\|openssl" "$unpacked/$top/$f" ||
    fail "$f does not say that SHA-256 comes from CNG"
done
# verify from there: data, digest (the system's CNG) and DuckDB found, "\n" line ends through a pipe.
(cd "$unpacked" && wine "$top/bin/qev-scoreboard.exe" verify </dev/null >verify.out 2>&1) ||
  fail "verify from the unpacked zip failed: $(cat "$unpacked/verify.out")"
grep -q '\[OK\]   Özet kütüphanesi: Windows CNG' "$unpacked/verify.out" || fail "verify did not hash through CNG"
grep -q 'Veritabanı motoru: DuckDB v' "$unpacked/verify.out" || fail "verify did not load duckdb.dll"
! grep -q $'\r' "$unpacked/verify.out" || fail "verify's report has \\r\\n line ends"
# The Python module picks the DLL of its own tree (no Windows Python here: its choice is checked, not the load).
python3 -B - "$unpacked/$top/python" <<'PY' || fail "the Python module of the zip does not find bin\\qev_scoreboard.dll"
import ctypes, os, sys
sys.path.insert(0, sys.argv[1])
import qev_scoreboard_cli
loaded = []
ctypes.CDLL = lambda name: loaded.append(name) or sys.exit(0 if os.path.isfile(name) and
                                                              name.endswith(os.path.join("bin", "qev_scoreboard.dll")) else 1)
qev_scoreboard_cli._library()
sys.exit(1)
PY

# The wheel: its contents and its program unpacked as pip would; the DLL there syncs from its notebooks.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows-x64/CMakeCache.txt)
if [[ $wheel == /*/qev_scoreboard_cli-"$version"-py3-none-win_amd64.whl && -f $wheel ]]; then
  python3 -B tests/wheel_test.py "$wheel" "$version" data/notebooks \
    --dll-caller build/windows-x64/bin/qev_sync_through_dll.exe wine </dev/null || fail "the win_amd64 wheel"
else
  fail "package.sh printed '$wheel', not the win_amd64 wheel"
fi

# The unit suite, whose counts are reported (run it by hand for each skipped test's reason).
units=$(mktemp)
wine build/windows-x64/bin/qev_unit_tests.exe </dev/null >"$units" 2>&1 || { cat "$units"; fail "the unit tests failed under wine"; }
grep -E '^\[  (PASSED|SKIPPED|FAILED)  ?\] [0-9]+ tests?' "$units" | sed -e 's/^/check_windows: unit suite: /' -e 's/, listed below://' || true
rm -f "$units"
python3 -B tests/same_output_test.py build/release/bin/qev-scoreboard build/windows-x64/bin/qev-scoreboard.exe wine \
  </dev/null || status=1
python3 -B tests/windows/wine_test.py build/release build/windows-x64 </dev/null || status=1
# A Turkish user profile, every path form, runs at once, what failed and killed runs leave.
python3 -B tests/windows/windows_users_test.py build/release build/windows-x64 </dev/null || status=1
wineserver -k 2>/dev/null || true
exit "$status"
