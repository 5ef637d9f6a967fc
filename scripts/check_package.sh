#!/usr/bin/env bash
# Builds the Debian packages and the wheel (scripts/package.sh) and checks them: lintian, the packages'
# file lists, an install unpacked into a scratch root, from which the program, the Python module and a
# consumer build (find_package and pkg-config) run, and the wheel installed with pip into a fresh virtual
# environment (tests/wheel_test.py). Expects scripts/setup.sh to have run.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
fail() { echo "FAIL: $*" >&2; exit 1; }

out=$(scripts/package.sh)
mapfile -t printed <<<"$out"
debs=() wheels=()
for path in "${printed[@]}"; do
  [[ $path == /* && -f $path ]] || fail "package.sh printed '$path', not the path of a file"
  case $path in
    *.deb) debs+=("$path") ;;
    *.whl) wheels+=("$path") ;;
    *) fail "package.sh printed '$path', neither a package nor a wheel" ;;
  esac
done
[ "${#debs[@]}" -eq 5 ] && [ "${#wheels[@]}" -eq 1 ] \
  || fail "package.sh printed ${#debs[@]} packages and ${#wheels[@]} wheels, expected 5 and 1:"$'\n'"$out"
deb_of() { printf '%s\n' "${debs[@]}" | grep "/${1}_"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)

echo "== lintian" >&2
lintian --fail-on error,warning --tag-display-limit 0 "${debs[@]}" >&2 || fail "lintian"

echo "== file lists" >&2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
# owner, mode and path of every entry (links with their target), notebooks checked apart
for deb in "${debs[@]}"; do
  pkg=$(dpkg-deb -f "$deb" Package)
  dpkg-deb -c "$deb" | awk -v p="$pkg" '{ path = $6; for (i = 7; i <= NF; i++) path = path " " $i; print p, $2, $1, path }'
done | grep -v ' \./usr/share/qev-scoreboard/notebooks/.*\.ipynb$' | sed "s|/$multiarch/|/MULTIARCH/|; s|$version|VERSION|g" \
  | LC_ALL=C sort >"$scratch/files.txt"
LC_ALL=C sort packaging/files.txt | diff -u - "$scratch/files.txt" >&2 || fail "file lists differ from packaging/files.txt"
data_deb=$(deb_of qev-scoreboard-data)
diff <(cd data/notebooks && ls *.ipynb) \
  <(dpkg-deb -c "$data_deb" | sed -n 's|.*\./usr/share/qev-scoreboard/notebooks/\(.*\.ipynb\)$|\1|p' | LC_ALL=C sort) >&2 \
  || fail "the data package's notebooks differ from data/notebooks"
for pkg in qev-scoreboard libqev-scoreboard1; do
  deps=$(dpkg-deb -f "$(deb_of "$pkg")" Depends)
  for need in libc6 libstdc++6 libssl3 "qev-scoreboard-data (= $version-"; do
    [[ $deps == *"$need"* ]] || fail "$pkg: Depends lacks $need: $deps"
  done
done

# pkg-config needs every module the library's .pc file requires, private ones included.
dev_deb=$(deb_of libqev-scoreboard-dev)
dev_deps=$(dpkg-deb -f "$dev_deb" Depends)
for mod in $(dpkg-deb --fsys-tarfile "$dev_deb" \
    | tar xO --wildcards '*/qev_scoreboard.pc' | sed -n 's/^Requires\(\.private\)\?: *//p' | tr ',' '\n' | awk '{print $1}'); do
  owner=$(dpkg -S "/usr/lib/$multiarch/pkgconfig/$mod.pc" "/usr/share/pkgconfig/$mod.pc" 2>/dev/null | cut -d: -f1 | head -1 || true)
  [ -n "$owner" ] || fail "no installed package provides $mod.pc"
  [[ ", $dev_deps," == *", $owner"[\ ,]* ]] || fail "libqev-scoreboard-dev needs $mod ($owner) but does not depend on it: $dev_deps"
done

echo "== unpacked install" >&2
root="$scratch/root"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done
exe="$root/usr/bin/qev-scoreboard"
ws="$scratch/work dir"
"$exe" --dir "$ws" init >"$scratch/init.out" || fail "init"
grep -q "KURULUM TAMAM" "$scratch/init.out" || fail "init printed no closing banner"
for nb in "$root"/usr/share/qev-scoreboard/notebooks/*.ipynb; do
  [ "$(basename "$nb")" = nb_01_ingest.ipynb ] && continue
  cmp -s "$nb" "$ws/$(basename "$nb")" || fail "init did not install $(basename "$nb") from the unpacked tree"
done
[ "$(cat "$ws/db/.nb_version")" = "$version" ] || fail "version stamp"
"$exe" --dir "$ws" status >"$scratch/status.out" || fail "status"
grep -q "^QEV Scoreboard v$version — status" "$scratch/status.out" || fail "status banner"
(cd "$ws" && LD_DEBUG=files "$exe" verify) >"$scratch/verify.out" 2>"$scratch/verify.ld" || fail "verify"
grep -q "\[OK\] *Veritabanı motoru: DuckDB" "$scratch/verify.out" || fail "verify: no DuckDB:"$'\n'"$(cat "$scratch/verify.out")"
grep -q "file=$root/usr/lib/qev-scoreboard/libduckdb.so .*generating link map" "$scratch/verify.ld" \
  || fail "verify did not load the private DuckDB of the unpacked tree"
[ "$("$exe" version)" = "qev_scoreboard $version" ] || fail "version"

/usr/bin/python3 -B tests/python_module_test.py "$root/usr/lib/python3/dist-packages" \
  "$root/usr/lib/libqev_scoreboard.so.1" "$root/usr/share/qev-scoreboard/notebooks" "$version" >&2 \
  || fail "Python module"

cmake -DPREFIX="$root/usr" -DSYSROOT="$root" -DCONSUMER_SRC="$top/tests/consumer" -DSCRATCH="$scratch/consumer" -DVERSION="$version" \
  -DLIBDIR=lib -DPKGCONFIG_DIR="lib/$multiarch/pkgconfig" -DGENERATOR=Ninja -DCXX_COMPILER=c++ -DC_COMPILER=cc \
  -DPKG_CONFIG=pkg-config -P tests/installed_consumer_test.cmake >&2 || fail "consumer build against the unpacked tree"

echo "== wheel" >&2
/usr/bin/python3 -B tests/wheel_test.py "${wheels[0]}" "$version" data/notebooks >&2 || fail "wheel"

echo "package checks passed: ${debs[*]##*/} ${wheels[*]##*/}" >&2
