#!/usr/bin/env python3
"""Runs the real application under Xvfb with a benchmark script in its page and prints the figures.
Usage: bench/bridge_bench.py build/bin/quillpost [bench/documents_bench.js]
The script defaults to bench/bridge_bench.js."""

import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import DONE_MARK, AppRun, start_xvfb, stop_xvfb  # noqa: E402


def main():
    app = sys.argv[1] if len(sys.argv) > 1 else "build/bin/quillpost"
    script = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "bridge_bench.js")
    work = tempfile.mkdtemp(prefix="quillpost-bench-")
    xvfb, display = start_xvfb()
    try:
        run = AppRun(app, script, os.path.join(work, "data"), os.path.join(work, "state"), display)
        done = run.wait_for(DONE_MARK, 300) is not None
        run.stop()
    finally:
        stop_xvfb(xvfb)
        shutil.rmtree(work, ignore_errors=True)
    if not done:
        print("\n".join(run.log[-30:]))
        return 1
    for name, entry in run.results.items():
        detail = entry["detail"]
        if not entry["ok"]:
            print("failed:", detail)
            return 1
        print("%-62s %10s %s" % (name, detail["value"], detail["unit"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
