#!/usr/bin/env python3
"""The C function of the built library called through ctypes, as the pipeline's notebooks call it.

Usage: ctypes_sync_test.py LIBRARY PACKAGE_NOTEBOOK_DIR VERSION
"""
import ctypes
import errno
import os
import re
import sys
import tempfile
import unittest
from pathlib import Path

LIBRARY, NOTEBOOKS, VERSION = sys.argv[1:4]
INGEST = "nb_01_ingest.ipynb"


class SyncThroughCtypes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lib = ctypes.CDLL(LIBRARY)
        cls.lib.qev_scoreboard_sync_notebooks.argtypes = [ctypes.c_char_p]
        cls.lib.qev_scoreboard_sync_notebooks.restype = ctypes.c_int
        cls.lib.qev_scoreboard_last_error.argtypes = []
        cls.lib.qev_scoreboard_last_error.restype = ctypes.c_char_p

    def sync(self, work_dir):
        """Calls the C function with file descriptor 1 redirected; returns its status and output."""
        sys.stdout.flush()
        saved = os.dup(1)
        with tempfile.TemporaryFile() as captured:
            os.dup2(captured.fileno(), 1)
            try:
                status = self.lib.qev_scoreboard_sync_notebooks(work_dir)
            finally:
                os.dup2(saved, 1)
                os.close(saved)
            captured.seek(0)
            return status, captured.read().decode("utf-8")

    def last_error(self):
        return self.lib.qev_scoreboard_last_error().decode("utf-8")

    def test_first_sync_installs_notebooks_and_stamp(self):
        with tempfile.TemporaryDirectory() as tmp:
            ws = Path(tmp) / "çalışma dizini"
            status, out = self.sync(os.fsencode(ws))
            self.assertEqual(status, 0, self.last_error())
            self.assertEqual(self.last_error(), "")

            package = sorted(p.name for p in Path(NOTEBOOKS).glob("*.ipynb") if p.name != INGEST)
            self.assertEqual(sorted(p.name for p in ws.glob("*.ipynb")), package)
            for name in package:
                self.assertEqual((ws / name).read_bytes(), (Path(NOTEBOOKS) / name).read_bytes(), name)
            self.assertEqual((ws / "db" / ".nb_version").read_bytes(), VERSION.encode())
            self.assertEqual(out, f"  [SYNC] Notebook'lar kopyalandı: v{VERSION} ({len(package)} dosya)\n")

            self.assertEqual(self.sync(os.fsencode(ws)), (0, ""))  # now current: silent

    def test_failure_names_path_and_reason(self):
        with tempfile.TemporaryDirectory() as tmp:
            ws = Path(tmp)
            (ws / "db").write_text("a file where the db directory belongs")
            status, out = self.sync(os.fsencode(ws))
            self.assertNotEqual(status, 0)
            self.assertEqual(out, "")
            self.assertRegex(self.last_error(), "^" + re.escape(f"{ws / 'db'}: dizin oluşturulamadı: ") + ".+")
            self.assertEqual(list(ws.glob("*.ipynb")), [])

        status, _ = self.sync(None)
        self.assertNotEqual(status, 0)
        self.assertIn("çalışma dizini verilmedi", self.last_error())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
