#!/usr/bin/env python3
"""The wheel's command, the program itself in an environment's scripts directory, from the layouts
installers give it (a virtual environment, the user's base, --target), with the wheel's files beside
it: it uses those files, from anywhere, through a link too, and refuses an environment that holds
another version.

    wheel_command_test.py WHEEL_COMMAND BUILD_DIR VERSION [unittest args]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

if len(sys.argv) < 4:
    sys.exit(__doc__)
COMMAND, BUILD, VERSION = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve(), sys.argv[3]
PKG = "qev_scoreboard_cli"
INGEST = "nb_01_ingest.ipynb"


def run(program, *args, cwd="/"):
    return subprocess.run([str(program), *map(str, args)], capture_output=True, timeout=120,
                          stdin=subprocess.DEVNULL, cwd=cwd)


def text(proc):
    return (proc.stdout + proc.stderr).decode("utf-8", "replace")


class WheelCommand(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.root = Path(self.tmp.name)

    def environment(self, scripts, site, version=VERSION):
        """The wheel as an installer leaves it: the command in `scripts`, the package and its record in
        `site`. One notebook of the package is the environment's own, to tell its files from the build's."""
        package = self.root / site / PKG
        (package / "share").mkdir(parents=True)
        shutil.copytree(BUILD / "share" / "qev-scoreboard", package / "share" / "qev-scoreboard")
        (package / "lib").mkdir()
        (package / "lib" / "qev-scoreboard").symlink_to(BUILD / "lib" / "qev-scoreboard")
        (self.root / site / f"{PKG}-{version}.dist-info").mkdir()
        notebooks = package / "share" / "qev-scoreboard" / "notebooks"
        own = sorted(p for p in notebooks.glob("*.ipynb") if p.name != INGEST)[0]
        own.write_bytes(own.read_bytes().rstrip() + b"\n")
        program = self.root / scripts / "qev-scoreboard"
        program.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(COMMAND, program)
        return program, notebooks

    def check_uses_its_environment(self, program, notebooks):
        proc = run(program, "version")
        self.assertEqual((proc.returncode, proc.stdout), (0, f"qev_scoreboard {VERSION}\n".encode()), text(proc))
        ws = self.root / "iş dizini"
        proc = run(program, "--dir", ws, "init")
        self.assertEqual(proc.returncode, 0, text(proc))
        for nb in notebooks.glob("*.ipynb"):
            if nb.name != INGEST:
                self.assertEqual((ws / nb.name).read_bytes(), nb.read_bytes(), nb.name)
        proc = run(program, "status", cwd=ws)
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertTrue(proc.stdout.decode().startswith(f"QEV Scoreboard v{VERSION} — status\n"), text(proc))
        proc = run(program, "verify", "--db", ws / "db" / "qev.duckdb")
        self.assertRegex(proc.stdout.decode(), r"\[OK\] *Veritabanı motoru: DuckDB", text(proc))
        self.assertEqual(run(program, "--dir", ws, "bogus").returncode, 2)

    def test_a_virtual_environment(self):
        self.check_uses_its_environment(*self.environment("venv/bin", "venv/lib/python3.11/site-packages"))

    def test_the_users_base_reached_through_a_link(self):
        # As pipx installs: the command on PATH is a link into an environment of its own.
        program, notebooks = self.environment("pipx/venvs/qev/bin", "pipx/venvs/qev/lib/python3.12/site-packages")
        link = self.root / ".local" / "bin" / "qev-scoreboard"
        link.parent.mkdir(parents=True)
        link.symlink_to(program)
        self.check_uses_its_environment(link, notebooks)

    def test_a_target_directory(self):
        self.check_uses_its_environment(*self.environment("target/bin", "target"))

    def test_another_versions_environment_is_refused_by_name(self):
        program, _ = self.environment("venv/bin", "venv/lib/python3.11/site-packages", version="0.0.1")
        self.assertEqual(run(program, "version").returncode, 0)
        proc = run(program, "--dir", self.root / "ws", "init")
        self.assertEqual(proc.returncode, 1, text(proc))
        self.assertIn(f"{program.parent}: kütüphanenin konumu bulunamadı: {PKG} {VERSION} kurulumu bu ortamda yok",
                      proc.stderr.decode())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[4:])
