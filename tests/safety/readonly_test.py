#!/usr/bin/env python3
"""Run as an ordinary user, init writes a file exactly when a plain write could: a file made read-only is
refused (status 1, its path on standard error, the file untouched) even where the directory would allow a
rename over it; a writable file in a directory that refuses new files, or refuses a rename over it (a
sticky one), is written in place."""
import os
import unittest

import support
from support import NOBODY


@support.needs_root
class ReadOnlyFilesAndSharedDirectories(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = support.enter_scratch(cls.addClassCleanup)
        cls.program, cls.data = support.make_prefix(cls.tmp / "prefix")
        cls.version = support.version()

    def make_ws(self, name):
        ws = self.tmp / name
        proc = support.run(["--dir", ws, "init"], program=self.program)
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        support.chown_tree(ws)
        return ws

    def init_as_nobody(self, ws):
        return support.run(["--dir", ws, "init"], as_nobody=True, program=self.program)

    def assert_refused(self, proc, path):
        err = support.stderr_text(proc)
        self.assertEqual(proc.returncode, 1, err)
        self.assertIn(f"{path}: ", err)

    def test_read_only_stamp_is_refused_and_untouched(self):
        ws = self.make_ws("ro-stamp")
        stamp = ws / "db" / ".nb_version"
        stamp.write_text("0.0.1")
        os.chmod(stamp, 0o444)
        before = os.stat(stamp)
        proc = self.init_as_nobody(ws)
        self.assert_refused(proc, stamp)
        after = os.lstat(stamp)
        self.assertEqual(stamp.read_text(), "0.0.1")
        self.assertEqual((after.st_ino, after.st_mode & 0o7777, after.st_uid), (before.st_ino, 0o444, NOBODY))
        self.assertEqual(sorted(p.name for p in stamp.parent.iterdir() if p.name.startswith(".")),
                         [".nb_installed.json", ".nb_version"])

    def test_read_only_notebook_is_refused_and_untouched(self):
        ws = self.make_ws("ro-notebook")
        name = support.package_notebooks(self.data / "notebooks")[0]
        nb = ws / name
        nb.write_bytes(b'{"kept": "read-only"}\n')
        os.chmod(nb, 0o444)
        before = os.stat(nb)
        proc = self.init_as_nobody(ws)
        self.assert_refused(proc, nb)
        after = os.lstat(nb)
        self.assertEqual(nb.read_bytes(), b'{"kept": "read-only"}\n')
        self.assertEqual((after.st_ino, after.st_mode & 0o7777), (before.st_ino, 0o444))
        self.assertEqual([p.name for p in ws.iterdir() if p.name.startswith(".")], [])

    def test_writable_files_in_a_directory_refusing_new_files_are_written_in_place(self):
        ws = self.make_ws("shared")
        # Directories root's and closed to new entries; the files in them the user's and writable.
        for root, dirs, _ in os.walk(ws):
            for d in [root] + [os.path.join(root, d) for d in dirs]:
                os.chown(d, 0, 0)
                os.chmod(d, 0o755)
        names = support.package_notebooks(self.data / "notebooks")
        edited = [names[0], names[-1]]
        for name in edited:
            (ws / name).write_bytes(b'{"edited": true}\n')
        stamp = ws / "db" / ".nb_version"
        stamp.write_text("0.0.1")
        readme = ws / "external_data" / "VERI_KOPYALA.txt"
        readme.write_text("eski\n")
        inodes = {p: os.stat(p).st_ino for p in [stamp, readme] + [ws / n for n in edited]}

        # The edits cannot be kept where nothing new may be made: refused before anything is replaced.
        proc = self.init_as_nobody(ws)
        err = support.stderr_text(proc)
        self.assertEqual(proc.returncode, 1, err)
        self.assertRegex(err, f"{ws / 'yedek'}/[0-9]{{8}}-[0-9]{{6}}/VERI_KOPYALA.txt: "
                              "yedeklenemedi: erişim izni yok")
        self.assertEqual((readme.read_text(), stamp.read_text()), ("eski\n", "0.0.1"))
        for name in edited:
            self.assertEqual((ws / name).read_bytes(), b'{"edited": true}\n')

        # A folder for kept copies the user may write to: kept there, and rewritten in place.
        (ws / "yedek").mkdir()
        os.chown(ws / "yedek", NOBODY, NOBODY)
        proc = self.init_as_nobody(ws)
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        out = proc.stdout.decode()
        [kept] = (ws / "yedek").iterdir()
        for name in edited:
            self.assertIn(f"    ↻ {name}\n", out)
            self.assertEqual((ws / name).read_bytes(), (self.data / "notebooks" / name).read_bytes())
            self.assertEqual((kept / name).read_bytes(), b'{"edited": true}\n')
        self.assertEqual((kept / "VERI_KOPYALA.txt").read_text(), "eski\n")
        self.assertEqual(stamp.read_text(), self.version)
        self.assertNotEqual(readme.read_text(), "eski\n")
        for path, ino in inodes.items():
            st = os.lstat(path)
            self.assertEqual((st.st_ino, st.st_uid), (ino, NOBODY), path)

    def test_others_files_in_a_shared_sticky_directory_are_written_in_place(self):
        # A team's directory (sticky, like /tmp): a rename over a teammate's file is refused there, a
        # plain write to it, group-writable, is not.
        ws = self.make_ws("sticky")
        stamp = ws / "db" / ".nb_version"
        stamp.write_text("0.0.1")
        name = support.package_notebooks(self.data / "notebooks")[0]
        nb = ws / name
        nb.write_bytes(b'{"edited": true}\n')
        readme = ws / "external_data" / "VERI_KOPYALA.txt"
        for path in (stamp, nb, readme):
            os.chown(path, 0, 0)
            os.chmod(path, 0o666)
        for d in (ws, ws / "db", ws / "external_data"):
            os.chown(d, 0, 0)
            os.chmod(d, 0o1777)
        inodes = {p: os.stat(p).st_ino for p in (stamp, nb, readme)}
        proc = self.init_as_nobody(ws)
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        self.assertEqual(stamp.read_text(), self.version)
        self.assertEqual(nb.read_bytes(), (self.data / "notebooks" / name).read_bytes())
        for path, ino in inodes.items():
            st = os.lstat(path)
            self.assertEqual((st.st_ino, st.st_uid), (ino, 0), path)


if __name__ == "__main__":
    support.main()
