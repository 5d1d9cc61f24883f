#!/usr/bin/env python3
"""Disk faults: runs the real Quillpost under Xvfb on a full disk, a read-only data folder and a
read-only backup folder, and checks that the program says why a save failed, leaves the files as
they were and never shows unsaved data as saved. (A data folder removed while the program runs is
the store's unit tests' case.) Mounting needs root: without it, or when mounting fails, it exits with SKIPPED (77) and
says why."""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "e2e"))
from harness import DONE_MARK, AppRun, Checks, page_script, read, start_xvfb, stop_xvfb  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SKIPPED = 77
STEP = "FAULT-STEP "
FILLER = "data-2001-01-01.json"


class Mounts:
    def __init__(self):
        self.points = []

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


class MountFailed(Exception):
    pass


def document(clients, notes_size):
    return json.dumps({"version": 1, "clients": [{"id": "c%d" % i, "name": "Client %d" % i} for i in range(clients)],
                       "notes": "q" * notes_size})


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


def files_of(folder):
    """The data files' bytes and the temporary files present."""
    found = {}
    for name in ("data.json", "data.json.bak", "config.json"):
        path = os.path.join(folder, name)
        found[name] = read(path) if os.path.exists(path) else None
    return found


def temporary_files(folder):
    names = []
    for sub in ("", "snapshots"):
        path = os.path.join(folder, sub)
        if os.path.isdir(path):
            names += [os.path.join(sub, n) for n in os.listdir(path) if n.startswith(".")]
    return names


class Scenario:
    """One run of the program on a prepared data folder, read step by step."""

    def __init__(self, context, name, data_dir, settings):
        self.context = context
        self.name = name
        script = page_script(context.work, name + ".js", dict(settings, scenario=name), os.path.join(HERE, "fault_page.js"))
        self.run = AppRun(context.app, script, data_dir, os.path.join(context.work, "state"), context.display)

    def step(self, name, timeout=90):
        while True:
            text = self.run.wait_for(STEP, timeout)
            if text is None:
                return None
            step, _, value = text.partition(" ")
            value = json.loads(value)
            if step == "error":
                self.context.check(False, "%s: the page script failed: %s" % (self.name, value))
                return None
            if step == name:
                return value

    def finish(self):
        self.run.wait_for(DONE_MARK, 10)
        alive = self.run.alive()
        self.run.finish(os.path.join(self.context.output, self.name + ".log"))
        self.context.check(alive, "%s: the program was still running at the end" % self.name)


def check_refused(context, label, failed, cause):
    """Both ways of saving fail naming the cause, and the page shows "Changes not saved" and keeps showing it."""
    for way, what in (("direct", "quillpost.save"), ("saved", "App.saveNow")):
        message = failed[way].get("message") or ""
        context.check(not failed[way]["ok"] and cause in message, "%s: the save through %s fails, naming the cause: %r" % (label, what, message))
    context.check(failed["right"]["status"] == failed["later"]["status"] == "Changes not saved",
                  "%s: the page shows \"Changes not saved\", and 1.5 s later still: %r" % (label, failed["later"]["status"]))


def full_disk(context):
    check = context.check
    data_dir = os.path.join(context.work, "full")
    os.makedirs(data_dir)
    context.mounts.mount("-t", "tmpfs", "-o", "size=8m", "tmpfs", data_dir)
    write(os.path.join(data_dir, "data.json.bak"), document(3, 300_000))
    write(os.path.join(data_dir, "data.json"), document(4, 1_100_000))
    # The filler, an old snapshot, leaves about 200 KB free; deleting it frees the space again.
    free = os.statvfs(data_dir).f_bavail * os.statvfs(data_dir).f_frsize
    write(os.path.join(data_dir, "snapshots", FILLER), document(0, free - 200_000))

    scenario = Scenario(context, "full-disk", data_dir, {"notes": 300_000, "filler": FILLER})
    started = scenario.step("started")
    check(started is not None and started["editable"], "full disk: the page opens the data file for editing")
    # Taken once the program has started: a first start of a version writes its settings file.
    before = files_of(data_dir)
    failed = scenario.step("failed")
    if failed is None:
        scenario.finish()
        return
    check_refused(context, "full disk", failed, "No space left on device")
    check(files_of(data_dir) == before, "full disk: data.json, data.json.bak and config.json are byte for byte as before the failed saves")
    check(not temporary_files(data_dir), "full disk: no temporary file remains: %s" % temporary_files(data_dir))

    os.remove(os.path.join(data_dir, "snapshots", FILLER))
    retried = scenario.step("retried")
    saved = json.loads(read(os.path.join(data_dir, "data.json")))
    check(retried is not None and retried["saveState"] == "saved" and retried["status"] == "All changes saved"
          and any(c.get("name") == "Refused client" for c in saved.get("clients", [])),
          "full disk: after freeing space, \"Try again\" saves the edit and the page shows \"All changes saved\": %r" % retried)
    scenario.finish()


def read_only_data(context):
    source = os.path.join(context.work, "ro-source")
    write(os.path.join(source, "data.json.bak"), document(1, 1000))
    write(os.path.join(source, "data.json"), document(2, 1000))
    data_dir = os.path.join(context.work, "ro-data")
    context.mounts.read_only_bind(source, data_dir)
    before = files_of(source)

    scenario = Scenario(context, "read-only", data_dir, {"notes": 0})
    failed = scenario.step("failed")
    if failed is not None:
        check_refused(context, "read-only folder", failed, "Read-only file system")
    context.check(files_of(source) == before and not os.path.exists(os.path.join(source, "snapshots")),
                  "read-only folder: data.json, data.json.bak and config.json are unchanged, and no snapshot appeared")
    scenario.finish()


def read_only_backup(context):
    check = context.check
    source = os.path.join(context.work, "backup-source")
    os.makedirs(os.path.join(source, "backups"))
    mounted = os.path.join(context.work, "backup-ro")
    context.mounts.read_only_bind(source, mounted)
    data_dir = os.path.join(context.work, "backup-data")
    write(os.path.join(data_dir, "config.json"), json.dumps({"backupFolder": os.path.join(mounted, "backups")}))
    write(os.path.join(data_dir, "data.json"), document(1, 100))

    scenario = Scenario(context, "backup-read-only", data_dir, {})
    saved = scenario.step("saved")
    if saved is not None:
        check(saved["direct"]["ok"] and saved["saved"]["ok"] and saved["page"]["status"] == "All changes saved",
              "read-only backup folder: saves succeed and the page shows \"All changes saved\"")
        check("Read-only file system" in (saved["backupError"] or ""),
              "read-only backup folder: info() reports a backupError naming the cause, %d ms after the save: %r" % (saved["after"], saved["backupError"]))
    on_disk = json.loads(read(os.path.join(data_dir, "data.json")))
    check(any(c.get("name") == "Backup client" for c in on_disk["clients"]), "read-only backup folder: data.json holds the edit")
    check(os.listdir(os.path.join(source, "backups")) == [], "read-only backup folder: nothing was written into it")
    scenario.finish()


class Context:
    def __init__(self, app, output, work, display, mounts):
        self.app, self.output, self.work, self.display, self.mounts = app, output, work, display, mounts
        self.check = Checks()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--app", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    if os.geteuid() != 0:
        print("SKIPPED: the disk-fault scenarios mount file systems, which needs root")
        return SKIPPED
    os.makedirs(args.output, exist_ok=True)
    work = tempfile.mkdtemp(prefix="quillpost-faults-")
    mounts = Mounts()
    try:
        probe = os.path.join(work, "probe")
        os.makedirs(probe)
        mounts.mount("-t", "tmpfs", "-o", "size=1m", "tmpfs", probe)
        mounts.release()
    except MountFailed as error:
        shutil.rmtree(work, ignore_errors=True)
        print("SKIPPED: mounting is not possible here: %s" % error)
        return SKIPPED

    xvfb, display = start_xvfb()
    context = Context(args.app, args.output, work, display, mounts)
    try:
        for scenario in (full_disk, read_only_data, read_only_backup):
            try:
                scenario(context)
            except MountFailed as error:
                context.check(False, "%s could not be set up: %s" % (scenario.__name__, error))
    finally:
        stop_xvfb(xvfb)
        mounts.release()
        shutil.rmtree(work, ignore_errors=True)

    return context.check.outcome("disk-fault", args.output)


if __name__ == "__main__":
    sys.exit(main())
