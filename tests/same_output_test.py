#!/usr/bin/env python3
"""Two builds of the program, run on the same inputs, give the same bytes: standard output, standard error,
exit status, and the work directory they leave. The reference build prepares the inputs (its DuckDB
makes the databases); each scenario is then replayed at the same path for both programs.

    same_output_test.py REFERENCE_PROGRAM PROGRAM [RUNNER...] [-- unittest args]

RUNNER, when given, is the command that runs PROGRAM (an emulator), e.g.
    qemu-aarch64
A Windows PROGRAM (.exe, run by wine) is given absolute paths on wine's drive for the file system's
root (Z:) and must print every path with Windows' separator; the rest of its text is the reference's.
"""
import hashlib
import json
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from duckdb_sql import run_sql

if len(sys.argv) < 3:
    sys.exit(__doc__)
_rest = sys.argv[3:]
_split = _rest.index("--") if "--" in _rest else len(_rest)
REFERENCE = Path(sys.argv[1]).resolve()
PROGRAM = Path(sys.argv[2]).resolve()
RUNNER = tuple(_rest[:_split])
UNITTEST_ARGS = _rest[_split + 1:]
# Emulated runs are slower; anything past this is taken for a hang.
RUN_TIMEOUT = 120
WINDOWS = PROGRAM.suffix.lower() == ".exe"
STEP_NOTEBOOK = "nb_01b_ingest_kik.ipynb"


def duckdb(db, *statements, cwd):
    """Runs SQL statements on a database with the reference installation's DuckDB, in directory `cwd`."""
    run_sql(REFERENCE.parent.parent / "lib" / "qev-scoreboard" / "libduckdb.so", db, statements, cwd)


def run(program, args, cwd, runner=()):
    cmd = [*runner, str(program)] + [str(a) for a in args]
    proc = subprocess.run(cmd, capture_output=True, cwd=cwd, timeout=RUN_TIMEOUT, stdin=subprocess.DEVNULL)
    return proc.returncode, proc.stdout, proc.stderr


def windows_path(path):
    """An absolute path as a Windows program under wine names it."""
    return "Z:" + str(path).replace("/", "\\")


def as_windows_prints(text, paths):
    """The reference's `text` as the Windows program prints it: each of `paths` (pairs of the reference's
    and the Windows program's name for a path it was given), and every path made from one, with
    Windows' separator. A "/" the text appends after a path is not a separator and stays."""
    for ref, win in sorted(paths, key=lambda p: -len(p[0])):
        pattern = r"(?<![\w/.\\])" + re.escape(ref) + r"((?:/[^/\s:'\"]+)*)"
        text = re.sub(pattern, lambda m: win + m.group(1).replace("/", "\\"), text)
    return text


# The folder of a run's kept copies is named by the time of the run, which differs between the two runs.
KEPT_FOLDER = re.compile(r"yedek([/\\])\d{8}-\d{6}(?:-\d+)?")
KEPT_LINE = re.compile(r"^(    ⤷ |  \[SYNC\] Yedeklendi: )(yedek/\S+)$", re.M)


def without_run_time(text):
    return KEPT_FOLDER.sub(lambda m: f"yedek{m.group(1)}ZAMAN", text)


def fingerprints_of_record(data):
    """The record of installed files as its fingerprints alone: the facts it keeps of each file (times,
    identities) differ from run to run and from system to system."""
    record = json.loads(data)
    return json.dumps({name: entry if isinstance(entry, str) else entry["fingerprint"]
                       for name, entry in record.items()}, sort_keys=True).encode()


def tree(root):
    """Every entry under `root`: type, permission bits, and content (a file's digest, a link's target)."""
    entries = []
    for dirpath, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(dirs + files):
            path = os.path.join(dirpath, name)
            st = os.lstat(path)
            if stat.S_ISREG(st.st_mode):
                with open(path, "rb") as f:
                    data = f.read()
                if os.path.relpath(path, root).endswith(os.path.join("db", ".nb_installed.json")):
                    data = fingerprints_of_record(data)
                content = hashlib.sha256(data).hexdigest()
            elif stat.S_ISLNK(st.st_mode):
                content = os.readlink(path)
            else:
                content = ""
            entries.append(without_run_time(f"{os.path.relpath(path, root)} {stat.filemode(st.st_mode)} {content}"))
    return entries


class SameOutput(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix="qev-same-output-"))
        cls.addClassCleanup(shutil.rmtree, cls.scratch, ignore_errors=True)

    def replay(self, template, runs):
        """Copies `template` to one path and runs `runs` (pairs of arguments and a working directory
        relative to it; PLACE in an argument stands for that path) there, once per program; both must give
        the same results."""
        place = self.scratch / "place"
        results = []
        for program, runner, place_text in ((REFERENCE, (), str(place)),
                                            (PROGRAM, RUNNER, windows_path(place) if WINDOWS else str(place))):
            shutil.rmtree(place, ignore_errors=True)
            if template is None:
                place.mkdir()
            else:
                # cp copies a FIFO as a FIFO, where Python's copy would wait for a writer.
                subprocess.run(["cp", "-a", "--", template, place], check=True)
            results.append([run(program, [str(a).replace("PLACE", place_text) for a in args], place / cwd, runner)
                            for args, cwd in runs] + [tree(place)])
        shutil.rmtree(place, ignore_errors=True)
        for i, (args, cwd) in enumerate(runs):
            ref, got = results[0][i], results[1][i]
            expected = [ref[1].decode("utf-8", "surrogateescape"), ref[2].decode("utf-8", "surrogateescape")]
            if WINDOWS:
                # The paths it was given, and the working directory it names when given none.
                given = [str(a) for a, flag in zip(args[1:], args) if flag == "--dir"]
                paths = [(g.replace("PLACE", str(place)), g.replace("PLACE", windows_path(place)).replace("/", "\\"))
                         for g in given]
                paths.append((str(place / cwd), windows_path(place / cwd)))
                expected = [as_windows_prints(t, paths) for t in expected]
                # Kept copies are named relative to the work directory, with the system's separator.
                expected = [KEPT_LINE.sub(lambda m: m.group(1) + m.group(2).replace("/", "\\"), t) for t in expected]
            expected = [without_run_time(t) for t in expected]
            with self.subTest(args=args, cwd=cwd):
                self.assertEqual(got[0], ref[0], got[2].decode("utf-8", "surrogateescape"))
                self.assertEqual(without_run_time(got[1].decode("utf-8", "surrogateescape")), expected[0])
                self.assertEqual(without_run_time(got[2].decode("utf-8", "surrogateescape")), expected[1])
        self.assertEqual(results[1][-1], results[0][-1], "the work directories differ")
        return results[0]

    def template(self, name):
        path = self.scratch / name
        path.mkdir()
        return path

    def prepared(self, name):
        """A template holding a work directory `ws` that the reference program has initialised."""
        tpl = self.template(name)
        rc, _, err = run(REFERENCE, ["--dir", tpl / "ws", "init"], tpl)
        self.assertEqual(rc, 0, err)
        return tpl

    def test_init_in_a_fresh_directory(self):
        results = self.replay(None, [(["--dir", "ws", "init"], "."), (["--dir", "ws", "status"], "."),
                                     (["version"], ".")])
        self.assertIn("KURULUM TAMAM".encode(), results[0][1])

    def test_init_in_an_old_directory(self):
        tpl = self.prepared("old")
        ws = tpl / "ws"
        (ws / "db" / ".nb_version").write_text("0.9.0")
        notebooks = sorted(p for p in ws.glob("*.ipynb"))
        notebooks[0].write_bytes(notebooks[0].read_bytes() + b"\n")  # edited by the user
        notebooks[1].unlink()  # removed by the user
        (ws / "nb_01_ingest.ipynb").write_text('{"cells": []}')  # never touched
        # Meta files of steps: the newest season's is refreshed (its other members kept as they are), an
        # older season's is not looked at, a broken one is left alone.
        for season, code, body in (
                ("2024_Q4", "01b", '{"nb_hash": "0000000000000000", "adim": "01b"}'),
                ("2025_Q1", "01b", '{\n  "satır": 3,\n  "nb_hash": "ffffffffffffffff",\n  "ek": {"a": [1, 2.50, null]}\n}'),
                ("2025_Q1", "02_bronze", '{"nb_hash": "1111111111111111", "süre": 1.5e3}'),
                ("2025_Q2", "01c", "{ not json"),
                ("2025_Q2", "03_html", '{"durum": "tamam"}')):
            meta = ws / "seasons" / season / "meta"
            meta.mkdir(parents=True, exist_ok=True)
            (meta / f"adim_{code}.json").write_text(body, encoding="utf-8")
        (ws / "seasons" / "2026_Q1").mkdir()  # a season without meta files
        results = self.replay(tpl, [(["--dir", "ws", "init"], "."), (["init"], "ws"),
                                    (["--dir", "ws", "init", "--force"], ".")])
        self.assertIn("meta hash güncellendi".encode(), results[0][1])
        self.assertIn(f"    ⤷ yedek/".encode(), results[0][1])  # the user's edit, kept

    def test_status_over_views_of_relative_files(self):
        tpl = self.prepared("status")
        ws = tpl / "ws"
        kik = ws / "external_data" / "kik_data_ham_csv"
        (kik / "2024.csv").write_text("id,ad\n1,a\n2,b\n3,c\n", encoding="utf-8")
        (kik / "2025.csv").write_text("id,ad\n4,ç\n5,ş\n", encoding="utf-8")
        (ws / "outputs" / "json" / "sample_scoreboard.json").write_bytes(b"{}" * 9000)
        duckdb(ws / "db" / "qev.duckdb",
               "COPY (SELECT range AS id FROM range(1234)) TO 'external_data/kredi_db/k.parquet'",
               "CREATE TABLE a_before AS SELECT * FROM range(3)",
               "CREATE VIEW bronze_kik AS SELECT * FROM read_csv('external_data/kik_data_ham_csv/*.csv')",
               "CREATE VIEW bronze_kredi AS SELECT * FROM read_parquet('external_data/kredi_db/k.parquet')",
               "CREATE TABLE c_empty(x INT)",
               'CREATE TABLE "z\tson" AS SELECT * FROM range(4)',
               cwd=ws)
        results = self.replay(tpl, [(["--dir", "ws", "status"], "."), (["status"], "ws"),
                                    (["--dir", "PLACE/ws", "status"], "/")])
        self.assertIn(b"bronze_kik: 5 rows", results[0][1])
        self.assertIn(b"bronze_kredi: 1234 rows", results[0][1])
        # A raw file gone since: the engine's own message, and the rest of the report.
        (ws / "external_data" / "kredi_db" / "k.parquet").unlink()
        results = self.replay(tpl, [(["--dir", "ws", "status"], ".")])
        self.assertIn("Okuma hatası".encode(), results[0][1])

    def test_failures_and_usage_errors(self):
        tpl = self.template("failures")
        (tpl / "blocked").mkdir()
        (tpl / "blocked" / "db").write_text("")
        runs = [(["--dir", "blocked", "init"], "."), (["init", "--bogus"], "."), (["--fo"], "."), (["status", "-h"], ".")]
        if not WINDOWS:  # no FIFOs there; wine would only show it the host's
            (tpl / "fifo" / "db").mkdir(parents=True)
            os.mkfifo(tpl / "fifo" / "db" / "qev.duckdb")
            runs.append((["--dir", "fifo", "status"], "."))
        results = self.replay(tpl, runs)
        self.assertEqual([r[0] for r in results[:-1]], [1, 2, 2, 0, 0][:len(runs)])

    def test_a_deep_work_directory_with_turkish_names(self):
        # Past the 260 characters Windows' plain paths allow, and names its code pages may not hold.
        deep = "/".join(["çalışma_ğüşiöç_" + "k" * 40] * 6) + "/ws"
        self.assertGreater(len(deep), 300)
        results = self.replay(None, [(["--dir", deep, "init"], "."), (["--dir", deep, "status"], ".")])
        self.assertEqual([r[0] for r in results[:-1]], [0, 0])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + UNITTEST_ARGS)
