#!/usr/bin/env python3
"""libcrypto is a declared and verified dependency: `verify` checks that the digest library loads, and the
installed pkg-config file and CMake package name it."""
import os
import re
import subprocess
import unittest

import support

DIGEST = re.compile(r"crypto|openssl|sha-?256", re.IGNORECASE)


class DigestLibrary(unittest.TestCase):
    def verify(self, env=None):
        with support.Scratch() as tmp:
            proc = support.run(["verify", "--db", tmp / "yok.duckdb"], env=env)
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        return proc.stdout.decode("utf-8", "replace").splitlines()

    def test_verify_reports_a_digest_library_that_cannot_load(self):
        good = self.verify()
        self.assertIn("Kurulum doğrulandı.", good)
        self.assertTrue([l for l in good if l.startswith("  [OK] ") and DIGEST.search(l)],
                        "verify does not check the digest library:\n" + "\n".join(good))
        with support.Scratch() as broken:
            (broken / "libcrypto.so.3").write_bytes(b"")
            env = dict(os.environ, LD_LIBRARY_PATH=str(broken))
            bad = self.verify(env)
        self.assertTrue([l for l in bad if l.startswith("  [HATA] ") and DIGEST.search(l)], "\n".join(bad))
        self.assertNotIn("Kurulum doğrulandı.", bad)

    def test_installed_package_files_name_libcrypto(self):
        build = support.PROGRAM.parent.parent
        with support.Scratch() as prefix:
            proc = subprocess.run(["cmake", "--install", str(build), "--prefix", str(prefix)],
                                  capture_output=True, timeout=300)
            self.assertEqual(proc.returncode, 0, proc.stderr.decode(errors="replace"))
            pcs = list(prefix.rglob("qev_scoreboard.pc"))
            self.assertEqual(len(pcs), 1)
            fields = dict(l.split(":", 1) for l in pcs[0].read_text().splitlines() if re.match(r"^[\w.]+:", l))
            self.assertTrue(re.search(r"\blibcrypto\b", fields.get("Requires.private", ""))
                            or re.search(r"-lcrypto\b", fields.get("Libs.private", "")),
                            pcs[0].read_text())
            configs = list(prefix.rglob("qev_scoreboardConfig.cmake"))
            self.assertEqual(len(configs), 1)
            self.assertRegex(configs[0].read_text(), r"OpenSSL|crypto")


if __name__ == "__main__":
    support.main()
