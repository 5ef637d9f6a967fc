"""A Windows installation whose package holds a notebook large enough to catch a run in the middle of
copying it, and the wait for that moment, for the tests that stop a run there."""

import shutil
import time


def installation_with_a_big_notebook(windows, prefix):
    """Copies the installation `windows` to `prefix`, its package given a sparse 1 GiB notebook."""
    shutil.copytree(windows / "bin", prefix / "bin", ignore=shutil.ignore_patterns("*.a"))
    shutil.copytree(windows / "share", prefix / "share")
    with open(prefix / "share" / "qev-scoreboard" / "notebooks" / "nb_99_big.ipynb", "wb") as f:
        f.truncate(1 << 30)
    return prefix


def large(path):
    """Whether `path` is a file already 4 MiB long (a copy well under way); False once it is gone."""
    try:
        return path.is_file() and path.stat().st_size >= 4 << 20
    except FileNotFoundError:
        return False


def first_while_running(proc, candidates, timeout=60):
    """The first of `candidates()` (asked again every few milliseconds) that is large, while `proc` runs."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and proc.poll() is None:
        for path in candidates():
            if large(path):
                return path
        time.sleep(0.005)
    return None
