#!/usr/bin/env bash
# Builds the release for /usr (the `package` preset), the Debian packages and the Python wheel made of it,
# and prints the path of each .deb and of the wheel on standard output, one per line; everything else goes
# to standard error.
#   qev-scoreboard               the program, its manual page and bash completion, the private DuckDB
#   qev-scoreboard-data          notebooks, data readme, step registry
#   libqev-scoreboard1           the shared library
#   libqev-scoreboard-dev        headers, CMake package, pkg-config file
#   python3-qev-scoreboard-cli   the Python module (ctypes)
# The wheel qev_scoreboard_cli-VERSION-py3-none-manylinux_2_X_x86_64.whl holds the program, the libraries,
# the package data and the module, for pip (scripts/build_wheel.py).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
exec 3>&1 1>&2
umask 022

build=build/package
cmake --preset package >/dev/null
cmake --build --preset package

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
work="$PWD/$build/deb"
rm -rf "$work"
mkdir -p "$work/stage" "$work/src/debian" "$work/out"
DESTDIR="$work/stage" cmake --install "$build" >/dev/null
# The wheel is made of the same install, before the packages take their parts of it.
cp -a "$work/stage/usr" "$work/wheel"

# Strip as Debian does: no symbol tables, no compiler comments or notes.
strip_binaries() {  # strip_binaries ROOT
  local f
  while IFS= read -r -d '' f; do
    case $(file -b "$f") in
      ELF*shared\ object*) strip --remove-section=.comment --remove-section=.note --strip-unneeded "$f" ;;
      ELF*executable*) strip --remove-section=.comment --remove-section=.note "$f" ;;
    esac
  done < <(find "$1" -type f ! -path "$1/DEBIAN/*" -print0)
}

# The newest glibc symbol version any ELF file under ROOT needs, as MAJOR_MINOR: a manylinux tag must
# claim no older glibc than that.
glibc_needed() {  # glibc_needed ROOT [OBJDUMP]: the target's objdump for a foreign architecture
  local f symbols=""
  while IFS= read -r -d '' f; do
    case $(file -b "$f") in ELF*) symbols+=$("${2:-objdump}" -T "$f")$'\n' || return 1 ;; esac
  done < <(find "$1" -type f -print0)
  grep -oE 'GLIBC_[0-9]+\.[0-9]+' <<<"$symbols" | sort -uV | tail -1 | sed 's/GLIBC_//; s/\./_/' || true
}

# A throw-away Debian source tree, so that dpkg's own tools write the control files.
src="$work/src"
cp packaging/control "$src/debian/control"
cp packaging/changelog "$src/debian/changelog"
debver=$(cd "$src" && dpkg-parsechangelog -SVersion)
if [ "${debver%-*}" != "$version" ]; then
  echo "packaging/changelog is at $debver, the project at $version: add a changelog entry" >&2
  exit 1
fi
packages=(qev-scoreboard qev-scoreboard-data libqev-scoreboard1 libqev-scoreboard-dev python3-qev-scoreboard-cli)

# Which package each installed path goes to; anything left over is an error, so nothing is lost.
take() {  # take PACKAGE PATH...
  local pkg=$1 path
  shift
  for path in "$@"; do
    [ -e "$work/stage/$path" ] || [ -L "$work/stage/$path" ] || { echo "not installed: /$path" >&2; exit 1; }
    mkdir -p "$src/debian/$pkg/$(dirname "$path")"
    mv "$work/stage/$path" "$src/debian/$pkg/$path"
  done
}
cd "$work/stage"
take qev-scoreboard usr/bin/qev-scoreboard usr/lib/qev-scoreboard usr/share/man/man1/qev-scoreboard.1 \
  usr/share/bash-completion/completions/qev-scoreboard
take qev-scoreboard-data usr/share/qev-scoreboard
take libqev-scoreboard1 usr/lib/libqev_scoreboard.so.1 "usr/lib/libqev_scoreboard.so.$version"
take libqev-scoreboard-dev usr/include/qev_scoreboard usr/lib/libqev_scoreboard.so usr/lib/cmake/qev_scoreboard \
  "usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/pkgconfig/qev_scoreboard.pc"
take python3-qev-scoreboard-cli usr/lib/python3/dist-packages/qev_scoreboard_cli
left=$(find . ! -type d)
if [ -n "$left" ]; then
  echo "installed but in no package:" >&2
  echo "$left" >&2
  exit 1
fi
cd "$src"

for pkg in "${packages[@]}"; do
  root="debian/$pkg"
  mkdir -p "$root/usr/share/doc/$pkg" "$root/DEBIAN"
  cp "$top/packaging/copyright" "$root/usr/share/doc/$pkg/copyright"
  gzip -9n <debian/changelog >"$root/usr/share/doc/$pkg/changelog.Debian.gz"
  if [ -f "$top/packaging/lintian/$pkg" ]; then
    mkdir -p "$root/usr/share/lintian/overrides"
    cp "$top/packaging/lintian/$pkg" "$root/usr/share/lintian/overrides/$pkg"
  fi
  for script in preinst postinst prerm postrm; do
    if [ -f "$top/packaging/maintscripts/$pkg.$script" ]; then
      install -m 0755 "$top/packaging/maintscripts/$pkg.$script" "$root/DEBIAN/$script"
    fi
  done
  find "$root" -path "$root/usr/share/man/*" -type f -name '*.[0-9]' -exec gzip -9n {} +
  # Debian's modes whatever the build left: 0755 directories and programs, 0644 everything else.
  find "$root" -type d -exec chmod 0755 {} +
  find "$root" -type f ! -path "$root/DEBIAN/*" -exec chmod 0644 {} +
  find "$root/usr/bin" -type f -exec chmod 0755 {} + 2>/dev/null || true
  strip_binaries "$root"
done

# The library: its shlibs and symbols, and the ldconfig trigger.
lib=debian/libqev-scoreboard1
echo "libqev_scoreboard 1 libqev-scoreboard1 (>= $version)" >"$lib/DEBIAN/shlibs"
echo "activate-noawait ldconfig" >"$lib/DEBIAN/triggers"
dpkg-gensymbols -plibqev-scoreboard1 -P"$lib" -q -v"$version" -e"$lib/usr/lib/libqev_scoreboard.so.1" -c0 >&2
sed -i '1a\* Build-Depends-Package: libqev-scoreboard-dev' "$lib/DEBIAN/symbols"

# Depends on what the ELF files load; our own library resolves through the shlibs just written.
for pkg in qev-scoreboard libqev-scoreboard1; do
  mapfile -d '' elves < <(find "debian/$pkg" -type f ! -path "*/DEBIAN/*" -exec sh -c 'file -b "$1" | grep -q ^ELF' _ {} \; -print0)
  dpkg-shlibdeps -T"debian/$pkg.substvars" -S"$lib" -l"$lib/usr/lib" "${elves[@]}" >&2
done

for pkg in "${packages[@]}"; do
  root="debian/$pkg"
  (cd "$root" && find . -type f ! -path './DEBIAN/*' -printf '%P\0' | LC_ALL=C sort -z | xargs -0r md5sum) >"$root/DEBIAN/md5sums"
  dpkg-gencontrol -p"$pkg" -P"$root" -T"debian/$pkg.substvars" -fdebian/files
  pkg_arch=$(sed -n 's/^Architecture: //p' "$root/DEBIAN/control")
  deb="$work/out/${pkg}_${debver}_${pkg_arch}.deb"
  dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
  echo "$deb" >&3
done

strip_binaries "$work/wheel"
glibc=$(glibc_needed "$work/wheel")
[ -n "$glibc" ] || { echo "no glibc symbol version found in the wheel's binaries" >&2; exit 1; }
/usr/bin/python3 "$top/scripts/build_wheel.py" "$work/wheel" "manylinux_${glibc}_x86_64" "$work/out" >&3
