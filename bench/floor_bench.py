#!/usr/bin/env python3
"""Runs Quillpost and the bare WebKitGTK window of floor_window.cpp one after the other, several
times, under the same Xvfb with the same page and the same transfers (bench/transfer_bench.js), and
prints the medians side by side with their ratios; also the time from start to the page script and
the resident memory of each one's processes at the end.
Usage: bench/floor_bench.py build/bin/quillpost build/bin/floor_window [--runs 3]"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import DONE_MARK, AppRun, session_processes, start_xvfb, stop_xvfb  # noqa: E402

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "transfer_bench.js")


def session_memory_mb(session):
    """Resident memory of every process of the run's session (the program and WebKit's)."""
    total = 0
    for pid, _ in session_processes(session):
        try:
            with open("/proc/%d/status" % pid) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
        except (OSError, ValueError, IndexError):
            continue
    return total / 1024


def one_run(command, page, display, work):
    # The floor window takes the page as its argument; Quillpost loads its own.
    run = AppRun(command[0], SCRIPT, os.path.join(work, "data"), os.path.join(work, "state"), display,
                 arguments=[page] if page else [])
    done = run.wait_for(DONE_MARK, 300) is not None
    memory = session_memory_mb(run.process.pid)
    run.stop()
    figures = {}
    for name, entry in run.results.items():
        if not entry["ok"]:
            raise RuntimeError("%s: %s" % (command[0], entry["detail"]))
        figures[name] = entry["detail"]["value"]
    if not done:
        raise RuntimeError("%s did not finish:\n%s" % (command[0], "\n".join(run.log[-20:])))
    figures["start to page script"] = figures.pop("script start (epoch ms)") - run.started * 1000
    figures["resident memory, all processes"] = memory
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("quillpost")
    parser.add_argument("floor")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    page = os.path.join(os.path.dirname(os.path.abspath(args.quillpost)), "..", "share", "quillpost", "app", "index.html")

    xvfb, display = start_xvfb()
    ours, floors = [], []
    try:
        for _ in range(args.runs):
            for results, command, with_page in ((floors, [args.floor], page), (ours, [args.quillpost], None)):
                work = tempfile.mkdtemp(prefix="quillpost-floor-")
                try:
                    results.append(one_run(command, with_page, display, work))
                finally:
                    shutil.rmtree(work, ignore_errors=True)
    finally:
        stop_xvfb(xvfb)

    print("load average: %.2f %.2f %.2f; medians of %d runs" % (os.getloadavg() + (args.runs,)))
    print("%-42s %12s %12s %8s" % ("", "Quillpost", "floor", "ratio"))
    for name in floors[0]:
        if name not in ours[0]:
            print("%-42s %12s %12.2f" % (name, "", statistics.median(run[name] for run in floors)))
            continue
        mine = statistics.median(run[name] for run in ours)
        floor = statistics.median(run[name] for run in floors)
        print("%-42s %12.2f %12.2f %8.2f" % (name, mine, floor, mine / floor if floor else float("nan")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
