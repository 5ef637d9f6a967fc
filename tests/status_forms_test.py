#!/usr/bin/env python3
"""status for programs and notebooks: the Python module's report as data, as the command's text and as
HTML, and the command's progress line, shown on a terminal only.

    status_forms_test.py PROGRAM MODULE_DIR [unittest args]
"""
import contextlib
import ctypes
import errno
import fcntl
import hashlib
import io
import json
import os
import pty
import re
import select
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unicodedata
import unittest
from pathlib import Path

from duckdb_sql import run_sql

if len(sys.argv) < 3:
    sys.exit(__doc__)
PROGRAM = Path(sys.argv[1]).resolve()
MODULE_DIR = Path(sys.argv[2]).resolve()
DUCKDB = PROGRAM.parent.parent / "lib" / "qev-scoreboard" / "libduckdb.so"
sys.path.insert(0, str(MODULE_DIR))
import qev_scoreboard_cli  # noqa: E402

RUN_TIMEOUT = 60


def duckdb(db, *statements):
    """Runs SQL statements on a database of the test's own, through the installation's DuckDB."""
    run_sql(DUCKDB, db, statements)


def run(*args, **kw):
    return subprocess.run([str(PROGRAM), *map(str, args)], capture_output=True, timeout=RUN_TIMEOUT,
                          stdin=subprocess.DEVNULL, **kw)


def fingerprint(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()[:16]


class ModuleStatus(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.ws = Path(tmp.name) / "çalışma"
        self.assertEqual(run("--dir", self.ws, "init").returncode, 0)
        (self.ws / "external_data" / "kik_data_ham_csv" / "2024.csv").write_text("id\n1\n2\n")
        duckdb(self.ws / "db" / "qev.duckdb", "CREATE TABLE a_dolu AS SELECT * FROM range(4)",
               "CREATE TABLE bos(x INT)", "CREATE SCHEMA silver", "CREATE TABLE silver.\"k.<i>\" AS SELECT 1")
        meta = self.ws / "seasons" / "2025" / "meta"
        meta.mkdir(parents=True)
        (meta / "adim_02_bronze.json").write_text('{"nb_hash": "0123456789abcdef"}')
        (meta / "adim_03_html.json").write_text(
            '{"nb_hash": "%s"}' % fingerprint(self.ws / "nb_03_marts.ipynb"))

    def test_one_report_three_forms(self):
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            report = qev_scoreboard_cli.status(self.ws)
        self.assertEqual(printed.getvalue(), "")  # nothing printed while it is made
        cli = run("--dir", self.ws, "status")
        self.assertEqual(cli.returncode, 0, cli.stderr)
        self.assertEqual(str(report), cli.stdout.decode())
        self.assertIn('      silver."k.<i>": 1 rows\n', str(report))

        data = report.to_dict()
        self.assertEqual(list(data), ["version", "work_dir", "external_data", "database", "outputs", "steps"])
        self.assertEqual(data["version"], qev_scoreboard_cli.__version__)
        self.assertEqual(data["work_dir"], str(self.ws))
        self.assertEqual(data["external_data"][0],
                         {"name": "kik_data_ham_csv", "exists": True, "entries": 1, "files": 1})
        self.assertEqual([(t["schema"], t["name"], t["rows"]) for t in data["database"]["tables"]],
                         [("main", "a_dolu", 4), ("main", "bos", 0), ("silver", "k.<i>", 1)])
        steps = {s["code"]: s for s in data["steps"]}
        self.assertEqual(sorted(steps), ["02_bronze", "03_html"])
        self.assertEqual(steps["02_bronze"]["notebook"], "nb_02_transform.ipynb")
        self.assertEqual(steps["02_bronze"]["current"], fingerprint(self.ws / "nb_02_transform.ipynb"))
        self.assertTrue(steps["02_bronze"]["stale"])
        self.assertFalse(steps["03_html"]["stale"])
        data["version"] = "değişti"
        self.assertNotEqual(report.to_dict()["version"], "değişti")  # a copy each time

        html = report._repr_html_()
        self.assertIn("<td>k.&lt;i&gt;</td>", html)
        self.assertNotIn("k.<i>", html)
        self.assertIn('<tr class="qev-stale"><td>2025</td><td>02_bronze</td>', html)

    def test_the_commands_json_is_the_data(self):
        kopya = self.ws / "kopya.csv"
        kopya.write_text("x\n1\n")
        duckdb(self.ws / "db" / "qev.duckdb", f"CREATE VIEW kirik AS SELECT * FROM read_csv('{kopya}')")
        kopya.unlink()
        (self.ws / "external_data" / "kredi_db" / ".gitkeep").write_text("")
        cli = run("--dir", self.ws, "status", "--json")
        self.assertEqual((cli.returncode, cli.stderr), (0, b""))
        data = json.loads(cli.stdout.decode("utf-8"))
        self.assertEqual(data, qev_scoreboard_cli.status(self.ws).to_dict())
        tables = {t["name"]: t for t in data["database"]["tables"]}
        self.assertEqual(tables["bos"]["rows"], 0)
        self.assertIsNone(tables["kirik"]["rows"])
        self.assertIn("kopya.csv", tables["kirik"]["error"])
        self.assertEqual(data["external_data"][1], {"name": "kredi_db", "exists": True, "entries": 1, "files": 0})
        # The C call's bytes, through the library the module loads.
        lib = qev_scoreboard_cli._library()
        lib.qev_scoreboard_status_json.restype = ctypes.c_void_p
        raw = lib.qev_scoreboard_status_json(os.fsencode(self.ws))
        self.assertTrue(raw)
        try:
            self.assertEqual(cli.stdout, ctypes.string_at(raw))
        finally:
            lib.qev_scoreboard_free(ctypes.c_void_p(raw))

        missing = run("--dir", self.ws / "yok", "status", "--json")
        self.assertEqual((missing.returncode, missing.stdout), (1, b""))
        self.assertEqual(missing.stderr.decode().count("\n"), 1)
        self.assertIn("yok: okunamadı: ", missing.stderr.decode())

    def test_a_name_that_is_not_utf8_keeps_its_bytes(self):
        odd = os.fsencode(self.ws) + b"-\xff"
        os.rename(self.ws, odd)
        data = qev_scoreboard_cli.status(odd).to_dict()
        self.assertEqual(data["work_dir"], os.fsdecode(odd))  # "\udcff", as Python reads such bytes
        self.assertEqual(os.fsencode(data["database"]["path"]), odd + b"/db/qev.duckdb")

    def test_arguments_and_failures_as_sync_notebooks_has_them(self):
        for form in (str(self.ws), os.fsencode(self.ws), self.ws):
            self.assertEqual(qev_scoreboard_cli.status(form).to_dict()["work_dir"], str(self.ws))
        with self.assertRaises(FileNotFoundError) as missing:
            qev_scoreboard_cli.status(self.ws / "yok")
        self.assertEqual(missing.exception.filename, str(self.ws / "yok"))
        self.assertEqual(missing.exception.errno, errno.ENOENT)
        with self.assertRaises(TypeError):
            qev_scoreboard_cli.status(42)
        with self.assertRaises(ValueError):
            qev_scoreboard_cli.status(str(self.ws) + "\0x")


@unittest.skipUnless(hasattr(os, "mkfifo"), "FIFOs")
class Progress(unittest.TestCase):
    """A count waits on a FIFO until the test writes to it, so it runs as long as the test wants."""

    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.ws = Path(tmp.name)
        self.raw = self.ws / "ham.csv"
        self.raw.write_text("a\n1\n")
        (self.ws / "db").mkdir()
        duckdb(self.ws / "db" / "qev.duckdb", "CREATE TABLE a_ilk AS SELECT * FROM range(2)",
               f"CREATE VIEW b_bekleyen AS SELECT * FROM read_csv('{self.raw}')")
        self.raw.unlink()

    def feed(self):
        """Writes the FIFO: the count waiting on it ends."""
        with open(self.raw, "w") as f:
            f.write("a\n1\n2\n3\n")

    def run_on_terminal(self, when_shown, *options, columns=0):
        """The command with standard error on a pseudo-terminal (of `columns` columns, when given);
        `when_shown(proc)` runs once the progress line is there. Returns (status, stdout, terminal text)."""
        master, slave = pty.openpty()
        if columns:
            fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        proc = subprocess.Popen([str(PROGRAM), "--dir", str(self.ws), "status", *options], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=slave)
        os.close(slave)
        seen = b""
        started = time.monotonic()
        out = []
        reader = threading.Thread(target=lambda: out.append(proc.stdout.read()), daemon=True)
        reader.start()
        while True:
            if when_shown is not None and "sayılıyor" in seen.decode("utf-8", "replace"):
                when_shown(proc)
                when_shown = None
            ready, _, _ = select.select([master], [], [], 0.1)
            if ready:
                try:
                    chunk = os.read(master, 4096)
                except OSError:  # the terminal's other end closed: the program is gone
                    break
                if not chunk:
                    break
                seen += chunk
            elif proc.poll() is not None:
                break
            self.assertLess(time.monotonic() - started, RUN_TIMEOUT)
        proc.wait(timeout=RUN_TIMEOUT)
        reader.join(timeout=RUN_TIMEOUT)
        proc.stdout.close()
        os.close(master)
        return proc.returncode, out[0].decode(), seen.decode("utf-8", "replace")

    def test_a_long_count_shows_its_progress_on_a_terminal_then_erases_it(self):
        os.mkfifo(self.raw)
        status, out, terminal = self.run_on_terminal(lambda proc: self.feed())
        self.assertEqual(status, 0, terminal)
        self.assertIn("      a_ilk: 2 rows\n      b_bekleyen: 3 rows\n", out)
        self.assertNotIn("sayılıyor", out)  # never on standard output
        line = "      b_bekleyen: sayılıyor…"
        # Rewritten in place (each time from the line's start), then blanked out, before the next line
        # of the report; the quick count showed none.
        self.assertRegex(terminal, "^(\r" + re.escape(line) + "( %[0-9]+)? *)+\r {" + str(len(line)) + ",}\r$")
        self.assertNotIn("a_ilk", terminal)

    def test_the_line_never_wraps_in_a_narrow_window(self):
        # A name longer than the window (62 characters in 50 columns, as in a tmux pane), with letters of
        # two bytes, and one whose characters take two columns each.
        for name in ("b_çok_uzun_bir_görünüm_adı_ki_dar_bir_pencereye_hiç_sığmayacak", "b_" + "界" * 30):
            with self.subTest(name=name):
                self.raw.unlink(missing_ok=True)
                self.raw.write_text("a\n1\n")
                duckdb(self.ws / "db" / "qev.duckdb", "DROP VIEW IF EXISTS b_bekleyen",
                       f"CREATE OR REPLACE VIEW \"{name}\" AS SELECT * FROM read_csv('{self.raw}')")
                self.raw.unlink()
                os.mkfifo(self.raw)
                # Fed once the line has been shown and rewritten (its cut text may not say "sayılıyor").
                writer = threading.Timer(2.5, self.feed)
                writer.start()
                status, out, terminal = self.run_on_terminal(None, columns=50)
                writer.join()
                self.assertEqual(status, 0, terminal)
                self.assertIn(f"      {name}: 3 rows\n", out)
                shown = [part for part in terminal.split("\r") if part]
                self.assertGreater(len(shown), 2, terminal)
                for part in shown:
                    width = sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in part)
                    self.assertLessEqual(width, 49, repr(part))
                    if part.strip():
                        self.assertTrue(part.startswith("      b_") and part.endswith("…"), repr(part))
                self.assertEqual(shown[-1].strip(), "")  # erased
                duckdb(self.ws / "db" / "qev.duckdb", f"DROP VIEW \"{name}\"")

    def test_never_with_json(self):
        os.mkfifo(self.raw)
        # Fed well after the second at which the line would have shown.
        writer = threading.Timer(2.5, self.feed)
        writer.start()
        status, out, terminal = self.run_on_terminal(None, "--json")
        writer.join()
        self.assertEqual((status, terminal), (0, ""))
        rows = {t["name"]: t["rows"] for t in json.loads(out)["database"]["tables"]}
        self.assertEqual(rows, {"a_ilk": 2, "b_bekleyen": 3})

    def test_never_in_a_pipe(self):
        os.mkfifo(self.raw)
        # Fed well after the second at which a terminal would have shown the line.
        writer = threading.Timer(2.5, self.feed)
        writer.start()
        proc = run("--dir", self.ws, "status")
        writer.join()
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(proc.stderr, b"")
        self.assertIn(b"      b_bekleyen: 3 rows\n", proc.stdout)

    def test_ctrl_c_ends_the_count_at_once(self):
        os.mkfifo(self.raw)  # no writer: the count would wait forever
        interrupted = []

        def interrupt(proc):
            interrupted.append(time.monotonic())
            proc.send_signal(signal.SIGINT)
        status, out, terminal = self.run_on_terminal(interrupt)
        self.assertEqual(status, -signal.SIGINT, terminal)
        self.assertLess(time.monotonic() - interrupted[0], 5)
        self.assertIn("b_bekleyen: sayılıyor…", terminal)
        self.assertTrue(out.endswith("      a_ilk: 2 rows\n"), out)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
