"""Shared pieces of the end-to-end safety tests: the built program, its shared library and its package
data, run as root or as the unprivileged user, in throw-away directories.

Every test script takes: PROGRAM LIBRARY PACKAGE_DATA_DIR [unittest arguments...]
"""
import ctypes
import hashlib
import json
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

if len(sys.argv) < 4:
    sys.exit(f"usage: {sys.argv[0]} PROGRAM LIBRARY PACKAGE_DATA_DIR [unittest args]")
PROGRAM = Path(sys.argv[1]).resolve()
LIBRARY = Path(sys.argv[2]).absolute()
DATA_DIR = Path(sys.argv[3]).resolve()
NOTEBOOKS = DATA_DIR / "notebooks"
INGEST = "nb_01_ingest.ipynb"
NOBODY = 65534
PROG = "qev-scoreboard"
# Any single run that takes longer than this is taken for a hang.
RUN_TIMEOUT = 60


def main():
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:])


def is_root():
    return os.geteuid() == 0


def needs_root(cls_or_fn):
    return unittest.skipUnless(is_root(), "needs root to set owners and to become nobody")(cls_or_fn)


def linux_calls(reason):
    """Skips a check in the build on the portable POSIX calls, which cannot do what it checks."""
    return unittest.skipIf(os.environ.get("QEV_POSIX_FALLBACKS") == "1", f"the portable build {reason}")


def package_notebooks(nb_dir=NOTEBOOKS):
    return sorted(p.name for p in Path(nb_dir).iterdir() if p.name.endswith(".ipynb") and p.name != INGEST)


def version():
    out = subprocess.run([str(PROGRAM), "version"], capture_output=True, check=True, timeout=RUN_TIMEOUT)
    return out.stdout.decode().strip().split(" ", 1)[1]


def default_signals():
    # The runs under test see the signal dispositions of an ordinary shell, whatever ours are.
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE):
        signal.signal(sig, signal.SIG_DFL)


def run(args, as_nobody=False, timeout=RUN_TIMEOUT, program=None, env=None, cwd=None):
    """Runs the program (or another command when `program` is False) and returns the CompletedProcess;
    a run that outlives `timeout` is killed and raises subprocess.TimeoutExpired."""
    cmd = ([] if program is False else [str(program or PROGRAM)]) + [str(a) for a in args]
    if as_nobody:
        cmd = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"] + cmd
    return subprocess.run(cmd, capture_output=True, timeout=timeout, env=env, cwd=cwd, preexec_fn=default_signals)


def stderr_text(proc):
    return proc.stderr.decode("utf-8", "replace")


def chown_tree(path, uid=NOBODY, gid=NOBODY):
    os.lchown(path, uid, gid)
    for root, dirs, files in os.walk(path):
        for name in dirs + files:
            os.lchown(os.path.join(root, name), uid, gid)


class Scratch:
    """A temporary directory that the unprivileged user can reach (mode 0755), removed afterwards."""

    def __init__(self, base=None):
        self.path = Path(tempfile.mkdtemp(prefix="qev-safety-", dir=base))
        os.chmod(self.path, 0o755)

    def __enter__(self):
        return self.path

    def __exit__(self, *exc):
        # Restore what the tests took away so the tree can be removed.
        for root, dirs, _ in os.walk(self.path):
            for d in dirs:
                p = os.path.join(root, d)
                if not os.path.islink(p):
                    os.chmod(p, 0o755)
        shutil.rmtree(self.path, ignore_errors=True)


def make_prefix(dest):
    """Copies the built program, its libraries and package data into `dest` (bin/ lib/ share/), readable
    by everyone: the program finds its package data relative to its own location, so a test can change
    the package there. Returns (program, data_dir)."""
    root = PROGRAM.parent.parent
    dest = Path(dest)
    dest.mkdir(parents=True, exist_ok=True)
    for sub in ("bin", "lib", "share"):
        # Program and libraries are never changed by a test: hard links save copying the database
        # runtime each time. The package data is copied, as tests change it.
        if sub != "share" and subprocess.run(["cp", "-al", str(root / sub), str(dest / sub)],
                                             capture_output=True).returncode == 0:
            continue
        shutil.rmtree(dest / sub, ignore_errors=True)
        subprocess.run(["cp", "-a", str(root / sub), str(dest / sub)], check=True)
    data = dest / DATA_DIR.relative_to(root)
    for p in [dest] + [Path(r) / d for r, ds, _ in os.walk(dest) for d in ds]:
        os.chmod(p, os.stat(p).st_mode | 0o755)
    return dest / PROGRAM.relative_to(root), data


def prefix_library(prefix):
    return Path(prefix) / LIBRARY.relative_to(PROGRAM.parent.parent)



def enter_scratch(add_cleanup):
    """A Scratch directory removed by `add_cleanup` (a test's addCleanup, or a class's addClassCleanup)."""
    scratch = Scratch()
    add_cleanup(scratch.__exit__, None, None, None)
    return scratch.__enter__()

def recorded(ws):
    """The record of installed files as {name: fingerprint}, whichever form each entry takes."""
    record = json.loads((Path(ws) / "db" / ".nb_installed.json").read_text())
    return {name: entry if isinstance(entry, str) else entry["fingerprint"] for name, entry in record.items()}


def record_as_installed(ws, name):
    """Makes the record of installed files say that `name` holds what it holds now, as if a run of an
    earlier version had installed it so: it then counts as the package's, not the user's work."""
    record_file = Path(ws) / "db" / ".nb_installed.json"
    record = json.loads(record_file.read_text())
    record[name] = hashlib.sha256((Path(ws) / name).read_bytes()).hexdigest()[:16]
    st = os.stat(record_file)
    record_file.write_text(json.dumps(record, indent=2, ensure_ascii=False))
    os.chown(record_file, st.st_uid, st.st_gid)


def workdir(parent, name="ws", stamp=None):
    """A work directory prepared by a first init; `stamp`, when given, then replaces the version stamp
    so the next run sees an older package version."""
    ws = Path(parent) / name
    proc = run(["--dir", ws, "init"])
    assert proc.returncode == 0, stderr_text(proc)
    if stamp is not None:
        (ws / "db" / ".nb_version").write_text(stamp)
    return ws


# A sync through ctypes in a child process, so that the library is loaded afresh and the child may run
# as another user or from another directory. Prints the status, then the last error, on two lines.
SYNC_CHILD = r"""
import ctypes, os, sys
lib = ctypes.CDLL(sys.argv[1])
lib.qev_scoreboard_sync_notebooks.argtypes = [ctypes.c_char_p]
lib.qev_scoreboard_sync_notebooks.restype = ctypes.c_int
lib.qev_scoreboard_last_error.restype = ctypes.c_char_p
if len(sys.argv) > 3:
    os.chdir(sys.argv[3])
status = lib.qev_scoreboard_sync_notebooks(os.fsencode(sys.argv[2]))
sys.stdout.flush()
err = lib.qev_scoreboard_last_error().decode("utf-8", "replace")
sys.stderr.write(f"@@status={status}\n@@error={err}\n")
"""


def sync_in_child(library, ws, as_nobody=False, cwd=None, chdir_to=None, timeout=RUN_TIMEOUT):
    """Returns (status, last_error, stdout text)."""
    args = [sys.executable, "-c", SYNC_CHILD, str(library), str(ws)] + ([str(chdir_to)] if chdir_to else [])
    proc = run(args, as_nobody=as_nobody, program=False, cwd=cwd, timeout=timeout)
    err = stderr_text(proc)
    fields = dict(line[2:].split("=", 1) for line in err.splitlines() if line.startswith("@@"))
    if "status" not in fields:
        raise AssertionError(f"the child died (status {proc.returncode}): {err}")
    return int(fields["status"]), fields["error"], proc.stdout.decode("utf-8", "replace")


def load_library(path=LIBRARY):
    lib = ctypes.CDLL(str(path))
    lib.qev_scoreboard_sync_notebooks.argtypes = [ctypes.c_char_p]
    lib.qev_scoreboard_sync_notebooks.restype = ctypes.c_int
    lib.qev_scoreboard_last_error.argtypes = []
    lib.qev_scoreboard_last_error.restype = ctypes.c_char_p
    return lib


def file_type(path):
    return stat.S_IFMT(os.lstat(path).st_mode)


class PackageCase(unittest.TestCase):
    """A test class with its own copy of the program and package data, which its tests may change."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = enter_scratch(cls.addClassCleanup)
        cls.prefix = cls.tmp / "prefix"
        cls.program, cls.data = make_prefix(cls.prefix)
        cls.library = prefix_library(cls.prefix)
        cls.version = version()
        cls.count = 0

    def make_ws(self, stamp=None, parent=None):
        type(self).count += 1
        ws = Path(parent or self.tmp) / f"ws{self.count}"
        proc = run(["--dir", ws, "init"], program=self.program)
        self.assertEqual(proc.returncode, 0, stderr_text(proc))
        if stamp is not None:
            (ws / "db" / ".nb_version").write_text(stamp)
        return ws

    def init(self, ws, *options, as_nobody=False, wrap=()):
        cmd = list(wrap) + [str(self.program), "--dir", str(ws), "init", *options]
        if as_nobody:
            cmd = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"] + cmd
        return run(cmd, program=False)

    def package_notebook(self, name="qev_pipeline.ipynb"):
        return self.data / "notebooks" / name

    def replace_package_notebook(self, content):
        package = self.package_notebook()
        self.addCleanup(package.write_bytes, package.read_bytes())
        package.write_bytes(content)
