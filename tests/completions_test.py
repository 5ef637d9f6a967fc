#!/usr/bin/env python3
"""The shell completions written from the command table, run by the shells themselves: zsh and fish parse
them, bash and zsh complete what is typed at a terminal, fish through its own completion engine, and each
offers every sub-command and option the program's help names. PowerShell, which is not here, is checked
for what it must hold.

    completions_test.py SHARE_DIR PROGRAM [unittest args]
"""
import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

if len(sys.argv) < 3:
    sys.exit(__doc__)
SHARE = Path(sys.argv[1]).resolve()
PROGRAM = Path(sys.argv[2]).resolve()
BASH = SHARE / "bash-completion" / "completions" / "qev-scoreboard"
ZSH = SHARE / "zsh" / "vendor-completions" / "_qev-scoreboard"
FISH = SHARE / "fish" / "vendor_completions.d" / "qev-scoreboard.fish"
POWERSHELL = SHARE / "powershell" / "qev-scoreboard.ps1"
TIMEOUT = 30


def the_programs_own():
    """{sub-command: [its options]} and the main parser's options, from the program's help."""
    def options(*args):
        usage = subprocess.run([str(PROGRAM), *args, "--help"], capture_output=True, text=True, check=True)
        return re.findall(r"\[(--[a-z-]+)", usage.stdout.splitlines()[0])
    first = subprocess.run([str(PROGRAM), "--help"], capture_output=True, text=True, check=True).stdout.splitlines()[0]
    commands = re.search(r"\{([a-z,-]+)\}", first).group(1).split(",")
    return {c: options(c) for c in commands}, options()


COMMANDS, MAIN_OPTIONS = the_programs_own()


class Scratch(unittest.TestCase):
    """A directory with a sub-directory and a file to complete, and a home of its own for the shells."""

    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.dir = Path(tmp.name)
        (self.dir / "alt-dizin").mkdir()
        (self.dir / "alt-dosya.duckdb").write_text("")
        (self.dir / "home").mkdir()
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": str(self.dir / "home"),
                    "XDG_CONFIG_HOME": str(self.dir / "home"), "XDG_DATA_HOME": str(self.dir / "home"),
                    "XDG_CACHE_HOME": str(self.dir / "home"), "TERM": "dumb", "LANG": "C.UTF-8",
                    "ZDOTDIR": str(self.dir / "home")}


@unittest.skipUnless(shutil.which("fish"), "no fish here")
class Fish(Scratch):
    def complete(self, line):
        """What fish's own engine offers for the end of `line`: {candidate: description}."""
        proc = subprocess.run(["fish", "--no-config", "-c", f"source {FISH}; complete -C {line!r}"],
                              capture_output=True, text=True, cwd=self.dir, env=self.env, timeout=TIMEOUT)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        return dict((line.split("\t") + [""])[:2] for line in proc.stdout.splitlines())

    def test_parses(self):
        proc = subprocess.run(["fish", "--no-config", "--no-execute", str(FISH)], capture_output=True, text=True,
                              env=self.env, timeout=TIMEOUT)
        self.assertEqual((proc.returncode, proc.stderr), (0, ""))

    def test_completes_sub_commands_options_and_values(self):
        self.assertEqual(self.complete("qev-scoreboard st"), {"status": "Durum kontrolü"})
        self.assertEqual(set(self.complete("qev-scoreboard status --")), {"--json", "--help"})
        self.assertEqual(self.complete("qev-scoreboard status --j"), {"--json": "Raporu JSON olarak yaz"})
        self.assertEqual(set(self.complete("qev-scoreboard ")), set(COMMANDS))
        self.assertEqual(set(self.complete("qev-scoreboard --dir alt-dizin ")), set(COMMANDS))
        self.assertEqual(set(self.complete("qev-scoreboard --di alt-dizin ver")), {"version", "verify"})
        # A directory after --dir, a file after --db; the sub-command's options only after it.
        self.assertEqual(set(self.complete("qev-scoreboard --dir alt")), {"alt-dizin/"})
        self.assertIn("alt-dosya.duckdb", self.complete("qev-scoreboard verify --db alt"))
        self.assertNotIn("--json", self.complete("qev-scoreboard --"))
        self.assertNotIn("--dir", self.complete("qev-scoreboard init --"))

    def test_offers_every_option_the_program_has(self):
        self.assertEqual(set(self.complete("qev-scoreboard --")), set(MAIN_OPTIONS) | {"--help"})
        for command, options in COMMANDS.items():
            self.assertEqual(set(self.complete(f"qev-scoreboard {command} --")), set(options) | {"--help"}, command)


class Terminal(Scratch):
    """A shell at a terminal: keys are typed, and a key of its own writes the line as it stands to a file."""

    def setUp(self):
        super().setUp()
        self.dump = self.dir / "line"

    def start(self, argv, setup):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(self.dir)
            os.execvpe(argv[0], argv, self.env)
        self.addCleanup(self.stop)
        self.screen = b""
        self.type(setup + "\n")
        self.wait_for_prompt()

    def stop(self):
        try:
            os.kill(self.pid, 9)
            os.waitpid(self.pid, 0)
        except OSError:
            pass
        os.close(self.fd)

    def read(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            ready, _, _ = select.select([self.fd], [], [], 0.05)
            if ready:
                try:
                    self.screen += os.read(self.fd, 65536)
                except OSError:
                    return

    def type(self, keys):
        os.write(self.fd, keys.encode())

    def wait_for_prompt(self):
        end = time.monotonic() + TIMEOUT
        while b"READY>" not in self.screen.split(b"\n")[-1] and time.monotonic() < end:
            self.read(0.1)

    def line_after(self, keys):
        """The line once `keys` are typed and completion has done its work; the line is then dropped."""
        before = self.dump.read_text() if self.dump.exists() else ""
        self.type(keys)
        self.read(1.0)
        self.type("\x18")  # ^X: the line to the file
        end = time.monotonic() + TIMEOUT
        while (self.dump.read_text() if self.dump.exists() else "") == before and time.monotonic() < end:
            self.read(0.1)
        self.type("\x15")  # ^U: the line emptied
        self.read(0.2)
        return self.dump.read_text()[len(before):].rstrip("\n")

    def check_completion(self):
        self.assertEqual(self.line_after("qev-scoreboard st\t"), "qev-scoreboard status ")
        self.assertEqual(self.line_after("qev-scoreboard status --j\t"), "qev-scoreboard status --json ")
        self.assertEqual(self.line_after("qev-scoreboard --dir alt\t"), "qev-scoreboard --dir alt-dizin/")
        self.assertEqual(self.line_after("qev-scoreboard verify --db alt-do\t"), "qev-scoreboard verify --db alt-dosya.duckdb ")
        self.assertEqual(self.line_after("qev-scoreboard --dir alt-dizin in\t"), "qev-scoreboard --dir alt-dizin init ")
        # Both candidates for "--" are listed, one of them --json (zsh's second key may take the first).
        self.screen = b""
        self.assertIn(self.line_after("qev-scoreboard status --\t\t"),
                      {"qev-scoreboard status --", "qev-scoreboard status --help", "qev-scoreboard status --json"})
        listed = self.screen.decode("utf-8", "replace")
        self.assertIn("--json", listed)
        self.assertIn("--help", listed)


@unittest.skipUnless(shutil.which("bash") and Path("/usr/share/bash-completion/bash_completion").exists(),
                     "no bash-completion here")
class Bash(Terminal):
    def test_completes_at_a_terminal(self):
        self.start(["bash", "--norc", "--noprofile", "-i"],
                   f"PS1='READY> '; bind 'set bell-style none'; source /usr/share/bash-completion/bash_completion; "
                   f"source {BASH}; bind -x '\"\\C-x\": printf \"%s\\n\" \"$READLINE_LINE\" >> {self.dump}'; "
                   "stty -echo")
        self.check_completion()


@unittest.skipUnless(shutil.which("zsh"), "no zsh here")
class Zsh(Terminal):
    def test_parses(self):
        proc = subprocess.run(["zsh", "-n", str(ZSH)], capture_output=True, text=True, timeout=TIMEOUT)
        self.assertEqual((proc.returncode, proc.stderr), (0, ""))

    def test_completes_at_a_terminal(self):
        self.start(["zsh", "-f", "-i"],
                   f"PS1='READY> '; fpath=({ZSH.parent} $fpath); autoload -Uz compinit; compinit -u -D; "
                   f"dump() {{ print -r -- \"$BUFFER\" >> {self.dump} }}; zle -N dump; bindkey '^X' dump; "
                   "setopt nobeep")
        self.check_completion()


class PowerShell(unittest.TestCase):
    """No PowerShell here: what the script must hold, as text."""

    def test_holds_every_sub_command_and_option(self):
        data = POWERSHELL.read_bytes()
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"), "Windows PowerShell needs the byte-order mark")
        self.assertNotIn(b"\n", data.replace(b"\r\n", b""))
        text = data.decode("utf-8")
        self.assertIn("Register-ArgumentCompleter -Native -CommandName 'qev-scoreboard', 'qev-scoreboard.exe'", text)
        self.assertEqual(text.count("{"), text.count("}"))
        for option in MAIN_OPTIONS:
            self.assertRegex(text, r"        '' = .*'" + option + "' = ")
        for command, options in COMMANDS.items():
            self.assertIn(f"'{command}' = '", text)
            for option in options:
                self.assertRegex(text, r"        '" + command + "' = .*'" + option + "' = ")
        self.assertIn("'--dir' = @('Çalışma dizini (varsayılan: bulunduğunuz dizin)', 'directory')", text)
        self.assertIn("'--db' = @('DB yolu', 'file')", text)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
