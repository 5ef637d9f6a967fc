#!/usr/bin/env python3
"""A package notebook whose name takes 250 of the 255 bytes a name may have is installed by init and by
the auto-sync, and updated in place of an edited copy."""
import os
import unittest

import support


class LongNotebookName(unittest.TestCase):
    def test_250_byte_name(self):
        with support.Scratch() as tmp:
            program, data = support.make_prefix(tmp / "prefix")
            name = "nb_" + "ş" * 60 + "x" * (250 - 3 - 120 - 6) + ".ipynb"
            self.assertEqual(len(name.encode()), 250)
            content = b'{"cells": [], "metadata": {}, "nbformat": 4, "nbformat_minor": 5}\n'
            (data / "notebooks" / name).write_bytes(content)

            ws = tmp / "ws"
            proc = support.run(["--dir", ws, "init"], program=program)
            self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
            self.assertIn(f"    + {name}\n", proc.stdout.decode())
            self.assertEqual((ws / name).read_bytes(), content)

            (ws / name).write_bytes(b"{}\n")
            proc = support.run(["--dir", ws, "init"], program=program)
            self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
            self.assertIn(f"    ↻ {name}\n", proc.stdout.decode())
            self.assertEqual((ws / name).read_bytes(), content)
            [kept] = (ws / "yedek").glob(f"*/{name}")
            self.assertEqual(kept.read_bytes(), b"{}\n")

            synced = tmp / "synced"
            synced.mkdir()
            status, error, _ = support.sync_in_child(support.prefix_library(tmp / "prefix"), synced)
            self.assertEqual((status, error), (0, ""))
            self.assertEqual((synced / name).read_bytes(), content)
            self.assertEqual([n for n in os.listdir(synced) if n.startswith(".")], [])


if __name__ == "__main__":
    support.main()
