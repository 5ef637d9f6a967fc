#!/usr/bin/env python3
"""The rare paths of replacing files, reached as a hostile environment would reach them: a full disk, a
failed write or a signal during an in-place rewrite, a meta file that cannot be written, a
damaged stamp, a file-size limit, an append-only directory, killed runs, attributes, a large meta file."""
import fcntl
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path

import support
from support import NOBODY

PIPELINE = "qev_pipeline.ipynb"
NEW = b'{"cells": ["yeni"]}\n' * 20000


def temporaries(directory):
    return sorted(p.name for p in Path(directory).iterdir() if p.name.startswith(".qev-"))


def chattr(flag, path):
    return subprocess.run(["chattr", flag, str(path)], capture_output=True).returncode == 0


def tracee_of(tracer):
    """The process strace started, once it runs."""
    for _ in range(2000):
        children = Path(f"/proc/{tracer.pid}/task/{tracer.pid}/children").read_text().split()
        if children:
            return int(children[0])
        time.sleep(0.005)
    raise AssertionError("strace never started the program")


@support.needs_root
class InPlaceRewrite(support.PackageCase):
    """Files of an ordinary user in a directory that refuses them new files are rewritten in place: a full
    disk, a failed write or a signal never leaves one that is neither the old nor the new content."""

    def shared_ws(self, parent=None):
        ws = self.make_ws(parent=parent)
        support.chown_tree(ws)
        # The directories root's 0755, the files the user's: no temporary file can be made beside them.
        for root, dirs, _ in os.walk(ws):
            for d in [root] + [os.path.join(root, d) for d in dirs]:
                os.chown(d, 0, 0)
        old = ws / PIPELINE
        old.write_bytes(b'{"cells": ["eski"]}\n' * 50)
        # Installed so by an earlier version, not edited: nothing of the user's to keep.
        support.record_as_installed(ws, PIPELINE)
        return ws, old, old.read_bytes()

    def test_a_full_disk_leaves_the_notebook_whole(self):
        mnt = self.tmp / "small"
        mnt.mkdir()
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m,mode=0755", "tmpfs", str(mnt)], check=True)
        self.addCleanup(subprocess.run, ["umount", str(mnt)])
        ws, old, before = self.shared_ws(parent=mnt)
        self.replace_package_notebook(NEW)  # 400 KB: more than is left
        fd = os.open(mnt / "filler", os.O_WRONLY | os.O_CREAT, 0o644)
        try:
            while os.write(fd, b"\0" * 4096):
                pass
        except OSError:
            pass
        finally:
            os.close(fd)
        proc = self.init(ws, as_nobody=True)
        err = support.stderr_text(proc)
        self.assertEqual(proc.returncode, 1, err)
        self.assertIn(f"{old}: kopyalanamadı: aygıtta yer kalmadı", err)
        self.assertEqual(old.read_bytes(), before)

    def rewrite_traced(self, ws, inject, signal_when_changed=False):
        """init as nobody under strace, with `inject` on the writes to the notebook (plain writes: the copy's
        kernel shortcut refused). With `signal_when_changed`, SIGTERM arrives once the notebook changed."""
        nb = ws.resolve() / PIPELINE
        before = nb.read_bytes()
        cmd = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups",
               "strace", "-f", "-qq", "-o", "/dev/null", "-P", str(nb), "-e", "trace=write,copy_file_range",
               "-e", "inject=copy_file_range:error=EXDEV", "-e", inject,
               str(self.program), "--dir", str(ws), "init"]
        tracer = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  preexec_fn=support.default_signals)
        try:
            if signal_when_changed:
                deadline = time.monotonic() + 20
                while nb.read_bytes() == before and time.monotonic() < deadline:
                    time.sleep(0.005)
                os.kill(tracee_of(tracer), signal.SIGTERM)
            out, err = tracer.communicate(timeout=support.RUN_TIMEOUT)
        finally:
            if tracer.poll() is None:
                tracer.kill()
                tracer.wait()
        return tracer.returncode, err.decode("utf-8", "replace")

    def test_a_failed_write_or_a_signal_never_leaves_a_mixture(self):
        self.replace_package_notebook(NEW)  # written in several blocks
        ws, old, before = self.shared_ws()
        status, err = self.rewrite_traced(ws, "inject=write:error=EIO:when=2")
        self.assertNotEqual(status, 0, err)
        self.assertEqual(old.read_bytes(), before)
        # The second block's write waits a second; SIGTERM arrives meanwhile, after the first block.
        status, err = self.rewrite_traced(ws, "inject=write:delay_enter=1000000:when=2", signal_when_changed=True)
        self.assertEqual(old.read_bytes(), NEW, err)
        self.assertEqual(status, -signal.SIGTERM, err)


def stale_meta(ws, kod):
    meta = ws / "seasons" / "2024_01" / "meta" / f"adim_{kod}.json"
    meta.parent.mkdir(parents=True, exist_ok=True)
    meta.write_text(json.dumps({"kod": kod, "nb_hash": "0000000000000000"}))
    return meta


@support.needs_root
class StampRecordsAFinishedRun(support.PackageCase):
    def test_init_fails_naming_the_meta_file_and_the_next_run_completes(self):
        ws = self.make_ws(stamp="0.0.1")
        meta = stale_meta(ws, "01a")
        if not chattr("+i", meta):
            self.skipTest("chattr +i is not supported here")
        self.addCleanup(chattr, "-i", meta)
        proc = self.init(ws)
        err, out = support.stderr_text(proc), proc.stdout.decode()
        self.assertEqual(proc.returncode, 1, err)
        self.assertIn(f"{meta}: yazılamadı: işleme izin verilmiyor", err)
        self.assertNotIn("meta hash", out)
        self.assertEqual((ws / "db" / ".nb_version").read_text(), "0.0.1")
        chattr("-i", meta)
        proc = self.init(ws)
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        self.assertIn("  [SYNC] 1 meta hash güncellendi (gereksiz re-run önlendi)\n", proc.stdout.decode())
        self.assertNotEqual(json.loads(meta.read_text())["nb_hash"], "0000000000000000")
        self.assertEqual((ws / "db" / ".nb_version").read_text(), self.version)

    def test_a_damaged_or_huge_stamp_reads_as_no_version_and_is_rewritten(self):
        for damaged, options in ((b"1.0\xff", []), (b"1" * 100000, ["--force"])):
            ws = self.make_ws()
            (ws / "db" / ".nb_version").write_bytes(damaged)
            proc = self.init(ws, *options)
            self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
            self.assertEqual((ws / "db" / ".nb_version").read_text(), self.version)


@support.needs_root
class NoTemporaryFileOutlivesItsRun(support.PackageCase):
    def test_a_file_size_limit_fails_the_write_and_kills_nothing(self):
        ws = self.make_ws()
        self.replace_package_notebook(b" " * (2 << 20))
        proc = self.init(ws, wrap=["bash", "-c", 'ulimit -f 1024; exec "$@"', "bash"])
        err = support.stderr_text(proc)
        self.assertEqual(proc.returncode, 1, err)
        self.assertIn(f"{ws / PIPELINE}: yazılamadı: dosya çok büyük", err)
        self.assertEqual(temporaries(ws), [])
        # The library, in a process that leaves the signal at its default, reports it the same way.
        (ws / "db" / ".nb_version").write_text("0.0.1")
        proc = support.run(["bash", "-c", 'ulimit -f 1024; exec "$@"', "bash", sys.executable, "-c",
                            support.SYNC_CHILD, str(self.library), str(ws)], program=False)
        self.assertIn("@@status=1\n", support.stderr_text(proc))
        self.assertIn("dosya çok büyük", support.stderr_text(proc))
        self.assertEqual(temporaries(ws), [])

    @support.linux_calls("cannot tell an append-only directory (no portable call reads the flag)")
    def test_an_append_only_directory_gets_its_files_rewritten_in_place(self):
        ws = self.make_ws()
        for name in support.package_notebooks(self.data / "notebooks"):
            (ws / name).write_text("{}")
        if not chattr("+a", ws):
            self.skipTest("chattr +a is not supported here")
        self.addCleanup(chattr, "-a", ws)
        proc = self.init(ws, "--force")
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        self.assertEqual(temporaries(ws), [])
        for name in support.package_notebooks(self.data / "notebooks"):
            self.assertEqual((ws / name).read_bytes(), (self.data / "notebooks" / name).read_bytes(), name)

    def test_left_overs_of_killed_runs_go_but_not_those_a_live_run_holds(self):
        ws = self.make_ws()
        ext = ws / "external_data"
        # A run killed outright while the readme's temporary file waited to be flushed: one gone, so that
        # there is one to write.
        (ext / "VERI_KOPYALA.txt").unlink()
        tracer = subprocess.Popen(["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=fdatasync",
                                   "-e", "inject=fdatasync:delay_enter=5000000",
                                   str(self.program), "--dir", str(ws), "init"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  preexec_fn=support.default_signals)
        try:
            deadline = time.monotonic() + 20
            while not temporaries(ext) and time.monotonic() < deadline:
                time.sleep(0.01)
            left = temporaries(ext)
            self.assertTrue(left, "never saw the temporary file")
            os.kill(tracee_of(tracer), signal.SIGKILL)
            tracer.wait(timeout=30)
        finally:
            if tracer.poll() is None:
                tracer.kill()
                tracer.wait()
        self.assertEqual(temporaries(ext), left)
        live = ext / ".qev-live0000"
        live.write_text("another run is writing this")
        (ext / ".qev-not-ours").write_text("not a name we make")
        with open(live) as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            proc = self.init(ws)
            self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        self.assertEqual(temporaries(ext), [".qev-live0000", ".qev-not-ours"])

    def test_a_file_system_that_cannot_lock_still_replaces_and_leaves_nothing(self):
        ws = self.make_ws()
        proc = self.init(ws, "--force", wrap=["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=flock",
                                              "-e", "inject=flock:error=ENOLCK"])
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        self.assertEqual(temporaries(ws / "external_data"), [])
        self.assertEqual(temporaries(ws), [])
        self.assertEqual((ws / PIPELINE).read_bytes(), self.package_notebook().read_bytes())


@support.needs_root
@unittest.skipUnless(shutil.which("setfattr") and shutil.which("setfacl"), "attr and acl are not installed")
@support.linux_calls("copies no extended attributes (they have no portable interface)")
class AttributesSurviveAReplacement(support.PackageCase):
    def test_extended_attributes_and_acls_are_kept(self):
        ws = self.make_ws(stamp="0.0.1")
        nb, stamp = ws / PIPELINE, ws / "db" / ".nb_version"
        for path in (nb, stamp):
            if subprocess.run(["setfattr", "-n", "user.qev", "-v", "kept", str(path)]).returncode != 0:
                self.skipTest("no user extended attributes here")
            subprocess.run(["setfacl", "-m", f"u:{NOBODY}:rw", str(path)], check=True)
        inode = os.stat(nb).st_ino
        proc = self.init(ws, "--force")
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        self.assertNotEqual(os.stat(nb).st_ino, inode, "the notebook was not replaced: the scenario is void")
        self.assertEqual(stamp.read_text(), self.version)
        for path in (nb, stamp):
            self.assertEqual(os.getxattr(path, "user.qev"), b"kept", path)
            acl = subprocess.run(["getfacl", "-n", "-p", str(path)], capture_output=True, text=True).stdout
            self.assertIn(f"user:{NOBODY}:rw-", acl, path)


@support.needs_root
class MetaRefreshCost(support.PackageCase):
    @unittest.skipIf("libasan" in os.environ.get("LD_PRELOAD", ""), "the sanitizers' own memory is not ours")
    def test_a_large_meta_file_is_rewritten_in_bounded_memory(self):
        count = 10_000_000
        shapes = {  # a long array, and one name repeated (the last value stands, at the first's place)
            "array": ('{"kod": "02", "x": [' + ",".join(["0"] * count) + '], "nb_hash": "0000000000000000"}',
                      lambda doc: (len(doc["x"]), list(doc)) == (count, ["kod", "x", "nb_hash"])),
            "repeated": ('{"kod": "02", ' + '"x": 0, ' * (count // 5) + '"x": 1, "nb_hash": "0000000000000000"}',
                         lambda doc: (doc["x"], list(doc)) == (1, ["kod", "x", "nb_hash"])),
        }
        for shape, (text, holds) in shapes.items():
            with self.subTest(shape):
                ws = self.make_ws(stamp="0.0.1")
                meta = stale_meta(ws, "01a")
                meta.write_text(text)
                size = meta.stat().st_size
                proc = self.init(ws, wrap=["/usr/bin/time", "-v"])
                err = support.stderr_text(proc)
                self.assertEqual(proc.returncode, 0, err)
                peak_kb = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", err).group(1))
                self.assertLessEqual(peak_kb * 1024, 10 * size + (16 << 20), f"peak {peak_kb} KiB for {size} bytes")
                doc = json.loads(meta.read_text())
                self.assertTrue(holds(doc))
                self.assertNotEqual(doc["nb_hash"], "0000000000000000")

    def test_the_seasons_directory_is_listed_once(self):
        ws = self.make_ws(stamp="0.0.1").resolve()
        for i in range(30):
            (ws / "seasons" / f"2020_{i:02}" / "meta").mkdir(parents=True)
        stale_meta(ws, "01a")
        log = self.tmp / "seasons.log"
        proc = self.init(ws, wrap=["strace", "-f", "-qq", "-o", str(log), "-e", "trace=openat"])
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        self.assertIn("  [SYNC] 1 meta hash", proc.stdout.decode())
        opened = [line for line in log.read_text().splitlines()
                  if f'"{ws}/seasons"' in line and "O_DIRECTORY" in line]
        self.assertEqual(len(opened), 1, opened)


if __name__ == "__main__":
    support.main()
