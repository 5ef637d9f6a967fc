#!/usr/bin/python3
"""A wheel: its contents, then, for this machine's architecture, installed with pip into a fresh virtual
environment (and into a --target and a --prefix directory and a user's base), used from elsewhere as a
notebook user would, and uninstalled without a trace; for another architecture or Windows, unpacked as
pip would and its program run through an emulator (qemu-user, wine), its command too, from the layouts an
installer gives it. The command is the program itself, never a Python script.

Usage: wheel_test.py WHEEL VERSION PACKAGE_NOTEBOOK_DIR [--dll-caller EXE] [EMULATOR...]

The Windows wheel's module cannot run here (no Windows Python): what is checked of it is which files it
picks in the wheel's layout, and the child process of `python -m` as POSIX can run it. --dll-caller
names a Windows program linked to qev_scoreboard.dll that takes a work directory and syncs it; placed
beside the wheel's DLL and run under the emulator, it shows that DLL finding the wheel's notebooks.
"""
import base64
import csv
import hashlib
import io
import os
import platform
import re
import signal
import stat
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

WHEEL, VERSION, NOTEBOOKS, EMULATOR = Path(sys.argv[1]).resolve(), sys.argv[2], Path(sys.argv[3]), sys.argv[4:]
DLL_CALLER = None
if EMULATOR[:1] == ["--dll-caller"] and len(EMULATOR) > 1:
    DLL_CALLER, EMULATOR = Path(EMULATOR[1]).resolve(), EMULATOR[2:]
SOURCE = Path(__file__).resolve().parent.parent
PKG = "qev_scoreboard_cli"
DIST_INFO = f"{PKG}-{VERSION}.dist-info"
INGEST = "nb_01_ingest.ipynb"
NAME = re.compile(rf"{PKG}-{re.escape(VERSION)}-py3-none-(?:manylinux_(\d+)_(\d+)_(x86_64|aarch64)|(win_amd64))\.whl")
# Per machine of the tag: the ELF header's e_machine, and the objdump that reads its dynamic symbols.
MACHINES = {"x86_64": (62, "objdump"), "aarch64": (183, "aarch64-linux-gnu-objdump")}
MACHINE = next(g for g in NAME.fullmatch(WHEEL.name).groups()[2:] if g) if NAME.fullmatch(WHEEL.name) else None
WINDOWS = MACHINE == "win_amd64"
# The program and the libraries, where each system's loader finds them; the command, for the scripts
# directory of the environment the wheel goes into.
EXE = ".exe" if WINDOWS else ""
PROGRAM = f"{PKG}/bin/qev-scoreboard{EXE}"
SCRIPTS = f"{PKG}-{VERSION}.data/scripts"
COMMAND = f"{SCRIPTS}/qev-scoreboard{EXE}"
LIBRARY = f"{PKG}/bin/qev_scoreboard.dll" if WINDOWS else f"{PKG}/lib/libqev_scoreboard.so.1"
BINARIES = [PROGRAM, COMMAND, LIBRARY, f"{PKG}/bin/duckdb.dll" if WINDOWS else f"{PKG}/lib/qev-scoreboard/libduckdb.so"]
# What a program file starts with on each system, where a script would start with "#!".
MAGIC = b"MZ" if WINDOWS else b"\x7fELF"


def run(cmd, **kw):
    return subprocess.run([str(c) for c in cmd], capture_output=True, timeout=300, stdin=subprocess.DEVNULL, **kw)


def native(path):
    """A path as the wheel's program takes it: under wine, on the drive that maps /."""
    return "Z:" + str(path).replace("/", "\\") if WINDOWS else str(path)


def unpack(site, scripts=None):
    """The wheel unpacked into `site` with the modes pip gives its files; its scripts into `scripts`, as
    an installer moves them, when given."""
    with zipfile.ZipFile(WHEEL) as wheel:
        for info in wheel.infolist():
            path = Path(wheel.extract(info, site))
            if scripts is not None and info.filename.startswith(SCRIPTS + "/"):
                scripts.mkdir(parents=True, exist_ok=True)
                path = path.rename(scripts / path.name)
            path.chmod(stat.S_IMODE(info.external_attr >> 16))


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
                self.assertEqual([digest, size], ["", ""])
                continue
            data = self.zip.read(name)
            expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            self.assertEqual([digest, size], [f"sha256={expected}", str(len(data))], name)

    def test_layout_modes_and_command(self):
        data = f"{PKG}/share/qev-scoreboard"
        expected = {f"{PKG}/__init__.py", f"{PKG}/__main__.py", *BINARIES}
        expected |= {f"{data}/VERI_KOPYALA.txt", f"{data}/adim_registry.json"}
        expected |= {f"{data}/notebooks/{p.name}" for p in NOTEBOOKS.glob("*.ipynb")}
        # The shell completions, where a shell sources them from.
        expected |= ({f"{PKG}/share/powershell/qev-scoreboard.ps1"} if WINDOWS else
                     {f"{PKG}/share/bash-completion/completions/qev-scoreboard",
                      f"{PKG}/share/zsh/vendor-completions/_qev-scoreboard",
                      f"{PKG}/share/fish/vendor_completions.d/qev-scoreboard.fish"})
        # No entry point: an installer would make a Python script of it, in the command's place.
        expected |= {f"{DIST_INFO}/{n}" for n in ("METADATA", "WHEEL", "top_level.txt", "copyright", "RECORD")}
        self.assertEqual(sorted(self.names), sorted(expected))
        for info in self.zip.infolist():
            mode = info.external_attr >> 16
            runs = info.filename.startswith((f"{PKG}/bin/", f"{PKG}/lib/", f"{SCRIPTS}/"))
            self.assertEqual(mode, stat.S_IFREG | (0o755 if runs else 0o644), info.filename)
        self.assertIn(f"\nTag: {WHEEL.name[len(PKG) + len(VERSION) + 2:-4]}\n", self.zip.read(f"{DIST_INFO}/WHEEL").decode())
        self.assertEqual(self.zip.read(COMMAND)[:len(MAGIC)], MAGIC)

    def test_no_path_of_the_build_machine(self):
        local = [str(SOURCE), str(WHEEL.parent.resolve()), str(Path.home())]
        for name in self.names:
            data = self.zip.read(name)
            for path in local:
                self.assertNotIn(path.encode() + b"/", data, f"{name} names {path}")

    @unittest.skipUnless(WINDOWS, "a Windows wheel")
    def test_binaries_are_windows_x64(self):
        found = []
        for name in self.names:
            data = self.zip.read(name)
            if data[:2] != b"MZ":
                continue
            found.append(name)
            pe = int.from_bytes(data[0x3C:0x40], "little")
            # The PE signature, the AMD64 machine and the optional header of a 64-bit image (PE32+).
            self.assertEqual((data[pe:pe + 4], int.from_bytes(data[pe + 4:pe + 6], "little"),
                              int.from_bytes(data[pe + 24:pe + 26], "little")), (b"PE\0\0", 0x8664, 0x20B), name)
        self.assertEqual(sorted(found), sorted(BINARIES))

    @unittest.skipIf(WINDOWS, "a Linux wheel")
    def test_tag_claims_exactly_the_newest_glibc_the_binaries_need(self):
        m = NAME.fullmatch(WHEEL.name)
        self.assertIsNotNone(m, WHEEL.name)
        e_machine, objdump = MACHINES[MACHINE]
        needed = set()
        elves = []
        with tempfile.TemporaryDirectory() as tmp:
            for name in self.names:
                data = self.zip.read(name)
                if data[:4] != b"\x7fELF":
                    continue
                elves.append(name)
                # 64-bit little-endian, built for the tag's machine
                self.assertEqual((data[4], data[5], int.from_bytes(data[18:20], "little")), (2, 1, e_machine), name)
                (Path(tmp) / "f").write_bytes(data)
                proc = run([objdump, "-T", Path(tmp) / "f"])
                self.assertEqual(proc.returncode, 0, text(proc))
                needed |= {tuple(map(int, v)) for v in re.findall(rb"GLIBC_(\d+)\.(\d+)", proc.stdout)}
        self.assertEqual(sorted(elves), sorted(BINARIES))
        self.assertTrue(needed)
        self.assertEqual((int(m.group(1)), int(m.group(2))), max(needed))


class UnpackedCase(unittest.TestCase):
    """The wheel unpacked into a site-packages directory of the class's own, with the modes pip would give."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.site = Path(cls.tmp.name) / "site-packages"
        unpack(cls.site)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()


class UnpackedUnderEmulator(UnpackedCase):
    """A foreign wheel's program, unpacked with the modes pip would give it, run as its users would."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.program = cls.site / PROGRAM

    def command(self, *args, cwd="/"):
        return run([*EMULATOR, self.program, *args], cwd=cwd)

    def test_init_status_verify_version(self):
        ws = Path(self.tmp.name) / "demo dir"
        proc = self.command("--dir", native(ws), "init")
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertIn("KURULUM TAMAM", proc.stdout.decode())
        for nb in NOTEBOOKS.glob("*.ipynb"):
            if nb.name != INGEST:
                self.assertEqual((ws / nb.name).read_bytes(), nb.read_bytes(), nb.name)
        self.assertFalse((ws / INGEST).exists())
        self.assertEqual((ws / "db" / ".nb_version").read_text(), VERSION)
        proc = self.command("status", cwd=ws)
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertTrue(proc.stdout.decode().startswith(f"QEV Scoreboard v{VERSION} — status\nÇalışma dizini: {native(ws)}\n"),
                        text(proc))
        # The engine is the wheel's own DuckDB, found beside the program's library.
        proc = self.command("verify", "--db", native(ws / "db" / "qev.duckdb"))
        self.assertRegex(proc.stdout.decode(), r"\[OK\] *Veritabanı motoru: DuckDB", text(proc))
        self.assertIn("Kurulum doğrulandı.", proc.stdout.decode(), text(proc))
        proc = self.command("version")
        self.assertEqual((proc.returncode, proc.stdout.decode()), (0, f"qev_scoreboard {VERSION}\n"), text(proc))
        proc = self.command("--dir", native(ws), "bogus")
        self.assertEqual(proc.returncode, 2, text(proc))

    def test_the_command_from_the_layouts_installers_give_it(self):
        # The scripts directory and the site directory of each: a virtual or conda environment (the
        # system's Python and a prefix alike), the user's base; on Windows with its own names.
        layouts = ([("Scripts", "Lib/site-packages"), ("Python311/Scripts", "Python311/site-packages")] if WINDOWS else
                   [("bin", "lib/python3.11/site-packages"), ("bin", "lib/python3.12/dist-packages")])
        for scripts, site in layouts:
            with self.subTest(scripts=scripts, site=site), tempfile.TemporaryDirectory() as tmp:
                env = Path(tmp) / "env dir"
                unpack(env / site, env / scripts)
                self.check_command(env / scripts / f"qev-scoreboard{EXE}", env / site, Path(tmp))

    def check_command(self, command, site, tmp):
        """The command, run from elsewhere, uses the wheel's files in `site`, DuckDB included."""
        proc = run([*EMULATOR, command, "version"], cwd="/")
        self.assertEqual((proc.returncode, proc.stdout.decode()), (0, f"qev_scoreboard {VERSION}\n"), text(proc))
        ws = tmp / "ws"
        proc = run([*EMULATOR, command, "--dir", native(ws), "init"], cwd="/")
        self.assertEqual(proc.returncode, 0, text(proc))
        for nb in (site / PKG / "share" / "qev-scoreboard" / "notebooks").glob("*.ipynb"):
            self.assertEqual((ws / nb.name).exists(), nb.name != INGEST, nb.name)
        proc = run([*EMULATOR, command, "verify", "--db", native(ws / "db" / "qev.duckdb")], cwd="/")
        self.assertRegex(proc.stdout.decode(), r"\[OK\] *Veritabanı motoru: DuckDB", text(proc))
        proc = run([*EMULATOR, command, "--dir", native(ws), "bogus"], cwd="/")
        self.assertEqual(proc.returncode, 2, text(proc))

    def test_the_command_as_pip_installs_it_for_that_machine(self):
        tag = WHEEL.name[len(PKG) + len(VERSION) + 2:-4].split("-")[-1]
        venv, target = Path(self.tmp.name) / "pip venv", Path(self.tmp.name) / "target dir"
        self.assertEqual(run([sys.executable, "-m", "venv", venv]).returncode, 0)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "PIP_"))}
        proc = run([venv / "bin" / "python", "-m", "pip", "install", "--no-index", "--no-deps", "--only-binary=:all:",
                    "--platform", tag, "--python-version", "3.8", "--target", target, WHEEL], env=env)
        self.assertEqual(proc.returncode, 0, text(proc))
        self.check_command(target / "bin" / f"qev-scoreboard{EXE}", target, Path(self.tmp.name))

    @unittest.skipUnless(WINDOWS and DLL_CALLER, "a Windows wheel and a caller of its DLL")
    def test_the_dll_syncs_from_the_wheels_notebooks(self):
        caller = self.site / PKG / "bin" / DLL_CALLER.name
        caller.write_bytes(DLL_CALLER.read_bytes())
        self.addCleanup(caller.unlink)
        # A Turkish name, as a Turkish user's home directory has: UTF-8 through the DLL, whatever the code page.
        ws = Path(self.tmp.name) / "dll ws ğüşİ"
        ws.mkdir()
        proc = run([*EMULATOR, caller, native(ws)], cwd="/")
        count = len([p for p in NOTEBOOKS.glob("*.ipynb") if p.name != INGEST])
        self.assertEqual((proc.returncode, proc.stdout.decode()),
                         (0, f"  [SYNC] Notebook'lar kopyalandı: v{VERSION} ({count} dosya)\n"), text(proc))
        for nb in (self.site / PKG / "share" / "qev-scoreboard" / "notebooks").glob("*.ipynb"):
            if nb.name != INGEST:
                self.assertEqual((ws / nb.name).read_bytes(), nb.read_bytes(), nb.name)


class WindowsModuleInTheWheelsLayout(UnpackedCase):
    """What can be checked here of the module as Windows' Python would run it from the wheel."""

    def python(self, code, *args, **kw):
        return subprocess.Popen([sys.executable, "-B", "-c", code, str(self.site), *args], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, **kw)

    def test_module_and_command_pick_the_wheels_own_files(self):
        code = ("import ctypes, sys\n"
                "sys.path.insert(0, sys.argv[1])\n"
                "import qev_scoreboard_cli, qev_scoreboard_cli.__main__ as m\n"
                "def load(name): print(name); sys.exit(0)\n"
                "print(m._program())\n"
                "ctypes.CDLL = load\n"
                "qev_scoreboard_cli._library()\n")
        out, err = self.python(code).communicate(timeout=60)
        self.assertEqual(out.decode().splitlines(), [str(self.site / PROGRAM), str(self.site / LIBRARY)],
                         err.decode())

    def test_module_hands_the_dll_the_work_directory_as_utf8(self):
        # What Windows' Python passes (os.fsencode is UTF-8 there), seen by a stand-in for the DLL.
        code = ("import ctypes, sys\n"
                "sys.path.insert(0, sys.argv[1])\n"
                "import qev_scoreboard_cli\n"
                "class Lib:\n"
                "    def __getattr__(self, name): return self\n"
                "    def __call__(self, *args):\n"
                "        if args: print(args[0].hex())\n"
                "        return 0\n"
                "ctypes.CDLL = lambda name: Lib()\n"
                "qev_scoreboard_cli.sync_notebooks('C:\\\\Kullanıcılar\\\\Gülşen\\\\senkron_ğüşİ')\n")
        out, err = self.python(code).communicate(timeout=60)
        self.assertEqual(bytes.fromhex(out.decode().strip()).decode("utf-8"),
                         "C:\\Kullanıcılar\\Gülşen\\senkron_ğüşİ", err.decode())

    def test_pip_installs_it_for_a_windows_python_without_a_warning(self):
        venv, target = Path(self.tmp.name) / "venv", Path(self.tmp.name) / "target"
        self.assertEqual(run([sys.executable, "-m", "venv", venv]).returncode, 0)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "PIP_"))}
        proc = run([venv / "bin" / "python", "-m", "pip", "install", "--no-index", "--no-deps", "--only-binary=:all:",
                    "--platform", "win_amd64", "--python-version", "3.8", "--target", target, WHEEL], env=env)
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertNotRegex(text(proc), r"(?i)warning|deprecat|error")
        self.assertEqual((target / PROGRAM).read_bytes(), (self.site / PROGRAM).read_bytes())
        self.assertEqual((target / "bin" / "qev-scoreboard.exe").read_bytes(), (self.site / COMMAND).read_bytes())

    def test_console_command_waits_for_the_program_through_an_interrupt(self):
        # The command's child process as Windows runs it: arguments as given, the program's status, and a
        # Ctrl+C (which a console sends to every process attached to it) handled by the program alone.
        # Whatever the interrupt's handler was before (a shell's background job starts with it ignored),
        # it is that again afterwards.
        for started_with in (signal.SIG_DFL, signal.SIG_IGN):
            with self.subTest(sigint=started_with):
                self.run_child_through_an_interrupt(started_with)

    def run_child_through_an_interrupt(self, started_with):
        child = ("import signal, sys, time\n"
                 "def stop(*_): print('cleaned', flush=True); sys.exit(130)\n"
                 "signal.signal(signal.SIGINT, stop)\n"
                 "print(repr(sys.argv[1:]), flush=True)\n"
                 "time.sleep(60)\n")
        code = ("import signal, sys\n"
                "sys.path.insert(0, sys.argv[1])\n"
                "import qev_scoreboard_cli.__main__ as m\n"
                "before = signal.getsignal(signal.SIGINT)\n"
                "status = m._run_child(sys.argv[2:])\n"
                "assert signal.getsignal(signal.SIGINT) is before, signal.getsignal(signal.SIGINT)\n"
                "sys.exit(status)\n")
        args = ["a b", "", 'say "hi"', "C:\\dir with\\", "çalışma"]

        def start_with_sigint():
            signal.signal(signal.SIGINT, started_with)

        proc = self.python(code, sys.executable, "-c", child, *args, start_new_session=True,
                           preexec_fn=start_with_sigint)
        try:
            self.assertEqual(proc.stdout.readline().decode(), repr(args) + "\n")
            os.killpg(proc.pid, signal.SIGINT)
            out, err = proc.communicate(timeout=60)
        finally:
            try:  # nothing left behind, the program included, whatever failed
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            proc.wait()
        self.assertEqual((proc.returncode, out.decode()), (130, "cleaned\n"), err.decode())


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

    def test_2_command_init_status_verify_from_anywhere(self):
        ws = Path(self.tmp.name) / "demo dir"
        proc = self.command("--dir", ws, "init")
        self.assertEqual(proc.returncode, 0, text(proc))
        for nb in NOTEBOOKS.glob("*.ipynb"):
            self.assertEqual((ws / nb.name).exists(), nb.name != INGEST, nb.name)
        self.assertEqual((ws / "db" / ".nb_version").read_text(), VERSION)
        proc = self.command("status", cwd=ws)
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertTrue(proc.stdout.decode().startswith(f"QEV Scoreboard v{VERSION} — status\nÇalışma dizini: {ws}\n"))
        proc = self.command("verify", "--db", ws / "db" / "qev.duckdb", cwd="/")
        self.assertIn("Kurulum doğrulandı.", proc.stdout.decode(), text(proc))

    def test_3_status_and_signals_pass_through(self):
        proc = self.command("--dir", self.elsewhere, "bogus")
        self.assertEqual(proc.returncode, 2, text(proc))
        self.assertIn("geçersiz alt komut: 'bogus'", proc.stderr.decode())
        # A reader that went away: the program dies of SIGPIPE, as it does when started from a shell.
        r, w = os.pipe()
        os.close(r)
        try:
            proc = subprocess.run([self.venv / "bin" / "qev-scoreboard", "--help"], stdout=w,
                                  stderr=subprocess.PIPE, env=self.env, timeout=60)
        finally:
            os.close(w)
        self.assertEqual(proc.returncode, -signal.SIGPIPE, proc.stderr.decode(errors="replace"))

    def test_4_module_prints_through_sys_stdout(self):
        ws = Path(self.tmp.name) / "module ws"
        ws.mkdir()
        code = ("import contextlib, io, qev_scoreboard_cli as q\n"
                "with contextlib.redirect_stdout(io.StringIO()) as buf:\n"
                f"    q.sync_notebooks({str(ws)!r})\n"
                "print(repr(buf.getvalue()), q._lib._name, sep='\\n')\n"
)
        proc = run([self.python, "-B", "-c", code], cwd="/", env=self.env)
        self.assertEqual((proc.returncode, proc.stderr), (0, b""), text(proc))
        captured, library = proc.stdout.decode().splitlines()
        count = len([p for p in NOTEBOOKS.glob("*.ipynb") if p.name != INGEST])
        self.assertEqual(captured, repr(f"  [SYNC] Notebook'lar kopyalandı: v{VERSION} ({count} dosya)\n"))
        self.assertTrue(Path(library).is_relative_to(self.venv), library)  # the wheel's library, not the system's

    def test_3_the_command_is_the_program_and_the_module_runs_it_too(self):
        command = self.venv / "bin" / "qev-scoreboard"
        self.assertEqual(command.read_bytes()[:4], MAGIC)  # no "#!": no interpreter starts in front of it
        self.assertTrue(os.access(command, os.X_OK))
        site = next(self.venv.glob(f"lib/python*/site-packages"))
        record = (site / DIST_INFO / "RECORD").read_text()
        self.assertIn(f"\n{os.path.relpath(command, site)},sha256=", "\n" + record)  # so uninstalling removes it
        proc = run([self.python, "-m", PKG, "version"], cwd=self.elsewhere, env=self.env)
        self.assertEqual((proc.returncode, proc.stdout.decode()), (0, f"qev_scoreboard {VERSION}\n"), text(proc))
        proc = run([self.python, "-m", PKG, "--dir", self.elsewhere, "bogus"], cwd=self.elsewhere, env=self.env)
        self.assertEqual(proc.returncode, 2, text(proc))

    def test_5_uninstall_leaves_nothing_of_ours(self):
        proc = run([self.python, "-m", "pip", "uninstall", "-y", "qev-scoreboard-cli"], cwd=self.elsewhere, env=self.env)
        self.assertEqual(proc.returncode, 0, text(proc))
        self.assertNotRegex(text(proc), r"(?i)warning")
        left = sorted(str(p) for p in self.listing() - self.before if re.search(r"(?i)qev", str(p)))
        self.assertEqual(left, [])
        self.assertFalse((self.venv / "bin" / "qev-scoreboard").exists())


class InstalledElsewhere(unittest.TestCase):
    """The layouts pip gives besides a virtual environment: a --target and a --prefix directory, and a
    user's base, each used through its own scripts directory."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.root = Path(self.tmp.name)
        self.env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "PIP_", "LD_"))}

    def pip(self, python, *args, **env):
        proc = run([python, "-m", "pip", *args], cwd=self.root, env={**self.env, **env})
        self.assertEqual(proc.returncode, 0, text(proc))

    def venv_python(self):
        venv = self.root / "venv"
        self.assertEqual(run([sys.executable, "-m", "venv", venv]).returncode, 0)
        return venv / "bin" / "python"

    def check_command(self, command):
        self.assertEqual(command.read_bytes()[:4], MAGIC)
        proc = run([command, "version"], cwd="/", env=self.env)
        self.assertEqual((proc.returncode, proc.stdout.decode()), (0, f"qev_scoreboard {VERSION}\n"), text(proc))
        ws = self.root / "ws"
        proc = run([command, "--dir", ws, "init"], cwd="/", env=self.env)
        self.assertEqual(proc.returncode, 0, text(proc))
        for nb in NOTEBOOKS.glob("*.ipynb"):
            self.assertEqual((ws / nb.name).exists(), nb.name != INGEST, nb.name)
        proc = run([command, "status"], cwd=ws, env=self.env)
        self.assertEqual(proc.returncode, 0, text(proc))
        proc = run([command, "verify", "--db", ws / "db" / "qev.duckdb"], cwd="/", env=self.env)
        self.assertIn("Kurulum doğrulandı.", proc.stdout.decode(), text(proc))

    def test_a_target_directory(self):
        target = self.root / "target dir"
        self.pip(self.venv_python(), "install", "--no-index", "--target", target, WHEEL)
        self.check_command(target / "bin" / "qev-scoreboard")

    def test_a_prefix(self):
        prefix = self.root / "prefix"
        self.pip(self.venv_python(), "install", "--no-index", "--prefix", prefix, WHEEL)
        self.check_command(prefix / "bin" / "qev-scoreboard")

    @unittest.skipUnless(run(["/usr/bin/python3", "-m", "pip", "--version"]).returncode == 0, "no pip for the system's Python")
    def test_a_users_base_and_its_uninstall(self):
        base = self.root / "user base"
        # The system's Python, for a user's base is no place of a virtual environment; its packages are
        # left alone (PEP 668 asks for the flag even for a user's install).
        self.pip("/usr/bin/python3", "install", "--no-index", "--user", "--break-system-packages", WHEEL,
                 PYTHONUSERBASE=str(base))
        self.check_command(base / "bin" / "qev-scoreboard")
        self.pip("/usr/bin/python3", "uninstall", "-y", "--break-system-packages", "qev-scoreboard-cli",
                 PYTHONUSERBASE=str(base))
        left = sorted(str(p.relative_to(base)) for p in base.rglob("*") if re.search(r"(?i)qev", p.name))
        self.assertEqual(left, [])


def load_tests(loader, tests, pattern):
    """Contents always; then pip for this machine's own wheel, the emulator for a foreign one."""
    here = {"x86_64": "x86_64", "amd64": "x86_64", "aarch64": "aarch64", "arm64": "aarch64"}.get(platform.machine().lower())
    if MACHINE is None:
        sys.exit(f"{WHEEL.name}: not a wheel of version {VERSION}")
    if not EMULATOR and MACHINE != here:
        sys.exit(f"{WHEEL.name} does not run on this {platform.machine()} machine: name an emulator")
    suite = unittest.TestSuite()
    cases = [Contents] + ([UnpackedUnderEmulator] if EMULATOR else [InstalledInAVirtualEnvironment, InstalledElsewhere])
    for case in cases + ([WindowsModuleInTheWheelsLayout] if WINDOWS else []):
        suite.addTests(loader.loadTestsFromTestCase(case))
    return suite


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
