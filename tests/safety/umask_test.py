#!/usr/bin/env python3
"""The auto-sync, called through ctypes (which lets other Python threads run meanwhile), never changes the
process umask: files and directories that another thread creates at the same time keep the umask's mode."""
import os
import shutil
import tempfile
import threading
import time
import unittest
from pathlib import Path

import support

SYNCS = 1200


class UmaskUntouchedDuringSync(unittest.TestCase):
    def test_files_made_by_another_thread_keep_the_umask(self):
        lib = support.load_library()
        old_umask = os.umask(0o022)
        try:
            with support.Scratch() as tmp:
                ws = tmp / "ws"
                ws.mkdir()
                self.assertEqual(lib.qev_scoreboard_sync_notebooks(os.fsencode(ws)), 0,
                                 lib.qev_scoreboard_last_error())
                stamp = ws / "db" / ".nb_version"
                # Where creating is cheapest, so the creating thread tries as often as it can.
                spawn = Path(tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else tmp))
                self.addCleanup(shutil.rmtree, spawn, True)
                bad = []
                made = [0]
                stop = threading.Event()

                def create_continuously():
                    i = 0
                    while not stop.is_set():
                        f = os.path.join(spawn, f"f{i}")
                        fd = os.open(f, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
                        mode = os.fstat(fd).st_mode & 0o7777
                        os.close(fd)
                        if mode != 0o644:
                            bad.append((f, oct(mode)))
                        os.unlink(f)
                        d = os.path.join(spawn, f"d{i}")
                        os.mkdir(d, 0o777)
                        mode = os.stat(d).st_mode & 0o7777
                        if mode != 0o755:
                            bad.append((d, oct(mode)))
                        os.rmdir(d)
                        i += 1
                    made[0] = i

                # The sync's summary lines would fill the log: fd 1 goes to /dev/null meanwhile.
                saved_stdout = os.dup(1)
                devnull = os.open(os.devnull, os.O_WRONLY)
                os.dup2(devnull, 1)
                os.close(devnull)
                worker = threading.Thread(target=create_continuously)
                worker.start()
                try:
                    deadline = time.monotonic() + 240
                    done = 0
                    for done in range(1, SYNCS + 1):
                        # Without a stamp the sync reinstalls everything and creates the stamp anew,
                        # the case where it must find out what mode a new file gets.
                        stamp.unlink()
                        status = lib.qev_scoreboard_sync_notebooks(os.fsencode(ws))
                        self.assertEqual(status, 0, lib.qev_scoreboard_last_error())
                        if time.monotonic() > deadline:
                            break
                finally:
                    stop.set()
                    worker.join()
                    os.dup2(saved_stdout, 1)
                    os.close(saved_stdout)
                self.assertGreaterEqual(done, 1000, "too slow to reach a thousand syncs")
                self.assertGreater(made[0], 0)
                self.assertEqual(bad, [], f"{len(bad)} of {2 * made[0]} entries took a wrong mode")
                self.assertEqual(stamp.read_text(), support.version())
                self.assertEqual(stamp.stat().st_mode & 0o777, 0o644)
        finally:
            self.assertEqual(os.umask(old_umask), 0o022)


if __name__ == "__main__":
    support.main()
