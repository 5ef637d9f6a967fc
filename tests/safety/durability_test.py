#!/usr/bin/env python3
"""`init --force` on a work directory of an older version, traced with strace: every installed notebook
reaches the disk (its data and its directory entry) before the stamp is renamed into place, the stamp's
temporary file is flushed before its rename, and so is a rewritten step meta file. After a power loss the
stamp then never names a version whose notebooks were lost, and no file comes back empty."""
import json
import os
import re
import shutil
import subprocess
import unittest

import support

TRACED = ("fsync,fdatasync,syncfs,sync,sync_file_range,rename,renameat,renameat2,openat,linkat,"
          "write,pwrite64,writev,pwritev,pwritev2,copy_file_range,sendfile,splice,ftruncate")
DATA_CALLS = {"write", "pwrite64", "writev", "pwritev", "pwritev2", "copy_file_range", "sendfile", "splice",
              "ftruncate"}
FD_PATH = re.compile(r"(?:AT_FDCWD|\d+)<([^>]*)>")
STRING = r'"((?:[^"\\]|\\.)*)"'
AT_NAME = re.compile(r"(?:AT_FDCWD|-?\d+)<([^>]*)>, " + STRING)
CALL = re.compile(r"^(\w+)\((.*)\)\s+=\s+(-?\d+)")


class Event:
    def __init__(self, name, args, start, end):
        self.name, self.args, self.start, self.end = name, args, start, end
        self.fd_paths = [os.path.normpath(p) for p in FD_PATH.findall(args)]

    def placement(self):
        """(source, destination) of a rename or link, as absolute paths."""
        if self.name == "rename":
            src, dst = re.findall(STRING, self.args)[:2]
            return os.path.normpath(src), os.path.normpath(dst)
        pairs = AT_NAME.findall(self.args)
        if len(pairs) < 2:
            return None
        (sdir, sname), (ddir, dname) = pairs[:2]
        src = sdir if sname == "" else os.path.join(sdir, sname)
        return os.path.normpath(src), os.path.normpath(os.path.join(ddir, dname))


def parse_trace(text):
    events, pending = [], {}
    for index, line in enumerate(text.splitlines()):
        pid, _, rest = line.partition(" ")
        rest = rest.lstrip()  # strace pads the pid column
        start = index
        if rest.endswith("<unfinished ...>"):
            pending[pid] = (rest[: -len("<unfinished ...>")], index)
            continue
        resumed = re.match(r"^<\.\.\. \w+ resumed>(.*)$", rest)
        if resumed:
            head, start = pending.pop(pid, ("", index))
            rest = head + resumed.group(1)
        m = CALL.match(rest)
        if m and int(m.group(3)) >= 0:
            events.append(Event(m.group(1), m.group(2), start, index))
    return events


class Trace:
    def __init__(self, events):
        self.events = events

    def placements_to(self, dst):
        found = []
        for e in self.events:
            if e.name in ("rename", "renameat", "renameat2", "linkat"):
                p = e.placement()
                if p and p[1] == dst:
                    found.append((e, p[0]))
        return found

    def last_data_on(self, paths):
        ends = [e.end for e in self.events if e.name in DATA_CALLS and set(e.fd_paths) & paths]
        return max(ends, default=-1)

    def flushed_file(self, paths, after, before):
        """Whether an fsync or fdatasync of one of `paths` itself started after `after` and finished before `before`."""
        return any(e.name in ("fsync", "fdatasync") and e.fd_paths and e.fd_paths[0] in paths
                   and e.start > after and e.end < before for e in self.events)

    def flushed(self, paths, after, before):
        """Whether a flush that covers `paths` started after `after` and finished before `before`."""
        for e in self.events:
            if e.start <= after or e.end >= before:
                continue
            if e.name in ("syncfs", "sync"):
                return True
            if e.name in ("fsync", "fdatasync") and e.fd_paths and e.fd_paths[0] in paths:
                return True
        return False


@support.needs_root
@unittest.skipUnless(shutil.which("strace"), "strace is not installed")
class FlushedBeforeRenamed(unittest.TestCase):
    maxDiff = None

    def trace_init(self, tmp, ws, *options):
        log = tmp / "trace.txt"
        proc = subprocess.run(
            ["strace", "-f", "-y", "-qq", "-o", str(log), "-e", f"trace={TRACED}",
             str(support.PROGRAM), "--dir", str(ws), "init", *options],
            capture_output=True, timeout=support.RUN_TIMEOUT, preexec_fn=support.default_signals)
        self.assertEqual(proc.returncode, 0, support.stderr_text(proc))
        return Trace(parse_trace(log.read_text(errors="replace")))

    def stamp_problems(self, trace, ws):
        problems = []
        placed = trace.placements_to(str(ws / "db" / ".nb_version"))
        self.assertTrue(placed, "the stamp was not renamed into place")
        stamp_event, stamp_tmp = placed[-1]
        if not trace.flushed({stamp_tmp}, trace.last_data_on({stamp_tmp}), stamp_event.start):
            problems.append("stamp: its temporary file not flushed before its rename")
        return problems, stamp_event

    def test_notebooks_an_interrupted_run_copied_are_flushed_too(self):
        # A first run copied every notebook and was stopped before the stamp; this run finds them all
        # identical, yet the stamp it writes names them.
        with support.Scratch() as tmp:
            ws = support.workdir(tmp, stamp="0.0.1").resolve()
            for name in support.package_notebooks():
                shutil.copy2(support.DATA_DIR / "notebooks" / name, ws / name)
            trace = self.trace_init(tmp, ws)
            problems, stamp_event = self.stamp_problems(trace, ws)
            if not trace.flushed({str(ws)}, -1, stamp_event.start):
                problems.append("identical notebooks: not flushed before the stamp's rename")
            self.assertEqual(problems, [])

    def test_a_notebook_linked_to_another_file_system_is_flushed_itself(self):
        with support.Scratch() as tmp, support.Scratch(base="/dev/shm") as elsewhere:
            ws = support.workdir(tmp, stamp="0.0.1").resolve()
            name = support.package_notebooks()[0]
            target = (elsewhere / name).resolve()
            target.write_text("eski")
            (ws / name).unlink()
            (ws / name).symlink_to(target)
            trace = self.trace_init(tmp, ws, "--force")
            problems, stamp_event = self.stamp_problems(trace, ws)
            placements = trace.placements_to(str(target))
            self.assertTrue(placements, "the link's target was not replaced")
            paths = {str(target)} | {src for _, src in placements}
            if not trace.flushed_file(paths, trace.last_data_on(paths), stamp_event.start):
                problems.append("linked notebook: its own data not flushed before the stamp's rename")
            self.assertTrue((ws / name).is_symlink())
            self.assertEqual(problems, [])

    def test_init_force_flushes_in_order(self):
        with support.Scratch() as tmp:
            ws = support.workdir(tmp, stamp="0.0.1")
            ws = ws.resolve()
            meta = ws / "seasons" / "2024_01" / "meta" / "adim_01a.json"
            meta.parent.mkdir(parents=True)
            meta.write_text(json.dumps({"kod": "01a", "nb_hash": "0000000000000000", "durum": "ok"}))
            trace = self.trace_init(tmp, ws, "--force")
            self.assertNotEqual(json.loads(meta.read_text())["nb_hash"], "0000000000000000",
                                "the meta file was not rewritten: the scenario is void")
            problems, stamp_event = self.stamp_problems(trace, ws)

            for name in support.package_notebooks():
                dst = str(ws / name)
                placements = trace.placements_to(dst)
                paths = {dst} | {src for _, src in placements}
                if placements and placements[-1][0].end > stamp_event.start:
                    problems.append(f"{name}: placed after the stamp")
                    continue
                if not trace.flushed(paths, trace.last_data_on(paths), stamp_event.start):
                    problems.append(f"{name}: data not flushed before the stamp's rename")
                if placements and not trace.flushed({str(ws)}, placements[-1][0].end, stamp_event.start):
                    problems.append(f"{name}: its directory entry not flushed before the stamp's rename")

            placed = trace.placements_to(str(meta))
            self.assertTrue(placed, "the meta file was not renamed into place")
            meta_event, meta_tmp = placed[-1]
            if not trace.flushed({meta_tmp}, trace.last_data_on({meta_tmp}), meta_event.start):
                problems.append("meta file: its temporary file not flushed before its rename")
            self.assertEqual(problems, [])

if __name__ == "__main__":
    support.main()
