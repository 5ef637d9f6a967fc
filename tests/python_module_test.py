#!/usr/bin/env python3
"""The Python module qev_scoreboard_cli as the pipeline's notebooks use it, from a build or installed tree.

Usage: python_module_test.py MODULE_DIR LIBRARY PACKAGE_NOTEBOOK_DIR VERSION
MODULE_DIR holds the qev_scoreboard_cli package; LIBRARY is the library it must load.
"""
import contextlib
import errno
import io
import os
import pickle
import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

MODULE_DIR, LIBRARY, NOTEBOOKS, VERSION = sys.argv[1:5]
sys.path.insert(0, MODULE_DIR)
import qev_scoreboard_cli  # noqa: E402

INGEST = "nb_01_ingest.ipynb"


def captured_stdout(call):
    """Runs call() under contextlib.redirect_stdout; returns what it printed, after checking that nothing
    reached file descriptor 1 behind Python's back."""
    sys.stdout.flush()
    saved = os.dup(1)
    text = io.StringIO()
    with tempfile.TemporaryFile() as fd1:
        os.dup2(fd1.fileno(), 1)
        try:
            with contextlib.redirect_stdout(text):
                call()
        finally:
            os.dup2(saved, 1)
            os.close(saved)
        fd1.seek(0)
        assert fd1.read() == b"", "the module wrote file descriptor 1"
    return text.getvalue()


class PythonModule(unittest.TestCase):
    def test_version_and_library_of_its_own_tree(self):
        self.assertEqual(qev_scoreboard_cli.__version__, VERSION)
        self.assertEqual(Path(qev_scoreboard_cli.__file__).resolve().parent.parent, Path(MODULE_DIR).resolve())
        captured_stdout(lambda: self.assertRaises(OSError, qev_scoreboard_cli.sync_notebooks, ""))
        self.assertEqual(Path(qev_scoreboard_cli._lib._name).resolve(), Path(LIBRARY).resolve())

    def test_sync_takes_str_bytes_and_path(self):
        package = sorted(p.name for p in Path(NOTEBOOKS).glob("*.ipynb") if p.name != INGEST)
        with tempfile.TemporaryDirectory() as tmp:
            ws = Path(tmp) / "çalışma dizini"
            ws.mkdir()
            out = captured_stdout(lambda: self.assertIsNone(qev_scoreboard_cli.sync_notebooks(str(ws))))
            self.assertEqual(out, f"  [SYNC] Notebook'lar kopyalandı: v{VERSION} ({len(package)} dosya)\n")
            self.assertEqual(sorted(p.name for p in ws.glob("*.ipynb")), package)
            for name in package:
                self.assertEqual((ws / name).read_bytes(), (Path(NOTEBOOKS) / name).read_bytes(), name)
            self.assertEqual((ws / "db" / ".nb_version").read_bytes(), VERSION.encode())

            # Current now: silent, whichever form the path takes.
            self.assertEqual(captured_stdout(lambda: qev_scoreboard_cli.sync_notebooks(os.fsencode(ws))), "")
            self.assertEqual(captured_stdout(lambda: qev_scoreboard_cli.sync_notebooks(ws)), "")

            # An old stamp brings the notebooks back, through the path-like form; the edit is kept.
            (ws / "db" / ".nb_version").write_text("0.9.0")
            (ws / package[0]).write_text("edited")
            out = captured_stdout(lambda: qev_scoreboard_cli.sync_notebooks(ws))
            self.assertIn(f"v{VERSION}", out)
            self.assertEqual((ws / package[0]).read_bytes(), (Path(NOTEBOOKS) / package[0]).read_bytes())
            [kept] = (ws / "yedek").glob(f"*/{package[0]}")
            self.assertEqual(kept.read_text(), "edited")
            self.assertIn(f"  [SYNC] Yedeklendi: {kept.relative_to(ws)}\n", out)

    def test_failure_raises_the_matching_oserror(self):
        with tempfile.TemporaryDirectory() as tmp:
            ws = Path(tmp)
            (ws / "db").write_text("a file where the db directory belongs")
            with self.assertRaises(NotADirectoryError) as caught:
                captured_stdout(lambda: qev_scoreboard_cli.sync_notebooks(ws))
            e = caught.exception
            self.assertEqual((e.errno, e.strerror, e.filename), (errno.ENOTDIR, "bir dizin değil", str(ws / "db")))
            # The library's own description, whole: path, action and reason.
            description = qev_scoreboard_cli._lib.qev_scoreboard_last_error().decode()
            self.assertEqual(description, f"{ws / 'db'}: dizin oluşturulamadı: bir dizin değil")
            self.assertEqual(str(e), description)
            self.assertEqual(list(ws.glob("*.ipynb")), [])

            # A mistyped work directory is not made: the caller learns it is not there.
            with self.assertRaises(FileNotFoundError) as missing:
                qev_scoreboard_cli.sync_notebooks(ws / "yok" / "dizin")
            self.assertEqual(missing.exception.filename, str(ws / "yok" / "dizin"))
            self.assertFalse((ws / "yok").exists())

            # The same error, whole, across a process boundary.
            again = pickle.loads(pickle.dumps(e))
            self.assertIs(type(again), type(e))
            self.assertEqual((again.errno, again.strerror, again.filename, str(again)),
                             (e.errno, e.strerror, e.filename, str(e)))

            # bytes in, bytes out.
            with self.assertRaises(NotADirectoryError) as caught:
                qev_scoreboard_cli.sync_notebooks(os.fsencode(ws))
            self.assertEqual(caught.exception.filename, os.fsencode(ws / "db"))

        with self.assertRaises(OSError) as caught:
            qev_scoreboard_cli.sync_notebooks("")
        self.assertEqual((caught.exception.errno, caught.exception.filename), (errno.EINVAL, None))

    def test_a_failing_stdout_is_raised_after_the_work(self):
        class Broken(io.TextIOBase):
            def write(self, text):
                raise BrokenPipeError(errno.EPIPE, "closed")

        with tempfile.TemporaryDirectory() as tmp:
            ws = Path(tmp) / "ws"
            ws.mkdir()
            with contextlib.redirect_stdout(Broken()), self.assertRaises(BrokenPipeError):
                qev_scoreboard_cli.sync_notebooks(ws)
            self.assertEqual((ws / "db" / ".nb_version").read_text(), VERSION)

    def test_running_the_package_runs_the_program_of_its_tree(self):
        env = dict(os.environ, PYTHONPATH=MODULE_DIR)
        proc = subprocess.run([sys.executable, "-B", "-m", "qev_scoreboard_cli", "version"], cwd="/", env=env,
                              capture_output=True, timeout=60)
        self.assertEqual((proc.returncode, proc.stdout.decode()), (0, f"qev_scoreboard {VERSION}\n"), proc.stderr)
        proc = subprocess.run([sys.executable, "-B", "-m", "qev_scoreboard_cli", "--dir", "/", "bogus"], cwd="/",
                              env=env, capture_output=True, timeout=60)
        self.assertEqual(proc.returncode, 2, proc.stderr)
        self.assertIn("'bogus'", proc.stderr.decode())

    def test_unusable_arguments_are_refused_before_the_library(self):
        with tempfile.TemporaryDirectory() as tmp:
            # C would see only "<tmp>/ws": a directory the caller never named.
            with self.assertRaises(ValueError):
                qev_scoreboard_cli.sync_notebooks(os.path.join(tmp, "ws\0other"))
            self.assertFalse(os.path.exists(os.path.join(tmp, "ws")))
        with self.assertRaises(TypeError):
            qev_scoreboard_cli.sync_notebooks(42)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
