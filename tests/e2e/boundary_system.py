#!/usr/bin/env python3
"""Tries to reach the program from documents that aren't its page: a local HTML file (as a client
might send one), a data: URL, frames, and reads of the disk. None may reach the bridge, and the
practice's data stays as it was."""

import json
import os
import shutil
import sys
import tempfile

from harness import DONE_MARK, AppRun, Checks, check_page_results, read, runner_arguments, script_with_checks, start_xvfb, stop_xvfb

HOSTILE_PAGE = """<!doctype html><meta charset="utf-8"><title>form</title>
<script>
  console.log('E2E-HOSTILE loaded ' + location.href);
  const bridge = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.qp;
  if (bridge)
    bridge.postMessage({ cmd: 'save', args: JSON.stringify([JSON.stringify({ HOSTILE: true })]) })
      .then((r) => console.log('E2E-HOSTILE saved ' + r), (e) => console.log('E2E-HOSTILE refused ' + e.message));
  fetch('file:///etc/hostname').then((r) => r.text()).then((t) => console.log('E2E-HOSTILE read ' + t), () => {});
</script>"""


def main():
    args = runner_arguments(90)
    work = tempfile.mkdtemp(prefix="quillpost-boundary-")
    check = Checks()
    data_dir = os.path.join(work, "data")
    os.makedirs(data_dir)
    original = json.dumps({"clients": [{"id": "c1", "name": "Olena Kovalenko"}]})
    with open(os.path.join(data_dir, "data.json"), "w") as f:
        f.write(original)
    form = os.path.join(work, "form.html")
    with open(form, "w") as f:
        f.write(HOSTILE_PAGE)
    try:
        hostname = read("/etc/hostname").decode().strip() or "\0"
    except OSError:
        hostname = "\0"
    script = script_with_checks(work, "boundary_test.js", args.script,
                                "const FORM_URL = %s, HOSTNAME = %s;\n" % (json.dumps("file://" + form), json.dumps(hostname)))
    environment = {"XDG_DATA_HOME": os.path.join(work, "xdg-data"),
                   "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=" + os.path.join(work, "no-system-bus")}

    xvfb, display = start_xvfb()
    try:
        run = AppRun(args.app, script, data_dir, os.path.join(work, "state"), display, environment)
        done = run.wait_for(DONE_MARK, args.timeout) is not None
        run.finish(os.path.join(args.output, "app.log"))
        check(done, "the page script ran to its end (the page was never replaced)")
        check_page_results(check, run.results, 10)
        hostile = [line for line in run.log if "E2E-HOSTILE" in line]
        check(not hostile, "no hostile document ever ran in the window" + "".join("\n  " + line for line in hostile[:5]))
        saved = read(os.path.join(data_dir, "data.json")).decode()
        check("HOSTILE" not in saved and "Olena Kovalenko" in saved, "the practice's data.json holds the practice, never the hostile document")
    finally:
        stop_xvfb(xvfb)
        shutil.rmtree(work, ignore_errors=True)
    return check.outcome("boundary", args.output)


if __name__ == "__main__":
    sys.exit(main())
