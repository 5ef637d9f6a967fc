#!/usr/bin/env python3
"""init never waits on a FIFO where a regular file belongs: at the stamp or at an installed notebook it is
an error naming the path; at a step meta file it is skipped like any meta file that cannot be handled."""
import json
import os
import subprocess
import unittest

import support

PROMPT = 20


class NoHangOnFifo(unittest.TestCase):
    def setUp(self):
        self.tmp = support.enter_scratch(self.addCleanup)
        self.ws = support.workdir(self.tmp)

    def init(self):
        try:
            return support.run(["--dir", self.ws, "init"], timeout=PROMPT)
        except subprocess.TimeoutExpired:
            self.fail(f"init still waiting after {PROMPT} s")

    def assert_refused(self, proc, path):
        err = support.stderr_text(proc)
        self.assertEqual(proc.returncode, 1, err)
        self.assertIn(f"{path}: ", err)
        self.assertEqual(support.file_type(path), 0o010000, "the FIFO was replaced")

    def test_fifo_stamp(self):
        stamp = self.ws / "db" / ".nb_version"
        stamp.unlink()
        os.mkfifo(stamp)
        self.assert_refused(self.init(), stamp)

    def test_fifo_notebook(self):
        nb = self.ws / support.package_notebooks()[0]
        nb.unlink()
        os.mkfifo(nb)
        self.assert_refused(self.init(), nb)

    def test_fifo_meta_file_is_skipped(self):
        (self.ws / "db" / ".nb_version").write_text("0.0.1")
        meta = self.ws / "seasons" / "2024_01" / "meta"
        meta.mkdir(parents=True)
        os.mkfifo(meta / "adim_01a.json")
        (meta / "adim_01b.json").write_text(json.dumps({"nb_hash": "0000000000000000"}))
        proc = self.init()
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        self.assertEqual(proc.stderr, b"")
        self.assertIn("  [SYNC] 1 meta hash güncellendi", proc.stdout.decode())
        self.assertEqual(support.file_type(meta / "adim_01a.json"), 0o010000)
        self.assertEqual((self.ws / "db" / ".nb_version").read_text(), support.version())


if __name__ == "__main__":
    support.main()
