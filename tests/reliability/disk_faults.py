#!/usr/bin/env python3
"""Disk faults: runs the real Quillpost under Xvfb on a full disk, a read-only data folder and a
read-only backup folder, and checks that the program says why a save failed, leaves the files as
they were and never shows unsaved data as saved. Mounting needs root: without it, or when mounting
fails, it exits with SKIPPED (77) and says why."""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "e2e"))
from harness import DONE_MARK, AppRun, Checks, page_script, read, start_xvfb, stop_xvfb  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SKIPPED = 77
FILLER = "data-2001-01-01.json"


class MountFailed(Exception):
    pass


class Faults:
    """The mounts made so far, and each run of the program on a broken disk or a damaged file (the
    hostile-file run uses it too), read step by step."""

    def __init__(self, app, output, work):
        self.app, self.output, self.work = app, output, work
        self.check = Checks()
        self.points = []
        self.display = None

    def mount(self, *arguments):
        result = subprocess.run(["mount", *arguments], capture_output=True, text=True)
        if result.returncode:
            raise MountFailed("mount %s: %s" % (" ".join(arguments), result.stderr.strip()))
        if arguments[-1] not in self.points:
            self.points.append(arguments[-1])

    def read_only_bind(self, source, target):
        os.makedirs(target, exist_ok=True)
        self.mount("--bind", source, target)
        self.mount("-o", "remount,ro,bind", target)

    def release(self):
        for point in reversed(self.points):
            if subprocess.run(["umount", point], capture_output=True).returncode:
                subprocess.run(["umount", "-l", point], capture_output=True)
        self.points.clear()

    def start(self, name, data_dir, settings, state_dir=None):
        slug = re.sub(r"[^A-Za-z0-9]+", "-", name).strip("-")
        settings = dict({"scenario": name}, **settings)
        script = page_script(self.work, slug + ".js", settings, os.path.join(HERE, "fault_page.js"))
        run = AppRun(self.app, script, data_dir, state_dir or os.path.join(self.work, "state"), self.display)
        run.name, run.slug = name, slug
        return run

    def step(self, run, name, timeout=90):
        while True:
            text = run.wait_for("FAULT-STEP ", timeout)
            if text is None:
                return None
            step, _, value = text.partition(" ")
            if step == "error":
                self.check(False, "%s: the page script failed: %s" % (run.name, value))
                return None
            if step == name:
                return json.loads(value)

    def finish(self, run):
        run.wait_for(DONE_MARK, 10)
        alive = run.alive()
        run.finish(os.path.join(self.output, run.slug + ".log"))
        self.check(alive, "%s: the program was still running at the end%s"
                   % (run.name, "" if alive else " (exit status %s; last lines: %s)" % (run.process.returncode, run.log[-3:])))


def document(clients, notes_size):
    return json.dumps({"version": 1, "clients": [{"id": "c%d" % i, "name": "Client %d" % i} for i in range(clients)],
                       "notes": "q" * notes_size})


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)


def files_of(folder):
    """The data files' bytes, and the temporary files present."""
    found = {name: read(os.path.join(folder, name)) if os.path.exists(os.path.join(folder, name)) else None
             for name in ("data.json", "data.json.bak", "config.json")}
    found["temporary"] = [os.path.join(sub, n) for sub in ("", "snapshots") if os.path.isdir(os.path.join(folder, sub))
                          for n in os.listdir(os.path.join(folder, sub)) if n.startswith(".")]
    return found


def check_refused(faults, label, failed, cause):
    """Both ways of saving fail naming the cause, and the page shows "Changes not saved" and keeps showing it."""
    for way, what in (("direct", "quillpost.save"), ("saved", "App.saveNow")):
        message = failed[way].get("message") or ""
        faults.check(not failed[way]["ok"] and cause in message, "%s: the save through %s fails, naming the cause: %r" % (label, what, message))
    faults.check(failed["right"]["status"] == failed["later"]["status"] == "Changes not saved",
                 "%s: the page shows \"Changes not saved\", and 1.5 s later still: %r" % (label, failed["later"]["status"]))


def full_disk(faults):
    """A full data folder, freed again; the backup copy then goes to a read-only folder."""
    backups = os.path.join(faults.work, "backup-source", "backups")
    os.makedirs(backups)
    faults.read_only_bind(os.path.dirname(backups), os.path.join(faults.work, "backup-ro"))
    data_dir = os.path.join(faults.work, "full")
    os.makedirs(data_dir)
    faults.mount("-t", "tmpfs", "-o", "size=8m", "tmpfs", data_dir)
    write(os.path.join(data_dir, "config.json"), json.dumps({"backupFolder": os.path.join(faults.work, "backup-ro", "backups")}))
    write(os.path.join(data_dir, "data.json.bak"), document(3, 300_000))
    write(os.path.join(data_dir, "data.json"), document(4, 1_100_000))
    # The filler, an old snapshot, leaves about 200 KB free; deleting it frees the space again.
    free = os.statvfs(data_dir).f_bavail * os.statvfs(data_dir).f_frsize
    write(os.path.join(data_dir, "snapshots", FILLER), document(0, free - 200_000))

    run = faults.start("full-disk", data_dir, {"notes": 300_000, "filler": FILLER})
    started = faults.step(run, "started")
    faults.check(started is not None and started["editable"], "full disk: the page opens the data file for editing")
    # Taken once the program has started: a first start of a version writes its settings file.
    before = files_of(data_dir)
    failed = faults.step(run, "failed")
    if failed is not None:
        check_refused(faults, "full disk", failed, "No space left on device")
        after = files_of(data_dir)
        faults.check(after == dict(before, temporary=[]), "full disk: the data files are byte for byte as before the failed "
                     "saves, and no temporary file remains: %s" % after["temporary"])
        os.remove(os.path.join(data_dir, "snapshots", FILLER))
        retried = faults.step(run, "retried")
        saved = json.loads(read(os.path.join(data_dir, "data.json")))
        faults.check(retried is not None and retried["saveState"] == "saved" and retried["status"] == "All changes saved"
                     and any(c.get("name") == "Refused client" for c in saved.get("clients", [])),
                     "full disk: after freeing space, \"Try again\" saves the edit and the page shows \"All changes saved\": %r" % retried)
        faults.check(retried is not None and "Read-only file system" in (retried["backupError"] or ""), "read-only backup folder: "
                     "info() reports a backupError naming the cause: %r" % retried)
    faults.check(os.listdir(backups) == [], "read-only backup folder: nothing was written into it")
    faults.finish(run)


def read_only_data(faults):
    source = os.path.join(faults.work, "ro-source")
    write(os.path.join(source, "data.json.bak"), document(1, 1000))
    write(os.path.join(source, "data.json"), document(2, 1000))
    data_dir = os.path.join(faults.work, "ro-data")
    faults.read_only_bind(source, data_dir)
    before = files_of(source)

    run = faults.start("read-only", data_dir, {"notes": 0})
    failed = faults.step(run, "failed")
    if failed is not None:
        check_refused(faults, "read-only folder", failed, "Read-only file system")
    faults.check(files_of(source) == before and not os.path.exists(os.path.join(source, "snapshots")),
                 "read-only folder: data.json, data.json.bak and config.json are unchanged, and no snapshot appeared")
    faults.finish(run)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--app", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("SKIPPED: the disk-fault scenarios mount file systems, which needs root")
        return SKIPPED
    os.makedirs(args.output, exist_ok=True)
    faults = Faults(args.app, args.output, tempfile.mkdtemp(prefix="quillpost-faults-"))
    try:
        os.makedirs(os.path.join(faults.work, "probe"))
        faults.mount("-t", "tmpfs", "-o", "size=1m", "tmpfs", os.path.join(faults.work, "probe"))
        faults.release()
    except MountFailed as error:
        shutil.rmtree(faults.work, ignore_errors=True)
        print("SKIPPED: mounting is not possible here: %s" % error)
        return SKIPPED

    xvfb, faults.display = start_xvfb()
    try:
        for scenario in (full_disk, read_only_data):
            try:
                scenario(faults)
            except MountFailed as error:
                faults.check(False, "%s could not be set up: %s" % (scenario.__name__, error))
    finally:
        stop_xvfb(xvfb)
        faults.release()
        shutil.rmtree(faults.work, ignore_errors=True)
    return faults.check.outcome("disk-fault", args.output)


if __name__ == "__main__":
    sys.exit(main())
