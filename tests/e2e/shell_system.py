#!/usr/bin/env python3
"""The desktop around the real Quillpost under Xvfb: links from a first and a second launch, a
notification clicked over D-Bus, the menu bar's action and the quicklist, a logind Lock signal on a
system bus of the test's own, closing the window (the page saves first), two PDFs asked for at once
(the web process lives on), and SIGTERM (the last edit saved, exit 0, the printer stopped)."""

import json
import os
import re
import signal
import subprocess
import time

from harness import (DONE_MARK, KEYRING_WRAPPER, AppRun, Checks, check_page_results, exit_status, keyring_environment,
                     runner_arguments, script_with_checks, session, text, wait_until, write)

APP_ID = "org.quillpost.Quillpost"
STEP_MARK = "E2E-STEP "

def session_bus(run):
    """The address of the bus dbus-run-session started for the run, from its program's environment."""
    environ = text("/proc/%s/environ" % run.program_pid()).split("\0")
    return dict(v.split("=", 1) for v in environ if "=" in v).get("DBUS_SESSION_BUS_ADDRESS")


def application_id():
    """The program's name on the bus: on a data folder of its own it is APP_ID with a suffix of that folder's."""
    listed = subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                             "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.ListNames"],
                            capture_output=True, text=True, timeout=20)
    names = [n for n in re.findall(r"'([^']+)'", listed.stdout) if n.startswith(APP_ID)]
    return names[0] if len(names) == 1 else None


def activation(name, parameter=None):
    """The command that activates one of the program's actions over D-Bus, as the desktop's
    notification service or launcher would."""
    app_id = application_id() or APP_ID
    return ["gdbus", "call", "--session", "--dest", app_id, "--object-path", "/" + app_id.replace(".", "/"),
            "--method", "org.gtk.Actions.Activate", name, "[<%s>]" % json.dumps(parameter) if parameter else "[]", "{}"]


def main():
    args = runner_arguments(timeout=60)
    check = Checks()

    def ran(command, what, env=None):
        result = subprocess.run(command, env=env, capture_output=True, text=True, timeout=30)
        return check(result.returncode == 0, "%s (%d) %s" % (what, result.returncode, result.stderr.strip()))

    with session("quillpost-shell-") as (work, display):
        # A bus standing in for the system bus, where logind's signals are sent; both runs and gdbus use it.
        os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + os.path.join(work, "system_bus")
        system_bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--address=" + os.environ["DBUS_SYSTEM_BUS_ADDRESS"]],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            first_links = ["quillpost://client/first", "QUILLPOST:file/second"]
            last_edit = "Saved on close %d" % time.time()
            data_dir = os.path.join(work, "data")
            script = script_with_checks(work, "shell_test.js", args.script,
                                        settings={"mode": "full", "firstLinks": first_links, "lastEdit": last_edit})
            # The desktop's browser, for the test: a handler of https links that writes down what it was given.
            browser_log = os.path.join(work, "browser.log")
            environment = keyring_environment(work)
            write(os.path.join(environment["XDG_DATA_HOME"], "applications", "qp-test-browser.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Test browser\nMimeType=x-scheme-handler/https;\n"
                  "Exec=sh -c 'echo \"$1\" >> %s' sh %%u\n" % browser_log)
            write(os.path.join(work, "config", "mimeapps.list"), "[Default Applications]\nx-scheme-handler/https=qp-test-browser.desktop\n")
            environment["XDG_CONFIG_HOME"] = os.path.join(work, "config")
            # With a Secret Service of the test's own (encryption keeps a key there) and the first launch's links.
            run = AppRun(args.app, script, data_dir, os.path.join(work, "state"), display, environment, KEYRING_WRAPPER, first_links)
            found = wait_until(lambda: session_bus(run), 20)
            check(found, "the program started on the test's session bus")
            os.environ["DBUS_SESSION_BUS_ADDRESS"] = session_bus(run) or ""
            own_id = application_id() if found and wait_until(application_id, 20, 0.1) else None
            check(own_id is not None and own_id.startswith(APP_ID + ".Data_"),
                  "on a data folder of its own the program is an instance of its own (%s), not the user's copy" % own_id)
            app_env = dict(os.environ, DISPLAY=display, GDK_BACKEND="x11", QUILLPOST_DATA_DIR=data_dir, NO_AT_BRIDGE="1")
            steps = {
                "second-launch": lambda d: ran([args.app] + d["links"], "a second launch hands over its links and ends", app_env),
                "click-notification": lambda d: ran(activation("notification-clicked", d["id"]),
                                                    "the notification's click action is activated over D-Bus"),
                "menu-command": lambda d: ran(activation("menu-command", d["command"]), "the menu bar's command action is activated over D-Bus"),
                # What the .desktop file's action runs.
                "quicklist": lambda d: ran([args.app, "--menu-command=" + d["command"]], "a quicklist launch hands its command over and ends",
                                           app_env),
                "logind-lock": lambda d: ran(["gdbus", "emit", "--system", "--object-path", "/org/freedesktop/login1/session/_31",
                                              "--signal", "org.freedesktop.login1.Session.Lock"],
                                             "logind's Lock signal is sent on the test's system bus"),
            }
            closed_at = None
            while found and closed_at is None:
                line = run.wait_for(STEP_MARK, 90)
                if line is None:
                    break
                name, _, detail = line.partition(" ")
                if name in steps:
                    steps[name](json.loads(detail or "{}"))
                elif name == "close-window":
                    # The window's close, as Ctrl+W or the close button does it.
                    run.wait_for(DONE_MARK, 10)
                    closed_at = time.monotonic()
                    ran(activation("close-window"), "the window is closed through its action")
            if closed_at is not None:
                status = exit_status(run.process, 15)
                took = time.monotonic() - closed_at
                check(status == 0, "closing the window quits the program with status 0 (%s)" % status)
                check(took < 4, "the quit took %.1f s, no more than the page's two seconds and the start of the exit" % took)
                check(last_edit in text(os.path.join(data_dir, "data.json")), "the edit made just before the window closed is in data.json")
            run.finish(os.path.join(args.output, "shell.log"))
            opened = text(browser_log).split()
            check(opened == ["https://example.invalid/guide?x=1"], "the web link went to the desktop's browser, once: %s" % opened)
            check_page_results(check, run.results, 10)

            # Two PDFs asked for at once, then SIGTERM: the page saves what is waiting within a second,
            # the program ends with status 0 and stops the printer, which clears its record of the
            # printer's process from the settings.
            data_dir = os.path.join(work, "data-term")
            config = write(os.path.join(data_dir, "config.json"), json.dumps({"printerPid": 2147483646}))
            print_edit, term_edit = "Edited before two prints %d" % time.time(), "Edited just before SIGTERM %d" % time.time()
            script = script_with_checks(work, "shell_term.js", args.script,
                                        settings={"mode": "terminate", "printEdit": print_edit, "lastEdit": term_edit})
            with AppRun(args.app, script, data_dir, os.path.join(work, "state-term"), display) as term:
                ready = term.wait_for(STEP_MARK + "ready", 60) is not None
                pid = term.program_pid()
                if check(ready and pid is not None, "the program started for the SIGTERM check"):
                    time.sleep(0.15)
                    sent = time.monotonic()
                    os.kill(pid, signal.SIGTERM)
                    status = exit_status(term.process, 10)
                    took = time.monotonic() - sent
                    check(status == 0 and took < 3, "SIGTERM ends the program within the page's second with status 0 (%s, %.1f s)" % (status, took))
                    check("printerPid" not in json.loads(text(config)), "SIGTERM stopped the printer: its process is no longer recorded")
                    saved = text(os.path.join(data_dir, "data.json"))
                    check(print_edit in saved, "the edit made before the two prints is in data.json")
                    check(term_edit in saved, "the edit made about 150 ms before SIGTERM is in data.json")
                term.finish(os.path.join(args.output, "shell-term.log"))
            check_page_results(check, term.results, 2)
        finally:
            system_bus.terminate()
            system_bus.wait()
    return check.outcome("shell", args.output)


if __name__ == "__main__":
    raise SystemExit(main())
