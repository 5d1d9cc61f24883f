#!/usr/bin/env python3
"""Hostile files: starts the real Quillpost under Xvfb on a data.json, config.json or window-state
file that is truncated, garbage, not UTF-8, 200 MB, or nested 100,000 levels deep, and checks
that it starts, never crashes, and does not save an empty practice over a damaged data file: its
bytes stay on disk (as data.json, or as a copy in snapshots/) and the page says it could not read
it. No root needed."""

import argparse
import datetime
import json
import os
import random
import re
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "e2e"))
from harness import DONE_MARK, AppRun, Checks, page_script, read, start_xvfb, stop_xvfb  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
STEP = "FAULT-STEP "
BIG = 200 * 1024 * 1024
DEPTH = 100_000
UNREADABLE_COPY = re.compile(r"^unreadable-data-[0-9]+\.json$")
UNREADABLE_SETTINGS = re.compile(r"^unreadable-config-[0-9]+(-[0-9]+)?\.json$")
NOTICE = re.compile(r"couldn.t read|could not be read|older copy|can.t be read", re.IGNORECASE)


def practice(clients, extra=None):
    document = {"version": 1, "clients": [{"id": "c%d" % i, "name": "Client %d" % i, "email": "c%d@example.org" % i} for i in range(clients)]}
    document.update(extra or {})
    return json.dumps(document).encode()


# What a damaged file holds, by kind.
DAMAGED = {
    "truncated": lambda: practice(200)[:len(practice(200)) // 2],
    "garbage": lambda: random.Random(7).randbytes(64 * 1024),
    "not UTF-8": lambda: '{"version":1,"clients":[{"id":"c1","name":"Fran\xe7ois M\xfcller","notes":"caf\xe9"}]}'.encode("latin-1"),
    "nested arrays": lambda: b"[" * DEPTH + b"]" * DEPTH,
    "nested objects": lambda: b'{"a":' * DEPTH + b"1" + b"}" * DEPTH,
}


def damage(path, kind):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        if kind == "zeros":
            f.truncate(BIG)  # sparse: 200 MB that take no room on disk
        else:
            f.write(DAMAGED[kind]())


def big_document(path, key="notes", head=b'{"version":1,"clients":[{"id":"c1","name":"Big"}],'):
    with open(path, "wb") as f:
        f.write(head + b'"' + key.encode() + b'":"')
        chunk = b"x" * (1 << 20)
        for _ in range(BIG >> 20):
            f.write(chunk)
        f.write(b'"}')


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


# name, what is done to data.json, whether earlier copies exist
DATA_CASES = [
    ("data truncated", "truncated", False),
    ("data truncated, with .bak and a snapshot", "truncated", True),
    ("data garbage", "garbage", False),
    ("data not UTF-8", "not UTF-8", False),
    ("data 200 MB of zero bytes", "zeros", False),
    ("data nested 100,000 deep", "nested arrays", False),
]
# name, what is done to the settings file (None: config.json a valid 200 MB file, window state 200 MB of zero bytes)
SETTINGS_CASES = [("truncated", "truncated"), ("garbage", "garbage"), ("not UTF-8", "not UTF-8"), ("200 MB", None),
                  ("nested 100,000 deep", "nested objects")]


class Runner:
    def __init__(self, app, output, work, display):
        self.app, self.output, self.work, self.display = app, output, work, display
        self.check = Checks()
        self.outcomes = []
        self.count = 0
        self.last = None

    def folder(self):
        """A fresh folder for the next case; the previous case's (with its 200 MB files) goes."""
        if self.last:
            shutil.rmtree(self.last, ignore_errors=True)
        self.last = tempfile.mkdtemp(dir=self.work)
        return self.last

    def start(self, name, data_dir, state_dir, settings):
        self.count += 1
        script = page_script(self.work, "hostile-%d.js" % self.count, dict(settings, timeout=150000), os.path.join(HERE, "hostile_page.js"))
        return AppRun(self.app, script, data_dir, state_dir, self.display)

    def steps(self, name, run):
        """The page's two reports, and whether the program was still running after them."""
        found = {}
        started = time.monotonic()
        while len(found) < 2:
            text = run.wait_for(STEP, 180)
            if text is None:
                break
            step, _, value = text.partition(" ")
            found[step] = json.loads(value)
            if step == "error":
                break
        run.wait_for(DONE_MARK, 5)
        alive = run.alive()
        run.finish(os.path.join(self.output, re.sub(r"[^A-Za-z0-9]+", "-", name).strip("-") + ".log"))
        if not alive:
            found["ended"] = "the program ended on its own, exit status %s; last lines: %s" % (run.process.returncode, run.log[-3:])
        self.check("settled" in found, "%s: the program starts and the page gets ready%s"
                   % (name, " (page script: %s)" % found["error"] if "error" in found else ""))
        self.check(alive, "%s: the program never crashed" % name)
        self.outcomes.append({"case": name, "seconds": round(time.monotonic() - started, 1), **found})
        print("     %s: %s" % (name, json.dumps({k: v for k, v in found.items()})[:1500]), flush=True)
        return found.get("settled"), found.get("attempted")

    def data_case(self, name, kind, earlier_copies):
        folder = self.folder()
        data_dir = os.path.join(folder, "data")
        data_file = os.path.join(data_dir, "data.json")
        os.makedirs(data_dir)
        if earlier_copies:
            write(data_file + ".bak", practice(2))
            yesterday = (datetime.date.today() - datetime.timedelta(days=1)).isoformat()
            write(os.path.join(data_dir, "snapshots", "data-%s.json" % yesterday), practice(1))
        damage(data_file, kind)
        original_size = os.path.getsize(data_file)
        original = read(data_file)

        settled, attempted = self.steps(name, self.start(name, data_dir, os.path.join(folder, "state"), {}))
        if settled is None:
            return
        page = attempted["page"] if attempted else settled
        self.check(page["locked"] or NOTICE.search(page["notices"] or "") is not None,
                   "%s: the page says the data file could not be read: %r" % (name, page["notices"]))
        current = read(data_file) if os.path.exists(data_file) else None
        snapshots = os.path.join(data_dir, "snapshots")
        copies = [n for n in os.listdir(snapshots) if UNREADABLE_COPY.match(n)] if os.path.isdir(snapshots) else []
        kept = current == original or any(os.path.getsize(os.path.join(snapshots, n)) == original_size and read(os.path.join(snapshots, n)) == original for n in copies)
        self.check(kept, "%s: the damaged bytes are still on disk, as data.json or snapshots/unreadable-data-*.json (snapshots: %s)" % (name, copies))
        replaced = None
        if current is not None and current != original:
            try:
                replaced = [c.get("name") for c in json.loads(current).get("clients", [])]
            except (ValueError, AttributeError):
                pass
        self.check(replaced is None or any(n != "Hostile probe" for n in replaced),
                   "%s: no new, empty practice was saved over it (data.json now holds clients %s)" % (name, replaced))

    def big_document_case(self):
        name = "data a 200 MB document"
        folder = self.folder()
        data_dir = os.path.join(folder, "data")
        data_file = os.path.join(data_dir, "data.json")
        os.makedirs(data_dir)
        big_document(data_file)
        settled, attempted = self.steps(name, self.start(name, data_dir, os.path.join(folder, "state"), {}))
        if settled is not None:
            self.check(settled["editable"] and settled["clients"] == 1, "%s: the page opens it with its client" % name)
        # Whatever happened, the 200 MB of notes are on disk: as they were, or saved again with the edit.
        size = os.path.getsize(data_file) if os.path.exists(data_file) else 0
        self.check(size >= BIG, "%s: data.json still holds the notes (%d bytes)" % (name, size))

    def settings_case(self, which, name, kind):
        name = "%s %s" % (which, name)
        folder = self.folder()
        data_dir = os.path.join(folder, "data")
        state_dir = os.path.join(folder, "state")
        data_file = os.path.join(data_dir, "data.json")
        write(data_file, practice(1))
        target = os.path.join(data_dir, "config.json") if which == "config.json" else os.path.join(state_dir, "Quillpost", "window-state.json")
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if kind is None and which == "config.json":
            big_document(target, "padding", b'{"backupFolder":"' + os.path.join(folder, "backups").encode() + b'",')
        else:
            damage(target, kind or "zeros")
        damaged_settings = read(target) if kind is not None and which == "config.json" else None

        settled, attempted = self.steps(name, self.start(name, data_dir, state_dir, {"rewriteSettings": which == "config.json"}))
        if settled is None or attempted is None:
            return
        self.check(settled["editable"] and settled["clients"] == 1 and not settled["locked"],
                   "%s: the page opens the data file as usual" % name)
        self.check(attempted["saved"]["ok"], "%s: an edit is saved: %s" % (name, attempted["saved"]))
        names = [c.get("name") for c in json.loads(read(data_file)).get("clients", [])]
        self.check(names == ["Client 0", "Hostile probe"], "%s: data.json holds the client and the edit: %s" % (name, names))
        if which == "config.json":
            self.check(attempted["settings"] is not None and attempted["settings"]["ok"],
                       "%s: a change of settings is written: %s" % (name, attempted["settings"]))
        if damaged_settings is not None:
            snapshots = os.path.join(data_dir, "snapshots")
            aside = [n for n in sorted(os.listdir(snapshots)) if UNREADABLE_SETTINGS.match(n)] if os.path.isdir(snapshots) else []
            self.check(len(aside) == 1 and read(os.path.join(snapshots, aside[0])) == damaged_settings,
                       "%s: the damaged settings are put aside once, whole, in snapshots/: %s" % (name, aside))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--app", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    os.makedirs(args.output, exist_ok=True)
    work = tempfile.mkdtemp(prefix="quillpost-hostile-")
    xvfb, display = start_xvfb()
    runner = Runner(args.app, args.output, work, display)
    started = time.monotonic()
    try:
        for name, kind, earlier_copies in DATA_CASES:
            runner.data_case(name, kind, earlier_copies)
        runner.big_document_case()
        for which in ("config.json", "window-state.json"):
            for name, kind in SETTINGS_CASES:
                runner.settings_case(which, name, kind)
    finally:
        stop_xvfb(xvfb)
        shutil.rmtree(work, ignore_errors=True)

    with open(os.path.join(args.output, "hostile-files.json"), "w") as f:
        json.dump(runner.outcomes, f, indent=2)
    print("\n%d runs in %.0f s" % (runner.count, time.monotonic() - started))
    return runner.check.outcome("hostile-file", args.output)


if __name__ == "__main__":
    sys.exit(main())
