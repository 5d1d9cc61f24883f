#!/usr/bin/env python3
"""The desktop around the real Quillpost under Xvfb: links from a first and a second launch, a
notification clicked over D-Bus, the menu bar's action and the quicklist, a logind Lock signal on a
system bus of the test's own, closing the window (the page saves first), two PDFs asked for at once
(the web process lives on), and SIGTERM (the last edit saved, exit 0, the printer stopped)."""

import json
import re
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from harness import (DONE_MARK, KEYRING_WRAPPER, AppRun, Checks, check_page_results, keyring_environment, runner_arguments,
                     script_with_checks, start_xvfb, stop_xvfb, wait_until)

APP_ID = "org.quillpost.Quillpost"
STEP_MARK = "E2E-STEP "

# Runs inside the test's session bus: tells the runner the bus's address, then starts the program
# with the first launch's links and a Secret Service of the test's own (encryption keeps a key there).
WRAPPER = """#!/bin/sh
printf '%s' "$DBUS_SESSION_BUS_ADDRESS" > "$QP_BUS_FILE"
exec "$QP_KEYRING_WRAPPER" "$@" $QP_FIRST_LINKS
"""


def application_id(bus):
    """The program's name on the bus: on a data folder of its own it is APP_ID with a suffix of that folder's."""
    listed = subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                             "--method", "org.freedesktop.DBus.ListNames"],
                            env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=bus), capture_output=True, text=True, timeout=20)
    names = [n for n in re.findall(r"'([^']+)'", listed.stdout) if n.startswith(APP_ID)]
    return names[0] if len(names) == 1 else None


def activate_action(bus, name, parameter):
    """Activates one of the program's actions over D-Bus, as the desktop's notification service or launcher would."""
    target = "[<%s>]" % json.dumps(parameter) if parameter is not None else "[]"
    app_id = application_id(bus) or APP_ID
    return subprocess.run(["gdbus", "call", "--session", "--dest", app_id, "--object-path", "/" + app_id.replace(".", "/"),
                           "--method", "org.gtk.Actions.Activate", name, target, "{}"],
                          env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=bus), capture_output=True, text=True, timeout=20)


def main():
    args = runner_arguments(timeout=60)
    work = tempfile.mkdtemp(prefix="quillpost-shell-")
    check = Checks()

    wrapper = os.path.join(work, "wrapper.sh")
    with open(wrapper, "w") as f:
        f.write(WRAPPER)
    os.chmod(wrapper, 0o755)

    # A bus standing in for the system bus, where logind's signals are sent.
    system_socket = os.path.join(work, "system_bus")
    system_bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--address=unix:path=" + system_socket],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    system_address = "unix:path=" + system_socket
    xvfb, display = start_xvfb()
    try:
        first_links = ["quillpost://client/first", "QUILLPOST:file/second"]
        last_edit = "Saved on close %d" % time.time()
        data_dir = os.path.join(work, "data")
        bus_file = os.path.join(work, "bus")
        script = script_with_checks(work, "shell_test.js", args.script, settings={"mode": "full", "firstLinks": first_links, "lastEdit": last_edit})
        # The desktop's browser, for the test: a handler of https links that writes down what it was given.
        browser_log = os.path.join(work, "browser.log")
        environment = keyring_environment(work)
        applications = os.path.join(environment["XDG_DATA_HOME"], "applications")
        os.makedirs(applications)
        with open(os.path.join(applications, "qp-test-browser.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Test browser\nMimeType=x-scheme-handler/https;\n"
                    "Exec=sh -c 'echo \"$1\" >> %s' sh %%u\n" % browser_log)
        config_home = os.path.join(work, "config")
        os.makedirs(config_home)
        with open(os.path.join(config_home, "mimeapps.list"), "w") as f:
            f.write("[Default Applications]\nx-scheme-handler/https=qp-test-browser.desktop\n")
        environment.update({"QP_BUS_FILE": bus_file, "QP_FIRST_LINKS": " ".join(first_links), "QP_KEYRING_WRAPPER": KEYRING_WRAPPER,
                            "DBUS_SYSTEM_BUS_ADDRESS": system_address, "XDG_CONFIG_HOME": config_home})
        run = AppRun(args.app, script, data_dir, os.path.join(work, "state"), display, environment, wrapper)
        found = wait_until(lambda: os.path.exists(bus_file) and os.path.getsize(bus_file) > 0, 20)
        bus = open(bus_file).read() if found else None
        check(bus is not None, "the program started on the test's session bus")
        own_id = application_id(bus) if bus and wait_until(lambda: application_id(bus), 20, 0.1) else None
        check(own_id is not None and own_id.startswith(APP_ID + ".Data_"),
              "on a data folder of its own the program is an instance of its own (%s), not the user's copy" % own_id)
        app_env = dict(os.environ, DISPLAY=display, DBUS_SESSION_BUS_ADDRESS=bus or "", GDK_BACKEND="x11",
                       QUILLPOST_DATA_DIR=data_dir, NO_AT_BRIDGE="1")
        closed_at = None
        while bus is not None:
            line = run.wait_for(STEP_MARK, 90)
            if line is None:
                break
            name, _, detail = line.partition(" ")
            detail = json.loads(detail) if detail else {}
            if name == "second-launch":
                second = subprocess.run([args.app] + detail["links"], env=app_env, capture_output=True, text=True, timeout=30)
                check(second.returncode == 0, "a second launch hands over its links and ends (%d)" % second.returncode)
            elif name == "browser-check":
                wait_until(lambda: os.path.exists(browser_log), 5, 0.1)
                time.sleep(0.3)
                opened = sorted(open(browser_log).read().split()) if os.path.exists(browser_log) else []
                check(opened == ["https://example.invalid/guide?x=1"], "the web link went to the desktop's browser, once: %s" % opened)
            elif name == "click-notification":
                clicked = activate_action(bus, "notification-clicked", detail["id"])
                check(clicked.returncode == 0, "the notification's click action is activated over D-Bus " + clicked.stderr.strip())
            elif name == "menu-command":
                chosen = activate_action(bus, "menu-command", detail["command"])
                check(chosen.returncode == 0, "the menu bar's command action is activated over D-Bus " + chosen.stderr.strip())
            elif name == "quicklist":
                # What the .desktop file's action runs.
                quick = subprocess.run([args.app, "--menu-command=" + detail["command"]], env=app_env, capture_output=True, text=True, timeout=30)
                check(quick.returncode == 0, "a quicklist launch hands its command over and ends (%d)" % quick.returncode)
            elif name == "logind-lock":
                emitted = subprocess.run(["gdbus", "emit", "--system", "--object-path", "/org/freedesktop/login1/session/_31",
                                          "--signal", "org.freedesktop.login1.Session.Lock"],
                                         env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=system_address), capture_output=True, text=True, timeout=20)
                check(emitted.returncode == 0, "logind's Lock signal is sent on the test's system bus " + emitted.stderr.strip())
            elif name == "close-window":
                # The window's close, as Ctrl+W or the close button does it.
                run.wait_for(DONE_MARK, 10)
                closed_at = time.monotonic()
                closing = activate_action(bus, "close-window", None)
                check(closing.returncode == 0, "the window is closed through its action " + closing.stderr.strip())
                break
        if closed_at is not None:
            try:
                status = run.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                status = None
            took = time.monotonic() - closed_at
            check(status == 0, "closing the window quits the program with status 0 (%s)" % status)
            check(took < 4, "the quit took %.1f s, no more than the page's two seconds and the start of the exit" % took)
            data_file = os.path.join(data_dir, "data.json")
            saved = open(data_file).read() if os.path.exists(data_file) else ""
            check(last_edit in saved, "the edit made just before the window closed is in data.json")
        run.finish(os.path.join(args.output, "shell.log"))
        check_page_results(check, run.results, 10)

        # Two PDFs asked for at once, then SIGTERM: the page saves what is waiting within a second,
        # the program ends with status 0 and stops the printer, which clears its record of the
        # printer's process from the settings.
        data_dir = os.path.join(work, "data-term")
        os.makedirs(data_dir)
        with open(os.path.join(data_dir, "config.json"), "w") as f:
            json.dump({"printerPid": 2147483646}, f)
        print_edit = "Edited before two prints %d" % time.time()
        term_edit = "Edited just before SIGTERM %d" % time.time()
        script = script_with_checks(work, "shell_term.js", args.script, settings={"mode": "terminate", "printEdit": print_edit, "lastEdit": term_edit})
        term = AppRun(args.app, script, data_dir, os.path.join(work, "state-term"), display,
                      {"DBUS_SYSTEM_BUS_ADDRESS": system_address})
        ready = term.wait_for(STEP_MARK + "ready", 60) is not None
        pid = term.program_pid()
        check(ready and pid is not None, "the program started for the SIGTERM check")
        if pid is not None:
            time.sleep(0.15)
            sent = time.monotonic()
            os.kill(pid, signal.SIGTERM)
            try:
                status = term.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                status = None
            took = time.monotonic() - sent
            check(status == 0 and took < 3, "SIGTERM ends the program within the page's second with status 0 (%s, %.1f s)" % (status, took))
            with open(os.path.join(data_dir, "config.json")) as f:
                check("printerPid" not in json.load(f), "SIGTERM stopped the printer: its process is no longer recorded")
            data_file = os.path.join(data_dir, "data.json")
            saved = open(data_file).read() if os.path.exists(data_file) else ""
            check(print_edit in saved, "the edit made before the two prints is in data.json")
            check(term_edit in saved, "the edit made about 150 ms before SIGTERM is in data.json")
        term.finish(os.path.join(args.output, "shell-term.log"))
        check_page_results(check, term.results, 2)
    finally:
        stop_xvfb(xvfb)
        system_bus.terminate()
        system_bus.wait()
        shutil.rmtree(work, ignore_errors=True)

    return check.outcome("shell", args.output)


if __name__ == "__main__":
    sys.exit(main())
