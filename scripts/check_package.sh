#!/usr/bin/env bash
# Builds the Debian packages and wheels of the given targets (scripts/package.sh; default: all) and checks
# them: lintian, the packages' file lists and dependencies, and an install unpacked into a scratch root, from
# which the program, the Python module and a consumer build (find_package and pkg-config) run. The arm64
# packages' programs run under qemu-user, and must give the same bytes as the amd64 ones on the same inputs.
# Each wheel's contents are checked (tests/wheel_test.py); the x86-64 one is installed with pip into a fresh
# virtual environment, used and uninstalled, the aarch64 one's program run under qemu-user.
# Expects scripts/setup.sh to have run.
#   scripts/check_package.sh [TARGET...]   TARGET: linux-x64 linux-arm64 all
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
top=$PWD
fail() { echo "FAIL: $*" >&2; exit 1; }

[ $# -gt 0 ] || set -- all
targets=()
for arg in "$@"; do
  case $arg in
    all) targets+=(linux-x64 linux-arm64) ;;
    linux-x64 | linux-arm64) targets+=("$arg") ;;
    *) echo "usage: scripts/check_package.sh [linux-x64|linux-arm64|all]..." >&2; exit 2 ;;
  esac
done
# The arm64 build is held against the amd64 one.
[[ " ${targets[*]} " == *" linux-arm64 "* ]] && targets+=(linux-x64)

out=$(scripts/package.sh "${targets[@]}")
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
names=$(printf '%s\n' "${printed[@]##*/}" | sort)
[ "$names" = "$(printf '%s\n' "${printed[@]##*/}" | sort -u)" ] || fail "package.sh printed a file twice:"$'\n'"$out"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)

echo "== lintian" >&2
lintian --fail-on error,warning --tag-display-limit 0 "${debs[@]}" >&2 || fail "lintian"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# arm64 programs run on Debian's arm64 libraries (libc6:arm64 and the rest, installed by setup.sh), loader
# included. No -L: qemu would then show the toolchain's directory as "/" to a program that opens "/".
qemu=(qemu-aarch64)

# check_arch ARCH: the packages of one architecture (with the architecture-independent ones).
check_arch() {
  local arch=$1 multiarch run=() debs_arch=() deb
  multiarch=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
  [ "$arch" = amd64 ] || run=("${qemu[@]}")
  for deb in "${debs[@]}"; do
    [[ $deb == *_"$arch".deb || $deb == *_all.deb ]] && debs_arch+=("$deb")
  done
  [ "${#debs_arch[@]}" -eq 5 ] || fail "$arch: ${#debs_arch[@]} packages, expected 5:"$'\n'"$out"
  local wheel_machine wheels_arch=() w
  wheel_machine=$(case $arch in amd64) echo x86_64 ;; arm64) echo aarch64 ;; esac)
  for w in "${wheels[@]}"; do
    [[ $w == *_"$wheel_machine".whl ]] && wheels_arch+=("$w")
  done
  [ "${#wheels_arch[@]}" -eq 1 ] || fail "$arch: ${#wheels_arch[@]} $wheel_machine wheels, expected 1:"$'\n'"$out"
  deb_of() { printf '%s\n' "${debs_arch[@]}" | grep "/${1}_"; }

  echo "== $arch: file lists" >&2
  # owner, mode and path of every entry (links with their target), notebooks checked apart
  local pkg
  for deb in "${debs_arch[@]}"; do
    pkg=$(dpkg-deb -f "$deb" Package)
    dpkg-deb -c "$deb" | awk -v p="$pkg" '{ path = $6; for (i = 7; i <= NF; i++) path = path " " $i; print p, $2, $1, path }'
  done | grep -v ' \./usr/share/qev-scoreboard/notebooks/.*\.ipynb$' | sed "s|/$multiarch/|/MULTIARCH/|; s|$version|VERSION|g" \
    | LC_ALL=C sort >"$scratch/files-$arch.txt"
  LC_ALL=C sort packaging/files.txt | diff -u - "$scratch/files-$arch.txt" >&2 || fail "$arch: file lists differ from packaging/files.txt"
  diff <(cd data/notebooks && ls *.ipynb) \
    <(dpkg-deb -c "$(deb_of qev-scoreboard-data)" | sed -n 's|.*\./usr/share/qev-scoreboard/notebooks/\(.*\.ipynb\)$|\1|p' | LC_ALL=C sort) >&2 \
    || fail "the data package's notebooks differ from data/notebooks"
  local deps need
  for pkg in qev-scoreboard libqev-scoreboard1; do
    [ "$(dpkg-deb -f "$(deb_of "$pkg")" Architecture)" = "$arch" ] || fail "$pkg: not built for $arch"
    deps=$(dpkg-deb -f "$(deb_of "$pkg")" Depends)
    for need in libc6 libstdc++6 libssl3 "qev-scoreboard-data (= $version-"; do
      [[ $deps == *"$need"* ]] || fail "$arch: $pkg: Depends lacks $need: $deps"
    done
  done
  # The ELF files are the architecture's own.
  local machine
  machine=$(case $arch in amd64) echo "x86-64" ;; arm64) echo "ARM aarch64" ;; esac)
  for pkg in qev-scoreboard libqev-scoreboard1; do
    dpkg-deb -x "$(deb_of "$pkg")" "$scratch/elf-$arch"
  done
  while IFS= read -r -d '' f; do
    file -b "$f" | grep -q "^ELF.*, $machine," || fail "$arch: ${f#"$scratch/elf-$arch"} is $(file -b "$f")"
  done < <(find "$scratch/elf-$arch" -type f \( -path '*/bin/*' -o -name '*.so*' \) -print0)

  # pkg-config needs every module the library's .pc file requires, private ones included.
  local dev_deb dev_deps mod owner
  dev_deb=$(deb_of libqev-scoreboard-dev)
  dev_deps=$(dpkg-deb -f "$dev_deb" Depends)
  for mod in $(dpkg-deb --fsys-tarfile "$dev_deb" \
      | tar xO --wildcards '*/qev_scoreboard.pc' | sed -n 's/^Requires\(\.private\)\?: *//p' | tr ',' '\n' | awk '{print $1}'); do
    owner=$(dpkg -S "/usr/lib/$multiarch/pkgconfig/$mod.pc" "/usr/share/pkgconfig/$mod.pc" 2>/dev/null | cut -d: -f1 | head -1 || true)
    [ -n "$owner" ] || fail "no installed package provides $mod.pc for $arch"
    [[ ", $dev_deps," == *", $owner"[\ ,]* ]] || fail "libqev-scoreboard-dev needs $mod ($owner) but does not depend on it: $dev_deps"
  done

  echo "== $arch: unpacked install" >&2
  local root="$scratch/root-$arch" exe ws="$scratch/work dir $arch" nb
  for deb in "${debs_arch[@]}"; do dpkg-deb -x "$deb" "$root"; done
  exe="$root/usr/bin/qev-scoreboard"
  "${run[@]}" "$exe" --dir "$ws" init >"$scratch/init.out" || fail "$arch: init"
  grep -q "KURULUM TAMAM" "$scratch/init.out" || fail "$arch: init printed no closing banner"
  for nb in "$root"/usr/share/qev-scoreboard/notebooks/*.ipynb; do
    [ "$(basename "$nb")" = nb_01_ingest.ipynb ] && continue
    cmp -s "$nb" "$ws/$(basename "$nb")" || fail "$arch: init did not install $(basename "$nb") from the unpacked tree"
  done
  [ "$(cat "$ws/db/.nb_version")" = "$version" ] || fail "$arch: version stamp"
  "${run[@]}" "$exe" --dir "$ws" status >"$scratch/status.out" || fail "$arch: status"
  grep -q "^QEV Scoreboard v$version — status" "$scratch/status.out" || fail "$arch: status banner"
  # The loader's trace goes to the program's own loader: under qemu, through -E.
  local trace=(env LD_DEBUG=files)
  [ "$arch" = amd64 ] || trace=("${run[@]}" -E LD_DEBUG=files)
  (cd "$ws" && "${trace[@]}" "$exe" verify) >"$scratch/verify.out" 2>"$scratch/verify.ld" || fail "$arch: verify"
  grep -q "\[OK\] *Veritabanı motoru: DuckDB" "$scratch/verify.out" || fail "$arch: verify: no DuckDB:"$'\n'"$(cat "$scratch/verify.out")"
  grep -q "file=$root/usr/lib/qev-scoreboard/libduckdb.so .*generating link map" "$scratch/verify.ld" \
    || fail "$arch: verify did not load the private DuckDB of the unpacked tree"
  [ "$("${run[@]}" "$exe" version)" = "qev_scoreboard $version" ] || fail "$arch: version"
  # The completions, written from the command table on the build machine whatever the target: bash, zsh
  # and fish complete with them at a terminal; every architecture's are the same.
  local completion
  if [ "$arch" = amd64 ]; then
    /usr/bin/python3 -B tests/completions_test.py "$root/usr/share" "$exe" Bash Zsh Fish >&2 || fail "$arch: completions"
  elif [ -d "$scratch/root-amd64" ]; then
    for completion in bash-completion/completions/qev-scoreboard zsh/vendor-completions/_qev-scoreboard \
      fish/vendor_completions.d/qev-scoreboard.fish; do
      cmp -s "$root/usr/share/$completion" "$scratch/root-amd64/usr/share/$completion" ||
        fail "$arch: $completion differs from amd64's"
    done
  fi

  # The Python module: this machine's Python loads only this machine's library.
  if [ "$arch" = amd64 ]; then
    /usr/bin/python3 -B tests/python_module_test.py "$root/usr/lib/python3/dist-packages" \
      "$root/usr/lib/libqev_scoreboard.so.1" "$root/usr/share/qev-scoreboard/notebooks" "$version" >&2 \
      || fail "Python module"
  fi

  local cross=()
  if [ "$arch" = arm64 ]; then
    local emulator
    emulator=$(IFS=';' && echo "${qemu[*]}")
    cross=(-DTOOLCHAIN_FILE="$top/cmake/toolchains/linux-arm64.cmake" "-DEMULATOR=$emulator"
           -DPKG_CONFIG_LIBDIR="/usr/lib/$multiarch/pkgconfig:/usr/share/pkgconfig")
  fi
  local cc=cc cxx=c++
  [ "$arch" = amd64 ] || { cc=$multiarch-gcc; cxx=$multiarch-g++; }
  cmake -DPREFIX="$root/usr" -DSYSROOT="$root" -DCONSUMER_SRC="$top/tests/consumer" -DSCRATCH="$scratch/consumer-$arch" \
    -DVERSION="$version" -DLIBDIR=lib -DPKGCONFIG_DIR="lib/$multiarch/pkgconfig" -DGENERATOR=Ninja \
    -DCXX_COMPILER="$cxx" -DC_COMPILER="$cc" -DPKG_CONFIG=pkg-config "${cross[@]}" \
    -P tests/installed_consumer_test.cmake >&2 || fail "$arch: consumer build against the unpacked tree"

  echo "== $arch: wheel ${wheels_arch[0]##*/}" >&2
  /usr/bin/python3 -B tests/wheel_test.py "${wheels_arch[0]}" "$version" data/notebooks "${run[@]}" >&2 \
    || fail "$arch: wheel"
}

checked=()
for target in linux-x64 linux-arm64; do
  [[ " ${targets[*]} " == *" $target "* ]] || continue
  case $target in linux-x64) arch=amd64 ;; linux-arm64) arch=arm64 ;; esac
  check_arch "$arch"
  checked+=("$arch")
done
[ "${#wheels[@]}" -eq "${#checked[@]}" ] || fail "${#wheels[@]} wheels for ${#checked[@]} architectures:"$'\n'"$out"

if [[ " ${checked[*]} " == *" arm64 "* ]]; then
  echo "== arm64 against amd64: the same bytes on the same inputs" >&2
  start=$SECONDS
  python3 -B tests/same_output_test.py "$scratch/root-amd64/usr/bin/qev-scoreboard" \
    "$scratch/root-arm64/usr/bin/qev-scoreboard" "${qemu[@]}" >&2 || fail "the arm64 program's output differs"
  echo "(same-output check: $((SECONDS - start)) s)" >&2
fi

echo "package checks passed: ${printed[*]##*/}" >&2
