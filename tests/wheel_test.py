#!/usr/bin/python3
"""The x86-64 wheel: its contents, then installed with pip into a fresh virtual environment, used from
elsewhere as a notebook user would, and uninstalled without a trace.

Usage: wheel_test.py WHEEL VERSION PACKAGE_NOTEBOOK_DIR
"""
import base64
import csv
import hashlib
import io
import os
import re
import signal
import stat
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

WHEEL, VERSION, NOTEBOOKS = Path(sys.argv[1]).resolve(), sys.argv[2], Path(sys.argv[3])
SOURCE = Path(__file__).resolve().parent.parent
PKG = "qev_scoreboard_cli"
DIST_INFO = f"{PKG}-{VERSION}.dist-info"
INGEST = "nb_01_ingest.ipynb"
NAME = re.compile(rf"{PKG}-{re.escape(VERSION)}-py3-none-manylinux_(\d+)_(\d+)_x86_64\.whl")


def run(cmd, **kw):
    return subprocess.run([str(c) for c in cmd], capture_output=True, timeout=300, **kw)


def text(proc):
    return (proc.stdout + proc.stderr).decode("utf-8", "replace")


class Contents(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.zip = zipfile.ZipFile(WHEEL)
        cls.names = cls.zip.namelist()

    def test_record_hashes_every_file(self):
        rows = list(csv.reader(io.StringIO(self.zip.read(f"{DIST_INFO}/RECORD").decode())))
        self.assertEqual(sorted(r[0] for r in rows), sorted(self.names))
        for name, digest, size in rows:
            if name == f"{DIST_INFO}/RECORD":
                self.assertEqual((digest, size), ("", ""))
                continue
            data = self.zip.read(name)
            expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            self.assertEqual((digest, int(size)), (f"sha256={expected}", len(data)), name)

    def test_layout_modes_and_metadata(self):
        notebooks = sorted(p.name for p in NOTEBOOKS.glob("*.ipynb"))
        expected = {f"{PKG}/__init__.py", f"{PKG}/__main__.py", f"{PKG}/bin/qev-scoreboard",
                    f"{PKG}/lib/libqev_scoreboard.so.1", f"{PKG}/lib/qev-scoreboard/libduckdb.so",
                    f"{PKG}/share/qev-scoreboard/VERI_KOPYALA.txt", f"{PKG}/share/qev-scoreboard/adim_registry.json"}
        expected |= {f"{PKG}/share/qev-scoreboard/notebooks/{n}" for n in notebooks}
        expected |= {f"{DIST_INFO}/{n}" for n in
                     ("METADATA", "WHEEL", "entry_points.txt", "top_level.txt", "copyright", "RECORD")}
        self.assertEqual(sorted(self.names), sorted(expected))
        for n in notebooks:
            self.assertEqual(self.zip.read(f"{PKG}/share/qev-scoreboard/notebooks/{n}"), (NOTEBOOKS / n).read_bytes())

        for info in self.zip.infolist():
            mode = info.external_attr >> 16
            runs = info.filename.startswith((f"{PKG}/bin/", f"{PKG}/lib/"))
            self.assertEqual((stat.S_ISREG(mode), stat.S_IMODE(mode)), (True, 0o755 if runs else 0o644), info.filename)

        wheel_meta = self.zip.read(f"{DIST_INFO}/WHEEL").decode()
        tag = WHEEL.name[len(f"{PKG}-{VERSION}-"):-len(".whl")]
        self.assertIn(f"\nTag: {tag}\n", wheel_meta)
        self.assertIn("Root-Is-Purelib: false", wheel_meta)
        self.assertIn("[console_scripts]\nqev-scoreboard = qev_scoreboard_cli.__main__:main\n",
                      self.zip.read(f"{DIST_INFO}/entry_points.txt").decode())
        meta = self.zip.read(f"{DIST_INFO}/METADATA").decode()
        self.assertIn("\nName: qev-scoreboard-cli\n", meta)
        self.assertIn(f"\nVersion: {VERSION}\n", meta)
        self.assertIn("DuckDB", self.zip.read(f"{DIST_INFO}/copyright").decode())

    def test_no_path_of_the_build_machine(self):
        local = [str(SOURCE), str(WHEEL.parent.resolve()), str(Path.home())]
        for name in self.names:
            data = self.zip.read(name)
            for path in local:
                self.assertNotIn(path.encode() + b"/", data, f"{name} names {path}")

    def test_tag_claims_exactly_the_newest_glibc_the_binaries_need(self):
        m = NAME.fullmatch(WHEEL.name)
        self.assertIsNotNone(m, WHEEL.name)
        needed = set()
        with tempfile.TemporaryDirectory() as tmp:
            for name in self.names:
                data = self.zip.read(name)
                if data[:4] != b"\x7fELF":
                    continue
                (Path(tmp) / "f").write_bytes(data)
                proc = run(["objdump", "-T", Path(tmp) / "f"])
                self.assertEqual(proc.returncode, 0, text(proc))
                needed |= {tuple(map(int, v)) for v in re.findall(rb"GLIBC_(\d+)\.(\d+)", proc.stdout)}
        self.assertTrue(needed)
        self.assertEqual((int(m.group(1)), int(m.group(2))), max(needed))


class InstalledInAVirtualEnvironment(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.venv = Path(cls.tmp.name) / "venv"
        cls.elsewhere = Path(cls.tmp.name) / "elsewhere"
        cls.elsewhere.mkdir()
        proc = run([sys.executable, "-m", "venv", cls.venv])
        assert proc.returncode == 0, text(proc)
        cls.python = cls.venv / "bin" / "python"
        cls.before = cls.listing()
        cls.env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "PIP_", "LD_"))}
        cls.install = run([cls.python, "-m", "pip", "install", "--no-index", WHEEL], cwd=cls.elsewhere, env=cls.env)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def listing(cls):
        return {p.relative_to(cls.venv) for p in cls.venv.rglob("*")}

    def setUp(self):
        self.assertEqual(self.install.returncode, 0, text(self.install))

    def command(self, *args, cwd=None, **kw):
        return run([self.venv / "bin" / "qev-scoreboard", *args], cwd=cwd or self.elsewhere, env=self.env, **kw)

    def test_1_install_says_no_warning(self):
        self.assertNotRegex(text(self.install), r"(?i)warning|deprecat|error")
        self.assertIn("Successfully installed qev-scoreboard-cli-" + VERSION, text(self.install))

    def test_2_command_init_and_status_from_anywhere(self):
        ws = Path(self.tmp.name) / "demo dir"
        proc = self.command("--dir", ws, "init")
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertIn("KURULUM TAMAM", text(proc))
        self.assertEqual((ws / "db" / ".nb_version").read_text(), VERSION)
        for nb in NOTEBOOKS.glob("*.ipynb"):
            if nb.name != INGEST:
                self.assertEqual((ws / nb.name).read_bytes(), nb.read_bytes(), nb.name)
        proc = self.command("status", cwd=ws)
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertTrue(proc.stdout.decode().startswith(f"QEV Scoreboard v{VERSION} — status\nÇalışma dizini: {ws}\n"),
                        text(proc))
        proc = self.command("verify", "--db", ws / "db" / "qev.duckdb", cwd="/")
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertRegex(proc.stdout.decode(), r"\[OK\] *Veritabanı motoru: DuckDB")
        self.assertIn("Kurulum doğrulandı.", proc.stdout.decode())
        proc = run([self.python, "-m", PKG, "version"], cwd="/", env=self.env)
        self.assertEqual((proc.returncode, proc.stdout.decode()), (0, f"qev_scoreboard {VERSION}\n"), text(proc))

    def test_3_status_and_signals_pass_through(self):
        proc = self.command("--dir", self.elsewhere, "bogus")
        self.assertEqual(proc.returncode, 2, text(proc))
        self.assertIn("geçersiz alt komut: 'bogus'", proc.stderr.decode())
        # A reader that went away: the program dies of SIGPIPE, as it does when started from a shell,
        # although the Python in front of it ignores that signal.
        r, w = os.pipe()
        os.close(r)
        try:
            proc = subprocess.run([self.venv / "bin" / "qev-scoreboard", "--help"], stdout=w,
                                  stderr=subprocess.PIPE, env=self.env, timeout=60)
        finally:
            os.close(w)
        self.assertEqual(proc.returncode, -signal.SIGPIPE, proc.stderr.decode(errors="replace"))

    def test_4_module_prints_through_sys_stdout_and_raises_errno(self):
        ws = Path(self.tmp.name) / "module ws"
        code = (
            "import contextlib, io, os, sys\n"
            "import qev_scoreboard_cli as q\n"
            "print(q.__file__); print(q.__version__)\n"
            f"buf = io.StringIO()\n"
            f"with contextlib.redirect_stdout(buf):\n    q.sync_notebooks({str(ws)!r})\n"
            "print(repr(buf.getvalue())); print(q._lib._name)\n"
            f"open({str(ws / 'blocker')!r}, 'w').close()\n"
            f"try:\n    q.sync_notebooks({str(ws / 'blocker' / 'ws')!r})\n"
            "except NotADirectoryError as e:\n    print(e.errno, e.filename, e.strerror, sep='|')\n")
        proc = run([self.python, "-B", "-c", code], cwd="/", env=self.env)
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertEqual(proc.stderr, b"")
        module, version, captured, library, failure = proc.stdout.decode().splitlines()
        site = Path(module).parent
        self.assertTrue(site.is_relative_to(self.venv), module)
        self.assertEqual(version, VERSION)
        count = len([p for p in NOTEBOOKS.glob("*.ipynb") if p.name != INGEST])
        self.assertEqual(captured, repr(f"  [SYNC] Notebook'lar kopyalandı: v{VERSION} ({count} dosya)\n"))
        self.assertEqual(Path(library), site / "lib" / "libqev_scoreboard.so.1")
        self.assertEqual(failure, f"20|{ws / 'blocker'}|bir dizin değil")

    def test_5_uninstall_leaves_nothing_of_ours(self):
        proc = run([self.python, "-m", "pip", "uninstall", "-y", "qev-scoreboard-cli"], cwd=self.elsewhere, env=self.env)
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertNotRegex(text(proc), r"(?i)warning")
        left = sorted(str(p) for p in self.listing() - self.before if re.search(r"(?i)qev", str(p)))
        self.assertEqual(left, [])
        self.assertFalse((self.venv / "bin" / "qev-scoreboard").exists())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
