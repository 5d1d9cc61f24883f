#!/usr/bin/env python3
"""Disk faults: runs the real Quillpost under Xvfb on a full disk, a read-only data folder and a
read-only backup folder, and checks that the program says why a save failed, leaves the files as
they were and never shows unsaved data as saved. Mounting needs root: without it, or when mounting
fails, it exits with SKIPPED (77) and says why."""

import json
import os
import subprocess
import sys

from reliability import PageRuns, arguments, session, practice, read, write

SKIPPED = 77
FILLER = "data-2001-01-01.json"


class MountFailed(Exception):
    pass


class Mounts(list):
    def mount(self, *arguments):
        result = subprocess.run(["mount", *arguments], capture_output=True, text=True)
        if result.returncode:
            raise MountFailed("mount %s: %s" % (" ".join(arguments), result.stderr.strip()))
        self.append(arguments[-1])

    def read_only_bind(self, source, target):
        os.makedirs(target, exist_ok=True)
        self.mount("--bind", source, target)
        self.mount("-o", "remount,ro,bind", target)

    def release(self):
        while self:
            point = self.pop()
            if subprocess.run(["umount", point], capture_output=True).returncode:
                subprocess.run(["umount", "-l", point], capture_output=True)


def files_of(folder):
    """The data files' bytes, and the temporary files present."""
    found = {name: read(os.path.join(folder, name)) if os.path.exists(os.path.join(folder, name)) else None
             for name in ("data.json", "data.json.bak", "config.json")}
    found["temporary"] = [os.path.join(sub, n) for sub in ("", "snapshots") if os.path.isdir(os.path.join(folder, sub))
                          for n in os.listdir(os.path.join(folder, sub)) if n.startswith(".")]
    return found


def check_refused(runs, label, failed, cause):
    """Both ways of saving fail naming the cause, and the page shows "Changes not saved" and keeps showing it."""
    for way, what in (("direct", "quillpost.save"), ("saved", "App.saveNow")):
        message = failed[way].get("message") or ""
        runs.check(not failed[way]["ok"] and cause in message, "%s: the save through %s fails, naming the cause: %r" % (label, what, message))
    runs.check(failed["right"]["status"] == failed["later"]["status"] == "Changes not saved",
               "%s: the page shows \"Changes not saved\", and 1.5 s later still: %r" % (label, failed["later"]["status"]))


def full_disk(runs, mounts):
    """A full data folder, freed again; the backup copy then goes to a read-only folder."""
    backups = os.path.join(runs.work, "backup-source", "backups")
    os.makedirs(backups)
    mounts.read_only_bind(os.path.dirname(backups), os.path.join(runs.work, "backup-ro"))
    data_dir = os.path.join(runs.work, "full")
    os.makedirs(data_dir)
    mounts.mount("-t", "tmpfs", "-o", "size=8m", "tmpfs", data_dir)
    write(os.path.join(data_dir, "config.json"), json.dumps({"backupFolder": os.path.join(runs.work, "backup-ro", "backups")}))
    write(os.path.join(data_dir, "data.json.bak"), practice(3, 300_000))
    write(os.path.join(data_dir, "data.json"), practice(4, 1_100_000))
    # The filler, an old snapshot, leaves about 200 KB free; deleting it frees the space again.
    free = os.statvfs(data_dir).f_bavail * os.statvfs(data_dir).f_frsize
    write(os.path.join(data_dir, "snapshots", FILLER), practice(0, free - 200_000))

    run = runs.start("full-disk", data_dir, {"notes": 300_000, "filler": FILLER})
    started = runs.step(run, "started")
    runs.check(started is not None and started["editable"], "full disk: the page opens the data file for editing")
    # Taken once the program has started: a first start of a version writes its settings file.
    before = files_of(data_dir)
    failed = runs.step(run, "failed")
    if failed is not None:
        check_refused(runs, "full disk", failed, "No space left on device")
        after = files_of(data_dir)
        runs.check(after == dict(before, temporary=[]), "full disk: the data files are byte for byte as before the failed "
                   "saves, and no temporary file remains: %s" % after["temporary"])
        os.remove(os.path.join(data_dir, "snapshots", FILLER))
        retried = runs.step(run, "retried")
        saved = json.loads(read(os.path.join(data_dir, "data.json")))
        runs.check(retried is not None and retried["saveState"] == "saved" and retried["status"] == "All changes saved"
                   and any(c.get("name") == "Refused client" for c in saved.get("clients", [])),
                   "full disk: after freeing space, \"Try again\" saves the edit and the page shows \"All changes saved\": %r" % retried)
        runs.check(retried is not None and "Read-only file system" in (retried["backupError"] or ""), "read-only backup folder: "
                   "info() reports a backupError naming the cause: %r" % retried)
    runs.check(os.listdir(backups) == [], "read-only backup folder: nothing was written into it")
    runs.finish(run)


def read_only_data(runs, mounts):
    source = os.path.join(runs.work, "ro-source")
    write(os.path.join(source, "data.json.bak"), practice(1, 1000))
    write(os.path.join(source, "data.json"), practice(2, 1000))
    data_dir = os.path.join(runs.work, "ro-data")
    mounts.read_only_bind(source, data_dir)
    before = files_of(source)

    run = runs.start("read-only", data_dir, {"notes": 0})
    failed = runs.step(run, "failed")
    if failed is not None:
        check_refused(runs, "read-only folder", failed, "Read-only file system")
    runs.check(files_of(source) == before and not os.path.exists(os.path.join(source, "snapshots")),
               "read-only folder: data.json, data.json.bak and config.json are unchanged, and no snapshot appeared")
    runs.finish(run)


def main():
    args = arguments(__doc__)
    if os.geteuid() != 0:
        print("SKIPPED: the disk-fault scenarios mount file systems, which needs root")
        return SKIPPED
    mounts = Mounts()
    with session("quillpost-faults-") as (work, display):
        runs = PageRuns(args.app, args.output, work, display)
        try:
            mounts.mount("-t", "tmpfs", "-o", "size=1m", "tmpfs", work)
            mounts.release()
        except MountFailed as error:
            print("SKIPPED: mounting is not possible here: %s" % error)
            return SKIPPED
        for scenario in (full_disk, read_only_data):
            try:
                scenario(runs, mounts)
            except MountFailed as error:
                runs.check(False, "%s could not be set up: %s" % (scenario.__name__, error))
            finally:
                mounts.release()
    return runs.check.outcome("disk-fault", args.output)


if __name__ == "__main__":
    sys.exit(main())
