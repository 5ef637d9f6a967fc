#!/usr/bin/env python3
"""Windows as its users have it, under wine beside the Linux build: a Turkish user profile, every form of
path a user types, runs at once on one directory, and what failed or killed runs leave behind.

    windows_users_test.py LINUX_BUILD_DIR WINDOWS_BUILD_DIR [unittest args]

WINEPREFIX and WINEDEBUG come from the environment (scripts/check_windows.sh sets them); the prefix is the
checks' own: this test makes directories on its drive C: and adds a drive and a network share to it for
the time of a test.
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
PREFIX = Path(os.environ["WINEPREFIX"])
DRIVE_C = PREFIX / "drive_c"
EXE = WINDOWS / "bin" / "qev-scoreboard.exe"
DLL_CALLER = WINDOWS / "bin" / "qev_sync_through_dll.exe"
RUN_TIMEOUT = 120
# Where a Turkish analyst works: her profile's name and a folder of her own, both with Turkish letters.
PROFILE = r"C:\Users\Gülşen\Çalışma Alanı"
PROFILE_DIR = DRIVE_C / "users" / "Gülşen" / "Çalışma Alanı"
SERVER, SHARE = "qevsunucu", "paylasim"


def wine(program, *args, cwd):
    return subprocess.run(["wine", str(program), *map(str, args)], capture_output=True, cwd=cwd,
                          timeout=RUN_TIMEOUT, stdin=subprocess.DEVNULL)


def text(proc):
    return proc.stdout.decode("utf-8", "replace") + proc.stderr.decode("utf-8", "replace")


def make_database(ws):
    """A database in `ws` as the pipeline leaves one, made by the Linux build's DuckDB: a table, a table
    with a Turkish name, and a view over a raw file named relative to the work directory."""
    raw = ws / "external_data" / "kik_data_ham_csv" / "2024.csv"
    raw.parent.mkdir(parents=True, exist_ok=True)
    raw.write_text("id\n1\n2\n3\n")
    lib = ctypes.CDLL(str(LINUX / "lib" / "qev-scoreboard" / "libduckdb.so"))
    handle, con = ctypes.c_void_p(), ctypes.c_void_p()
    here = os.getcwd()
    os.chdir(ws)
    try:
        assert lib.duckdb_open(b"db/qev.duckdb", ctypes.byref(handle)) == 0
        assert lib.duckdb_connect(handle, ctypes.byref(con)) == 0
        for sql in ("CREATE TABLE t AS SELECT * FROM range(42)",
                    'CREATE TABLE "müşteri_şube" AS SELECT * FROM range(7)',
                    "CREATE VIEW kik AS SELECT * FROM read_csv('external_data/kik_data_ham_csv/2024.csv')"):
            assert lib.duckdb_query(con, sql.encode(), None) == 0, sql
    finally:
        lib.duckdb_disconnect(ctypes.byref(con))
        lib.duckdb_close(ctypes.byref(handle))
        os.chdir(here)


def db_block(report):
    """The database block of a status report's text, from its title to the next block."""
    found = re.search(r"^  \[db\]\n(?:(?!  \[).*\n)*", report, re.M)
    return found.group(0) if found else report


def linux_status(ws):
    proc = subprocess.run([LINUX / "bin" / "qev-scoreboard", "--dir", ws, "status"], capture_output=True, check=True)
    return proc.stdout.decode()


def linux_tables(ws):
    lib = ctypes.CDLL(str(LINUX / "lib" / "libqev_scoreboard.so.1"))
    lib.qev_scoreboard_status_json.argtypes = [ctypes.c_char_p]
    lib.qev_scoreboard_status_json.restype = ctypes.c_void_p
    lib.qev_scoreboard_free.argtypes = [ctypes.c_void_p]
    got = lib.qev_scoreboard_status_json(os.fsencode(ws))
    try:
        return json.loads(ctypes.string_at(got).decode())["database"]["tables"]
    finally:
        lib.qev_scoreboard_free(got)


def windows_path(path):
    """An absolute path as a program under wine names it, on the drive for the file system's root."""
    return "Z:" + str(path).replace("/", "\\")


def listing(root):
    return sorted(str(p.relative_to(root)) for p in root.rglob("*"))


def left_overs(root):
    return [str(p.relative_to(root)) for p in root.rglob(".qev-*")]


class WindowsUsers(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="qev-users-"))
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def on_drive_c(self):
        """A fresh directory on drive C:, and its Windows name."""
        made = Path(tempfile.mkdtemp(prefix="qev-", dir=DRIVE_C))
        self.addCleanup(shutil.rmtree, made, ignore_errors=True)
        return made, "C:\\" + made.name

    def link(self, name, target):
        """`target` as the prefix's device `name` (a drive "x:", or "unc/server/share") for this test."""
        link = PREFIX / "dosdevices" / name
        link.parent.mkdir(parents=True, exist_ok=True)
        link.symlink_to(target)
        self.addCleanup(link.unlink)

    def initialised(self, ws):
        proc = subprocess.run([LINUX / "bin" / "qev-scoreboard", "--dir", ws, "init"], capture_output=True)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        return ws

    def test_every_command_and_c_function_under_a_turkish_profile(self):
        shutil.rmtree(PROFILE_DIR.parent, ignore_errors=True)
        PROFILE_DIR.mkdir(parents=True)
        self.addCleanup(shutil.rmtree, PROFILE_DIR.parent, ignore_errors=True)
        ws, win_ws = PROFILE_DIR / "ws", PROFILE + r"\ws"
        proc = wine(EXE, "--dir", win_ws, "init", cwd=self.tmp)
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertIn(f"Çalışma dizini: {win_ws}\n", text(proc))
        self.assertTrue((ws / "db" / ".nb_version").is_file(), listing(PROFILE_DIR.parent))
        make_database(ws)
        counted = db_block(linux_status(ws))
        self.assertIn("      müşteri_şube: 7 rows\n", counted)
        self.assertIn("      kik: 3 rows\n", counted)
        # Every command: by the absolute path from elsewhere, and by relative paths from inside.
        for args, cwd in ((("--dir", win_ws, "status"), self.tmp), (("status",), ws), (("--dir", ".", "status"), ws)):
            with self.subTest(args=args, cwd=cwd):
                proc = wine(EXE, *args, cwd=cwd)
                self.assertEqual(proc.returncode, 0, text(proc))
                self.assertEqual(db_block(proc.stdout.decode()), counted)
        for args, cwd, shown in ((("verify", "--db", win_ws + r"\db\qev.duckdb"), self.tmp, win_ws + r"\db\qev.duckdb"),
                                 (("verify",), ws, "db/qev.duckdb")):
            with self.subTest(args=args):
                proc = wine(EXE, *args, cwd=cwd)
                self.assertIn(f"  [OK]   Veritabanı: {shown} salt-okunur açıldı\n", text(proc))
                self.assertIn("Kurulum doğrulandı.", text(proc))
        proc = wine(EXE, "version", cwd=ws)
        self.assertEqual(proc.returncode, 0, text(proc))
        # Every C function: the status report in both forms, counted as on Linux.
        tables = linux_tables(ws)
        proc = wine(DLL_CALLER, "--status", win_ws, cwd=self.tmp)
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertEqual(json.loads(proc.stdout.decode())["database"]["tables"], tables)
        proc = wine(DLL_CALLER, "--report", win_ws, cwd=self.tmp)
        self.assertEqual(proc.returncode, 0, text(proc))
        report = json.loads(proc.stdout.decode())
        self.assertEqual(report["data"]["database"]["tables"], tables)
        self.assertEqual(db_block(report["text"]), counted)
        self.assertIn("müşteri_şube", report["html"])
        # The auto-sync, with and without a callback, after an upgrade; error reports named in any case
        # are one name to Windows, and all go.
        for mode in ((), ("--plain",)):
            with self.subTest(sync=mode):
                (ws / "db" / ".nb_version").write_text("0.9.0")
                (ws / "seasons" / "2025").mkdir(parents=True, exist_ok=True)
                (ws / "seasons" / "2025" / "ERROR_REPORT.TXT").write_text("eski")
                (ws / "outputs" / "Error_Report.txt").write_text("eski")
                proc = wine(DLL_CALLER, *mode, win_ws, cwd=self.tmp)
                self.assertEqual(proc.returncode, 0, text(proc))
                self.assertRegex(text(proc), r"  \[SYNC\] Notebook'lar güncellendi: v0\.9\.0 → v")
                self.assertIn("  [SYNC] 2 eski error_report temizlendi\n", text(proc))
                self.assertEqual(list((ws / "seasons").rglob("*.TXT")) + list((ws / "outputs").glob("*.txt")), [])
        # A failure names the path as she typed it.
        missing = PROFILE + r"\yok"
        for mode in ((), ("--plain",), ("--status",), ("--report",)):
            with self.subTest(failing=mode):
                proc = wine(DLL_CALLER, *mode, missing, cwd=self.tmp)
                self.assertNotEqual(proc.returncode, 0, text(proc))
                self.assertIn(f"yol: {missing}\nneden: böyle bir dosya ya da dizin yok\n", text(proc))
        self.assertEqual(sorted(p.name for p in PROFILE_DIR.iterdir()), ["ws"])

    def test_every_path_form_works_or_is_refused_before_anything_is_made(self):
        base, win_base = self.on_drive_c()
        letter = next(c for c in "defghijklmnopqrstuvwxy" if not (PREFIX / "dosdevices" / f"{c}:").exists())
        drive = self.tmp / "drive"
        (drive / "alt").mkdir(parents=True)
        self.link(f"{letter}:", drive)
        share = self.tmp / "share"
        share.mkdir()
        self.link(f"unc/{SERVER}/{SHARE}", share)
        unc = rf"\\{SERVER}\{SHARE}"
        space = '"space " adı boşlukla bitiyor, Windows böyle bir adı tutamaz'
        dot = '"dot." adı noktayla bitiyor, Windows böyle bir adı tutamaz'
        # As typed; the directory it names (None: refused); the heading that prints it; the refusal.
        forms = [
            # Verbatim, with missing parents: every name joined with "\", the trailing space kept.
            (rf"\\?\{win_base}\xl\ws", base / "xl" / "ws", rf"{win_base}\xl\ws", None),
            (rf"\\?\{win_base}\kept space ", base / "kept space ", rf"{win_base}\kept space ", None),
            (rf"\\.\{win_base}\dev\ws", base / "dev" / "ws", rf"\\.\{win_base}\dev\ws", None),
            # Against the drive's own current directory, with the process on C:.
            (f"{letter.upper()}:dws", drive / "alt" / "dws", f"{letter.upper()}:dws", None),
            (unc + r"\ws", share / "ws", unc + r"\ws", None),
            (rf"\\?\UNC\{SERVER}\{SHARE}\ws2", share / "ws2", unc + r"\ws2", None),
            (win_base.replace("\\", "/") + "/ileri/eğik/ws", base / "ileri" / "eğik" / "ws",
             rf"{win_base}\ileri\eğik\ws", None),
            (rf"{win_base}\space ", None, rf"{win_base}\space ", space),
            (rf"{win_base}\dot.\ws", None, rf"{win_base}\dot.\ws", dot),
            (unc + r"\dot.\ws", None, unc + r"\dot.\ws", dot),
        ]
        for typed, where, printed, refused in forms:
            with self.subTest(typed):
                def run(program, *args):
                    # Through the shell, which keeps each drive's current directory as Windows does.
                    line = f"cd /d {letter}:\\alt & cd /d C:\\ & {windows_path(program)} {' '.join(args)}"
                    if f"{letter.upper()}:" in typed:
                        return subprocess.run(["wine", "cmd", "/c", line], capture_output=True, cwd=self.tmp,
                                              timeout=RUN_TIMEOUT, stdin=subprocess.DEVNULL)
                    return wine(program, *args, cwd=self.tmp)

                before = listing(base), listing(share), listing(drive)
                proc = run(EXE, "--dir", typed, "init")
                if refused:
                    self.assertEqual(proc.returncode, 1, text(proc))
                    self.assertEqual(proc.stderr.decode(),
                                     f"qev-scoreboard: hata: {printed}\\db: dizin oluşturulamadı: {refused}\n")
                    for args in (("--dir", typed, "status"), ("verify", "--db", typed + r"\db\qev.duckdb")):
                        self.assertIn(refused, text(run(EXE, *args)))
                    for mode in ((), ("--status",)):
                        proc = run(DLL_CALLER, *mode, typed)
                        self.assertIn(f"errno: 22\nyol: {printed}\nneden: {refused}\n", text(proc))
                    self.assertEqual((listing(base), listing(share), listing(drive)), before)
                    continue
                self.assertEqual(proc.returncode, 0, text(proc))
                self.assertIn(f"Çalışma dizini: {printed}\n", proc.stdout.decode())
                self.assertTrue((where / "outputs" / "json").is_dir(), listing(where.parent))
                self.assertTrue((where / "external_data" / "VERI_KOPYALA.txt").is_file(), listing(where))
                make_database(where)
                counted = db_block(linux_status(where))
                proc = run(EXE, "--dir", typed, "status")
                self.assertEqual(proc.returncode, 0, text(proc))
                self.assertIn(f"Çalışma dizini: {printed}\n", proc.stdout.decode())
                self.assertEqual(db_block(proc.stdout.decode()), counted)
                proc = run(EXE, "verify", "--db", typed + r"\db\qev.duckdb")
                self.assertIn("  [OK]   Veritabanı: ", text(proc))
                proc = run(DLL_CALLER, "--status", typed)
                self.assertEqual(proc.returncode, 0, text(proc))
                counts = {t["name"]: t.get("rows") for t in json.loads(proc.stdout.decode())["database"]["tables"]}
                # A view's relative names, joined with "/", reach no name that only a verbatim path holds.
                expected = {"t": 42, "müşteri_şube": 7, "kik": None if where.name.endswith(" ") else 3}
                self.assertEqual(counts, expected)

    def test_runs_at_once_on_one_directory_all_succeed(self):
        # Two programs re-installing every notebook and two callers of the DLL syncing after an upgrade,
        # all at once, round after round, each time over a notebook the user edited.
        ws = self.initialised(self.tmp / "ws")
        failures, overlapped = [], 0
        for round_ in range(20):
            (ws / "db" / ".nb_version").write_text("0.9.0")
            edited = sorted(ws.glob("nb_*.ipynb"))[round_ % 5]
            edited.write_bytes(edited.read_bytes() + b"\n")
            runs = [[EXE, "--dir", "ws", "init", "--force"]] * 2 + [[DLL_CALLER, "ws"]] * 2
            procs = [subprocess.Popen(["wine", *map(str, args)], cwd=self.tmp, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT) for args in runs]
            synced = 0
            for args, proc in zip(runs, procs):
                out, _ = proc.communicate(timeout=RUN_TIMEOUT)
                if proc.returncode != 0:
                    failures.append(f"round {round_}, {Path(args[0]).name}: {out.decode('utf-8', 'replace')}")
                synced += "[SYNC] Notebook'lar güncellendi" in out.decode("utf-8", "replace")
            # A caller that found the version already recorded did nothing at the same time as the others.
            overlapped += synced == 2
            self.assertEqual(left_overs(ws), [], f"round {round_}")
        self.assertEqual(failures, [])
        self.assertGreater(overlapped, 0, "no round had both callers syncing while the programs ran")
        package = WINDOWS / "share" / "qev-scoreboard" / "notebooks"
        for notebook in package.glob("*.ipynb"):
            if notebook.name != "nb_01_ingest.ipynb":
                self.assertEqual((ws / notebook.name).read_bytes(), notebook.read_bytes(), notebook.name)
        # The edits are kept, each one whole.
        kept = list((ws / "yedek").rglob("nb_*.ipynb"))
        self.assertTrue(kept)
        self.assertTrue(all(p.read_bytes().endswith(b"\n") for p in kept))

    # The next two check what every init does in the shared code: a retry keeps no second copy of bytes
    # already kept, and every init removes what killed runs left in each directory it owns.

    def test_a_read_only_data_readme_with_a_note_retried_keeps_one_copy(self):
        ws = self.initialised(self.tmp / "ws")
        readme = ws / "external_data" / "VERI_KOPYALA.txt"
        noted = readme.read_bytes() + "\nNot: 2024 verisi eksik.\n".encode()
        readme.write_bytes(noted)
        proc = wine("attrib", "+r", r"ws\external_data\VERI_KOPYALA.txt", cwd=self.tmp)
        self.assertEqual(proc.returncode, 0, text(proc))
        for attempt in range(4):
            proc = wine(EXE, "--dir", "ws", "init", cwd=self.tmp)
            with self.subTest(attempt=attempt):
                self.assertNotEqual(proc.returncode, 0, text(proc))
                self.assertIn("erişim izni yok", proc.stderr.decode())
        copies = list((ws / "yedek").rglob("VERI_KOPYALA.txt"))
        self.assertEqual(len(copies), 1, listing(ws / "yedek"))
        self.assertEqual(copies[0].read_bytes(), noted)
        self.assertEqual(readme.read_bytes(), noted)

    def test_a_killed_runs_temporary_file_is_gone_after_the_next_plain_init(self):
        # An installation whose package holds a notebook large enough to be caught mid-copy, and a run of
        # it killed outright there.
        prefix = installation_with_a_big_notebook(WINDOWS, self.tmp / "prefix")
        ws = self.initialised(self.tmp / "ws")
        before = listing(ws)
        proc = subprocess.Popen(["wine", prefix / "bin" / "qev-scoreboard.exe", "--dir", "ws", "init"], cwd=self.tmp,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            first_while_running(proc, lambda: ws.glob(".qev-*"))
            self.assertIsNone(proc.poll(), "the copy ended before the kill")
            proc.send_signal(signal.SIGKILL)
            proc.wait(timeout=60)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.assertTrue(left_overs(ws), "the killed run left no temporary file to clean up")
        proc = wine(EXE, "--dir", "ws", "init", cwd=self.tmp)
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertEqual(left_overs(ws), [])
        self.assertEqual([p for p in listing(ws) if not p.startswith("yedek")],
                         [p for p in before if not p.startswith("yedek")])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
