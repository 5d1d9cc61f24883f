#!/usr/bin/env python3
"""Ten desks, one practice of 5,000 clients, one PostgreSQL 15 server (started here, in a temporary
folder): how long the first desk's upload and each other desk's join take, how long a change made on
one desk takes to reach all the others, and what the server spends meanwhile (CPU time of its
processes, transactions, rows read, connections).

  python3 bench/share_bench.py --app build-tests/bin/quillpost [--desks 10] [--clients 5000] [--rounds 6]

The desks are real copies of the program under one Xvfb, each with its own data folder and keyring,
driven by the end-to-end desk script (tests/e2e/share_test.js)."""

import argparse
import json
import os
import shutil
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from harness import start_xvfb, stop_xvfb  # noqa: E402
from pg_server import PgServer  # noqa: E402
from share_system import Desks, STEPS  # noqa: E402

SCRIPT = os.path.join(HERE, "..", "tests", "e2e", "share_test.js")
TICKS = os.sysconf("SC_CLK_TCK")


def practice(clients):
    return {
        "version": 2,
        "clients": [{"id": "b%05d" % i, "name": "Client %d" % i, "email": "client%d@example.org" % i, "phone": "555-%04d" % i,
                     "status": "active", "notes": "Bench practice record %d" % i} for i in range(clients)],
        "files": [], "deadlines": [], "appointments": [], "contacts": [], "entries": [], "invoices": [],
        "settings": {"practiceName": "Bench practice"},
    }


def server_cpu(pg):
    """CPU seconds used so far by the server's processes (the postmaster and its children)."""
    with open(os.path.join(pg.data, "postmaster.pid")) as f:
        root = int(f.readline())
    total = 0
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        pid, parent = int(entry), int(fields[1])
        if pid == root or parent == root:
            total += int(fields[11]) + int(fields[12]) + int(fields[13]) + int(fields[14])
    return total / TICKS


def database_counters(pg):
    row = pg.psql("SELECT xact_commit, tup_returned + tup_fetched, tup_inserted + tup_updated, numbackends "
                  "FROM pg_stat_database WHERE datname = '%s'" % pg.database)
    commits, read, written, connections = (int(v) for v in row.split("|"))
    return {"commits": commits, "rows_read": read, "rows_written": written, "connections": connections}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    parser.add_argument("--desks", type=int, default=10)
    parser.add_argument("--clients", type=int, default=5000)
    parser.add_argument("--rounds", type=int, default=6)
    args = parser.parse_args()
    names = ["D%02d" % i for i in range(args.desks)]
    rounds = [("b%05d" % (i * 7 % args.clients), "round-%d" % i, names[i % args.desks]) for i in range(args.rounds)]
    assert args.desks <= args.clients // 2, "the ready markers and the rounds' clients must not overlap" 

    def marker(index):
        return "b%05d" % (args.clients - 1 - index)

    # Each desk: join (the first uploads), then in every round either make the change or wait for it.
    def steps_for(desk):
        first = desk == names[0]
        steps = [["start", "upload" if first else "join"]]
        steps.append(["settled", 600000] if first else ["wait", {"collection": "clients", "id": "b%05d" % (args.clients - 1), "field": "name",
                                                                  "value": "Client %d" % (args.clients - 1)}, 600000])
        steps.append(["settled", 600000])
        steps.append(["step", "ready"])
        # Every desk says it is ready through the server itself; the first desk starts the rounds
        # only once it has heard from all of them.
        if first:
            for other in range(1, len(names)):
                steps.append(["wait", {"collection": "clients", "id": marker(other), "field": "notes", "value": "ready"}, 900000])
        else:
            steps.append(["edit", "clients", marker(names.index(desk)), {"notes": "ready"}])
        for index, (client, value, writer) in enumerate(rounds):
            if index:
                previous = rounds[index - 1]
                steps.append(["wait", {"collection": "clients", "id": previous[0], "field": "phone", "value": previous[1]}, 120000])
            if writer == desk:
                steps.append(["pause", 4000 if index else 1000])
                steps.append(["edit", "clients", client, {"phone": value}])
            else:
                steps.append(["wait", {"collection": "clients", "id": client, "field": "phone", "value": value}, 120000])
        steps.append(["step", "finished"])
        steps.append(["pause", 600000])
        return steps

    work = tempfile.mkdtemp(prefix="quillpost-share-bench-")
    pg = PgServer().setup()
    xvfb, display = start_xvfb()
    desks = Desks(args.app, work, display, pg.server_settings(), SCRIPT)
    figures = {}
    try:
        wall = time.monotonic()
        for desk in names:
            STEPS[desk] = steps_for(desk)
        cpu0 = server_cpu(pg)
        desks.start(names[0], practice=practice(args.clients))
        if not desks.wait([(names[0], "ready")], 600):
            raise SystemExit("the first desk didn't upload the practice")
        figures["upload_s"] = round(time.monotonic() - wall, 1)
        joined = time.monotonic()
        for desk in names[1:]:
            desks.start(desk)
            desks.pump(1.0)  # the program's start is the heavy part on two cores: one at a time
        if not desks.wait([(desk, "ready") for desk in names], 900):
            missing = [d for d in names if desks.find(d, "ready") is None]
            raise SystemExit("desks didn't join: %s" % missing)
        figures["all_joined_s"] = round(time.monotonic() - joined, 1)
        cpu_joined = server_cpu(pg)

        # Quiet desks: what polling and listening cost the server.
        before = database_counters(pg)
        idle_cpu = server_cpu(pg)
        desks.pump(20)
        after = database_counters(pg)
        figures["idle_server_cpu_percent"] = round((server_cpu(pg) - idle_cpu) / 20 * 100, 2)
        figures["idle_commits_per_s"] = round((after["commits"] - before["commits"]) / 20, 1)
        figures["connections"] = after["connections"]

        rounds_cpu = server_cpu(pg)
        rounds_started = time.monotonic()
        before = database_counters(pg)
        if not desks.wait([(desk, "finished") for desk in names], 60 + 30 * args.rounds):
            print("some desks didn't see every round", file=sys.stderr)
        rounds_took = time.monotonic() - rounds_started
        after = database_counters(pg)

        spreads = []
        for client, value, writer in rounds:
            saved = desks.find(writer, "saved", lambda d, c=client, v=value: c in d.get("what", "") and v in d.get("what", ""))
            seen = [desks.find(d, "seen", lambda x, c=client, v=value: x.get("what", {}).get("id") == c and x.get("what", {}).get("value") == v)
                    for d in names if d != writer]
            if saved and all(seen):
                arrivals = sorted((s["at"] - saved["at"]) / 1000.0 for s in seen)
                spreads.append({"round": value, "writer": writer, "first_s": arrivals[0], "median_s": statistics.median(arrivals), "last_s": arrivals[-1]})
        figures["rounds"] = spreads
        if spreads:
            lasts = [r["last_s"] for r in spreads]
            figures["to_every_desk_s"] = {"median": round(statistics.median(lasts), 3), "worst": round(max(lasts), 3)}
        figures["rounds_server_cpu_percent"] = round((server_cpu(pg) - rounds_cpu) / rounds_took * 100, 2)
        figures["rounds_commits"] = after["commits"] - before["commits"]
        figures["rounds_rows_read"] = after["rows_read"] - before["rows_read"]
        figures["server_cpu_s_upload_and_joins"] = round(cpu_joined - cpu0, 1)
        figures["records_on_server"] = int(pg.psql("SELECT count(*) FROM quillpost.records", pg.database))
        figures["desks"] = args.desks
        figures["clients"] = args.clients
        print(json.dumps(figures, indent=2))
    finally:
        for run in desks.runs.values():
            run.stop()
        stop_xvfb(xvfb)
        pg.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
