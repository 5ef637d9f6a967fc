#!/usr/bin/env python3
"""The Python module qev_scoreboard_cli as the pipeline's notebooks use it, from a build or installed tree.

Usage: python_module_test.py MODULE_DIR LIBRARY PACKAGE_NOTEBOOK_DIR VERSION
MODULE_DIR holds the qev_scoreboard_cli package; LIBRARY is the library it must load.
"""
import os
import re
import sys
import tempfile
import unittest
from pathlib import Path

MODULE_DIR, LIBRARY, NOTEBOOKS, VERSION = sys.argv[1:5]
sys.path.insert(0, MODULE_DIR)
import qev_scoreboard_cli  # noqa: E402

INGEST = "nb_01_ingest.ipynb"


def captured_stdout(call):
    """Runs call() with file descriptor 1 redirected, as the library writes there through C stdio."""
    sys.stdout.flush()
    saved = os.dup(1)
    with tempfile.TemporaryFile() as out:
        os.dup2(out.fileno(), 1)
        try:
            call()
        finally:
            os.dup2(saved, 1)
            os.close(saved)
        out.seek(0)
        return out.read().decode("utf-8")


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
            out = captured_stdout(lambda: self.assertIsNone(qev_scoreboard_cli.sync_notebooks(str(ws))))
            self.assertEqual(out, f"  [SYNC] Notebook'lar kopyalandı: v{VERSION} ({len(package)} dosya)\n")
            self.assertEqual(sorted(p.name for p in ws.glob("*.ipynb")), package)
            for name in package:
                self.assertEqual((ws / name).read_bytes(), (Path(NOTEBOOKS) / name).read_bytes(), name)
            self.assertEqual((ws / "db" / ".nb_version").read_bytes(), VERSION.encode())

            # Current now: silent, whichever form the path takes.
            self.assertEqual(captured_stdout(lambda: qev_scoreboard_cli.sync_notebooks(os.fsencode(ws))), "")
            self.assertEqual(captured_stdout(lambda: qev_scoreboard_cli.sync_notebooks(ws)), "")

            # An old stamp brings the notebooks back, through the path-like form.
            (ws / "db" / ".nb_version").write_text("0.9.0")
            (ws / package[0]).write_text("edited")
            out = captured_stdout(lambda: qev_scoreboard_cli.sync_notebooks(ws))
            self.assertIn(f"v{VERSION}", out)
            self.assertEqual((ws / package[0]).read_bytes(), (Path(NOTEBOOKS) / package[0]).read_bytes())

    def test_failure_raises_oserror_with_the_description(self):
        with tempfile.TemporaryDirectory() as tmp:
            ws = Path(tmp)
            (ws / "db").write_text("a file where the db directory belongs")
            with self.assertRaises(OSError) as caught:
                captured_stdout(lambda: qev_scoreboard_cli.sync_notebooks(ws))
            # The library's own description, whole: path, action and reason.
            description = qev_scoreboard_cli._lib.qev_scoreboard_last_error().decode()
            self.assertRegex(description, "^" + re.escape(f"{ws / 'db'}: dizin oluşturulamadı: ") + ".+")
            self.assertEqual(str(caught.exception), description)
            self.assertEqual(list(ws.glob("*.ipynb")), [])

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
