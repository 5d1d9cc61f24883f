#!/usr/bin/env python3
"""Hostile files: starts the real Quillpost under Xvfb on a data.json, or config.json and window
state, that is truncated, garbage, not UTF-8, 200 MB, or nested 100,000 levels deep, and checks that
it starts, never crashes, and does not save an empty practice over a damaged data file: its bytes
stay on disk (as data.json, or a copy in snapshots/) and the page says it could not read it."""

import datetime
import json
import os
import random
import re
import shutil
import sys
import tempfile
import time

from reliability import PageRuns, arguments, session, practice, read, write

BIG = 200 * 1024 * 1024
DEPTH = 100_000
UNREADABLE_COPY = re.compile(r"^unreadable-data-[0-9]+\.json$")
UNREADABLE_SETTINGS = re.compile(r"^unreadable-config-[0-9]+(-[0-9]+)?\.json$")
NOTICE = re.compile(r"couldn.t read|could not be read|older copy|can.t be read", re.IGNORECASE)

# What a damaged file holds, by kind (the zero bytes are sparse: they take no room on disk).
DAMAGED = {
    "truncated": lambda: practice(200)[:len(practice(200)) // 2],
    "garbage": lambda: random.Random(7).randbytes(64 * 1024),
    "not UTF-8": lambda: '{"version":1,"clients":[{"id":"c1","name":"Fran\xe7ois M\xfcller","notes":"caf\xe9"}]}'.encode("latin-1"),
    "nested arrays 100,000 deep": lambda: b"[" * DEPTH + b"]" * DEPTH,
    "nested objects 100,000 deep": lambda: b'{"a":' * DEPTH + b"1" + b"}" * DEPTH,
    "200 MB of zero bytes": lambda: b"",
}


def damage(path, kind):
    write(path, DAMAGED[kind]())
    if kind == "200 MB of zero bytes":
        os.truncate(path, BIG)


def big_document(path, key="notes", head=b'{"version":1,"clients":[{"id":"c1","name":"Big"}],'):
    with open(path, "wb") as f:
        f.write(head + b'"' + key.encode() + b'":"')
        for _ in range(BIG >> 20):
            f.write(b"x" * (1 << 20))
        f.write(b'"}')


class Hostile(PageRuns):
    last = None

    def folder(self):
        """A fresh folder for the next case with data/ and state/; the previous case's (with its 200 MB files) goes."""
        if self.last:
            shutil.rmtree(self.last, ignore_errors=True)
        self.last = tempfile.mkdtemp(dir=self.work)
        os.makedirs(os.path.join(self.last, "data"))
        return os.path.join(self.last, "data"), os.path.join(self.last, "state")

    def run(self, name, data_dir, state_dir, settings=None):
        """Runs the program until the page's two reports; checks that it started and never crashed."""
        run = self.start(name, data_dir, dict(settings or {}, scenario="hostile", timeout=150000), state_dir)
        settled = self.step(run, "started", 180)
        attempted = self.step(run, "attempted", 180) if settled is not None else None
        self.finish(run)
        self.check(settled is not None, "%s: the program starts and the page gets ready: %s" % (name, json.dumps(settled)[:500]))
        return settled, attempted

    def data_case(self, name, kind, earlier_copies=False):
        data_dir, state_dir = self.folder()
        data_file, snapshots = os.path.join(data_dir, "data.json"), os.path.join(data_dir, "snapshots")
        if earlier_copies:
            write(data_file + ".bak", practice(2))
            yesterday = (datetime.date.today() - datetime.timedelta(days=1)).isoformat()
            write(os.path.join(snapshots, "data-%s.json" % yesterday), practice(1))
        damage(data_file, kind)
        original = read(data_file)
        settled, attempted = self.run(name, data_dir, state_dir)
        if settled is None:
            return
        page = attempted["page"] if attempted else settled
        self.check(page["locked"] or NOTICE.search(page["notices"] or "") is not None,
                   "%s: the page says the data file could not be read: %r" % (name, page["notices"]))
        current = read(data_file) if os.path.exists(data_file) else None
        copies = [n for n in os.listdir(snapshots) if UNREADABLE_COPY.match(n)] if os.path.isdir(snapshots) else []
        kept = current == original or any(read(os.path.join(snapshots, n)) == original for n in copies)
        self.check(kept, "%s: the damaged bytes are still on disk, as data.json or snapshots/unreadable-data-*.json (snapshots: %s)" % (name, copies))
        try:
            names = [c.get("name") for c in json.loads(current).get("clients", [])] if current != original else None
        except (TypeError, ValueError, AttributeError):
            names = None  # gone, or no document at all
        self.check(names is None or any(n != "Hostile probe" for n in names),
                   "%s: no new, empty practice was saved over it (data.json now holds clients %s)" % (name, names))

    def big_document_case(self):
        name = "data a 200 MB document"
        data_dir, state_dir = self.folder()
        data_file = os.path.join(data_dir, "data.json")
        big_document(data_file)
        settled, _ = self.run(name, data_dir, state_dir)
        if settled is not None:
            self.check(settled["editable"] and settled["clients"] == 1, "%s: the page opens it with its client" % name)
        # Whatever happened, the 200 MB of notes are on disk: as they were, or saved again with the edit.
        size = os.path.getsize(data_file) if os.path.exists(data_file) else 0
        self.check(size >= BIG, "%s: data.json still holds the notes (%d bytes)" % (name, size))

    def settings_case(self, name, kind):
        """config.json damaged as kind says (None: a valid 200 MB file), the window state likewise (None: zeros)."""
        name = "config.json and window state " + name
        data_dir, state_dir = self.folder()
        data_file, config = os.path.join(data_dir, "data.json"), os.path.join(data_dir, "config.json")
        write(data_file, practice(1))
        damage(os.path.join(state_dir, "Quillpost", "window-state.json"), kind or "200 MB of zero bytes")
        if kind is None:
            big_document(config, "padding", b'{"backupFolder":"' + os.path.join(data_dir, "backups").encode() + b'",')
        else:
            damage(config, kind)
        damaged_settings = read(config) if kind is not None else None

        settled, attempted = self.run(name, data_dir, state_dir, {"rewriteSettings": True})
        if settled is None or attempted is None:
            return
        self.check(settled["editable"] and settled["clients"] == 1 and not settled["locked"], "%s: the page opens the data file as usual" % name)
        self.check(attempted["saved"]["ok"], "%s: an edit is saved: %s" % (name, attempted["saved"]))
        names = [c.get("name") for c in json.loads(read(data_file)).get("clients", [])]
        self.check(names == ["Client 0", "Hostile probe"], "%s: data.json holds the client and the edit: %s" % (name, names))
        self.check(attempted["settings"] is not None and attempted["settings"]["ok"], "%s: a change of settings is written: %s" % (name, attempted["settings"]))
        if damaged_settings is not None:
            snapshots = os.path.join(data_dir, "snapshots")
            aside = [n for n in sorted(os.listdir(snapshots)) if UNREADABLE_SETTINGS.match(n)] if os.path.isdir(snapshots) else []
            self.check(len(aside) == 1 and read(os.path.join(snapshots, aside[0])) == damaged_settings,
                       "%s: the damaged settings are put aside once, whole, in snapshots/: %s" % (name, aside))


def main():
    args = arguments(__doc__)
    started = time.monotonic()
    with session("quillpost-hostile-") as (work, display):
        hostile = Hostile(args.app, args.output, work, display)
        for kind in ("truncated", "garbage", "not UTF-8", "200 MB of zero bytes", "nested arrays 100,000 deep"):
            hostile.data_case("data " + kind, kind)
        hostile.data_case("data truncated, with .bak and a snapshot", "truncated", earlier_copies=True)
        hostile.big_document_case()
        for kind in ("truncated", "garbage", "not UTF-8", None, "nested objects 100,000 deep"):
            hostile.settings_case(kind or "200 MB", kind)
    print("\n12 runs in %.0f s" % (time.monotonic() - started))
    return hostile.check.outcome("hostile-file", args.output)


if __name__ == "__main__":
    sys.exit(main())
