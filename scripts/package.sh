#!/usr/bin/env bash
# Builds the release packages of the given targets and prints the absolute path of every artifact on
# standard output, one per line, each target's together; everything else goes to standard error.
#   scripts/package.sh [TARGET...]
#     linux-x64    (the default) Debian packages for amd64 and the x86_64 wheel, built with the `package` preset
#     linux-arm64  Debian packages for arm64 and the aarch64 wheel, cross-built with the `linux-arm64` preset
#     windows-x64  qev-scoreboard-<version>-windows-x64.zip and the win_amd64 wheel, cross-built with the
#                  `windows-x64` preset
#     all          every target above
# The artifacts are collected in build/packages/. The Debian packages have the same names on every
# architecture:
#   qev-scoreboard               the program, its manual page, bash, zsh and fish completions, the private DuckDB
#   qev-scoreboard-data          notebooks, data readme, step registry (Architecture: all)
#   libqev-scoreboard1           the shared library
#   libqev-scoreboard-dev        headers, CMake package, pkg-config file
#   python3-qev-scoreboard-cli   the Python module (ctypes; Architecture: all)
# The architecture-independent packages are printed once however many targets are built; every target
# makes them, and they must come out the same.
# Each target also makes the wheel qev_scoreboard_cli-VERSION-py3-none-PLATFORM.whl from its own install:
# the program, the libraries, the package data and the module, for pip (scripts/build_wheel.py). PLATFORM is
# manylinux_2_X_x86_64 or manylinux_2_X_aarch64, X the newest glibc symbol version its binaries need, or
# win_amd64.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
top=$PWD
exec 3>&1 1>&2
umask 022

all_targets=(linux-x64 linux-arm64 windows-x64)
usage() {  # usage EXIT_STATUS
  echo "usage: scripts/package.sh [TARGET...]   TARGET: ${all_targets[*]} all (default: linux-x64)" >&2
  exit "$1"
}

# The configure/build preset and the Debian architecture of a Linux target.
linux_preset() { case $1 in linux-x64) echo package ;; linux-arm64) echo linux-arm64 ;; esac; }
linux_debarch() { case $1 in linux-x64) echo amd64 ;; linux-arm64) echo arm64 ;; esac; }
# The machine in a Linux target's wheel tag.
linux_wheel_machine() { case $1 in linux-x64) echo x86_64 ;; linux-arm64) echo aarch64 ;; esac; }

# Strips the ELF files under ROOT as Debian does: no symbol tables, no compiler comments or notes.
strip_binaries() {  # strip_binaries ROOT STRIP: the target's strip
  local f
  while IFS= read -r -d '' f; do
    case $(file -b "$f") in
      ELF*shared\ object*) "$2" --remove-section=.comment --remove-section=.note --strip-unneeded "$f" ;;
      ELF*executable*) "$2" --remove-section=.comment --remove-section=.note "$f" ;;
    esac
  done < <(find "$1" -type f ! -path "$1/DEBIAN/*" -print0)
}

# The newest glibc symbol version any ELF file under ROOT needs, as MAJOR_MINOR: a manylinux tag must
# claim no older glibc than that.
glibc_needed() {  # glibc_needed ROOT OBJDUMP: the target's objdump
  local f symbols=""
  while IFS= read -r -d '' f; do
    case $(file -b "$f") in ELF*) symbols+=$("$2" -T "$f")$'\n' || return 1 ;; esac
  done < <(find "$1" -type f -print0)
  grep -oE 'GLIBC_[0-9]+\.[0-9]+' <<<"$symbols" | sort -uV | tail -1 | sed 's/GLIBC_//; s/\./_/' || true
}

# Writes the wheel of an installed tree whose binaries are already stripped, for any target (a Windows
# one passes win_amd64); prints its path on descriptor 3.
make_wheel() {  # make_wheel TREE PLATFORM_TAG OUTDIR
  echo "== wheel $2"
  /usr/bin/python3 "$top/scripts/build_wheel.py" "$1" "$2" "$3" >&3
}

# A Linux target's wheel, from the tree its Debian packages are made of.
linux_wheel() {  # linux_wheel TARGET TREE OUTDIR, with dpkg-architecture's variables of the target set
  local glibc
  strip_binaries "$2" "$DEB_HOST_GNU_TYPE-strip"
  glibc=$(glibc_needed "$2" "$DEB_HOST_GNU_TYPE-objdump")
  [ -n "$glibc" ] || { echo "$1: no glibc symbol version found in the wheel's binaries" >&2; exit 1; }
  make_wheel "$2" "manylinux_${glibc}_$(linux_wheel_machine "$1")" "$3"
}

# Builds one Linux target's Debian packages and wheel; prints each one's path on descriptor 3.
linux_target() {
  local target=$1 preset arch build version work src debver multiarch
  preset=$(linux_preset "$target")
  arch=$(linux_debarch "$target")
  build=build/$preset
  echo "== $target: building (preset $preset)"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"

  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  work="$top/$build/deb"
  rm -rf "$work"
  mkdir -p "$work/stage" "$work/src/debian" "$work/out"
  DESTDIR="$work/stage" cmake --install "$build" >/dev/null
  # The wheel is made of the same install, before the packages take their parts of it, and of its command.
  cp -a "$work/stage/usr" "$work/wheel"
  cmake --install "$build" --component wheel --prefix "$work/wheel" >/dev/null

  # dpkg's tools package for the target's architecture, with the target's binutils.
  eval "$(CC="$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)-gcc" dpkg-architecture -a"$arch" -s)"
  multiarch=$DEB_HOST_MULTIARCH

  # A throw-away Debian source tree, so that dpkg's own tools write the control files.
  src="$work/src"
  cp packaging/control "$src/debian/control"
  cp packaging/changelog "$src/debian/changelog"
  debver=$(cd "$src" && dpkg-parsechangelog -SVersion)
  if [ "${debver%-*}" != "$version" ]; then
    echo "packaging/changelog is at $debver, the project at $version: add a changelog entry" >&2
    exit 1
  fi
  # Packages whose content depends only on the sources come out the same on every build.
  SOURCE_DATE_EPOCH=$(cd "$src" && dpkg-parsechangelog -STimestamp)
  export SOURCE_DATE_EPOCH
  local packages=(qev-scoreboard qev-scoreboard-data libqev-scoreboard1 libqev-scoreboard-dev python3-qev-scoreboard-cli)

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
    usr/share/bash-completion/completions/qev-scoreboard usr/share/zsh/vendor-completions/_qev-scoreboard \
    usr/share/fish/vendor_completions.d/qev-scoreboard.fish
  take qev-scoreboard-data usr/share/qev-scoreboard
  take libqev-scoreboard1 usr/lib/libqev_scoreboard.so.1 "usr/lib/libqev_scoreboard.so.$version"
  take libqev-scoreboard-dev usr/include/qev_scoreboard usr/lib/libqev_scoreboard.so usr/lib/cmake/qev_scoreboard \
    "usr/lib/$multiarch/pkgconfig/qev_scoreboard.pc"
  take python3-qev-scoreboard-cli usr/lib/python3/dist-packages/qev_scoreboard_cli
  local left
  left=$(find . ! -type d)
  if [ -n "$left" ]; then
    echo "installed but in no package:" >&2
    echo "$left" >&2
    exit 1
  fi
  cd "$src"

  local pkg root script
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
    strip_binaries "$root" "$DEB_HOST_GNU_TYPE-strip"
  done

  # The library: its shlibs and symbols, and the ldconfig trigger.
  local lib=debian/libqev-scoreboard1
  echo "libqev_scoreboard 1 libqev-scoreboard1 (>= $version)" >"$lib/DEBIAN/shlibs"
  echo "activate-noawait ldconfig" >"$lib/DEBIAN/triggers"
  dpkg-gensymbols -a"$arch" -plibqev-scoreboard1 -P"$lib" -q -v"$version" -e"$lib/usr/lib/libqev_scoreboard.so.1" -c0 >&2
  sed -i '1a\* Build-Depends-Package: libqev-scoreboard-dev' "$lib/DEBIAN/symbols"

  # Depends on what the ELF files load; our own library resolves through the shlibs just written.
  local elves
  for pkg in qev-scoreboard libqev-scoreboard1; do
    mapfile -d '' elves < <(find "debian/$pkg" -type f ! -path "*/DEBIAN/*" -exec sh -c 'file -b "$1" | grep -q ^ELF' _ {} \; -print0)
    dpkg-shlibdeps -T"debian/$pkg.substvars" -S"$lib" -l"$lib/usr/lib" "${elves[@]}" >&2
  done

  local pkg_arch deb
  for pkg in "${packages[@]}"; do
    root="debian/$pkg"
    (cd "$root" && find . -type f ! -path './DEBIAN/*' -printf '%P\0' | LC_ALL=C sort -z | xargs -0r md5sum) >"$root/DEBIAN/md5sums"
    dpkg-gencontrol -p"$pkg" -P"$root" -T"debian/$pkg.substvars" -fdebian/files
    pkg_arch=$(sed -n 's/^Architecture: //p' "$root/DEBIAN/control")
    deb="$work/out/${pkg}_${debver}_${pkg_arch}.deb"
    dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
    echo "$deb" >&3
  done

  linux_wheel "$target" "$work/wheel" "$work/out"
}

# Builds the Windows zip: the installed tree (program, both DLLs, package data where the program finds it
# relative to itself, headers, import library, Python module) and a README, under one top directory; then
# the win_amd64 wheel of the same tree. Prints their paths on descriptor 3.
windows_target() {
  local build=build/windows-x64 version name work root f
  echo "== windows-x64: building (preset windows-x64)"
  cmake --preset windows-x64 >/dev/null
  cmake --build --preset windows-x64
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  name=qev-scoreboard-$version-windows-x64
  work="$top/$build/zip"
  rm -rf "$work"
  root="$work/$name"
  mkdir -p "$root"
  cmake --install "$build" --prefix "$root" >/dev/null
  sed "s/@VERSION@/$version/" packaging/windows/README.txt | sed 's/$/\r/' >"$root/README.txt"
  cp packaging/copyright "$root/COPYRIGHT.txt"
  # Linked statically: only the system's own DLLs (and DuckDB's, beside it) may be imported.
  if x86_64-w64-mingw32-objdump -p "$root/bin/qev-scoreboard.exe" "$root/bin/qev_scoreboard.dll" |
    grep -Ei 'DLL Name: lib(stdc|gcc|winpthread)'; then
    echo "the Windows build needs MinGW DLLs" >&2
    exit 1
  fi
  # The same bytes from the same sources: fixed times, sorted names, no extra fields.
  SOURCE_DATE_EPOCH=$(cd packaging && dpkg-parsechangelog -lchangelog -STimestamp)
  export SOURCE_DATE_EPOCH
  find "$work" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  (cd "$work" && find "$name" | LC_ALL=C sort | TZ=UTC zip -q -X -9 -@ "$name.zip")
  echo "$work/$name.zip" >&3
  # Linked stripped: the tree is the wheel's as it is, with the wheel's command.
  cp -a "$root" "$work/wheel"
  cmake --install "$build" --component wheel --prefix "$work/wheel" >/dev/null
  make_wheel "$work/wheel" win_amd64 "$work"
}

# The targets asked for, each once, in the order given.
targets=()
[ $# -gt 0 ] || set -- linux-x64
for arg in "$@"; do
  case $arg in
    all) asked=("${all_targets[@]}") ;;
    -h | --help) usage 0 ;;
    *) [[ " ${all_targets[*]} " == *" $arg "* ]] || { echo "unknown target: $arg" >&2; usage 2; }; asked=("$arg") ;;
  esac
  for t in "${asked[@]}"; do
    [[ " ${targets[*]} " == *" $t "* ]] || targets+=("$t")
  done
done

out="$top/build/packages"
mkdir -p "$out"
declare -A made_by=()
for target in "${targets[@]}"; do
  case $target in
    linux-*) made=$(linux_target "$target" 3>&1 1>&2) ;;
    windows-x64) made=$(windows_target 3>&1 1>&2) ;;
  esac
  while IFS= read -r artifact; do
    [ -n "$artifact" ] || continue
    name=$(basename "$artifact")
    if [ -n "${made_by[$name]:-}" ]; then
      # An architecture-independent package again: it must not depend on the target that made it.
      cmp -s "$artifact" "$out/$name" ||
        { echo "$name differs between ${made_by[$name]} and $target: $artifact, $out/$name" >&2; exit 1; }
      continue
    fi
    made_by[$name]=$target
    cp "$artifact" "$out/$name.part"
    mv "$out/$name.part" "$out/$name"
    echo "$out/$name" >&3
  done <<<"$made"
done
