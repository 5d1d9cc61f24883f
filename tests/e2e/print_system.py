#!/usr/bin/env python3
"""The Quillpost PDF printer with the real print system: CUPS, its ippeveprinter and lpadmin, and
the system D-Bus and avahi-daemon that ippeveprinter insists on. Starts whichever of those isn't
running (and stops them again), runs the real program under Xvfb, prints to "Quillpost_PDF" with
lp, and checks what reaches the page; then prints while the program is closed and checks that the
job waits and arrives after the next start. Exits 77 (skipped) when the print system isn't installed or
can't be started here, so that a machine without it says so instead of hanging."""

import base64
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from harness import AppRun, Checks, DONE_MARK, check_page_results, quiet, runner_arguments, script_with_checks, start_xvfb, stop_xvfb, wait_until

SKIP = 77
QUEUE = "Quillpost_PDF"
TOOLS = ["/usr/sbin/ippeveprinter", "/usr/sbin/lpadmin", "/usr/sbin/cupsenable", "/usr/sbin/cupsdisable", "/usr/bin/lpstat", "/usr/bin/lp",
         "/usr/sbin/cupsd", "/usr/sbin/avahi-daemon", "/usr/bin/dbus-daemon", "/usr/bin/qpdf"]


def skip(reason):
    print("SKIPPED: " + reason, flush=True)
    sys.exit(SKIP)


def system_bus_up():
    with socket.socket(socket.AF_UNIX) as s:
        try:
            s.connect("/run/dbus/system_bus_socket")
            return True
        except OSError:
            return False


def avahi_up():
    return quiet(["/usr/sbin/avahi-daemon", "--check"]).returncode == 0


def cups_up():
    try:
        return "is running" in quiet(["/usr/bin/lpstat", "-r"], timeout=5).stdout
    except subprocess.TimeoutExpired:
        return False


def remove_stale_pid_file(path):
    """A bus that ended without cleaning up leaves its pid file, and a new one refuses to start."""
    try:
        with open(path) as f:
            pid = int(f.read().strip() or 0)
    except (OSError, ValueError):
        return
    try:
        with open("/proc/%d/stat" % pid) as f:
            ended = f.read().rsplit(")", 1)[1].split()[0] in ("Z", "X")
    except (OSError, IndexError):
        ended = True
    if pid <= 0 or ended:
        os.remove(path)


class PrintSystem:
    """Starts the services that aren't running and stops, at the end, only those it started."""

    def __init__(self):
        self.started = []

    def start(self):
        services = [
            ("the system D-Bus", system_bus_up, ["/usr/bin/dbus-daemon", "--system", "--fork", "--print-pid"]),
            ("avahi-daemon", avahi_up, ["/usr/sbin/avahi-daemon", "--daemonize", "--no-drop-root", "--no-chroot"]),
            ("cupsd", cups_up, ["/usr/sbin/cupsd"]),
        ]
        for name, up, command in services:
            if up():
                continue
            if name == "the system D-Bus":
                os.makedirs("/run/dbus", exist_ok=True)
                remove_stale_pid_file("/run/dbus/pid")
            result = quiet(command)
            if result.returncode != 0 or not wait_until(up, 15):
                skip("%s didn't start: %s" % (name, result.stdout.strip()))
            self.started.append((name, result.stdout.split()[0] if name == "the system D-Bus" else None))

    def stop(self):
        for name, pid in reversed(self.started):
            if name == "avahi-daemon":
                quiet(["/usr/sbin/avahi-daemon", "--kill"])
            else:
                for found in [pid] if pid else quiet(["pidof", "cupsd"]).stdout.split():
                    try:
                        os.kill(int(found), 15)
                    except (ValueError, ProcessLookupError):
                        pass


def destinations():
    """Every queue and its device, except ours: none of them may change."""
    listing = quiet(["/usr/bin/lpstat", "-v"]).stdout
    return sorted(line for line in listing.splitlines() if line.startswith("device for ") and QUEUE not in line)


def stranger(port):
    """Whatever else may listen on the queue's port while Quillpost is closed: it must get no job."""
    sockets = []
    for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
        s = socket.socket(family, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((address, port))
        s.listen(8)
        s.setblocking(False)
        sockets.append(s)
    return sockets


def reached(sockets):
    """Whether anything connected to one of the sockets."""
    for s in sockets:
        try:
            s.accept()[0].close()
            return True
        except BlockingIOError:
            pass
    return False


def restart(args, work, data_dir, display, page_pdf, check):
    """A job printed while Quillpost is closed waits in CUPS, held, and reaches the inbox after the
    next start, even with a stranger listening on the port the queue last pointed at."""
    env = {"QUILLPOST_PRINTER_TEST": "1", "HOME": os.path.join(work, "home")}
    setup = AppRun(args.app, script_with_checks(work, "print_setup.js", args.script, settings={"phase": "setup"}),
                   data_dir, os.path.join(work, "state"), display, env)
    # Read up to the page script's end, then ended with SIGTERM.
    setup.wait_for(DONE_MARK, 60)
    setup.finish(os.path.join(args.output, "app-setup.log"))
    check_page_results(check, setup.results, 1)
    port_line = [line.split("E2E-PRINTER-UP ", 1)[1].strip() for line in setup.log if "E2E-PRINTER-UP " in line]
    port = int(port_line[0]) if port_line and port_line[0].isdigit() else 47631
    check(wait_until(lambda: "disabled" in quiet(["/usr/bin/lpstat", "-p", QUEUE]).stdout, 10),
          "after SIGTERM the queue is paused: " + quiet(["/usr/bin/lpstat", "-p", QUEUE]).stdout.strip())

    sockets = stranger(port)
    try:
        printed = quiet(["/usr/bin/lp", "-d", QUEUE, "-t", "Held form", page_pdf or "/nonexistent"])
        check(printed.returncode == 0, "lp takes a job while Quillpost is closed: " + printed.stdout.strip())
        check(wait_until(lambda: QUEUE in quiet(["/usr/bin/lpstat", "-o", QUEUE]).stdout, 5), "the job waits in the queue")
        time.sleep(5)
        check(not reached(sockets), "nothing reaches the stranger on port %d while Quillpost is closed" % port)

        arrival = AppRun(args.app, script_with_checks(work, "print_arrival.js", args.script, settings={"phase": "arrival", "port": port}),
                         data_dir, os.path.join(work, "state"), display, env)
        arrival.wait_for(DONE_MARK, 120)
        arrival.finish(os.path.join(args.output, "app-arrival.log"))
        check_page_results(check, arrival.results, 3)
        check(not reached(sockets), "the stranger got nothing after the start either")
    finally:
        for s in sockets:
            s.close()


def main():
    args = runner_arguments(timeout=150)

    missing = [tool for tool in TOOLS if not os.access(tool, os.X_OK)]
    if missing:
        skip("the print system isn't installed (missing %s); scripts/install-deps.sh installs it" % ", ".join(missing))
    if os.geteuid() != 0:
        skip("starting cupsd, avahi-daemon and the system D-Bus needs root")
    if quiet(["/usr/bin/lpstat", "-v", QUEUE]).returncode == 0 and quiet(["pidof", "ippeveprinter"]).returncode == 0:
        skip("another Quillpost PDF printer is running on this machine; this test would take its queue")

    started = time.monotonic()
    os.makedirs(args.output, exist_ok=True)
    work = tempfile.mkdtemp(prefix="quillpost-print-")
    data_dir = os.path.join(work, "data")
    os.makedirs(data_dir)
    check = Checks()
    system = PrintSystem()
    system.start()
    # A printer of the user's own, which must come through untouched.
    own = quiet(["/usr/sbin/lpadmin", "-p", "Office_Laser", "-v", "ipp://192.0.2.10/ipp/print", "-D", "Office laser"])
    check(own.returncode == 0, "a printer of the user's own is in place: " + own.stdout.strip())
    others = destinations()
    xvfb, display = start_xvfb()
    run = None
    try:
        run = AppRun(args.app, script_with_checks(work, "print_test.js", args.script, settings={"phase": "jobs"}), data_dir, os.path.join(work, "state"),
                     display, {"QUILLPOST_PRINTER_TEST": "1", "HOME": os.path.join(work, "home")})
        page_pdf = locked = None
        deadline = time.monotonic() + args.timeout
        sent = False
        while True:
            line = run.next_line(deadline)
            if line is None or DONE_MARK in line:
                break
            for mark, name in (("E2E-PAGE-PDF ", "page.pdf"), ("E2E-LOCKED ", "locked.pdf")):
                if mark in line:
                    with open(os.path.join(work, name), "wb") as f:
                        f.write(base64.b64decode(line.split(mark, 1)[1].strip()))
            page_pdf, locked = (os.path.join(work, n) if os.path.exists(os.path.join(work, n)) else None for n in ("page.pdf", "locked.pdf"))
            if "E2E-READY-FOR-JOBS" in line and not sent:
                sent = True
                printed = quiet(["/usr/bin/lp", "-d", QUEUE, "-t", "Form IMM 5257", page_pdf or "/nonexistent"])
                check(printed.returncode == 0, "lp takes the job for %s: %s" % (QUEUE, printed.stdout.strip()))
        run.finish(os.path.join(args.output, "app.log"))

        check_page_results(check, run.results, 5)
        arrivals = [line.split("E2E-PRINTED ", 1)[1] for line in run.log if "E2E-PRINTED " in line]
        check(len(arrivals) == 1 and re.search(r'"name":"form_imm_5257 \(printed \d{4}-\d\d-\d\d \d\d\.\d\d\)\.pdf"', arrivals[0]) is not None,
              "the page's hook receives the job as form_imm_5257 (printed <date> <time>).pdf (%s)" % arrivals)
        inbox = os.path.join(data_dir, "Print Inbox")
        files = sorted(n for n in os.listdir(inbox) if n != ".spool") if os.path.isdir(inbox) else []
        check(len(files) == 1 and files[0].startswith("form_imm_5257 (printed "), "the inbox holds the printed PDF (%s)" % files)
        check(page_pdf is not None and quiet(["/usr/bin/qpdf", "--show-npages", page_pdf]).stdout.strip().isdigit(),
              "qpdf reads the page's PDF")
        opens = [quiet(["/usr/bin/qpdf"] + ["--password=" + p] * bool(p) + ["--check", locked]).returncode in (0, 3) if locked else None
                 for p in ("handover-pass", "xhandover-pass", "")]
        check(locked is not None and quiet(["/usr/bin/qpdf", "--requires-password", locked]).returncode == 0 and opens == [True, False, False],
              "the handover PDF needs a password and opens with its own only (%s)" % opens)
        check(quiet(["/usr/bin/lpstat", "-v", QUEUE]).returncode != 0, "switching off removed the queue %s" % QUEUE)

        restart(args, work, data_dir, display, page_pdf, check)
        check(quiet(["/usr/bin/lpstat", "-v", QUEUE]).returncode != 0, "switching off after the restart removed the queue %s" % QUEUE)
        check(destinations() == others, "every other printer is as it was")
        check(wait_until(lambda: quiet(["pidof", "ippeveprinter"]).returncode != 0, 5), "no ippeveprinter is left running")
    finally:
        if run is not None:
            run.stop()
        stop_xvfb(xvfb)
        quiet(["/usr/sbin/lpadmin", "-x", QUEUE])
        quiet(["/usr/sbin/lpadmin", "-x", "Office_Laser"])
        system.stop()
        shutil.rmtree(work, ignore_errors=True)

    print("\n%.0f s" % (time.monotonic() - started))
    return check.outcome("print-system", args.output)


if __name__ == "__main__":
    sys.exit(main())
