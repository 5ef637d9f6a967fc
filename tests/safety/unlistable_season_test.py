#!/usr/bin/env python3
"""The auto-sync, run by an ordinary user through ctypes, gets past a season directory it cannot list:
the reports it can reach are still deleted and the call succeeds; a report it cannot delete is still an
error."""
import json
import os
import unittest

import support


@support.needs_root
class AutoSyncPastUnlistableSeason(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = support.enter_scratch(cls.addClassCleanup)
        cls.prefix = cls.tmp / "prefix"
        cls.program, _ = support.make_prefix(cls.prefix)
        cls.library = support.prefix_library(cls.prefix)
        cls.version = support.version()

    def make_ws(self, name, closed_season="2024_01"):
        ws = self.tmp / name
        proc = support.run(["--dir", ws, "init"], program=self.program)
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        (ws / "db" / ".nb_version").write_text("0.0.1")
        reports = [ws / "seasons" / "2024_02" / "deep" / "error_report.txt",
                   ws / "outputs" / "json" / "error_report.txt", ws / "outputs" / "error_report.txt"]
        for report in reports:
            report.parent.mkdir(parents=True, exist_ok=True)
            report.write_text("hata\n")
        # Every step's meta file in the newest season, so the meta-hash refresh never looks further.
        meta = ws / "seasons" / "2024_02" / "meta"
        meta.mkdir()
        for kod in json.loads((support.DATA_DIR / "adim_registry.json").read_text()):
            (meta / f"adim_{kod}.json").write_text(json.dumps({"nb_hash": "0000000000000000"}))
        closed = ws / "seasons" / closed_season
        (closed / "meta").mkdir(parents=True)
        (closed / "error_report.txt").write_text("hata\n")
        support.chown_tree(ws)
        # A season left by another user: not even listable by this one.
        support.chown_tree(closed, 0, 0)
        os.chmod(closed, 0o700)
        return ws, reports

    def test_unlistable_season_is_skipped(self):
        ws, reports = self.make_ws("skip")
        status, error, out = support.sync_in_child(self.library, ws, as_nobody=True)
        self.assertEqual((status, error), (0, ""))
        for report in reports:
            self.assertFalse(report.exists(), report)
        self.assertEqual((ws / "db" / ".nb_version").read_text(), self.version)
        self.assertIn("  [SYNC] 3 eski error_report temizlendi\n", out)
        os.chmod(ws / "seasons" / "2024_01", 0o755)
        self.assertTrue((ws / "seasons" / "2024_01" / "error_report.txt").exists())

    def test_unlistable_newest_season_is_passed_by_the_refresh(self):
        # The refresh meets the closed season first for every step: each step is left alone there,
        # as a meta file that cannot be read would be, and the older season's files are not touched.
        ws, reports = self.make_ws("newest", closed_season="2024_09")
        older = ws / "seasons" / "2024_02" / "meta"
        before = {p.name: p.read_bytes() for p in older.iterdir()}
        status, error, out = support.sync_in_child(self.library, ws, as_nobody=True)
        self.assertEqual((status, error), (0, ""))
        self.assertNotIn("meta hash", out)
        self.assertEqual({p.name: p.read_bytes() for p in older.iterdir()}, before)
        for report in reports:
            self.assertFalse(report.exists(), report)

    def test_report_that_cannot_be_deleted_fails_the_call(self):
        ws, _ = self.make_ws("undeletable")
        kept = ws / "seasons" / "2024_03" / "error_report.txt"
        kept.parent.mkdir()
        kept.write_text("hata\n")
        os.chmod(kept.parent, 0o755)  # root's: listable, but its entries cannot be removed by the user
        status, error, _ = support.sync_in_child(self.library, ws, as_nobody=True)
        self.assertNotEqual(status, 0)
        self.assertIn(str(kept), error)
        self.assertTrue(kept.exists())


if __name__ == "__main__":
    support.main()
