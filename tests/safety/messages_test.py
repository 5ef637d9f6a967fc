#!/usr/bin/env python3
"""Every failure is told as "<path>: <action>: <reason>": on standard error after "qev-scoreboard: hata: ",
and in the [HATA] lines of `verify`; a huge stamp is reported by name, not as an allocation failure. A
digest library that loads but cannot hash is a failure like any other. Paths and messages never reach the
terminal with control characters in them."""
import os
import re
import unittest

import support

STDERR_LINE = re.compile(r"^qev-scoreboard: hata: (/[^:]*): ([^:]+): (.+)$")
VERIFY_LINE = re.compile(r"^  \[HATA\] [^:]+: (/[^:]*): ([^:]+): (.+)$")
FOREIGN = ("filesystem error", "bad_alloc", "std::", "what()")


class Messages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = support.enter_scratch(cls.addClassCleanup)

    def assert_failure_names(self, proc, path):
        err = support.stderr_text(proc)
        self.assertEqual(proc.returncode, 1, err)
        lines = err.splitlines()
        self.assertTrue(lines, "nothing on standard error")
        for line in lines:
            m = STDERR_LINE.match(line)
            self.assertIsNotNone(m, f"not '<path>: <action>: <reason>': {line!r}")
            for word in FOREIGN:
                self.assertNotIn(word, line)
        if path is not None:
            self.assertIn(str(path), [STDERR_LINE.match(line).group(1) for line in lines], err)

    def assert_verify_names(self, proc, path):
        out = proc.stdout.decode("utf-8", "replace")
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        failed = [line for line in out.splitlines() if line.startswith("  [HATA] ")]
        self.assertTrue(failed, out)
        for line in failed:
            self.assertIsNotNone(VERIFY_LINE.match(line), f"not '<path>: <action>: <reason>': {line!r}")
            for word in FOREIGN:
                self.assertNotIn(word, line)
        self.assertIn(str(path), [VERIFY_LINE.match(line).group(1) for line in failed], out)

    def test_directory_blocked_by_a_file(self):
        ws = self.tmp / "blocked"
        ws.mkdir()
        (ws / "db").write_text("")
        self.assert_failure_names(support.run(["--dir", ws, "init"]), ws / "db")

    def test_stamp_not_utf8_is_rewritten_one_not_a_file_is_named(self):
        ws = support.workdir(self.tmp, "not-utf8")
        stamp = ws / "db" / ".nb_version"
        stamp.write_bytes(b"\xff\xfe1.0")
        proc = support.run(["--dir", ws, "init"])
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        self.assertEqual(stamp.read_text(), support.version())
        stamp.unlink()
        stamp.mkdir()
        self.assert_failure_names(support.run(["--dir", ws, "init"]), stamp)

    def test_huge_sparse_stamp_is_not_read_but_rewritten(self):
        ws = support.workdir(self.tmp, "huge-stamp")
        stamp = ws / "db" / ".nb_version"
        with open(stamp, "wb") as f:
            f.truncate(50 * 10**9)
        try:
            proc = support.run(["--dir", ws, "init"])
            self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
            self.assertEqual(stamp.read_text(), support.version())
        finally:
            stamp.unlink()

    @support.needs_root
    def test_unreadable_installed_notebook(self):
        ws = support.workdir(self.tmp, "unreadable-notebook")
        support.chown_tree(ws)
        nb = ws / support.package_notebooks()[0]
        os.chmod(nb, 0)
        prefix = self.tmp / "prefix-nb"
        program, _ = support.make_prefix(prefix)
        self.assert_failure_names(support.run(["--dir", ws, "init"], as_nobody=True, program=program), nb)

    def test_broken_step_registry(self):
        prefix = self.tmp / "prefix-registry"
        program, data = support.make_prefix(prefix)
        registry = data / "adim_registry.json"
        registry.write_text('{"01a": ')
        ws = support.workdir(self.tmp, "broken-registry", stamp="0.0.1")
        self.assert_failure_names(support.run(["--dir", ws, "init"], program=program), registry)

    @support.needs_root
    def test_verify_names_unreadable_package_files(self):
        prefix = self.tmp / "prefix-verify"
        program, data = support.make_prefix(prefix)
        for path in (data / "notebooks", data / "adim_registry.json", data / "VERI_KOPYALA.txt"):
            with self.subTest(path=path.name):
                mode = os.stat(path).st_mode
                os.chmod(path, 0)
                try:
                    proc = support.run(["verify", "--db", self.tmp / "yok.duckdb"], as_nobody=True, program=program)
                finally:
                    os.chmod(path, mode)
                self.assert_verify_names(proc, path)

    def test_digest_library_that_loads_but_cannot_hash(self):
        # A directory never prepared: nothing can be trusted by a record, everything must be fingerprinted.
        ws = self.tmp / "null-provider"
        conf = self.tmp / "null-provider.cnf"
        conf.write_text("openssl_conf = init\n[init]\nproviders = providers\n"
                        "[providers]\nnull = null\n[null]\nactivate = 1\n")
        env = dict(os.environ, OPENSSL_CONF=str(conf))
        out = support.run(["verify", "--db", self.tmp / "yok.duckdb"], env=env).stdout.decode()
        digest = [line for line in out.splitlines() if "Özet kütüphanesi" in line]
        self.assertEqual(len(digest), 1, out)
        self.assertIsNotNone(VERIFY_LINE.match(digest[0]), digest[0])
        self.assertNotIn("Kurulum doğrulandı.", out)
        proc = support.run(["--dir", ws, "init"], env=env)
        self.assert_failure_names(proc, None)
        # The first file fingerprinted: the data readme, whose fingerprint goes into the record.
        self.assertTrue(STDERR_LINE.match(support.stderr_text(proc)).group(1).endswith("VERI_KOPYALA.txt"))

    def test_control_characters_in_paths_are_escaped(self):
        # A backslash stays: paths are made of them elsewhere.
        raw, shown = "w\x1b[2J\\x\nb\x9b", "w\\x1b[2J\\x\\nb\\u009b"
        ws = self.tmp / raw
        for args in (["--dir", ws, "init"], ["--dir", ws, "status"], ["verify", "--db", ws / "db" / "yok"]):
            with self.subTest(command=args[-1]):
                out = support.run(args).stdout.decode("utf-8", "replace")
                self.assertIn(f"{self.tmp}/{shown}", out)
                self.assertFalse(set(out) & {"\x1b", "\x9b", "\r"}, out)
        (ws / "db" / ".nb_version").unlink()
        (ws / "db" / ".nb_version").mkdir()
        proc = support.run(["--dir", ws, "init"])
        self.assert_failure_names(proc, None)
        self.assertIn(f"{self.tmp}/{shown}/db/.nb_version", support.stderr_text(proc))


if __name__ == "__main__":
    support.main()
