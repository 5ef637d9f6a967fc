#!/usr/bin/env python3
"""init interrupted by SIGINT, SIGTERM or SIGHUP while it copies a large package notebook leaves no
temporary file behind, names the copy it kept of the analyst's edit, and its exit status reports death by
that signal."""
import os
import signal
import subprocess
import time
import unittest
from pathlib import Path

import support

BIG = "nb_99_big.ipynb"
EDITED = "nb_03_marts.ipynb"
BIG_SIZE = 1 << 30


def writable_fds_under(pid, directory):
    """The files that process `pid` holds open for writing under `directory`: [(fd path, target)]."""
    found = []
    fd_dir = Path(f"/proc/{pid}/fd")
    try:
        fds = list(fd_dir.iterdir())
    except FileNotFoundError:
        return found
    for fd in fds:
        try:
            target = os.readlink(fd)
            flags = int(Path(f"/proc/{pid}/fdinfo/{fd.name}").read_text().split("flags:")[1].split()[0], 8)
        except (FileNotFoundError, IndexError, ValueError):
            continue
        if target.startswith(str(directory) + "/") and flags & (os.O_WRONLY | os.O_RDWR):
            found.append((fd, target))
    return found


def listing(ws):
    return sorted(str(p.relative_to(ws)) for p in ws.rglob("*"))


@support.needs_root
class InterruptedRunLeavesNothingBehind(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = support.enter_scratch(cls.addClassCleanup)
        cls.program, data = support.make_prefix(cls.tmp / "prefix")
        cls.template = cls.tmp / "template"
        proc = support.run(["--dir", cls.template, "init"], program=cls.program)
        assert proc.returncode == 0, support.stderr_text(proc)
        # Sparse in the package, written out in full by the copy: slow enough to be caught mid-way.
        with open(data / "notebooks" / BIG, "wb") as f:
            f.truncate(BIG_SIZE)

    def interrupt(self, sig):
        self.ws = self.tmp / signal.Signals(sig).name
        subprocess.run(["cp", "-a", str(self.template), str(self.ws)], check=True)
        (self.ws / EDITED).write_text("analistin düzenlemesi")
        before = listing(self.ws)
        proc = subprocess.Popen([str(self.program), "--dir", str(self.ws), "init"], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, preexec_fn=support.default_signals)
        try:
            deadline = time.monotonic() + 30
            caught = None
            while caught is None and time.monotonic() < deadline and proc.poll() is None:
                for fd, target in writable_fds_under(proc.pid, self.ws):
                    try:
                        if os.stat(fd).st_size >= 4 << 20:
                            caught = target
                    except FileNotFoundError:
                        pass
                time.sleep(0.002)
            self.assertIsNotNone(caught, "never saw the large copy under way")
            self.assertIsNone(proc.poll(), "the copy ended before the signal")
            proc.send_signal(sig)
            out, err = proc.communicate(timeout=30)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.assertEqual(proc.returncode, -sig, err.decode("utf-8", "replace"))
        # The analyst's edit was kept before the notebook was replaced, and the run said where as it ended.
        [copy] = self.ws.glob(f"yedek/*/{EDITED}")
        self.assertEqual(copy.read_text(), "analistin düzenlemesi")
        self.assertTrue(out.decode().endswith(f"  YEDEKLENDİ  : 1 dosya\n    ⤷ {copy.relative_to(self.ws)}\n"), out)
        kept = {"yedek", str(copy.parent.relative_to(self.ws)), str(copy.relative_to(self.ws))}
        self.assertEqual([p for p in listing(self.ws) if p not in kept], before,
                         f"left behind after {signal.Signals(sig).name}")
        self.assertFalse((self.ws / BIG).exists())

    def test_sigint(self):
        self.interrupt(signal.SIGINT)

    def test_sigterm(self):
        self.interrupt(signal.SIGTERM)

    def test_sighup(self):
        self.interrupt(signal.SIGHUP)


if __name__ == "__main__":
    support.main()
