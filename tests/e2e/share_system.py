#!/usr/bin/env python3
"""Several desks, one practice: a PostgreSQL 15 server of the test's own and three copies of Quillpost,
each with its own data folder and keyring. They upload, join and exchange timed edits, edit the same
records while the server is stopped, and one is killed with SIGKILL while it catches up and started
again; every desk ends with the same records, the values that lost kept as conflicts."""

import json
import os
import shutil
import sys
import tempfile
import time

from harness import (KEYRING_WRAPPER, AppRun, Checks, check_page_results, keyring_environment, runner_arguments, script_with_checks,
                     read, start_xvfb, stop_xvfb, wait_until)
from pg_server import PgServer

STEP_MARK = "E2E-STEP "
ARRIVAL_LIMIT_S = 2.0

PRACTICE = {
    "version": 2,
    "clients": [
        {"id": "c1", "name": "Ana Lima", "phone": "100"},
        {"id": "c2", "name": "Bo Chen", "phone": "200"},
        {"id": "c3", "name": "Cy Ortiz", "notes": ""},
    ],
    "files": [{"id": "f1", "clientId": "c1", "programme": "express-entry", "status": "open"}],
    "deadlines": [], "appointments": [], "contacts": [], "entries": [], "invoices": [],
    "settings": {"practiceName": "Lima & Co", "currency": "CAD"},
}

COLLECTIONS = ["clients", "files", "deadlines", "appointments", "contacts", "entries", "invoices"]
CLIENT_NAMES = ["Name A", "Name B", "Name C"]


def client(id, field, **holds):
    """What one client's field must hold: a value, or one of several with the others kept as conflicts."""
    return dict(collection="clients", id=id, field=field, **holds)


FINAL = [
    client("c1", "phone", value="A1"), client("c1", "email", value="B1"), client("c2", "phone", value="C2"),
    client("c2", "name", oneOf=CLIENT_NAMES, conflictOn="name", entries=2), client("c3", "notes", value="A3", conflictOn="*deleted*"),
    client("c4", "name", value="Cleo"), client("c5", "name", value="Dana"),
    {"collection": "files", "id": "f1", "field": "status", "value": "open"},
    {"collection": "settings", "id": "settings", "field": "practiceName", "value": "Lima Law"},
]

# Each desk's steps: online, offline once the runner stops the server, and back.
seen = lambda id, field, value, *ms: ["wait", client(id, field, value=value), *ms]
edit = lambda id, **fields: ["edit", "clients", id, fields]
OFFLINE = [["settled"], ["step", "online-done"], ["state", ["offline"], 30000]]
BACK = [["step", "offline-edited"], ["state", ["connected", "catching-up"], 40000], ["check", FINAL, 60000]]
CHOSEN = [["waitChoice", "clients", "c2", "name", CLIENT_NAMES, 30000], ["settled"], ["step", "chosen-seen"]]
STEPS = {
    "A": [["start", "upload"], ["settled"], ["step", "uploaded"], seen("c1", "email", "B1"), edit("c1", phone="A1"),
          seen("c4", "name", "Cleo", 60000), *OFFLINE,
          edit("c2", name="Name A"), edit("c3", notes="A3"), ["edit", "settings", "settings", {"practiceName": "Lima Law"}], *BACK],
    # A again once every desk holds the final records: the server screen, and one value chosen there.
    "A-ui": [["state", ["connected"], 40000], ["ui", CLIENT_NAMES], ["settled"], ["step", "ui-done"]],
    # The runner kills B as soon as it is back in touch with the server; started again, it carries on by itself.
    "B": [["start", "join"], seen("c3", "name", "Cy Ortiz"), edit("c1", email="B1"), seen("c1", "phone", "A1"),
          seen("c4", "name", "Cleo", 60000), *OFFLINE,
          edit("c2", name="Name B"), ["remove", "clients", "c3"], ["add", "clients", None, {"id": "c5", "name": "Dana"}],
          ["step", "offline-edited"], ["state", ["catching-up", "connected"], 40000], ["pause", 60000]],
    "B-again": [["state", ["connected", "catching-up"], 40000], ["check", FINAL, 60000], *CHOSEN],
    "C": [["refused", "upload", "already holds"], ["start", "join"], seen("c1", "phone", "A1"), seen("c1", "email", "B1"),
          ["add", "clients", None, {"id": "c4", "name": "Cleo"}], *OFFLINE,
          edit("c2", name="Name C", phone="C2"), *BACK, *CHOSEN],
}


class Desks:
    """The running desks, their output read in turn, and the steps they announced."""

    def __init__(self, app, work, display, server, script_body):
        self.app, self.work, self.display, self.server, self.body = app, work, display, server, script_body
        self.runs = {}
        self.steps = []     # (desk, name, detail)
        self.logs = {}      # the output of desks' earlier runs
        self.earlier = {}   # and what their pages reported

    def folder(self, desk, name):
        path = os.path.join(self.work, desk, name)
        os.makedirs(path, exist_ok=True)
        return path

    def start(self, desk, steps_of=None, practice=None):
        if desk in self.runs:
            self.earlier.update(self.runs[desk].results)
            self.logs[desk + "-earlier"] = self.runs[desk].log
        data = self.folder(desk, "data")
        if practice is not None:
            with open(os.path.join(data, "data.json"), "w") as f:
                json.dump(practice, f)
        environment = dict(keyring_environment(os.path.join(self.work, desk)), XDG_CONFIG_HOME=self.folder(desk, "config"))
        name = steps_of or desk
        script = script_with_checks(self.work, "share-%s.js" % name, self.body, settings={"desk": desk, "server": self.server, "steps": STEPS[name]})
        self.runs[desk] = AppRun(self.app, script, data, self.folder(desk, "state"), self.display, environment, KEYRING_WRAPPER)

    def pump(self, seconds):
        """Reads what every desk printed for a while."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            lines = [run.next_line(time.monotonic() + 0.02) for run in list(self.runs.values())]
            for line in filter(None, lines):
                if STEP_MARK in line:
                    who_name, _, detail = line.split(STEP_MARK, 1)[1].partition(" ")
                    who, _, name = who_name.partition(":")
                    self.steps.append((who, name, json.loads(detail or "{}")))
                    if name == "failed":
                        print("     %s: %s" % (who, detail), flush=True)
            if not any(lines):
                time.sleep(0.02)

    def find(self, desk, name, match=lambda detail: True):
        return next((detail for who, n, detail in self.steps if who == desk and n == name and match(detail)), None)

    def wait(self, wanted, seconds):
        """Waits until every (desk, step) in wanted was announced; answers whether they all were."""
        return wait_until(lambda: all(self.find(desk, name) is not None for desk, name in wanted) or self.pump(0.2), seconds, 0)

    def results(self):
        every_run = [self.earlier] + [run.results for run in self.runs.values()]
        return {name: entry for results in every_run for name, entry in results.items()}


def arrival(desks, saver, what, seer, field_value):
    """Seconds from one desk's save to another desk seeing it."""
    saved = desks.find(saver, "saved", lambda d: what in d.get("what", ""))
    seen = desks.find(seer, "seen", lambda d: d.get("what", {}).get("value") == field_value)
    return (seen["at"] - saved["at"]) / 1000.0 if saved and seen else None


def records_of(path):
    """A data.json's shared records, each list in id order, so that desks compare equal."""
    doc = json.loads(read(path))
    in_order = {name: sorted(doc.get(name, []), key=lambda r: str(r.get("id"))) for name in COLLECTIONS}
    return dict(in_order, settings=doc.get("settings", {}))


def main():
    args = runner_arguments(timeout=240)
    check = Checks()
    work = tempfile.mkdtemp(prefix="quillpost-share-")
    started = time.monotonic()
    pg = PgServer().setup()
    xvfb, display = start_xvfb()
    desks = Desks(args.app, work, display, pg.server_settings(), args.script)
    every = lambda step: [(desk, step) for desk in "ABC"]
    try:
        # Two desks: the first uploads, the second joins, and each one's edit reaches the other.
        desks.start("A", practice=PRACTICE)
        check(desks.wait([("A", "uploaded")], 60), "the first desk uploaded its practice")
        desks.start("B")
        check(desks.wait([("B", "seen")], 60) and desks.wait([("A", "seen")], 30),
              "the second desk joined and the two desks see each other's edits")
        # Each arrival is timed from the desks' own stamps: wait until both desks have told theirs.
        ways = {"from the second desk reached the first": ("B", "email", "A", "B1"), "from the first desk reached the second": ("A", "phone", "B", "A1")}
        wait_until(lambda: None not in [arrival(desks, *way) for way in ways.values()] or desks.pump(0.3), 30, 0)
        for what, way in ways.items():
            took = arrival(desks, *way)
            check(took is not None and took <= ARRIVAL_LIMIT_S, "a change %s within %.0f s (%s s)" % (what, ARRIVAL_LIMIT_S, took))

        # A third desk joins (an upload over the shared practice is refused first).
        desks.start("C")
        check(desks.wait(every("online-done"), 90), "three desks share the practice and each has the others' changes")

        # The server stops: every desk says it is offline and keeps working.
        pg.stop()
        check(desks.wait(every("offline-edited"), 60), "with the server stopped every desk goes offline and saves its edits")
        b_file = os.path.join(work, "B", "data", "data.json")

        # The server comes back; the second desk dies with SIGKILL while it catches up, then starts again.
        pg.start()
        back = lambda detail: detail.get("state") in ("catching-up", "connected")
        wait_until(lambda: desks.find("B", "state", back) is not None or desks.pump(0.02), 40, 0)
        print("     the second desk is killed when it says %s" % desks.find("B", "state", back), flush=True)
        desks.runs["B"].kill()
        check("Name B" in open(b_file).read() and "Dana" in open(b_file).read(), "the desk killed mid-sync kept its offline edits on disk")
        desks.start("B", steps_of="B-again")
        check(desks.wait(every("checked"), 120), "every desk reached the final records")

        desks.runs["A"].stop()
        desks.start("A", steps_of="A-ui")
        check(desks.wait([("A", "ui-done"), ("B", "chosen-seen"), ("C", "chosen-seen")], 90),
              "a value chosen on the first desk's server screen is settled on every desk")

        # On disk too, once each desk has saved and quit.
        for run in desks.runs.values():
            run.stop()
        on_disk = {desk: records_of(os.path.join(work, desk, "data", "data.json")) for desk in "ABC"}
        check(on_disk["A"] == on_disk["B"] == on_disk["C"], "the three data.json files hold the same records, conflicts included")
        try:
            live = pg.psql("SELECT string_agg(id, ',' ORDER BY id) FROM quillpost.records WHERE collection = 'clients' AND NOT deleted",
                           pg.database)
        except RuntimeError as error:
            live = str(error)
        check(live == "c1,c2,c3,c4,c5", "the server holds every client, the deleted-yet-edited one too (%s)" % live)
        check_page_results(check, desks.results(), 13)
        print("     the whole run took %.0f s" % (time.monotonic() - started), flush=True)
    finally:
        for desk, run in desks.runs.items():
            run.finish(os.path.join(args.output, "share-%s.log" % desk))
        for desk, lines in desks.logs.items():
            with open(os.path.join(args.output, "share-%s.log" % desk), "w") as f:
                f.write("\n".join(lines))
        shutil.copy(pg.log, os.path.join(args.output, "postgres.log")) if os.path.exists(pg.log) else None
        stop_xvfb(xvfb)
        pg.close()
        shutil.rmtree(work, ignore_errors=True)
    return check.outcome("share", args.output)


if __name__ == "__main__":
    sys.exit(main())
