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

    def sync_cb(self, work_dir, ctx=None):
        """Calls the callback variant; returns its status, the lines it was handed with their ctx, and fd 1."""
        lines = []
        callback = LINE_FN(lambda text, got: lines.append((text.decode("utf-8"), got)))
        status, out = self.sync_with(lambda: self.lib.qev_scoreboard_sync_notebooks_cb(work_dir, callback, ctx))
        return status, lines, out

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
            self.assertTrue(self.last_error().endswith(": bir dizin değil"), self.last_error())

        status, _ = self.sync(None)
        self.assertNotEqual(status, 0)
        self.assertIn("çalışma dizini verilmedi", self.last_error())
        self.assertEqual(self.last_failure(), (errno.EINVAL, "", "çalışma dizini verilmedi"))

    def test_callback_variant_hands_lines_over_and_leaves_fd1_alone(self):
        with tempfile.TemporaryDirectory() as tmp:
            ws = Path(tmp) / "ws"
            (ws / "outputs").mkdir(parents=True)
            (ws / "outputs" / "error_report.txt").write_text("old")
            status, lines, out = self.sync_cb(os.fsencode(ws), ctx=ctypes.c_void_p(0xC0FFEE))
            self.assertEqual(status, 0, self.last_error())
            self.assertEqual(out, "")
            count = len([p for p in Path(NOTEBOOKS).glob("*.ipynb") if p.name != INGEST])
            self.assertEqual(lines, [(f"  [SYNC] Notebook'lar kopyalandı: v{VERSION} ({count} dosya)", 0xC0FFEE),
                                     ("  [SYNC] 1 eski error_report temizlendi", 0xC0FFEE)])
            self.assertEqual(self.last_failure(), (0, "", ""))

            # A NULL callback: the lines are dropped, not written to fd 1.
            (ws / "db" / ".nb_version").write_text("0.9.0")
            status, out = self.sync_with(lambda: self.lib.qev_scoreboard_sync_notebooks_cb(os.fsencode(ws), LINE_FN(), None))
            self.assertEqual((status, out), (0, ""))
            self.assertEqual((ws / "db" / ".nb_version").read_text(), VERSION)

            # The plain variant still writes fd 1; a success clears the previous failure.
            self.sync(None)
            (ws / "db" / ".nb_version").write_text("0.9.0")
            status, out = self.sync(os.fsencode(ws))
            self.assertEqual(status, 0)
            self.assertTrue(out.startswith("  [SYNC] Notebook'lar güncellendi: v0.9.0 → v" + VERSION), out)
            self.assertEqual((self.last_error(), self.last_failure()), ("", (0, "", "")))

    def test_callback_failures_describe_the_errno(self):
        with tempfile.TemporaryDirectory() as tmp:
            ws = Path(tmp) / "ws"
            (ws / "db").mkdir(parents=True)
            (ws / "db" / ".nb_version").write_bytes(b"\xff\xfe")
            status, lines, _ = self.sync_cb(os.fsencode(ws))
            self.assertNotEqual(status, 0)
            self.assertEqual(lines, [])
            err, path, reason = self.last_failure()
            self.assertEqual((err, path), (errno.EILSEQ, str(ws / "db" / ".nb_version")))
            self.assertEqual(self.last_error(), f"{path}: okunamadı: {reason}")

            status, _, _ = self.sync_cb(b"")
            self.assertNotEqual(status, 0)
            self.assertIn("qev_scoreboard_sync_notebooks_cb", self.last_error())
            self.assertEqual(self.last_failure()[0], errno.EINVAL)

    def test_each_thread_gets_its_own_lines_and_failure(self):
        results = {}
        with tempfile.TemporaryDirectory() as tmp:
            barrier = threading.Barrier(4)

            def worker(i):
                ws = Path(tmp) / f"ws{i}"
                if i % 2:
                    ws.mkdir()
                    (ws / "db").write_text("in the way")
                lines = []
                callback = LINE_FN(lambda text, ctx: lines.append(text.decode()))
                barrier.wait()
                status = self.lib.qev_scoreboard_sync_notebooks_cb(os.fsencode(ws), callback, None)
                results[i] = (status, lines, self.last_error(), self.last_failure())

            threads = [threading.Thread(target=worker, args=(i,)) for i in range(4)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            for i in range(4):
                status, lines, error, failure = results[i]
                if i % 2:
                    self.assertNotEqual(status, 0)
                    self.assertEqual(lines, [])
                    self.assertEqual(failure[:2], (errno.ENOTDIR, str(Path(tmp) / f"ws{i}" / "db")))
                    self.assertTrue(error.startswith(str(Path(tmp) / f"ws{i}" / "db") + ": "), error)
                else:
                    self.assertEqual((status, error, failure), (0, "", (0, "", "")))
                    self.assertEqual(len(lines), 1)
                    self.assertIn("kopyalandı", lines[0])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
