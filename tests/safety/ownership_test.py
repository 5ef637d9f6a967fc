#!/usr/bin/env python3
"""init run by root in a user's work directory: an updated notebook stays the user's, a notebook or stamp
installed as a symbolic link stays a link whose target gets the new content, and the stamp keeps its
owner."""
import os
import unittest

import support
from support import NOBODY, NOTEBOOKS


@support.needs_root
class OwnerGroupAndLinksKept(unittest.TestCase):
    def setUp(self):
        self.tmp = support.enter_scratch(self.addCleanup)
        self.ws = support.workdir(self.tmp, stamp="0.0.1")
        support.chown_tree(self.ws)
        self.names = support.package_notebooks()

    def init(self, *extra):
        proc = support.run(["--dir", self.ws, "init", *extra])
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        return proc.stdout.decode()

    def test_updated_notebook_keeps_owner_and_group(self):
        name = self.names[0]
        nb = self.ws / name
        nb.write_bytes(b'{"edited": "by the user"}\n')
        os.chmod(nb, 0o600)
        out = self.init()
        self.assertIn(f"    ↻ {name}\n", out)
        st = os.lstat(nb)
        self.assertEqual((st.st_uid, st.st_gid), (NOBODY, NOBODY))
        self.assertEqual(nb.read_bytes(), (NOTEBOOKS / name).read_bytes())
        # The copy carries the package notebook's permission bits.
        self.assertEqual(st.st_mode & 0o7777, os.stat(NOTEBOOKS / name).st_mode & 0o7777)

    def test_forced_update_keeps_owner_of_every_notebook(self):
        self.init("--force")
        for name in self.names:
            st = os.lstat(self.ws / name)
            self.assertEqual((st.st_uid, st.st_gid), (NOBODY, NOBODY), name)

    def test_notebook_link_stays_a_link_and_its_target_is_updated(self):
        name = self.names[-1]
        elsewhere = self.tmp / "elsewhere"
        elsewhere.mkdir()
        target = elsewhere / "mine.ipynb"
        target.write_bytes(b'{"old": true}\n')
        os.lchown(target, NOBODY, NOBODY)
        (self.ws / name).unlink()
        os.symlink("../elsewhere/mine.ipynb", self.ws / name)
        out = self.init()
        self.assertIn(f"    ↻ {name}\n", out)
        self.assertTrue((self.ws / name).is_symlink(), "the link was replaced by a plain file")
        self.assertEqual(os.readlink(self.ws / name), "../elsewhere/mine.ipynb")
        self.assertEqual(target.read_bytes(), (NOTEBOOKS / name).read_bytes())
        st = os.stat(target)
        self.assertEqual((st.st_uid, st.st_gid), (NOBODY, NOBODY))
        self.assertEqual(sorted(p.name for p in elsewhere.iterdir()), ["mine.ipynb"])

    def test_stamp_keeps_owner_and_link(self):
        stamp = self.ws / "db" / ".nb_version"
        self.init()
        st = os.lstat(stamp)
        self.assertEqual((st.st_uid, st.st_gid), (NOBODY, NOBODY))
        self.assertEqual(stamp.read_text(), support.version())

        real = self.tmp / "stamp-kept-elsewhere"
        real.write_text("0.0.1")
        os.lchown(real, NOBODY, NOBODY)
        stamp.unlink()
        os.symlink(real, stamp)
        self.init()
        self.assertTrue(stamp.is_symlink(), "the stamp link was replaced by a plain file")
        self.assertEqual(real.read_text(), support.version())
        st = os.stat(real)
        self.assertEqual((st.st_uid, st.st_gid), (NOBODY, NOBODY))


if __name__ == "__main__":
    support.main()
