#!/usr/bin/env python3
"""Writes the Python wheel of one platform's installed tree, with nothing but the standard library.

Usage: build_wheel.py STAGED_TREE PLATFORM_TAG OUTDIR

STAGED_TREE is an installation prefix as `cmake --install` leaves it (bin/, lib/, share/, the Python
package somewhere below the prefix), with the binaries already stripped. PLATFORM_TAG is the wheel's platform
tag (manylinux_2_36_x86_64, win_amd64, ...), which must suit the tree: a Windows tag a tree of
Windows' program (bin/qev-scoreboard.exe and the DLLs beside it), any other a tree of the POSIX program.
Prints the path of the wheel written into OUTDIR.

In the wheel the package directory qev_scoreboard_cli/ is an installation prefix of its own: the
program, the libraries and the package data keep their places relative to one another there (bin/,
lib/, lib/qev-scoreboard/, share/qev-scoreboard/; on Windows both DLLs lie beside the program in bin/),
which is how they find each other; the shell completions keep theirs too (share/bash-completion/,
share/zsh/, share/fish/; share/powershell/ on Windows), for a shell to source. Headers, import libraries,
CMake and pkg-config files and the manual page are for the system packages and the zip only.

The command is no Python script: the tree's wheel-command/ (CMake's install component `wheel`) holds the
program built to lie in an environment's scripts directory, which finds its files in the package
directory of that environment; it goes to the wheel's scripts (<name>.data/scripts/), which installers
copy into bin/ (Scripts\ on Windows) as they are and record, so that uninstalling removes it.
"""
import base64
import csv
import hashlib
import io
import os
import re
import stat
import sys
import time
import zipfile
from pathlib import Path

PACKAGE = "qev_scoreboard_cli"
DISTRIBUTION = "qev-scoreboard-cli"
COMMAND = "qev-scoreboard"
COMMAND_DIR = "wheel-command"
PRIVATE_LIBDIR = "lib/qev-scoreboard"
DATADIR = "share/qev-scoreboard"
COMPLETIONS = ("share/bash-completion", "share/zsh", "share/fish", "share/powershell")
SOURCE = Path(__file__).resolve().parent.parent
COPYRIGHT = SOURCE / "packaging" / "copyright"
DEVELOPMENT_SUFFIXES = (".a", ".lib", ".la", ".pc", ".cmake", ".h", ".hpp")


def fail(message):
    sys.exit(f"build_wheel.py: {message}")


def python_package(tree):
    found = [p.parent for p in tree.rglob(f"{PACKAGE}/__init__.py")]
    if len(found) != 1:
        fail(f"{tree}: expected one {PACKAGE}/__init__.py, found {len(found)}")
    return found[0]


def regular_files(directory):
    """The regular files below `directory`, recursively, links to files taken as their target."""
    for path in sorted(directory.rglob("*")):
        if "__pycache__" in path.parts:
            continue
        if path.is_file():
            yield path


def shared_libraries(libdir):
    """The shared libraries directly in libdir, each once, under the name the loader asks for.

    A versioned library is installed as a chain of links (libx.so -> libx.so.1 -> libx.so.1.0.0); a
    wheel cannot hold links, so the library is shipped once, under the name of the link that points at
    the file itself (the run-time name, libx.so.1). The development link libx.so, pointing at that link,
    is left out.
    """
    entries = sorted(p for p in libdir.iterdir() if p.is_symlink() or p.is_file()) if libdir.is_dir() else []
    targets = {(libdir / os.readlink(p)).resolve() for p in entries if p.is_symlink()}
    for path in entries:
        if path.name.endswith(DEVELOPMENT_SUFFIXES):
            continue
        if path.is_symlink():
            target = libdir / os.readlink(path)
            if target.is_symlink() or not target.is_file():
                continue
            yield path.name, target
        elif path.resolve() not in targets:
            yield path.name, path


def is_windows(tag):
    return tag.startswith("win")


def scripts_dir(version):
    """Where in the wheel the files for the environment's scripts directory go."""
    return f"{PACKAGE}-{version}.data/scripts"


def wheel_files(tree, tag, version):
    """(name in the wheel, file to read) for everything the wheel installs, in a stable order."""
    files = []
    package = python_package(tree)
    files += [(f"{PACKAGE}/{p.relative_to(package).as_posix()}", p) for p in regular_files(package)]
    for top in ("bin", PRIVATE_LIBDIR, DATADIR, *COMPLETIONS):
        if (tree / top).is_dir():
            files += [(f"{PACKAGE}/{top}/{p.relative_to(tree / top).as_posix()}", p)
                      for p in regular_files(tree / top)]
    files += [(f"{PACKAGE}/lib/{name}", p) for name, p in shared_libraries(tree / "lib")]
    if (tree / COMMAND_DIR).is_dir():
        files += [(f"{scripts_dir(version)}/{p.name}", p) for p in regular_files(tree / COMMAND_DIR)]
    # A tree of the other system's build would give a wheel that installs but cannot run; one without the
    # command, a wheel without a command.
    program = f"{COMMAND}{'.exe' if is_windows(tag) else ''}"
    names = {name for name, _ in files}
    if f"{PACKAGE}/bin/{program}" not in names:
        fail(f"{tree}: no bin/{program}, the program of a {tag} wheel")
    if f"{scripts_dir(version)}/{program}" not in names:
        fail(f"{tree}: no {COMMAND_DIR}/{program}, the command of a {tag} wheel (cmake --install --component wheel)")
    return sorted(files)


def version_of(tree):
    text = (python_package(tree) / "__init__.py").read_text(encoding="utf-8")
    m = re.search(r'^__version__ = "([^"]+)"$', text, re.MULTILINE)
    if not m:
        fail(f"{tree}: no __version__ in {PACKAGE}/__init__.py")
    return m.group(1)


def metadata(version, tag):
    if is_windows(tag):
        system = ("SHA-256 comes from Windows' CNG; the bundled duckdb.dll needs the Microsoft Visual C++\n"
                  "2015-2022 runtime (x64).\n")
    else:
        system = "libcrypto (OpenSSL 3) is loaded from the system.\n"
    return (
        "Metadata-Version: 2.1\n"
        f"Name: {DISTRIBUTION}\n"
        f"Version: {version}\n"
        "Summary: QEV scoreboard pipeline: the qev-scoreboard command and the notebook auto-sync module\n"
        "License: Proprietary; the bundled DuckDB library under the MIT (Expat) licence, see copyright\n"
        "Requires-Python: >=3.8\n"
        "\n"
        f"The `{COMMAND}` command (init, status, version, verify) that prepares and inspects the working\n"
        "directories of the QEV credit-risk scoreboard pipeline, and the module qev_scoreboard_cli whose\n"
        "sync_notebooks(work_dir) brings the notebooks installed there up to the installed version.\n"
        "The program, its library, the DuckDB engine and the package notebooks are bundled.\n"
        + system
    )


def zip_info(name, mode, date_time):
    info = zipfile.ZipInfo(name, date_time)
    # 0755 with any run bit, else 0644: pip keeps the run bits it finds.
    info.external_attr = (stat.S_IFREG | (0o755 if mode & 0o111 else 0o644)) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def record_hash(data):
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


def build(tree, tag, outdir):
    tree = tree.resolve()
    version = version_of(tree)
    dist_info = f"{PACKAGE}-{version}.dist-info"
    wheel_name = f"{PACKAGE}-{version}-py3-none-{tag}.whl"
    # Reproducible: the same tree gives the same bytes.
    epoch = max(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")), 315532800)
    date_time = time.gmtime(epoch)[:6]

    # The programs and the libraries run, whatever mode the install gave them (DuckDB's comes as data).
    binaries = (f"{PACKAGE}/bin/", f"{PACKAGE}/lib/", f"{scripts_dir(version)}/")
    entries = [(name, path.read_bytes(), 0o755 if name.startswith(binaries) else path.stat().st_mode)
               for name, path in wheel_files(tree, tag, version)]
    # No console_scripts entry point: an installer would put a Python script in the command's place.
    generated = {
        "METADATA": metadata(version, tag),
        "WHEEL": f"Wheel-Version: 1.0\nGenerator: qev-scoreboard build_wheel.py\nRoot-Is-Purelib: false\nTag: py3-none-{tag}\n",
        "top_level.txt": f"{PACKAGE}\n",
        "copyright": COPYRIGHT.read_text(encoding="utf-8"),
    }
    entries += [(f"{dist_info}/{name}", text.encode("utf-8"), 0o644) for name, text in generated.items()]

    # Nothing of the build machine may travel: its paths would be wrong everywhere else.
    for name, data, _ in entries:
        for local in (tree, SOURCE):
            if str(local).encode() in data:
                fail(f"{name} names {local}, a path of this machine")

    record = io.StringIO()
    writer = csv.writer(record, lineterminator="\n")
    for name, data, _ in entries:
        writer.writerow([name, record_hash(data), len(data)])
    writer.writerow([f"{dist_info}/RECORD", "", ""])

    outdir.mkdir(parents=True, exist_ok=True)
    target = outdir / wheel_name
    partial = outdir / f".{wheel_name}.{os.getpid()}.tmp"
    try:
        with zipfile.ZipFile(partial, "w") as wheel:
            for name, data, mode in entries:
                wheel.writestr(zip_info(name, mode, date_time), data)
            # RECORD last, as installers expect.
            wheel.writestr(zip_info(f"{dist_info}/RECORD", 0o644, date_time), record.getvalue().encode())
        with open(partial, "rb") as f:
            os.fsync(f.fileno())
        os.chmod(partial, 0o644)
        os.replace(partial, target)
    finally:
        partial.unlink(missing_ok=True)
    return target


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__.split("\n\n")[1])
    tree, tag, outdir = Path(argv[1]), argv[2], Path(argv[3])
    if not re.fullmatch(r"[a-z0-9_]+", tag):
        fail(f"'{tag}' is no platform tag")
    if not tree.is_dir():
        fail(f"{tree}: not a directory")
    print(build(tree, tag, outdir.resolve()))


if __name__ == "__main__":
    main(sys.argv)
