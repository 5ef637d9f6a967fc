#!/usr/bin/env python3
"""A team's shared work directory: links planted by other members are refused, two notebook names that
reach one file are an error, any number of runs at once all succeed and keep every edit exactly once, an
interrupt at any moment leaves no temporary file or empty kept-copies folder and names what was kept, and
what killed runs left behind is removed by the next run."""
import collections
import fcntl
import json
import os
import random
import re
import signal
import subprocess
import sys
import threading
import time
import unittest
from pathlib import Path

import support
from support import NOBODY

LEAD = 1001  # the team lead, who owns the shared directory
MEMBER = 1002
PIPELINE = "qev_pipeline.ipynb"
EDITED = "nb_03_marts.ipynb"
README = "external_data/VERI_KOPYALA.txt"
KEPT = re.compile(r"^    ⤷ (yedek/\S+)$", re.M)


def snapshot(root):
    """Every name under `root` with what it holds: a change anywhere shows."""
    out = {}
    for p in sorted(Path(root).rglob("*")):
        st = os.lstat(p)
        if p.is_symlink():
            what = ("link", os.readlink(p))
        elif p.is_file():
            what = ("file", p.read_bytes())
        else:
            what = ("dir", None)
        out[str(p.relative_to(root))] = (what, st.st_mode, st.st_uid, st.st_mtime_ns)
    return out


def temporaries(root):
    return sorted(str(p) for p in Path(root).rglob(".qev-*"))


def empty_run_folders(ws):
    return sorted(str(f) for f in (Path(ws) / "yedek").glob("*") if f.is_dir() and not any(f.iterdir()))


class PlantedLinks(support.PackageCase):
    """In a directory that anyone besides its owner may write, a link is followed only when it belongs to
    the user running, or to the directory's owner; root is no exception. Only the name written is
    judged."""

    def setUp(self):
        if not support.is_root():
            self.skipTest("needs root to plant other users' links")
        self.secret = self.tmp / f"secret{self.count}"
        self.secret.write_text("root'un kendi dosyası\n")
        os.chown(self.secret, MEMBER, MEMBER)
        os.chmod(self.secret, 0o600)

    def plant(self, link, owner):
        if link.exists() or link.is_symlink():
            link.unlink()
        link.symlink_to(self.secret)
        os.lchown(link, owner, owner)

    def test_each_owner_and_directory_mode(self):
        for mode in (0o755, 0o775, 0o2775, 0o777, 0o1777, 0o1775):
            for owner in (0, LEAD, NOBODY):
                with self.subTest(mode=oct(mode), owner=owner):
                    ws = self.make_ws()
                    os.chown(ws, LEAD, LEAD)
                    os.chmod(ws, mode)
                    self.secret.write_text("root'un kendi dosyası\n")
                    os.chmod(self.secret, 0o600)
                    self.plant(ws / PIPELINE, owner)
                    before = snapshot(ws)
                    proc = self.init(ws)
                    err = support.stderr_text(proc)
                    if mode & 0o022 and owner not in (0, LEAD):
                        self.assertEqual(proc.returncode, 1, err)
                        self.assertEqual(err, f"{support.PROG}: hata: {ws / PIPELINE}: izlenmedi: "
                                              "başka bir kullanıcının bağlantısı\n")
                        self.assertEqual(snapshot(ws), before, "something was written")
                        self.assertEqual(self.secret.read_text(), "root'un kendi dosyası\n")
                        self.assertEqual(os.stat(self.secret).st_mode & 0o7777, 0o600)
                    else:
                        self.assertEqual(proc.returncode, 0, err)
                        self.assertTrue((ws / PIPELINE).is_symlink())
                        package = self.package_notebook(PIPELINE)
                        self.assertEqual(self.secret.read_bytes(), package.read_bytes())
                        # The package's permission bits, as every installed notebook; owner and group stay.
                        st = os.stat(self.secret)
                        self.assertEqual(st.st_mode & 0o7777, os.stat(package).st_mode & 0o7777)
                        self.assertEqual((st.st_uid, st.st_gid), (MEMBER, MEMBER))

    def test_every_file_a_run_writes_is_judged_before_anything_is_written(self):
        kod, step = next(iter(json.loads((self.data / "adim_registry.json").read_text()).items()))
        for rel in (README, "db/.nb_version", "db/.nb_installed.json", f"seasons/2026_11/meta/adim_{kod}.json"):
            # The data readme is init's alone to write.
            runs = ("init",) if rel == README else ("init", "sync")
            with self.subTest(rel=rel):
                ws = self.make_ws(stamp="0.0.1")
                # The package changed since: there is a notebook to replace, and meta files to refresh.
                (ws / step["nb"]).write_bytes(b'{"cells": []}\n')
                support.record_as_installed(ws, step["nb"])
                link = ws / rel
                link.parent.mkdir(parents=True, exist_ok=True)
                os.chmod(link.parent, 0o2775)
                self.plant(link, NOBODY)
                before = snapshot(ws)
                for run in runs:
                    if run == "init":
                        proc = self.init(ws)
                        status, err = proc.returncode, support.stderr_text(proc)
                    else:
                        status, err, _ = support.sync_in_child(self.library, ws)
                    self.assertEqual(status, 1, err)
                    self.assertIn(f"{link}: izlenmedi: başka bir kullanıcının bağlantısı", err)
                    self.assertEqual(snapshot(ws), before, f"{run} wrote something")

    def test_a_link_on_the_way_is_the_users_own_set_up(self):
        ws = self.make_ws()
        os.chmod(ws, 0o2775)
        volume = self.tmp / f"volume{self.count}"
        os.rename(ws / "external_data", volume)
        (ws / "external_data").symlink_to(volume)
        os.lchown(ws / "external_data", NOBODY, NOBODY)
        (volume / "VERI_KOPYALA.txt").write_text("eski")
        support.record_as_installed(ws, README)
        proc = self.init(ws)
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        self.assertEqual((volume / "VERI_KOPYALA.txt").read_bytes(), (self.data / "VERI_KOPYALA.txt").read_bytes())


class TwoNamesForOneFile(support.PackageCase):
    def test_a_symbolic_or_hard_link_between_notebooks_is_an_error_naming_both(self):
        first, second = "nb_05a_backtest_eus.ipynb", "nb_05b_backtest_yis.ipynb"
        for kind in ("symbolic", "hard"):
            for run in ("init", "init --force", "sync"):
                with self.subTest(kind=kind, run=run):
                    ws = self.make_ws(stamp="0.0.1")
                    (ws / second).unlink()
                    if kind == "symbolic":
                        (ws / second).symlink_to(first)
                    else:
                        os.link(ws / first, ws / second)
                    before = snapshot(ws)
                    if run == "sync":
                        status, err, _ = support.sync_in_child(self.library, ws)
                    else:
                        proc = self.init(ws, *run.split()[1:])
                        status, err = proc.returncode, support.stderr_text(proc)
                    self.assertEqual(status, 1, err)
                    self.assertIn(f"{ws / second}: yazılamadı: {ws / first} ile aynı dosya", err)
                    self.assertEqual(snapshot(ws), before, "something was written")


# Several auto-syncs at once in one process, on threads of their own; prints one status a line.
THREADED_SYNC = r"""
import ctypes, os, sys, threading
lib = ctypes.CDLL(sys.argv[1])
lib.qev_scoreboard_sync_notebooks_cb.argtypes = [ctypes.c_char_p, ctypes.c_void_p, ctypes.c_void_p]
lib.qev_scoreboard_sync_notebooks_cb.restype = ctypes.c_int
lib.qev_scoreboard_last_error.restype = ctypes.c_char_p
out = []
def sync():
    status = lib.qev_scoreboard_sync_notebooks_cb(os.fsencode(sys.argv[2]), None, None)
    out.append(f"{status} {lib.qev_scoreboard_last_error().decode('utf-8', 'replace')}")
threads = [threading.Thread(target=sync) for _ in range(int(sys.argv[3]))]
for t in threads: t.start()
for t in threads: t.join()
print("\n".join(out))
"""


class RunsAtOnce(unittest.TestCase):
    """Shells and notebook kernels updating one work directory at once: init, init --force and
    auto-syncs, in processes and in threads. Every run succeeds, every edit is kept exactly once."""

    ROUNDS = 120

    def test_every_run_succeeds_and_every_edit_is_kept_once(self):
        with support.Scratch() as tmp:
            ws = support.workdir(tmp)
            names = support.package_notebooks()
            readme = (ws / README).read_bytes()
            edits = collections.Counter()
            failures = []
            for round_ in range(self.ROUNDS):
                (ws / "db" / ".nb_version").write_text("0.9.0")
                edit = f'{{"cells": [], "tur": {round_}}}\n'.encode()
                (ws / names[round_ % len(names)]).write_bytes(edit)
                edits[(names[round_ % len(names)], edit)] += 1
                if round_ % 3 == 0:
                    note = readme + f"\nNot {round_}: veri eksik.\n".encode()
                    (ws / README).write_bytes(note)
                    edits[("VERI_KOPYALA.txt", note)] += 1
                procs = [subprocess.Popen([str(support.PROGRAM), "--dir", str(ws), "init", *force],
                                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                          preexec_fn=support.default_signals)
                         for force in ([], ["--force"], [], ["--force"])]
                procs.append(subprocess.Popen([sys.executable, "-c", THREADED_SYNC, str(support.LIBRARY), str(ws), "3"],
                                              stdout=subprocess.PIPE, stderr=subprocess.PIPE))
                for p in procs:
                    out, err = p.communicate(timeout=support.RUN_TIMEOUT)
                    if p.returncode != 0:
                        failures.append((round_, err.decode("utf-8", "replace")))
                    for line in (out or b"").decode().splitlines():
                        if not line.startswith("0 "):
                            failures.append((round_, line))
            self.assertEqual(failures, [])
            for name in names:
                self.assertEqual((ws / name).read_bytes(), (support.NOTEBOOKS / name).read_bytes(), name)
            kept = collections.Counter((p.name, p.read_bytes()) for p in ws.glob("yedek/*/*"))
            self.assertEqual(kept, edits)
            self.assertEqual(temporaries(ws), [])
            self.assertEqual(empty_run_folders(ws), [])


class Interrupted(support.PackageCase):
    """Ended by SIGINT, SIGTERM or SIGHUP at any moment, a run leaves no temporary file and no empty
    kept-copies folder, every file old or new, and names on standard output what it kept."""

    RUNS = 150

    def test_at_random_moments(self):
        ws = self.make_ws()
        names = support.package_notebooks(self.data / "notebooks")
        package = {n: (self.data / "notebooks" / n).read_bytes() for n in names}
        rng = random.Random(28)
        signalled = 0
        for i in range(self.RUNS):
            edit = f'{{"cells": [], "surum": {i}}}\n'.encode()
            (ws / EDITED).write_bytes(edit)
            (ws / README).write_bytes((self.data / "VERI_KOPYALA.txt").read_bytes() + f"Not {i}\n".encode())
            before = {n: (ws / n).read_bytes() for n in names}
            folders = set(os.listdir(ws / "yedek")) if (ws / "yedek").exists() else set()
            sig = rng.choice([signal.SIGINT, signal.SIGTERM, signal.SIGHUP])
            proc = subprocess.Popen([str(self.program), "--dir", str(ws), "init", "--force"], stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, preexec_fn=support.default_signals)
            time.sleep(rng.uniform(0, 0.03))
            proc.send_signal(sig)
            out, err = proc.communicate(timeout=support.RUN_TIMEOUT)
            out = out.decode()
            with self.subTest(run=i, signal=sig.name):
                self.assertIn(proc.returncode, (0, -sig), err.decode("utf-8", "replace"))
                signalled += proc.returncode == -sig
                self.assertEqual(temporaries(ws), [])
                self.assertEqual(empty_run_folders(ws), [])
                for n in names:
                    self.assertIn((ws / n).read_bytes(), (before[n], package[n]), n)
                # Every copy this run made is named, however it ended.
                made = {f"yedek/{f}/{c}" for f in set(os.listdir(ws / "yedek")) - folders
                        for c in os.listdir(ws / "yedek" / f)} if (ws / "yedek").exists() else set()
                self.assertLessEqual(made, set(KEPT.findall(out)), out)
        self.assertGreater(signalled, self.RUNS // 4, "too few runs were cut short to tell")


class LeftOvers(support.PackageCase):
    """Every init, even one with nothing to write, and every auto-sync removes what killed runs left in
    the directories it owns (the meta directories it refreshes among them), but never a file a live run
    holds."""

    def plant(self, ws):
        kod = next(iter(json.loads((self.data / "adim_registry.json").read_text())))
        meta = ws / "seasons" / "2026_11" / "meta" / f"adim_{kod}.json"
        meta.parent.mkdir(parents=True, exist_ok=True)
        meta.write_text(json.dumps({"kod": kod, "nb_hash": "0" * 16}))
        kept = ws / "yedek" / "20261101-101010"
        kept.mkdir(parents=True)
        (kept / EDITED).write_text("bir kopya")
        abandoned = ws / "yedek" / "20261101-101011"
        abandoned.mkdir()
        planted = [d / ".qev-x0x0x0x0" for d in (ws, ws / "db", ws / "external_data", kept, abandoned, meta.parent)]
        for p in planted:
            p.write_text("")
        return planted, abandoned

    def test_init_and_the_auto_sync_with_nothing_to_write(self):
        for run in ("init", "sync"):
            with self.subTest(run=run):
                ws = self.make_ws(stamp=None if run == "init" else "0.0.1")
                planted, abandoned = self.plant(ws)
                live = ws / ".qev-l1vel1ve"
                live.write_text("another run is writing this")
                with open(live) as held:
                    fcntl.flock(held, fcntl.LOCK_EX)
                    if run == "init":
                        proc = self.init(ws)
                        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
                    else:
                        self.assertEqual(support.sync_in_child(self.library, ws)[:2], (0, ""))
                # init with no version change refreshes no meta file: that directory is not its to touch.
                self.assertEqual(temporaries(ws), sorted([str(live)] + ([str(planted[-1])] if run == "init" else [])))
                self.assertFalse(abandoned.exists())
                self.assertEqual((ws / "yedek" / "20261101-101010" / EDITED).read_text(), "bir kopya")


class KeptOnce(support.PackageCase):
    def test_a_retry_after_a_failure_names_the_copy_already_kept(self):
        ws = self.make_ws()
        (ws / EDITED).write_text("analistin düzenlemesi")
        # The new version of the edited notebook is larger than the file-size limit lets a run write: every
        # run keeps the edit, then fails to replace it.
        package = self.package_notebook(EDITED)
        self.addCleanup(package.write_bytes, package.read_bytes())
        package.write_bytes(b" " * (2 << 20))
        outs = []
        for _ in range(4):
            proc = self.init(ws, wrap=["bash", "-c", 'ulimit -f 1024; exec "$@"', "bash"])
            self.assertEqual(proc.returncode, 1, support.stderr_text(proc))
            self.assertIn(f"{ws / EDITED}: yazılamadı: dosya çok büyük", support.stderr_text(proc))
            outs.append(proc.stdout.decode())
        copies = list(ws.glob(f"yedek/*/{EDITED}"))
        self.assertEqual(len(copies), 1, copies)
        named = f"  YEDEKLENDİ  : 1 dosya\n    ⤷ {copies[0].relative_to(ws)}\n"
        for out in outs:
            self.assertTrue(out.endswith(named), out)
        proc = self.init(ws)
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        self.assertIn(named, proc.stdout.decode())
        self.assertEqual(list(ws.glob(f"yedek/*/{EDITED}")), copies)
        self.assertEqual((ws / EDITED).read_bytes(), package.read_bytes())


class KernelInterrupt(support.PackageCase):
    """A notebook kernel's interrupt (SIGINT, raised as KeyboardInterrupt) during sync_notebooks stops the
    sync at its next safe point and is raised again from it, with the copies kept so far. Sent once the
    analyst's edit is kept, while the package's large notebooks are still to be written."""

    CHILD = r"""
import glob, os, signal, sys, threading, time
sys.path.insert(0, sys.argv[1])
import qev_scoreboard_cli
ws, watched = sys.argv[2], sys.argv[3]
def interrupt_once_the_edit_is_kept():
    while not glob.glob(os.path.join(ws, "yedek", "*", watched)):
        time.sleep(0.0005)
    os.kill(os.getpid(), signal.SIGINT)
threading.Thread(target=interrupt_once_the_edit_is_kept, daemon=True).start()
try:
    qev_scoreboard_cli.sync_notebooks(ws)
    print("@@no interrupt")
except KeyboardInterrupt as e:
    print("@@kept=" + "|".join(e.kept))
print("@@went on")
"""

    def test_the_interrupt_stops_the_sync_and_is_raised_again(self):
        notebooks = self.data / "notebooks"
        names = [f"nb_90_{i:02}.ipynb" for i in range(40)]
        for name in names:
            (notebooks / name).write_bytes(b'{"cells": [%d]}\n' % len(name) + b" " * (2 << 20))
        module = next(self.prefix.rglob("qev_scoreboard_cli/__init__.py")).parent.parent
        for attempt in range(5):
            with self.subTest(attempt=attempt):
                ws = self.make_ws(stamp="0.0.1")
                for name in names:
                    (ws / name).unlink()  # new in this version: the sync writes them
                (ws / EDITED).write_text("analistin düzenlemesi")
                before = {n: (ws / n).read_bytes() for n in os.listdir(ws) if n.endswith(".ipynb")}
                proc = support.run([sys.executable, "-c", self.CHILD, module, ws, EDITED], program=False)
                out = proc.stdout.decode()
                self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
                self.assertNotIn("Exception ignored", support.stderr_text(proc))
                [kept] = [line[7:] for line in out.splitlines() if line.startswith("@@kept=")]
                [copy] = ws.glob(f"yedek/*/{EDITED}")
                self.assertEqual(kept, str(copy))
                self.assertIn(f"  [SYNC] Yedeklendi: {copy.relative_to(ws)}\n", out)
                self.assertNotIn("Notebook'lar", out)
                self.assertIn("@@went on", out)
                self.assertEqual((ws / "db" / ".nb_version").read_text(), "0.0.1")
                for n, data in before.items():
                    self.assertIn((ws / n).read_bytes(), (data, (notebooks / n).read_bytes()), n)
                self.assertFalse(all((ws / n).exists() for n in names), "the sync ran to its end")
                self.assertEqual(temporaries(ws), [])
                self.assertEqual(support.sync_in_child(self.library, ws)[:2], (0, ""))


if __name__ == "__main__":
    support.main()
