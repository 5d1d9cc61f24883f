#!/usr/bin/env python3
"""Starts the real Quillpost under Xvfb with a temporary data folder, lets a script drive its page,
then checks what the page reported and what landed on disk."""

import argparse
import datetime
import json
import os
import signal
import shutil
import subprocess
import sys
import tempfile

from harness import (DONE_MARK, KEYRING_WRAPPER, AppRun, Checks, check_page_results, check_sanitizers, keyring_environment, read,
                     script_with_checks, start_xvfb, stop_xvfb, wait_until)
from loopback_servers import LoopbackServers, RELAY_KEY

# A local page as a client might send one: it would save over the practice if it got the bridge.
HOSTILE_PAGE = """<!doctype html><meta charset="utf-8"><title>form</title>
<script>
  console.log('E2E-HOSTILE loaded ' + location.href);
  const bridge = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.qp;
  if (bridge)
    bridge.postMessage({ cmd: 'save', args: JSON.stringify([JSON.stringify({ HOSTILE: true })]) })
      .then((r) => console.log('E2E-HOSTILE saved ' + r), (e) => console.log('E2E-HOSTILE refused ' + e.message));
  fetch('file:///etc/hostname').then((r) => r.text()).then((t) => console.log('E2E-HOSTILE read ' + t), () => {});
</script>"""


def read_at_restore(data_dir, backups):
    """data.json, its .bak and the backup copy as the restore left them. The backup copy follows the
    last save after a short delay; later saves and the move to a drive folder would overwrite or
    redirect it, so it is read while the page waits."""
    at_restore = {name: read(os.path.join(data_dir, name)) if os.path.exists(os.path.join(data_dir, name)) else None
                  for name in ("data.json", "data.json.bak")}
    backup = os.path.join(backups, "Quillpost-backup.json")
    snapshots = os.path.join(data_dir, "snapshots")
    safety = lambda: [read(os.path.join(snapshots, n)) for n in os.listdir(snapshots) if n.startswith("before-restore-")]
    wait_until(lambda: os.path.exists(backup) and read(backup) in safety(), 5)
    at_restore["backup"] = read(backup) if os.path.exists(backup) else None
    return at_restore


def check_first_run_on_disk(check, expected, data_dir, at_restore):
    """What the first run saved: the day's snapshot, the restore's effect on data.json, its .bak and
    the backup copy, and the safety copy the restore took."""
    snapshots = os.path.join(data_dir, "snapshots")
    snapshot = os.path.join(snapshots, "data-%s.json" % datetime.date.today().isoformat())
    check(os.path.exists(snapshot) and expected.get("clientName", "\0") in read(snapshot).decode(),
          "the day's snapshot holds the first save of the day")
    check(at_restore.get("data.json") is not None and os.path.exists(snapshot) and at_restore["data.json"] == read(snapshot),
          "after the restore, data.json holds the restored snapshot")
    check(at_restore.get("data.json.bak") is not None and at_restore["data.json.bak"].decode() == expected.get("bak"),
          "data.json.bak holds the document saved before the last save, untouched by the restore")
    check(at_restore.get("backup") is not None and at_restore["backup"].decode() == expected.get("beforeRestore"),
          "the backup folder received the last saved document")
    safety = [n for n in os.listdir(snapshots) if n.startswith("before-restore-")] if os.path.isdir(snapshots) else []
    check(len(safety) == 1 and read(os.path.join(snapshots, safety[0])).decode() == expected.get("beforeRestore"),
          "the safety copy holds the data as it was before the restore")


def check_encrypted_run_on_disk(check, results, data_dir, backup):
    """After the second run encrypted the data and removed the readable copies, no copy it keeps
    holds a client's name: not data.json, not data.json.bak, no snapshot, not the backup copy."""
    names = results.get("encrypted-copies expectations", {}).get("detail", {}).get("names") or ["\0"]
    snapshots = os.path.join(data_dir, "snapshots")
    copies = [os.path.join(data_dir, "data.json"), os.path.join(data_dir, "data.json.bak"), backup]
    copies += [os.path.join(snapshots, n) for n in os.listdir(snapshots)] if os.path.isdir(snapshots) else []
    readable = lambda path: os.path.isfile(path) and any(n.encode() in read(path) for n in names)
    wait_until(lambda: os.path.exists(backup) and not readable(backup), 5)
    check(os.path.exists(backup), "the backup folder keeps a copy, encrypted")
    check(json.loads(read(os.path.join(data_dir, "data.json"))).get("enc") is True, "the second run leaves the data encrypted")
    check(not any(readable(path) for path in copies),
          "no copy in the data folder or the backup folder holds a client's name (%s)" % [p for p in copies if readable(p)])


def main():
    parser = argparse.ArgumentParser()
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--app", help="the program to run")
    group.add_argument("--install-from", help="a build folder to install into a temporary prefix and run from there")
    parser.add_argument("--script", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--timeout", type=float, default=90)
    args = parser.parse_args()

    os.makedirs(args.output, exist_ok=True)
    work = tempfile.mkdtemp(prefix="quillpost-e2e-")
    data_dir = os.path.join(work, "data")
    check = Checks()

    # An installed copy must find its page relative to wherever it was installed.
    if args.install_from:
        prefix = os.path.join(work, "prefix")
        subprocess.run(["cmake", "--install", args.install_from, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
        for expected in ("share/quillpost/app/index.html", "share/applications/org.quillpost.Quillpost.desktop"):
            check(os.path.exists(os.path.join(prefix, expected)), "the installed tree holds " + expected)
        args.app = os.path.join(prefix, "bin", "quillpost")

    # The backup folder is set before the start, as a returning user would have it; the drive
    # folder is one the page connects.
    backups = os.path.join(work, "backups")
    os.makedirs(data_dir)
    os.makedirs(os.path.join(work, "drive"))
    with open(os.path.join(data_dir, "config.json"), "w") as f:
        json.dump({"backupFolder": backups}, f)
    form = os.path.join(work, "form.html")
    with open(form, "w") as f:
        f.write(HOSTILE_PAGE)
    hostname = read("/etc/hostname").decode().strip() if os.path.exists("/etc/hostname") else ""

    # The feed and the relay reach stand-ins on this machine; the page script learns their addresses.
    servers = LoopbackServers(work)
    constants = (servers.base, RELAY_KEY, servers.tls_base, servers.untrusted_base, "file://" + form, hostname or "\0")
    script = script_with_checks(work, "page_test.js", args.script,
                                "const RELAY = %s, RELAY_KEY = %s, TLS_RELAY = %s, UNTRUSTED_RELAY = %s, FORM_URL = %s, HOSTNAME = %s;\n"
                                % tuple(json.dumps(value) for value in constants))

    # A real Secret Service with its keyrings in the test folder, and no system bus (so no fprintd).
    # The Trash the program moves documents to is the one under the same XDG_DATA_HOME.
    environment = dict(servers.environment(), **keyring_environment(work))
    environment["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + os.path.join(work, "no-system-bus")
    xdg_data = environment["XDG_DATA_HOME"]

    xvfb, display = start_xvfb()
    try:
        run = AppRun(args.app, script, data_dir, os.path.join(work, "state"), display, environment, KEYRING_WRAPPER)
        # The page waits after the restore until the runner has read the files and made this folder.
        restored = run.wait_for("E2E-RESTORED ", args.timeout)
        at_restore = read_at_restore(data_dir, backups) if restored is not None else {}
        if restored is not None:
            os.makedirs(os.path.join(json.loads(restored)["docsRoot"], "E2E restore seen"), exist_ok=True)
        done = run.wait_for(DONE_MARK, args.timeout) is not None
        results = run.results
        expected = results.get("disk expectations", {}).get("detail", {})
        if done:
            screenshot = os.path.join(args.output, "main-window.png")
            subprocess.run(["import", "-display", display, "-window", "root", screenshot],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
            check(os.path.exists(screenshot) and os.path.getsize(screenshot) > 10000, "a screenshot of the window is written to " + screenshot)
            check_first_run_on_disk(check, expected, data_dir, at_restore)
            # A web process that dies (here: killed) must not leave a dead window: the page comes
            # back, and its run encrypts what the first run left and removes the readable copies.
            victims = run.web_processes()
            for pid in victims:
                os.kill(pid, signal.SIGKILL)
            reloaded = run.wait_for("E2E-RELOADED ", 30) if victims else None
            check(bool(victims) and reloaded is not None and json.loads(reloaded).get("state") == "ready",
                  "after its web process is killed, the page is reloaded and ready again (%s)" % reloaded)
            encrypted = reloaded is not None and run.wait_for("E2E-ENCRYPTED-DONE", 120) is not None
            check(encrypted, "the reloaded page's run with encryption ran to its end")
            if encrypted:
                drive_backup = os.path.join(work, "drive", "Quillpost", "Backups", "Quillpost-backup.json")
                check_encrypted_run_on_disk(check, run.results, data_dir, drive_backup)
        run.finish(os.path.join(args.output, "app.log"))

        check(done, "the page script ran to its end (no other document ever replaced the page)")
        check_sanitizers(check, run.log)
        check_page_results(check, results, 28)
        hostile = [line for line in run.log if "E2E-HOSTILE" in line]
        check(not hostile, "no hostile document ever ran in the window" + "".join("\n  " + line for line in hostile[:5]))

        # The document trashed from the page is in the Trash, whole, with a note of where it came from.
        trashed = os.path.join(xdg_data, "Trash", "files", expected.get("trashed", "\0"))
        check(os.path.exists(trashed) and read(trashed) == bytes((i * 31 + 7) & 255 for i in range(expected.get("trashedSize", -1))),
              "the document moved to the Trash is in $XDG_DATA_HOME/Trash/files, unchanged")
        check(os.path.exists(os.path.join(xdg_data, "Trash", "info", expected.get("trashed", "\0") + ".trashinfo")),
              "the Trash records where the document came from")
        check(all(os.path.exists(os.path.join(work, "drive", "Quillpost", n)) for n in ("Clients", "Backups")),
              "connecting the drive folder made its Clients and Backups folders")
        check(not any(r["path"].startswith("/api/") and r["headers"].get("Cookie") for r in servers.requests),
              "no cookie ever reaches the practice server")
        keyrings = os.path.join(xdg_data, "keyrings")
        check(os.path.isdir(keyrings) and any(n.endswith(".keyring") for n in os.listdir(keyrings)),
              "the keyring the program wrote to is the test's own, in its folder")
        check(not any("password store refused" in line for line in run.log), "the password store took every item it was given")
    finally:
        servers.close()
        stop_xvfb(xvfb)
        shutil.rmtree(work, ignore_errors=True)

    return check.outcome("end-to-end", args.output)


if __name__ == "__main__":
    sys.exit(main())
