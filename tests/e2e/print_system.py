#!/usr/bin/env python3
"""The Quillpost PDF printer with the real print system (CUPS, ippeveprinter, and the system D-Bus
and avahi-daemon, started when they aren't running): jobs sent with lp reach the real program's
page, and one sent while the program is closed waits and arrives after the next start. Exits 77
(skipped) where the print system isn't installed or can't be started."""

import base64
import os
import re
import select
import socket
import subprocess
import time

from harness import (DONE_MARK, AppRun, Checks, check_page_results, quiet, runner_arguments, script_with_checks, session,
                     signal_all, skip, text, wait_until, write)

QUEUE = "Quillpost_PDF"
TOOLS = ["/usr/sbin/ippeveprinter", "/usr/sbin/lpadmin", "/usr/sbin/cupsenable", "/usr/sbin/cupsdisable", "/usr/bin/lpstat", "/usr/bin/lp",
         "/usr/bin/cancel", "/usr/sbin/cupsd", "/usr/sbin/avahi-daemon", "/usr/bin/dbus-daemon", "/usr/bin/qpdf"]


def lpstat(*arguments, timeout=60):
    return quiet(["/usr/bin/lpstat", *arguments], timeout=timeout)


def system_bus_up():
    with socket.socket(socket.AF_UNIX) as s:
        return s.connect_ex("/run/dbus/system_bus_socket") == 0


def cups_up():
    try:
        return "is running" in lpstat("-r", timeout=5).stdout
    except subprocess.TimeoutExpired:
        return False


def clear_stale_bus_pid():
    """A system bus that ended without cleaning up leaves its pid file, and a new one refuses to start."""
    os.makedirs("/run/dbus", exist_ok=True)
    pid = text("/run/dbus/pid").strip()
    state = text("/proc/%s/stat" % pid).rsplit(")", 1)[-1].split()[:1] if pid.isdigit() else []
    if os.path.exists("/run/dbus/pid") and state in ([], ["Z"], ["X"]):
        os.remove("/run/dbus/pid")


def skip_unless_queue_free():
    if lpstat("-v", QUEUE).returncode == 0 and quiet(["pidof", "ippeveprinter"]).returncode == 0:
        skip("another Quillpost PDF printer is running on this machine; this test would take its queue")


class PrintSystem:
    """Starts the services that aren't running and stops, at the end, only those it started, after
    taking away the Quillpost queue."""

    SERVICES = (("the system D-Bus", system_bus_up, ["/usr/bin/dbus-daemon", "--system", "--fork", "--print-pid"],
                 lambda started: signal_all(started.split()[:1])),
                ("avahi-daemon", lambda: quiet(["/usr/sbin/avahi-daemon", "--check"]).returncode == 0,
                 ["/usr/sbin/avahi-daemon", "--daemonize", "--no-drop-root", "--no-chroot"],
                 lambda _: quiet(["/usr/sbin/avahi-daemon", "--kill"])),
                ("cupsd", cups_up, ["/usr/sbin/cupsd"], lambda _: signal_all(quiet(["pidof", "cupsd"]).stdout.split())))

    def __enter__(self):
        self.started = []
        clear_stale_bus_pid()
        for name, up, command, stop in self.SERVICES:
            if up():
                continue
            result = quiet(command)
            if result.returncode != 0 or not wait_until(up, 15):
                self.__exit__()
                skip("%s didn't start: %s" % (name, result.stdout.strip()))
            self.started.append((stop, result.stdout))
        return self

    def __exit__(self, *exception):
        quiet(["/usr/sbin/lpadmin", "-x", QUEUE])
        for stop, started in reversed(self.started):
            stop(started)


def destinations():
    """Every queue and its device, except ours: none of them may change."""
    return sorted(line for line in lpstat("-v").stdout.splitlines() if line.startswith("device for ") and QUEUE not in line)


def stranger(port):
    """Whatever else may listen on the queue's port while Quillpost is closed: it must get no job."""
    return [socket.create_server((address, port), family=family)
            for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1"))]


def reached(sockets):
    return bool(select.select(sockets, [], [], 0)[0])


def marked(log, mark):
    return [line.split(mark, 1)[1].strip() for line in log if mark in line]


def pdf_from(log, mark, path):
    """Writes the PDF the page printed in Base64 after mark to path; None when it printed none."""
    found = marked(log, mark)
    return write(path, base64.b64decode(found[0])) if found else None


def main():
    args = runner_arguments(timeout=150)
    missing = [tool for tool in TOOLS if not os.access(tool, os.X_OK)]
    if missing:
        skip("the print system isn't installed (missing %s); scripts/install-deps.sh installs it" % ", ".join(missing))
    if os.geteuid() != 0:
        skip("starting cupsd, avahi-daemon and the system D-Bus needs root")
    skip_unless_queue_free()

    started = time.monotonic()
    check = Checks()
    lp = lambda title, pdf: quiet(["/usr/bin/lp", "-d", QUEUE, "-t", title, pdf or "/nonexistent"])
    with PrintSystem(), session("quillpost-print-") as (work, display):
        # A printer of the user's own, which must come through untouched.
        own = quiet(["/usr/sbin/lpadmin", "-p", "Office_Laser", "-v", "ipp://192.0.2.10/ipp/print", "-D", "Office laser"])
        check(own.returncode == 0, "a printer of the user's own is in place: " + own.stdout.strip())
        others = destinations()
        data_dir, state_dir = os.path.join(work, "data"), os.path.join(work, "state")
        start = lambda phase, **settings: AppRun(
            args.app, script_with_checks(work, phase + ".js", args.script, settings=dict(settings, phase=phase)),
            data_dir, state_dir, display, {"QUILLPOST_PRINTER_TEST": "1", "HOME": os.path.join(work, "home")})
        try:
            with start("jobs") as run:
                deadline = time.monotonic() + args.timeout
                ready = run.wait_for("E2E-READY-FOR-JOBS", args.timeout) is not None
                page_pdf = pdf_from(run.log, "E2E-PAGE-PDF ", os.path.join(work, "page.pdf"))
                if ready:
                    printed = lp("Form IMM 5257", page_pdf)
                    check(printed.returncode == 0, "lp takes the job for %s: %s" % (QUEUE, printed.stdout.strip()))
                run.wait_for(DONE_MARK, deadline - time.monotonic())
                # Ended with SIGTERM while the printer is on.
                run.finish(os.path.join(args.output, "app.log"))
            check_page_results(check, run.results, 5)
            arrivals = marked(run.log, "E2E-PRINTED ")
            check(len(arrivals) == 1 and re.search(r'"name":"form_imm_5257 \(printed \d{4}-\d\d-\d\d \d\d\.\d\d\)\.pdf"', arrivals[0]),
                  "the page's hook receives the job as form_imm_5257 (printed <date> <time>).pdf (%s)" % arrivals)
            inbox = os.path.join(data_dir, "Print Inbox")
            files = sorted(n for n in os.listdir(inbox) if n != ".spool") if os.path.isdir(inbox) else []
            check(len(files) == 1 and files[0].startswith("form_imm_5257 (printed "), "the inbox holds the printed PDF (%s)" % files)
            check(page_pdf is not None and quiet(["/usr/bin/qpdf", "--show-npages", page_pdf]).stdout.strip().isdigit(),
                  "qpdf reads the page's PDF")
            locked = pdf_from(run.log, "E2E-LOCKED ", os.path.join(work, "locked.pdf"))
            opens = [quiet(["/usr/bin/qpdf"] + ["--password=" + p] * bool(p) + ["--check", locked]).returncode in (0, 3) if locked else None
                     for p in ("handover-pass", "xhandover-pass", "")]
            check(locked is not None and quiet(["/usr/bin/qpdf", "--requires-password", locked]).returncode == 0 and opens == [True, False, False],
                  "the handover PDF needs a password and opens with its own only (%s)" % opens)
            check(wait_until(lambda: "disabled" in lpstat("-p", QUEUE).stdout, 10),
                  "after SIGTERM the queue is paused: " + lpstat("-p", QUEUE).stdout.strip())

            # A job printed while Quillpost is closed waits in CUPS, held, and reaches the inbox after
            # the next start, even with a stranger listening on the port the queue last pointed at.
            # CUPS may still hold the first job open (it arrived moments before SIGTERM) and would
            # send it again after the start; only the job printed while closed is this step's.
            quiet(["/usr/bin/cancel", "-a", QUEUE])
            ports = marked(run.log, "E2E-PRINTER-UP ")
            port = int(ports[0]) if ports and ports[0].isdigit() else 47631
            # The stranger's sockets stay open to the end of the run.
            sockets = stranger(port)
            printed = lp("Held form", page_pdf)
            check(printed.returncode == 0, "lp takes a job while Quillpost is closed: " + printed.stdout.strip())
            check(wait_until(lambda: QUEUE in lpstat("-o", QUEUE).stdout, 5), "the job waits in the queue")
            time.sleep(5)
            check(not reached(sockets), "nothing reaches the stranger on port %d while Quillpost is closed" % port)
            with start("arrival", port=port) as arrival:
                arrival.wait_for(DONE_MARK, 120)
                arrival.finish(os.path.join(args.output, "app-arrival.log"))
            check_page_results(check, arrival.results, 3)
            check(not reached(sockets), "the stranger got nothing after the start either")
            check(lpstat("-v", QUEUE).returncode != 0, "switching off removed the queue %s" % QUEUE)
            check(destinations() == others, "every other printer is as it was")
            check(wait_until(lambda: quiet(["pidof", "ippeveprinter"]).returncode != 0, 5), "no ippeveprinter is left running")
        finally:
            quiet(["/usr/sbin/lpadmin", "-x", "Office_Laser"])
    print("\n%.0f s" % (time.monotonic() - started))
    return check.outcome("print-system", args.output)


if __name__ == "__main__":
    raise SystemExit(main())
