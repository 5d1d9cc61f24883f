#!/usr/bin/env python3
"""Runs the real application under Xvfb on a generated practice of 5,000 clients and on one of 50,
and prints, side by side, how soon the page is ready, the longest main-thread task while an edit is
saved and how long the edit takes to reach the disk.
Usage: bench/practice_save_bench.py [build-tests/bin/quillpost] [--clients 5000]"""

import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from harness import DONE_MARK, AppRun, start_xvfb, stop_xvfb  # noqa: E402


def run_with(app, clients_wanted, display):
    work = tempfile.mkdtemp(prefix="quillpost-practice-bench-")
    try:
        data = os.path.join(work, "data")
        os.makedirs(data)
        with open(os.path.join(data, "data.json"), "wb") as out:
            subprocess.run(["node", os.path.join(HERE, "practice-data.mjs"), "--clients", str(clients_wanted)], stdout=out, check=True)
        run = AppRun(app, os.path.join(HERE, "practice_save_bench.js"), data, os.path.join(work, "state"), display)
        done = run.wait_for(DONE_MARK, 300) is not None
        run.stop()
        if not done:
            print("\n".join(run.log[-30:]))
            return None
        # The last edits must be on disk, whole.
        with open(os.path.join(data, "data.json"), encoding="utf-8") as saved:
            clients = json.load(saved)["clients"]
        if len(clients) != clients_wanted or any(clients[r]["notes"] != "Called back, round %d." % r for r in range(5)):
            print("the saved data.json does not hold the edits")
            return None
        figures = {}
        for name, entry in run.results.items():
            if not entry["ok"]:
                print("failed:", entry["detail"])
                return None
            figures[name] = entry["detail"]
        return figures
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    args = sys.argv[1:]
    clients = 5000
    if "--clients" in args:
        at = args.index("--clients")
        clients = int(args[at + 1])
        del args[at:at + 2]
    app = args[0] if args else "build-tests/bin/quillpost"
    xvfb, display = start_xvfb()
    try:
        large = run_with(app, clients, display)
        small = run_with(app, 50, display)
    finally:
        stop_xvfb(xvfb)
    if large is None or small is None:
        return 1
    print("%-52s %14s %14s" % ("", "%d clients" % clients, "50 clients"))
    for name, detail in large.items():
        print("%-52s %11s %s %11s %s" % (name, detail["value"], detail["unit"], small[name]["value"], small[name]["unit"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
