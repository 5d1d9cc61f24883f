"""What the reliability runs share: their arguments, a display and a work folder that go at the
end, the real program run with a page script whose reports are read step by step, and files."""

import argparse
import json
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "e2e"))
from harness import DONE_MARK, AppRun, Checks, page_script, read, script_with_checks, session, write  # noqa: E402,F401

HERE = os.path.dirname(os.path.abspath(__file__))


def arguments(description, **more):
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--app", required=True, help="the program to run")
    parser.add_argument("--output", required=True, help="a folder for the program's output")
    for name, options in more.items():
        parser.add_argument("--" + name, **options)
    args = parser.parse_args()
    os.makedirs(args.output, exist_ok=True)
    return args


def practice(clients, notes=0):
    """A data file's bytes: that many clients, and notes of that many characters."""
    return json.dumps({"version": 1, "clients": [{"id": "c%d" % i, "name": "Client %d" % i} for i in range(clients)],
                       "notes": "q" * notes}).encode()


class PageRuns:
    """Runs of the program with fault_page.js, whose reports ("FAULT-STEP <name> <json>") are read
    step by step, each checked for having started and lasted to its end."""

    def __init__(self, app, output, work, display):
        self.app, self.output, self.work, self.display = app, output, work, display
        self.check = Checks()

    def start(self, name, data_dir, settings, state_dir=None):
        slug = re.sub(r"[^A-Za-z0-9]+", "-", name).strip("-")
        settings = dict({"scenario": name}, **settings)
        script = script_with_checks(self.work, slug + ".js", os.path.join(HERE, "fault_page.js"), settings=settings)
        run = AppRun(self.app, script, data_dir, state_dir or os.path.join(self.work, "state"), self.display)
        run.name, run.slug = name, slug
        return run

    def step(self, run, name, timeout=90):
        """The value the page reported with the step, or None when it failed or never came."""
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
