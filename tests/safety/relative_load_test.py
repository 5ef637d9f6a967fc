#!/usr/bin/env python3
"""The library loaded through ctypes by a relative path still finds its package data after the caller
changes directory."""
import os
import unittest

import support


class LoadedByRelativePath(unittest.TestCase):
    def test_sync_after_chdir(self):
        root = support.PROGRAM.parent.parent
        relative = os.path.relpath(support.LIBRARY, root)
        self.assertFalse(os.path.isabs(relative))
        with support.Scratch() as tmp:
            ws = tmp / "ws"
            ws.mkdir()
            status, error, out = support.sync_in_child(relative, ws, cwd=root, chdir_to="/")
            self.assertEqual((status, error), (0, ""))
            names = support.package_notebooks()
            self.assertEqual(sorted(p.name for p in ws.glob("*.ipynb")), names)
            self.assertEqual((ws / "db" / ".nb_version").read_text(), support.version())
            self.assertIn(f"({len(names)} dosya)", out)


if __name__ == "__main__":
    support.main()
