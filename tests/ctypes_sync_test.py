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
import threading
import unittest
from pathlib import Path

LIBRARY, NOTEBOOKS, VERSION = sys.argv[1:4]
INGEST = "nb_01_ingest.ipynb"
LINE_FN = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_void_p)


class SyncThroughCtypes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lib = ctypes.CDLL(LIBRARY)
        cls.lib.qev_scoreboard_sync_notebooks.argtypes = [ctypes.c_char_p]
        cls.lib.qev_scoreboard_sync_notebooks.restype = ctypes.c_int
        cls.lib.qev_scoreboard_sync_notebooks_cb.argtypes = [ctypes.c_char_p, LINE_FN, ctypes.c_void_p]
        cls.lib.qev_scoreboard_sync_notebooks_cb.restype = ctypes.c_int
        for name in ("qev_scoreboard_last_error", "qev_scoreboard_last_error_path", "qev_scoreboard_last_error_reason"):
            getattr(cls.lib, name).argtypes = []
            getattr(cls.lib, name).restype = ctypes.c_char_p
        cls.lib.qev_scoreboard_last_errno.argtypes = []
        cls.lib.qev_scoreboard_last_errno.restype = ctypes.c_int

    def sync(self, work_dir):
        """Calls the C function with file descriptor 1 redirected; returns its status and output."""
        return self.sync_with(lambda: self.lib.qev_scoreboard_sync_notebooks(work_dir))

    def sync_with(self, call):
        """Runs call() with file descriptor 1 redirected; returns its result and what reached fd 1."""
        sys.stdout.flush()
        saved = os.dup(1)
        with tempfile.TemporaryFile() as captured:
            os.dup2(captured.fileno(), 1)
            try:
                status = call()
            finally:
                os.dup2(saved, 1)
                os.close(saved)
            captured.seek(0)
            return status, captured.read().decode("utf-8")

    def last_error(self):
        return self.lib.qev_scoreboard_last_error().decode("utf-8")

    def last_failure(self):
        """errno, path and reason of the calling thread's last failure."""
        return (self.lib.qev_scoreboard_last_errno(), self.lib.qev_scoreboard_last_error_path().decode("utf-8"),
                self.lib.qev_scoreboard_last_error_reason().decode("utf-8"))

    def test_first_sync_installs_notebooks_and_stamp(self):
        with tempfile.TemporaryDirectory() as tmp:
            ws = Path(tmp) / "çalışma dizini"
            # A directory that is not there (a mistyped path) is an error, and nothing is made of it.
            status, out = self.sync(os.fsencode(ws / "yok"))
            self.assertEqual((status, out), (1, ""))
            self.assertEqual(self.last_failure(),
                             (errno.ENOENT, str(ws / "yok"), "böyle bir dosya ya da dizin yok"))
            self.assertEqual(list(Path(tmp).iterdir()), [])

            ws.mkdir()
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
            self.assertEqual(self.last_failure(), (errno.ENOTDIR, str(ws / "db"), "bir dizin değil"))

        status, _ = self.sync(None)
        self.assertNotEqual(status, 0)
        self.assertIn("çalışma dizini verilmedi", self.last_error())
        self.assertEqual(self.last_failure(), (errno.EINVAL, "", "çalışma dizini verilmedi"))

    def test_callback_variant_per_thread(self):
        """Each thread's call hands its lines to its own callback only, never to fd 1, and keeps its own failure."""
        results = {}
        with tempfile.TemporaryDirectory() as tmp:
            barrier = threading.Barrier(4)

            def worker(i):
                ws = Path(tmp) / f"ws{i}"
                (ws / "db").mkdir(parents=True)
                # Even: a stale report to clean up; odd: a directory where a notebook goes.
                if i % 2:
                    (ws / "qev_pipeline.ipynb").mkdir()
                else:
                    (ws / "error_report.txt").write_bytes(b"\xff")
                lines = []
                callback = LINE_FN(lambda text, ctx: lines.append((text.decode(), ctx)))
                barrier.wait()
                status = self.lib.qev_scoreboard_sync_notebooks_cb(os.fsencode(ws), callback, i + 100)
                results[i] = (status, lines, self.last_error(), self.last_failure())

            threads = [threading.Thread(target=worker, args=(i,)) for i in range(4)]
            _, out = self.sync_with(lambda: [t.start() for t in threads] + [t.join() for t in threads])
            self.assertEqual(out, "")
            count = len([p for p in Path(NOTEBOOKS).glob("*.ipynb") if p.name != INGEST])
            for i, (status, lines, error, (err, path, reason)) in results.items():
                if i % 2:
                    notebook = str(Path(tmp) / f"ws{i}" / "qev_pipeline.ipynb")
                    self.assertEqual((status != 0, lines, err, path), (True, [], errno.EISDIR, notebook))
                    self.assertEqual(error, f"{notebook}: kopyalanamadı: {reason}")
                else:
                    self.assertEqual((status, error, err, path, reason), (0, "", 0, "", ""))
                    self.assertEqual(lines, [(f"  [SYNC] Notebook'lar kopyalandı: v{VERSION} ({count} dosya)", i + 100)])

        # A NULL callback drops the lines; the missing directory names this function.
        self.assertEqual(self.sync_with(lambda: self.lib.qev_scoreboard_sync_notebooks_cb(b"", LINE_FN(), None))[1], "")
        self.assertIn("qev_scoreboard_sync_notebooks_cb", self.last_error())

if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
