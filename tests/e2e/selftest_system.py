#!/usr/bin/env python3
"""The program's own self-test, run as a user's installed copy would run it: QUILLPOST_SELFTEST
names an output folder, and the program walks its page, the printer, the editor and the relay
without anyone at the keyboard, writes results.json and its screenshots, and quits by itself.

Around it: the real print system (cupsd, started as root), a loopback relay, a loopback editor
release server, a filled AcroForm made here with pdf-lib, and a keyring. Every result key is
checked against what this machine can do; a key that is false, missing or an error fails."""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

import loopback_servers
from editor_system import ReleaseServer
from harness import KEYRING_WRAPPER, AppRun, Checks, check_sanitizers, quiet, start_xvfb, stop_xvfb
from print_system import QUEUE, PrintSystem

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
RELAY_KEY = "self-test-practice-key"
MARKERS = ["QP-SELFTEST-NAME Amara Okafor", "QP-SELFTEST-UCI 1234-5678"]


def make_fixture(node_modules, path):
    """A one-page form with two filled text fields and a checked box, made with pdf-lib."""
    script = os.path.join(HERE, "make_fixture_form.mjs")
    made = quiet(["node", script, node_modules, path] + MARKERS)
    if made.returncode != 0 or not os.path.exists(path):
        raise RuntimeError("the fixture form couldn't be made:\n" + made.stdout)


def value(results, path):
    """The value at a dotted path in the results, or None."""
    for key in path.split("."):
        results = results.get(key) if isinstance(results, dict) else None
    return results


TRUE = ("bridge ready docRoundTrip outsideBlocked printedIsPdf printedOutsideBlocked backupWorks vaultTouchCleared clipWiped clipKeptOther "
        "clipConcealed badgeSet notificationClass reminder.notified printer.queue printer.running formCopy.restored "
        "pdfcraft.opened pdfcraft.started pdfcraft.secureContext pdfcraft.asksWhenUnsaved pdfcraft.check.ok pdfcraft.check.available "
        "pdfcraft.update.ok pdfcraft.afterUpd.updated pdfcraft.updatedStarts").split()
TRUE += ["secureEnclave." + k for k in ("available", "roundTrip", "noPlaintext", "tamperRejected", "otherKeyRejected")]
EQUAL = {"vaultTouchBefore": False, "liquidGlass": False, "badge": "3", "formCopy.outputs": 1, "relay.me": 200, "relay.wrongKey": 401,
         "relay.outsideHost": "That isn't a Quillpost relay address.", "relay.badPath": "That isn't a Quillpost relay address.",
         "systemLock": "NSWorkspaceScreensDidSleepNotification", "pdfcraft.internet": "blocked", "pdfcraft.docServed": 192,
         "pdfcraft.unsaved": False, "pdfcraft.leftOpen": 0, "pdfcraft.afterRollback.updated": False}
AT_LEAST = {"clients": 1, "snapshots": 1, "printedCount": 1, "backupCandidates": 1, "formCopy.pages": 1, "formCopy.fields": 2}


def expectations(r, output):
    """(key, passed) for every result key."""
    number = lambda v: isinstance(v, (int, float)) and not isinstance(v, bool)
    pc = r.get("pdfcraft") if isinstance(r.get("pdfcraft"), dict) else {}
    rows = [(key, value(r, key) is True) for key in TRUE]
    rows += [(key, value(r, key) == expected and type(value(r, key)) is type(expected)) for key, expected in EQUAL.items()]
    rows += [(key, number(value(r, key)) and value(r, key) >= least) for key, least in AT_LEAST.items()]
    steps = pc.get("steps") if isinstance(pc.get("steps"), list) else []
    rows += [
        ("classes", all(c in (r.get("classes") or []) for c in ("native-glass", "is-desktop", "is-linux", "is-native"))),
        ("dataFile", str(r.get("dataFile", "")).endswith("/data.json")),
        ("version", isinstance(r.get("version"), str) and r["version"].count(".") == 2),
        ("savedClients", r.get("savedClients") == r.get("clients")),
        # Without a fingerprint reader nothing is saved; with one it is, until cleared.
        ("vaultTouchSaved", r.get("vaultTouchSaved") is r.get("touchIdAvailable")),
        ("vaultTouchAfter", r.get("vaultTouchAfter") is r.get("vaultTouchSaved")),
        ("touchIdReason", isinstance(r.get("touchIdAvailable"), bool)
         and (r.get("touchIdReason") == "" if r["touchIdAvailable"] else bool(r.get("touchIdReason")))),
        ("notifications", isinstance(r.get("notifications"), list) and len(r["notifications"]) >= 1),
        ("formCopy.text", all(any(m in t for t in value(r, "formCopy.text") or []) for m in MARKERS)),
        ("openLink", str(r.get("openLink", "")).startswith("#/file/")),
        ("chrome", isinstance(r.get("chrome"), dict) and len(r["chrome"]) == 4 and all(number(v) for v in r["chrome"].values())),
        ("windowButtonsBottom", number(r.get("windowButtonsBottom")) and 0 < r["windowButtonsBottom"] < 80),
        ("printPdf", str(r.get("printPdf", "")).startswith("%PDF-|") and int(str(r["printPdf"]).split("|")[1] or 0) > 1000),
        ("error", "error" not in r and "formCopyB64" not in r and "error" not in pc),
        ("pdfcraft.info", bool(value(r, "pdfcraft.info.version"))),
        ("pdfcraft.webgpu", isinstance(pc.get("webgpu"), bool)),
        ("pdfcraft.steps", len(steps) >= 5 and all(isinstance(s, dict) and s.get("state") != "fail" for s in steps)),
        ("pdfcraft.afterUpd", str(value(r, "pdfcraft.afterUpd.version")).startswith("9.9")),
    ]
    for name in ("page.png", "window.png", "pdfcraft.png"):
        path = os.path.join(output, name)
        rows.append((name, os.path.exists(path) and os.path.getsize(path) > 5000))
    copy_file = os.path.join(output, "form-copy.pdf")
    pages = quiet(["qpdf", "--show-npages", copy_file]).stdout.strip() if os.path.exists(copy_file) else ""
    fields = quiet(["qpdf", "--json", "--json-key=acroform", copy_file]).stdout if os.path.exists(copy_file) else ""
    rows.append(("form-copy.pdf", pages == "1" and '"fields": []' in fields))
    return rows


def errors_inside(value, path=""):
    """Every "error: …" text anywhere in the results."""
    if isinstance(value, dict):
        return [e for k, v in value.items() for e in errors_inside(v, path + "." + k)]
    if isinstance(value, list):
        return [e for i, v in enumerate(value) for e in errors_inside(v, "%s[%d]" % (path, i))]
    return [path.lstrip(".") + ": " + value] if isinstance(value, str) and value.startswith("error:") else []


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    parser.add_argument("--node-modules", required=True, help="where pdf-lib is installed")
    parser.add_argument("--output", required=True)
    parser.add_argument("--timeout", type=float, default=300)
    args = parser.parse_args()

    if os.geteuid() != 0:
        print("the self-test runs with the real print system, and starting cupsd needs root")
        return SKIP
    if not shutil.which("node") or not os.path.isdir(os.path.join(args.node_modules, "pdf-lib")):
        print("making the fixture form needs node and pdf-lib in " + args.node_modules)
        return SKIP
    if quiet(["/usr/bin/lpstat", "-v", QUEUE]).returncode == 0 and quiet(["pidof", "ippeveprinter"]).returncode == 0:
        print("another Quillpost PDF printer is running on this machine; this test would take its queue")
        return SKIP

    started = time.monotonic()
    work = tempfile.mkdtemp(prefix="quillpost-selftest-")
    # A folder that doesn't exist yet: the program makes it.
    output = os.path.join(args.output, "selftest", "run")
    shutil.rmtree(os.path.join(args.output, "selftest"), ignore_errors=True)
    fixture = os.path.join(work, "filled-form.pdf")
    make_fixture(args.node_modules, fixture)

    check = Checks()
    system = PrintSystem()
    system.start()
    loopback_servers.RELAY_KEY = RELAY_KEY
    relay = loopback_servers.LoopbackServers(work)
    site = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(args.app))), "share", "quillpost", "pdfcraft")
    releases = ReleaseServer(site)
    xvfb, display = start_xvfb()
    run = None
    try:
        environment = dict(relay.environment(), **{
            "QUILLPOST_SELFTEST": output,
            "QUILLPOST_SELFTEST_FIXTURE": fixture,
            "QUILLPOST_SELFTEST_RELAY": relay.base,
            "QUILLPOST_SELFTEST_UPDATE": "1",
            "QUILLPOST_PRINTER_TEST": "1",
            "QUILLPOST_PDFCRAFT_RELEASES_URL": releases.base + "/pdfcraft/releases/latest",
            "HOME": os.path.join(work, "home"),
            "XDG_CACHE_HOME": os.path.join(work, "cache"),
            "XDG_DATA_HOME": os.path.join(work, "xdg-data"),
        })
        run = AppRun(args.app, None, os.path.join(work, "data"), os.path.join(work, "state"), display, environment, KEYRING_WRAPPER)
        deadline = time.monotonic() + args.timeout
        sent = False
        while not run.ended and time.monotonic() < deadline:
            run.next_line(time.monotonic() + 0.25)
            # Something printed to the Quillpost PDF printer once the program has set it up.
            if not sent and quiet(["/usr/bin/lpstat", "-v", QUEUE]).returncode == 0:
                sent = True
                printed = quiet(["/usr/bin/lp", "-d", QUEUE, "-t", "Self test form", fixture])
                check(printed.returncode == 0, "lp takes a job for %s: %s" % (QUEUE, printed.stdout.strip()))
        finished = run.process.poll() is not None or run.ended
        check(finished, "the program quit by itself within %.0f s" % args.timeout)
        run.finish(os.path.join(args.output, "selftest", "app.log"))

        results_file = os.path.join(output, "results.json")
        check(os.path.exists(results_file), "results.json was written to the folder the program created")
        results = {}
        if os.path.exists(results_file):
            with open(results_file) as f:
                text = f.read()
            results = json.loads(text)
            check(text == json.dumps(results, indent=2, sort_keys=True, ensure_ascii=False) + "\n", "results.json is pretty-printed with sorted keys")
        for key, passed in expectations(results, output):
            check(bool(passed), "%s: %s" % (key, json.dumps(value(results, key), ensure_ascii=False)[:300]))
        inside = errors_inside(results)
        check(not inside, "no result is an error" + "".join("\n  " + e[:200] for e in inside))
        check_sanitizers(check, run.log)
    finally:
        if run is not None:
            run.stop()
        stop_xvfb(xvfb)
        releases.close()
        relay.close()
        quiet(["/usr/sbin/lpadmin", "-x", QUEUE])
        system.stop()
        shutil.rmtree(work, ignore_errors=True)

    print("\n%.0f s" % (time.monotonic() - started))
    return check.outcome("selftest", os.path.join(args.output, "selftest"))


if __name__ == "__main__":
    sys.exit(main())
