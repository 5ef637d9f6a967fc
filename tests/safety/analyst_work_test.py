#!/usr/bin/env python3
"""An analyst's own work through every update. After a package upgrade (a relocated copy of the installed
tree whose notebooks changed), init, init --force and the auto-sync keep a copy of every notebook and data
readme note the analyst changed, and of nothing else, where no later run overwrites it; a replaced notebook
takes the time of its replacement; any number of runs at once all succeed."""
import datetime
import hashlib
import json
import os
import re
import subprocess
import sys
import time
import unittest
from pathlib import Path

import support

README = "external_data/VERI_KOPYALA.txt"
PARAMS = "nb_03_marts.ipynb"   # a parameter cell edited
RUN = "nb_04_ml.ipynb"         # run: its outputs saved in it
UPGRADED = "qev_pipeline.ipynb"  # changed by the upgrade only
ADDED = "nb_06_yeni.ipynb"     # new in the upgrade
KEPT_LINE = re.compile(r"^    ⤷ (yedek/(\d{8}-\d{6}(?:-\d+)?)/(.+))$")


def fingerprint(data):
    return hashlib.sha256(data).hexdigest()[:16]


def temporaries(root):
    return [str(p) for p in Path(root).rglob(".qev-*")]


class Upgrade(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = support.enter_scratch(cls.addClassCleanup)
        cls.version = support.version()
        cls.old_program, cls.old_data = support.make_prefix(cls.tmp / "v1")
        cls.new_program, cls.new_data = support.make_prefix(cls.tmp / "v2")
        cls.new_library = support.prefix_library(cls.tmp / "v2")
        notebooks = cls.new_data / "notebooks"
        for name in (PARAMS, RUN, UPGRADED):
            nb = notebooks / name
            nb.write_bytes(nb.read_bytes().replace(b'"cells"', b'"metadata": {"surum": 2}, "cells"', 1))
        (notebooks / ADDED).write_bytes(b'{"cells": [], "metadata": {}, "nbformat": 4, "nbformat_minor": 5}\n')
        os.utime(notebooks / ADDED, ns=(1_500_000_000_000_000_000, 1_600_000_000_123_456_789))
        cls.count = 0

    def prepared(self, current=False):
        """A work directory the old package prepared, then the analyst's work in it: a parameter changed,
        a notebook run, a note in the data readme. Unless `current`, its stamp names the old version."""
        type(self).count += 1
        ws = self.tmp / f"ws{self.count}"
        proc = support.run(["--dir", ws, "init"], program=self.old_program)
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        edits = {
            PARAMS: (ws / PARAMS).read_bytes().replace(b'"cells": [', b'"cells": [{"source": "donem = 202612"}, ', 1),
            RUN: (ws / RUN).read_bytes().rstrip() + b'\n{"outputs": ["AUC 0.81"]}\n',
            README: (ws / README).read_bytes() + "\nNot: kredi_db Aralık verisi eksik.\n".encode(),
        }
        for rel, data in edits.items():
            (ws / rel).write_bytes(data)
        if not current:
            (ws / "db" / ".nb_version").write_text("0.9.0")
        return ws, edits

    def init(self, ws, *options):
        proc = support.run(["--dir", ws, "init", *options], program=self.new_program)
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        return proc.stdout.decode()

    def kept(self, out):
        """The kept copies an init report lists, checked to stand where the summary puts them: after the
        lines of updated notebooks, before the closing rule."""
        lines = out.splitlines()
        if "  YEDEKLENDİ  : " not in out:
            return []
        start = next(i for i, l in enumerate(lines) if l.startswith("  YEDEKLENDİ  : "))
        self.assertTrue(lines[start - 1].startswith(("    ↻ ", "    + ", "  AYNI ")), out)
        paths = []
        for line in lines[start + 1:]:
            m = KEPT_LINE.match(line)
            if not m:
                self.assertEqual(line, "=" * 50, out)
                break
            paths.append(m.group(1))
        self.assertEqual(lines[start], f"  YEDEKLENDİ  : {len(paths)} dosya")
        return paths

    def package(self, name):
        return (self.new_data / "notebooks" / name).read_bytes()

    def test_an_upgrading_init_keeps_exactly_what_the_analyst_changed(self):
        ws, edits = self.prepared()
        start = time.time()
        out = self.init(ws)
        end = time.time()
        kept = self.kept(out)
        folder = kept[0].split("/")[1]
        self.assertEqual(kept, [f"yedek/{folder}/{Path(rel).name}" for rel in (README, PARAMS, RUN)])
        when = datetime.datetime.strptime(folder, "%Y%m%d-%H%M%S").replace(tzinfo=datetime.timezone.utc)
        self.assertLessEqual(int(start) - 1, when.timestamp())
        self.assertLessEqual(when.timestamp(), end + 1)
        self.assertEqual(os.listdir(ws / "yedek"), [folder])
        for rel, data in edits.items():
            self.assertEqual((ws / "yedek" / folder / Path(rel).name).read_bytes(), data, rel)
        # Changed by the upgrade alone: nothing of the analyst's to keep.
        self.assertFalse((ws / "yedek" / folder / UPGRADED).exists())
        self.assertEqual(sorted(os.listdir(ws / "yedek" / folder)), sorted(["VERI_KOPYALA.txt", PARAMS, RUN]))
        for name in (PARAMS, RUN, UPGRADED, ADDED):
            self.assertEqual((ws / name).read_bytes(), self.package(name), name)
        self.assertIn(f"    + {ADDED}\n", out)
        self.assertIn(f"    ↻ {UPGRADED}\n", out)

        # A replaced notebook is newer than what any editor loaded; a new one keeps the package's time.
        self.assertGreaterEqual(os.stat(ws / PARAMS).st_mtime, int(start))
        self.assertEqual(os.stat(ws / ADDED).st_mtime_ns, 1_600_000_000_123_456_789)

        # The record names what is installed now: the next run keeps nothing more.
        record = support.recorded(ws)
        names = support.package_notebooks(self.new_data / "notebooks")
        self.assertEqual(sorted(record), sorted(names + [README]))
        self.assertEqual(record[PARAMS], fingerprint(self.package(PARAMS)))
        self.assertEqual(record[README], fingerprint((ws / README).read_bytes()))
        self.assertEqual(self.kept(self.init(ws)), [])
        self.assertEqual(self.kept(self.init(ws, "--force")), [])
        self.assertEqual(os.listdir(ws / "yedek"), [folder])
        self.assertEqual(temporaries(ws), [])

    def test_the_auto_sync_keeps_the_edited_notebooks_and_says_where(self):
        ws, edits = self.prepared()
        status, error, out = support.sync_in_child(self.new_library, ws)
        self.assertEqual((status, error), (0, ""))
        [folder] = os.listdir(ws / "yedek")
        names = support.package_notebooks(self.new_data / "notebooks")
        self.assertEqual(out.splitlines(), [
            f"  [SYNC] Notebook'lar güncellendi: v0.9.0 → v{self.version} ({len(names)} dosya)",
            f"  [SYNC] Yedeklendi: yedek/{folder}/{PARAMS}",
            f"  [SYNC] Yedeklendi: yedek/{folder}/{RUN}",
        ])
        for name in (PARAMS, RUN):
            self.assertEqual((ws / "yedek" / folder / name).read_bytes(), edits[name])
            self.assertEqual((ws / name).read_bytes(), self.package(name))
        # The data readme is init's to write: the note stays where it is.
        self.assertEqual((ws / README).read_bytes(), edits[README])
        record = support.recorded(ws)
        self.assertEqual(record[PARAMS], fingerprint(self.package(PARAMS)))
        self.assertNotEqual(record[README], fingerprint(edits[README]))  # still what init installed
        # init now keeps the note, and no notebook.
        kept = self.kept(self.init(ws))
        self.assertEqual([k.split("/", 2)[2] for k in kept], ["VERI_KOPYALA.txt"])

    def test_init_force_keeps_edits_and_nothing_else(self):
        ws, edits = self.prepared(current=True)
        (ws / README).write_bytes((self.old_data / "VERI_KOPYALA.txt").read_bytes())
        kept = self.kept(self.init(ws, "--force"))
        self.assertEqual([k.split("/", 2)[2] for k in kept], [PARAMS, RUN])
        self.assertEqual((ws / kept[0]).read_bytes(), edits[PARAMS])
        self.assertEqual(self.kept(self.init(ws, "--force")), [])

    def test_without_a_usable_record_every_file_that_differs_is_kept(self):
        # A directory an earlier version prepared has no record; a damaged one counts as none.
        for record in (None, b"{bozuk", b'{"nb_03_marts.ipynb": 3}', b'\xff'):
            ws, edits = self.prepared()
            path = ws / "db" / ".nb_installed.json"
            if record is None:
                path.unlink()
            else:
                path.write_bytes(record)
            kept = self.kept(self.init(ws))
            with self.subTest(record=record):
                self.assertEqual([k.split("/", 2)[2] for k in kept], ["VERI_KOPYALA.txt", PARAMS, RUN, UPGRADED])
                self.assertEqual(support.recorded(ws)[UPGRADED], fingerprint(self.package(UPGRADED)))

    def test_an_earlier_copy_is_never_overwritten(self):
        ws, _ = self.prepared()
        # Folders for every second the run may start in, each already holding a copy.
        now = int(time.time())
        earlier = {}
        for t in range(now - 1, now + 30):
            folder = ws / "yedek" / time.strftime("%Y%m%d-%H%M%S", time.gmtime(t))
            folder.mkdir(parents=True)
            (folder / PARAMS).write_text(f"önceki kopya {t}")
            earlier[folder] = f"önceki kopya {t}"
        kept = self.kept(self.init(ws))
        self.assertEqual(len(kept), 3)
        self.assertRegex(kept[0], r"^yedek/\d{8}-\d{6}-2/")
        for folder, text in earlier.items():
            self.assertEqual((folder / PARAMS).read_text(), text)
            self.assertEqual(os.listdir(folder), [PARAMS])

    def test_a_copy_that_cannot_be_made_stops_before_anything_is_replaced(self):
        ws, edits = self.prepared()
        (ws / "yedek").write_text("kopyaların klasörü olması gereken yerde bir dosya")
        record = (ws / "db" / ".nb_installed.json").read_bytes()
        proc = support.run(["--dir", ws, "init"], program=self.new_program)
        err = support.stderr_text(proc)
        self.assertEqual(proc.returncode, 1, err)
        self.assertRegex(err, rf"^{support.PROG}: hata: {re.escape(str(ws))}/yedek/\d{{8}}-\d{{6}}/VERI_KOPYALA.txt: "
                              "yedeklenemedi: bir dizin değil\n$")
        for rel, data in edits.items():
            self.assertEqual((ws / rel).read_bytes(), data, rel)
        self.assertEqual((ws / "db" / ".nb_version").read_text(), "0.9.0")
        self.assertEqual((ws / "db" / ".nb_installed.json").read_bytes(), record)
        self.assertEqual(temporaries(ws), [])
        (ws / "yedek").unlink()
        self.assertEqual(len(self.kept(self.init(ws))), 3)


class RunsAtOnce(unittest.TestCase):
    """Shells and notebook kernels that update one work directory at the same time all succeed."""

    ROUNDS = 8
    RUNS = 8

    def test_inits_and_auto_syncs_at_once(self):
        with support.Scratch() as tmp:
            ws = support.workdir(tmp)
            names = support.package_notebooks()
            edits = set()
            for round_ in range(self.ROUNDS):
                (ws / "db" / ".nb_version").write_text("0.9.0")
                # Every other round the analyst has edited a notebook: several runs keep it at once.
                edit = f'{{"cells": [], "tur": {round_}}}\n'.encode()
                if round_ % 2:
                    (ws / names[round_]).write_bytes(edit)
                    edits.add((names[round_], edit))
                procs = []
                for i in range(self.RUNS):
                    if i % 4 == 3:
                        args = [sys.executable, "-c", support.SYNC_CHILD, str(support.LIBRARY), str(ws)]
                    else:
                        # --force replaces every notebook: the most renames under the others' feet.
                        args = [support.PROGRAM, "--dir", ws, "init"] + (["--force"] if i % 4 else [])
                    procs.append(subprocess.Popen([str(a) for a in args], stdout=subprocess.DEVNULL,
                                                  stderr=subprocess.PIPE, preexec_fn=support.default_signals))
                for i, p in enumerate(procs):
                    _, err = p.communicate(timeout=support.RUN_TIMEOUT)
                    err = err.decode("utf-8", "replace")
                    with self.subTest(round=round_, run=i):
                        self.assertEqual(p.returncode, 0, err)
                        self.assertNotIn("@@status=1", err)  # the auto-sync's own status
                for name in names:
                    self.assertEqual((ws / name).read_bytes(), (support.NOTEBOOKS / name).read_bytes(), name)
                self.assertEqual((ws / "db" / ".nb_version").read_text(), support.version())
                self.assertEqual(temporaries(ws), [])
                # Each copy whole and the analyst's, in a folder of its own run; none left empty.
                kept = {(p.name, p.read_bytes()) for p in ws.glob("yedek/*/*")}
                self.assertEqual(kept, edits)
                self.assertTrue(all(any(f.iterdir()) for f in (ws / "yedek").glob("*")) if edits else True)


if __name__ == "__main__":
    support.main()
