#!/usr/bin/env python3
"""libcrypto is a verified run-time dependency: `verify` checks that the digest library loads. It is loaded
at run time only, so building against the installed library needs nothing of OpenSSL: neither the
pkg-config file nor the CMake package may ask for it."""
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

    def test_building_against_the_installed_library_needs_no_libcrypto(self):
        build = support.PROGRAM.parent.parent
        with support.Scratch() as prefix:
            proc = subprocess.run(["cmake", "--install", str(build), "--prefix", str(prefix)],
                                  capture_output=True, timeout=300)
            self.assertEqual(proc.returncode, 0, proc.stderr.decode(errors="replace"))
            pcs = list(prefix.rglob("qev_scoreboard.pc"))
            self.assertEqual(len(pcs), 1)
            # Only our own .pc file is visible: a requirement of anything else could not be met.
            env = dict(os.environ, PKG_CONFIG_LIBDIR=str(pcs[0].parent), PKG_CONFIG_PATH="")
            proc = subprocess.run(["pkg-config", "--static", "--cflags", "--libs", "qev_scoreboard"],
                                  capture_output=True, env=env, timeout=60)
            self.assertEqual(proc.returncode, 0, proc.stderr.decode(errors="replace") + pcs[0].read_text())
            self.assertNotRegex(proc.stdout.decode(), r"crypto|ssl")

            # find_package with OpenSSL made unfindable.
            with support.Scratch() as scratch:
                (scratch / "CMakeLists.txt").write_text(
                    "cmake_minimum_required(VERSION 3.25)\nproject(c NONE)\n"
                    "find_package(qev_scoreboard REQUIRED)\n")
                proc = subprocess.run(["cmake", "-S", str(scratch), "-B", str(scratch / "b"),
                                       f"-DCMAKE_PREFIX_PATH={prefix}", "-DCMAKE_DISABLE_FIND_PACKAGE_OpenSSL=ON"],
                                      capture_output=True, timeout=120)
                self.assertEqual(proc.returncode, 0, proc.stderr.decode(errors="replace"))

if __name__ == "__main__":
    support.main()
