#!/usr/bin/env python3
"""The Windows build under wine, beside the Linux build: what only the Windows build has to show. The
reports themselves are compared by same_output_test.py.

    wine_test.py LINUX_BUILD_DIR WINDOWS_BUILD_DIR [unittest args]

WINEPREFIX and WINEDEBUG come from the environment (scripts/check_windows.sh sets them).
"""
import ctypes
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from mid_copy import first_while_running, installation_with_a_big_notebook

if len(sys.argv) < 3:
    sys.exit(__doc__)
LINUX = Path(sys.argv[1]).resolve()
WINDOWS = Path(sys.argv[2]).resolve()
SOURCE = Path(__file__).resolve().parents[2]
RUN_TIMEOUT = 120
LINE_FN = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_void_p)


def wine(*args, cwd):
    return subprocess.run(["wine", *map(str, args)], capture_output=True, cwd=cwd, timeout=RUN_TIMEOUT,
                          stdin=subprocess.DEVNULL)


def objdump(path):
    return subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(path)], capture_output=True, text=True,
                          check=True).stdout


def listing(root):
    return sorted(str(p.relative_to(root)) for p in root.rglob("*"))


# The folder of a run's kept copies is named by the time of the run, which differs between two runs.
KEPT_FOLDER = re.compile(r"yedek([/\\])\d{8}-\d{6}(?:-\d+)?")


def without_run_time(text):
    return KEPT_FOLDER.sub(lambda m: f"yedek{m.group(1)}ZAMAN", text)


def contents(root):
    """Every file's bytes by name; of the record of installed files, the fingerprints alone (the facts it
    keeps of each file differ from system to system)."""
    def bytes_of(p):
        if p.relative_to(root) != Path("db") / ".nb_installed.json":
            return p.read_bytes()
        record = json.loads(p.read_bytes())
        return {name: entry if isinstance(entry, str) else entry["fingerprint"] for name, entry in record.items()}
    return {without_run_time(str(p.relative_to(root))): bytes_of(p) for p in sorted(root.rglob("*")) if p.is_file()}


class Linking(unittest.TestCase):
    def test_no_mingw_runtime_is_needed(self):
        for name in ("qev-scoreboard.exe", "qev_scoreboard.dll", "qev_sync_through_dll.exe"):
            imports = re.findall(r"DLL Name: (\S+)", objdump(WINDOWS / "bin" / name))
            self.assertIn("KERNEL32.dll", imports, name)
            self.assertFalse([d for d in imports if re.match(r"(?i)lib(stdc|gcc|winpthread)", d)], (name, imports))

    def test_the_dll_exports_its_interface_and_nothing_else(self):
        header = (SOURCE / "include" / "qev_scoreboard" / "qev_scoreboard.h").read_text()
        declared = set(re.findall(r"QEV_SCOREBOARD_API[^;(]*\b(qev_scoreboard_\w+)\(", header))
        table = objdump(WINDOWS / "bin" / "qev_scoreboard.dll").split("[Ordinal/Name Pointer] Table", 1)[1]
        exported = set(re.findall(r"^\s+\[\s*\d+\]\s+(\S+)$", table, re.M))
        self.assertEqual({e for e in exported if not e.startswith("_Z")}, declared)
        # The C++ entry point, and nothing else of the namespace or the standard library.
        self.assertEqual({e for e in exported if e.startswith("_Z")},
                         {e for e in exported if e.startswith("_ZN14qev_scoreboard15_sync_notebooks")})
        self.assertEqual(len(exported), len(declared) + 1, exported)


class UnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = Path(tempfile.mkdtemp(prefix="qev-wine-"))
        cls.addClassCleanup(shutil.rmtree, cls.tmp, ignore_errors=True)

    def initialised(self, name):
        """A work directory `name/ws` the Linux program has initialised, with an older stamp and one
        notebook edited by the user, as the auto-sync finds it after an upgrade."""
        ws = self.tmp / name / "ws"
        proc = subprocess.run([LINUX / "bin" / "qev-scoreboard", "--dir", ws, "init"], capture_output=True)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        (ws / "db" / ".nb_version").write_text("0.9.0")
        edited = sorted(ws.glob("nb_*.ipynb"))[1]
        edited.write_bytes(edited.read_bytes() + b"\n")
        return ws

    def test_sync_through_the_dll_matches_linux(self):
        for name, breakage in (("synced", None), ("blocked", "db")):
            ws = self.initialised(name)
            if breakage:  # a file where the sync needs a directory
                shutil.rmtree(ws / breakage)
                (ws / breakage).write_text("")
            copy = self.tmp / (name + "_win") / "ws"
            shutil.copytree(ws, copy)
            lib = ctypes.CDLL(str(LINUX / "lib" / "libqev_scoreboard.so.1"))
            lib.qev_scoreboard_sync_notebooks_cb.argtypes = [ctypes.c_char_p, LINE_FN, ctypes.c_void_p]
            lines = []
            cb = LINE_FN(lambda line, _: lines.append(line.decode()))
            here = os.getcwd()
            os.chdir(ws.parent)
            try:
                rc = lib.qev_scoreboard_sync_notebooks_cb(b"ws", cb, None)
            finally:
                os.chdir(here)
            if rc != 0:
                lib.qev_scoreboard_last_errno.restype = ctypes.c_int
                for fn in ("last_error", "last_error_path", "last_error_reason"):
                    getattr(lib, "qev_scoreboard_" + fn).restype = ctypes.c_char_p
                lines += [f"hata: {lib.qev_scoreboard_last_error().decode()}",
                          f"errno: {lib.qev_scoreboard_last_errno()}",
                          f"yol: {lib.qev_scoreboard_last_error_path().decode()}",
                          f"neden: {lib.qev_scoreboard_last_error_reason().decode()}"]
            proc = wine(WINDOWS / "bin" / "qev_sync_through_dll.exe", "ws", cwd=copy.parent)
            with self.subTest(name):
                self.assertEqual(proc.returncode, rc, proc.stderr)
                # Paths print with the system's separator: the work directory's, and a kept copy's.
                expected = "".join(l.replace("ws/", "ws\\") + "\n" for l in lines)
                expected = re.sub(r"Yedeklendi: (\S+)", lambda m: "Yedeklendi: " + m.group(1).replace("/", "\\"),
                                  expected)
                self.assertEqual(without_run_time(proc.stdout.decode()), without_run_time(expected))
                self.assertEqual(contents(copy), contents(ws))
                self.assertEqual(rc != 0, breakage is not None)

    def test_a_work_directory_with_turkish_letters_through_the_dll(self):
        # The DLL takes UTF-8 whatever the code page: such a name must reach the directory it names, not a
        # new one spelled in the ANSI code page (a Turkish user's home directory is named so).
        ws = self.initialised("turkce")
        named = ws.parent / "senkron_ğüşİ"
        ws.rename(named)
        before = sorted(p.name for p in named.parent.iterdir())
        proc = wine(WINDOWS / "bin" / "qev_sync_through_dll.exe", named.name, cwd=named.parent)
        out = proc.stdout.decode("utf-8", "replace")
        self.assertEqual(proc.returncode, 0, out + proc.stderr.decode("utf-8", "replace"))
        self.assertTrue(out.startswith("  [SYNC] Notebook'lar güncellendi: v0.9.0 → v"), out)
        self.assertEqual(sorted(p.name for p in named.parent.iterdir()), before)
        self.assertNotEqual((named / "db" / ".nb_version").read_text(), "0.9.0")
        [kept] = (named / "yedek").iterdir()
        self.assertIn(f"  [SYNC] Yedeklendi: yedek\\{kept.name}\\", out)

    def test_the_status_report_as_data_through_the_dll(self):
        # The JSON of the Windows library on a work directory with a Turkish name, a raw file, a stale step
        # and no database, against the Linux library's on the same directory: the same data but for the
        # paths' separator.
        ws = self.initialised("durum")
        ws = ws.rename(ws.parent / "durum_ğüşİ")
        (ws / "external_data" / "kik_data_ham_csv" / "2024.csv").write_text("id\n1\n")
        meta = ws / "seasons" / "2025" / "meta"
        meta.mkdir(parents=True)
        (meta / "adim_02_bronze.json").write_text('{"nb_hash": "0123456789abcdef"}')
        lib = ctypes.CDLL(str(LINUX / "lib" / "libqev_scoreboard.so.1"))
        lib.qev_scoreboard_status_json.argtypes = [ctypes.c_char_p]
        lib.qev_scoreboard_status_json.restype = ctypes.c_void_p
        lib.qev_scoreboard_free.argtypes = [ctypes.c_void_p]
        here = os.getcwd()
        os.chdir(ws.parent)
        try:
            got = lib.qev_scoreboard_status_json(ws.name.encode())
            linux = json.loads(ctypes.string_at(got).decode())
            lib.qev_scoreboard_free(got)
        finally:
            os.chdir(here)
        proc = wine(WINDOWS / "bin" / "qev_sync_through_dll.exe", "--status", ws.name, cwd=ws.parent)
        self.assertEqual(proc.returncode, 0, proc.stdout.decode("utf-8", "replace"))
        windows = json.loads(proc.stdout.decode())
        self.assertEqual(windows["work_dir"], ws.name)
        self.assertEqual(windows["database"]["path"], ws.name + "\\db\\qev.duckdb")
        linux["database"]["path"] = windows["database"]["path"]
        self.assertEqual(windows, linux)
        self.assertEqual(windows["external_data"][0]["entries"], 1)
        self.assertEqual([(s["code"], s["stale"]) for s in windows["steps"]], [("02_bronze", True)])

    def test_a_reader_that_stops_reading_ends_the_run_quietly(self):
        # `qev-scoreboard status | more` quit at once: the pipe's reading end is gone before the first line.
        # The run ends as SIGPIPE ends it on Linux, with the status a shell shows there (141), and nothing
        # on standard error.
        ws = self.initialised("pipe")
        for args in (["status"], ["status", "--json"], ["version"], ["init"]):
            read, write = os.pipe()
            os.close(read)
            try:
                proc = subprocess.run(["wine", WINDOWS / "bin" / "qev-scoreboard.exe", "--dir", "ws", *args],
                                      stdout=write, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                                      cwd=ws.parent, timeout=RUN_TIMEOUT)
            finally:
                os.close(write)
            with self.subTest(args=args):
                self.assertEqual((proc.returncode, proc.stderr.decode("utf-8", "replace")), (141, ""))
        # Where the output is read, the same run is as it was.
        proc = wine(WINDOWS / "bin" / "qev-scoreboard.exe", "--dir", "ws", "status", cwd=ws.parent)
        self.assertEqual((proc.returncode, proc.stderr), (0, b""))

    def test_a_dry_run_changes_nothing_and_tells_what_linux_tells(self):
        # Over a directory with the user's edit and an older stamp: nothing changes, and the preview is
        # Linux's but for the separator (the kept-copy folder's second may differ between the two runs).
        ws = self.initialised("onizleme")
        before = (listing(ws), contents(ws))
        linux = subprocess.run([LINUX / "bin" / "qev-scoreboard", "--dir", "ws", "init", "--dry-run"],
                               capture_output=True, cwd=ws.parent)
        proc = wine(WINDOWS / "bin" / "qev-scoreboard.exe", "--dir", "ws", "init", "--dry-run", cwd=ws.parent)
        self.assertEqual((proc.returncode, proc.stderr), (0, b""))
        self.assertEqual((listing(ws), contents(ws)), before)
        self.assertIn("YEDEKLENDİ", proc.stdout.decode())
        self.assertEqual(without_run_time(proc.stdout.decode().replace("\\", "/")),
                         without_run_time(linux.stdout.decode()))
        # On a path that is not there yet, not even the working directory is made.
        proc = wine(WINDOWS / "bin" / "qev-scoreboard.exe", "--dir", "yeni\\ws", "init", "--dry-run", cwd=ws.parent)
        self.assertEqual((proc.returncode, proc.stderr), (0, b""))
        self.assertFalse((ws.parent / "yeni").exists())

    def test_an_interrupted_replacement_leaves_nothing_behind(self):
        # A copy of the installation whose package holds a notebook large enough to be caught mid-copy.
        prefix = installation_with_a_big_notebook(WINDOWS, self.tmp / "prefix")
        ws = self.initialised("interrupted")
        before = listing(ws)
        proc = subprocess.Popen(["wine", prefix / "bin" / "qev-scoreboard.exe", "--dir", "ws", "init"],
                                cwd=ws.parent, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)
        try:
            caught = first_while_running(proc, lambda: (p for p in ws.iterdir() if p.name not in before))
            self.assertIsNotNone(caught, "never saw the large copy under way")
            self.assertIsNone(proc.poll(), "the copy ended before the interrupt")
            proc.send_signal(signal.SIGINT)  # wine hands it to the program as Ctrl+C
            _, err = proc.communicate(timeout=60)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        # The user's edit was kept before the interrupt: that copy is meant to stay; nothing else is.
        left = [p for p in listing(ws) if p != "yedek" and not p.startswith("yedek" + os.sep)]
        self.assertEqual(left, before, f"left behind after Ctrl+C (status {proc.returncode}): {err!r}")
        # Ended as Windows ends an interrupted program (STATUS_CONTROL_C_EXIT, whose low byte wine hands
        # on), never as a success.
        self.assertEqual(proc.returncode, 0xC000013A & 0xFF, err)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
