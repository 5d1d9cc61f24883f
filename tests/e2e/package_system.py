#!/usr/bin/env python3
"""The packages and the program's own updates, for real. --mode deb: the Debian package checked
by lintian and the metainfo and .desktop validators, installed (as root), the installed program's
own self-test run, and the package removed, the user's data outliving both. --mode update: the
relocatable tarball unpacked as a user would and updated from a feed on this machine: a release
signed by someone else changes nothing, one whose program doesn't start is rolled back, and a good
one is installed after a safety copy, started, and kept once its page has shown."""

import functools
import json
import os
import shutil
import signal
import subprocess
import sys
import tarfile
import threading
import time
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer

from editor_system import ReleaseServer
from harness import (HERE, KEYRING_WRAPPER, AppRun, Checks, app_environment, check_sanitizers, ed25519_key, exit_status, quiet,
                     runner_arguments, session, sign, signal_all, text, wait_until, write)
from loopback_servers import LoopbackServers
from print_system import QUEUE, PrintSystem, skip_unless_queue_free


MARKERS = ["QP-SELFTEST-NAME Amara Okafor", "QP-SELFTEST-UCI 1234-5678"]


def value(results, path):
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
    children = value.items() if isinstance(value, dict) else enumerate(value) if isinstance(value, list) else ()
    found = [path.lstrip(".") + ": " + value] if isinstance(value, str) and value.startswith("error:") else []
    return found + [e for k, v in children for e in errors_inside(v, "%s.%s" % (path, k))]


def selftest(args, check, work, display, app="/usr/bin/quillpost"):
    """The installed program's own self-test (QUILLPOST_SELFTEST names its output folder): it walks its
    page, the printer, the editor and the relay on its own, writes results.json and screenshots, and
    quits. Around it: the real print system, a loopback relay and editor release server, a filled
    AcroForm made with pdf-lib, and a keyring. A result key that is false, missing or an error fails."""
    skip_unless_queue_free()
    # A folder that doesn't exist yet: the program makes it.
    output = os.path.join(args.output, "installed-package", "selftest", "run")
    shutil.rmtree(os.path.dirname(output), ignore_errors=True)
    # A one-page form with two filled text fields and a checked box.
    fixture = os.path.join(work, "filled-form.pdf")
    made = quiet(["node", os.path.join(HERE, "make_fixture_form.mjs"), os.path.join(args.build, "pdfcraft-work", "node_modules"),
                  fixture] + MARKERS)
    if not check(made.returncode == 0 and os.path.exists(fixture), "pdf-lib makes the fixture form " + made.stdout.strip()):
        return
    relay = LoopbackServers(work, key="self-test-practice-key")
    releases = ReleaseServer(os.path.join(os.path.dirname(os.path.dirname(app)), "share", "quillpost", "pdfcraft"))
    environment = dict(relay.environment(), QUILLPOST_SELFTEST=output, QUILLPOST_SELFTEST_FIXTURE=fixture,
                       QUILLPOST_SELFTEST_RELAY=relay.base, QUILLPOST_SELFTEST_UPDATE="1", QUILLPOST_PRINTER_TEST="1",
                       QUILLPOST_PDFCRAFT_RELEASES_URL=releases.base + "/pdfcraft/releases/latest", HOME=os.path.join(work, "home"),
                       XDG_CACHE_HOME=os.path.join(work, "cache"), XDG_DATA_HOME=os.path.join(work, "xdg-data"))
    with PrintSystem(), AppRun(app, None, os.path.join(work, "data"), os.path.join(work, "state"), display,
                               environment, KEYRING_WRAPPER) as run:
        deadline = time.monotonic() + 300
        sent = False
        while not run.ended and time.monotonic() < deadline:
            run.next_line(time.monotonic() + 0.25)
            # Something printed to the Quillpost PDF printer once the program has set it up.
            if not sent and quiet(["/usr/bin/lpstat", "-v", QUEUE]).returncode == 0:
                sent = True
                printed = quiet(["/usr/bin/lp", "-d", QUEUE, "-t", "Self test form", fixture])
                check(printed.returncode == 0, "lp takes a job for %s: %s" % (QUEUE, printed.stdout.strip()))
        check(run.process.poll() is not None or run.ended, "the program quit by itself within 300 s")
        run.finish(os.path.join(os.path.dirname(output), "app.log"))
    releases.close()
    relay.close()

    results_text = text(os.path.join(output, "results.json"))
    check(results_text, "results.json was written to the folder the program created")
    results = json.loads(results_text or "{}")
    check(results_text == json.dumps(results, indent=2, sort_keys=True, ensure_ascii=False) + "\n",
          "results.json is pretty-printed with sorted keys")
    for key, passed in expectations(results, output):
        check(bool(passed), "self-test %s: %s" % (key, json.dumps(value(results, key), ensure_ascii=False)[:300]))
    inside = errors_inside(results)
    check(not inside, "no self-test result is an error" + "".join("\n  " + e[:200] for e in inside))
    check_sanitizers(check, run.log)


def cpack(build, generator, output):
    result = quiet(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-G", generator, "-B", output], timeout=None)
    if result.returncode != 0:
        raise RuntimeError("cpack -G %s failed:\n%s" % (generator, result.stdout))
    return next(os.path.join(output, n) for n in os.listdir(output) if n.endswith(".deb" if generator == "DEB" else ".tar.gz"))


def deb_mode(args, check, work, display):
    package = cpack(args.build, "DEB", os.path.join(work, "packages"))
    lint = quiet(["lintian", "--suppress-tags", "duplicate-font-file", package])
    errors = [line for line in lint.stdout.splitlines() if line.startswith("E:")]
    check(not errors, "lintian reports no errors" + "".join("\n  " + e for e in errors))
    extracted = os.path.join(work, "contents")
    quiet(["dpkg-deb", "-x", package, extracted])
    # The validators below fail on a missing metainfo or .desktop file.
    for path in ("bin/quillpost", "share/quillpost/app/index.html", "share/quillpost/pdfcraft/index.html",
                 "share/icons/hicolor/scalable/apps/org.quillpost.Quillpost.svg", "share/doc/quillpost/copyright"):
        check(os.path.exists(os.path.join(extracted, "usr", path)), "the package holds /usr/" + path)
    for validator, path in ((["appstreamcli", "validate", "--no-net"], "metainfo/org.quillpost.Quillpost.metainfo.xml"),
                            (["desktop-file-validate"], "applications/org.quillpost.Quillpost.desktop")):
        valid = quiet(validator + [os.path.join(extracted, "usr/share", path)])
        check(valid.returncode == 0, "%s accepts %s: %s" % (validator[0], path, valid.stdout.strip()[-500:]))

    if os.geteuid() != 0 or os.path.exists("/usr/bin/quillpost"):
        print("installing the package needs root and a machine without Quillpost installed; the rest is skipped")
        return
    # Someone's data from before the package was installed must outlive installing and removing it.
    data = write(os.path.join(work, "home", ".local", "share", "Quillpost", "data.json"), '{"clients":[{"id":"c1","name":"Keep Me"}]}')
    installed = quiet(["dpkg", "-i", package])
    check(installed.returncode == 0, "dpkg installs the package" + ("" if installed.returncode == 0 else "\n" + installed.stdout))
    try:
        selftest(args, check, work, display)
        check_run = quiet(["/usr/bin/quillpost", "--self-check"])
        check(check_run.returncode == 0, "the installed program finds all its files: " + check_run.stdout.strip())
    finally:
        removed = quiet(["dpkg", "--purge", "quillpost"])
        check(removed.returncode == 0 and not os.path.exists("/usr/bin/quillpost") and not os.path.exists("/usr/share/quillpost"),
              "removing the package takes its files away")
    check("Keep Me" in text(data), "the user's data is untouched by installing and removing the package")


def release(prefix, top, folder, name, program):
    """A release tarball of the unpacked copy at prefix, its top folder named top, with bin/quillpost
    replaced by `program` (the real one moved to quillpost-real), and its install manifest naming
    version 0.2.0 and the files added."""
    tree = os.path.join(folder, name, top)
    shutil.copytree(prefix, tree, symlinks=True)
    os.rename(os.path.join(tree, "bin", "quillpost"), os.path.join(tree, "bin", "quillpost-real"))
    os.chmod(write(os.path.join(tree, "bin", "quillpost"), program), 0o755)
    lines = text(os.path.join(tree, "share", "quillpost", "install-manifest")).splitlines()
    lines[1] = "version 0.2.0"
    write(os.path.join(tree, "share", "quillpost", "install-manifest"),
          "\n".join(lines + ["bin/quillpost-real", "share/quillpost/RELEASE-0.2.0"]) + "\n")
    write(os.path.join(tree, "share", "quillpost", "RELEASE-0.2.0"), "")
    quiet(["tar", "-czf", tree + ".tar.gz", "-C", os.path.dirname(tree), top], check=True)
    return tree + ".tar.gz"


def update_mode(args, check, work, display):
    tarball = cpack(args.build, "TGZ", os.path.join(work, "packages"))
    apps = os.path.join(work, "apps")
    with tarfile.open(tarball) as archive:
        top = archive.getmembers()[0].name.split("/")[0]
        archive.extractall(apps)
    prefix = os.path.join(apps, "quillpost")
    os.rename(os.path.join(apps, top), prefix)
    # What the installed copy holds: every path, and the program's bytes.
    tree_digest = lambda: quiet(["sh", "-c", "find . | LC_ALL=C sort && sha256sum bin/quillpost"], cwd=prefix).stdout
    lines = text(os.path.join(prefix, "share", "quillpost", "install-manifest")).splitlines()
    check(lines[:1] == ["Quillpost install manifest 1"] and "bin/quillpost" in lines and "share/quillpost/app/index.html" in lines
          and "share/quillpost/pdfcraft/index.html" in lines, "the tarball carries its install manifest (%d lines)" % len(lines))
    version = lines[1].split(" ", 1)[1] if len(lines) > 1 else "?"
    # Without a display: --version answers before anything of the toolkit starts.
    bare = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    answered = quiet([os.path.join(prefix, "bin", "quillpost"), "--version"], env=bare, timeout=30)
    check(answered.returncode == 0 and answered.stdout.strip() == "Quillpost " + version,
          "quillpost --version says \"%s\" without a display" % answered.stdout.strip())

    key, public = ed25519_key(work, "maker")
    stranger, _ = ed25519_key(work, "stranger")
    started_mark = os.path.join(work, "started-0.2.0")
    good = '#!/bin/sh\n[ "$1" = --self-check ] || echo $$ > "%s"\nunset QUILLPOST_UPDATE_TEST\nexec "$0-real" "$@"\n' % started_mark
    server = ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(SimpleHTTPRequestHandler, directory=work))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = "http://127.0.0.1:%d" % server.server_address[1]
    bus = quiet(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"]).stdout.split()
    processes = []

    def run(name, program, signer):
        archive = release(prefix, top, os.path.join(work, "releases"), name, program)
        write(os.path.join(work, "appcast.xml"), (
            '<?xml version="1.0"?><rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">'
            '<channel><title>Quillpost</title><item><title>Quillpost 0.2.0</title><sparkle:version>0.2.0</sparkle:version>'
            '<sparkle:shortVersionString>0.2.0</sparkle:shortVersionString><enclosure url="%s/releases/%s/%s.tar.gz" length="%d" '
            'type="application/gzip" sparkle:edSignature="%s"/></item></channel></rss>'
            % (base, name, top, os.path.getsize(archive), sign(signer, archive))))
        folder = os.path.join(work, name)
        data_dir = os.path.dirname(write(os.path.join(folder, "data", "data.json"), '{"clients":[{"id":"c1","name":"Dana Update"}]}'))
        env = app_environment(data_dir, os.path.join(folder, "state"), display, write(os.path.join(folder, "page.js"), "console.log('up');\n"), {
            "DBUS_SESSION_BUS_ADDRESS": bus[0], "QUILLPOST_UPDATE_TEST": os.path.join(folder, "update.log"),
            "QUILLPOST_FEED_URL": base + "/appcast.xml", "QUILLPOST_TEST_UPDATE_KEY": public, "XDG_DATA_HOME": os.path.join(folder, "xdg")})
        processes.append(subprocess.Popen([os.path.join(prefix, "bin", "quillpost")], env=env, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL, start_new_session=True))
        return processes[-1], env["QUILLPOST_UPDATE_TEST"], data_dir

    try:
        # The updater's unit tests hold each refusal; here a stranger's signature and a release that
        # doesn't start show that the real copy and the folder beside it stay as they were.
        for name, program, signer, said in (("stranger", good, stranger, ("error", "signature")),
                                            ("broken", "#!/bin/sh\nexit 1\n", key, ("rolled back",))):
            before = (tree_digest(), sorted(os.listdir(apps)))
            process, log, _ = run(name, program, signer)
            check(wait_until(lambda: all(t in text(log) for t in said), 60),
                  "%s: the updater refuses, saying %s: %s" % (name, said, text(log).strip().replace("\n", " | ")))
            # A sanitizer build can take a while to unwind; the update checks don't depend on it.
            process.terminate()
            if exit_status(process, 30) is None:
                process.kill()
            check((tree_digest(), sorted(os.listdir(apps))) == before,
                  "%s: the installed copy and the folders beside it are as they were (%s)" % (name, os.listdir(apps)))
        check(not os.path.exists(started_mark), "no refused release started")

        process, log, data_dir = run("good", good, key)
        installed = wait_until(lambda: "installed 0.2.0" in text(log), 60)
        lines = [line.split(" ", 1)[1] for line in text(log).splitlines() if " " in line]
        check(installed and lines[:4] == ["found 0.2.0", "downloaded 0.2.0, installing", "safety copy ok", "installed 0.2.0"],
              "the updater finds, downloads, copies the data and installs, in that order: %s" % lines)
        check(exit_status(process, 30) == 0, "the old version quits by itself after installing")
        check(os.path.exists(os.path.join(prefix, "share", "quillpost", "RELEASE-0.2.0")), "the new version is in the program's folder")
        check(wait_until(lambda: os.path.exists(started_mark), 30), "the new version starts")
        snapshots = os.path.join(data_dir, "snapshots")
        copies = [n for n in os.listdir(snapshots) if n.startswith("before-update-0.1.0-to-0.2.0-")] if os.path.isdir(snapshots) else []
        check(len(copies) == 1 and "Dana Update" in text(os.path.join(snapshots, copies[0])), "the safety copy holds the data (%s)" % copies)
        check(wait_until(lambda: not os.path.exists(os.path.join(apps, ".quillpost-previous")), 60),
              "once the new version has shown its page, the previous one is removed")
    finally:
        signal_all([p.pid for p in processes if p.poll() is None] + bus[1:] + text(started_mark).split(), signal.SIGKILL)
        server.shutdown()


def main():
    args = runner_arguments(None, required=("--mode", "--build"))
    check = Checks()
    with session("quillpost-package-") as (work, display):
        (deb_mode if args.mode == "deb" else update_mode)(args, check, work, display)
    return check.outcome("package")


if __name__ == "__main__":
    sys.exit(main())
