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

from harness import DONE_MARK, SANITIZER_MARKS, AppRun, Checks, check_page_results, read, script_with_checks, start_xvfb, stop_xvfb, wait_until
from loopback_servers import LoopbackServers, RELAY_KEY

RELOADED_MARK = "E2E-RELOADED "
ENCRYPTED_MARK = "E2E-ENCRYPTED-DONE"
RESTORED_MARK = "E2E-RESTORED "


def check_first_run_on_disk(check, results, data_dir, at_restore):
    """What the first run saved must be on disk: the data file, its .bak copy, the day's snapshot,
    and the safety copy the restore took. at_restore: data.json, its .bak and the backup
    copy as the restore left them, before the page went on (remembering a client's documents folder
    saves again)."""
    expected = results.get("disk expectations", {}).get("detail", {})
    data_file = os.path.join(data_dir, "data.json")
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

    # The backup folder is set before the start, as a returning user would have it.
    backups = os.path.join(work, "backups")
    os.makedirs(data_dir)
    with open(os.path.join(data_dir, "config.json"), "w") as f:
        json.dump({"backupFolder": backups}, f)

    # The Trash the program moves documents to is the one under XDG_DATA_HOME, here a temporary one;
    # the drive folder is one the page connects and disconnects.
    xdg_data = os.path.join(work, "xdg-data")
    os.makedirs(os.path.join(work, "drive"))

    # The feed and the relay reach stand-ins on this machine; the page script learns their addresses.
    servers = LoopbackServers(work)
    script = script_with_checks(work, "page_test.js", args.script,
        "const RELAY = %s, RELAY_KEY = %s, TLS_RELAY = %s, UNTRUSTED_RELAY = %s;\n" % tuple(
            json.dumps(value) for value in (servers.base, RELAY_KEY, servers.tls_base, servers.untrusted_base)))

    # A real Secret Service with its keyrings in the test folder, and no system bus (so no fprintd).
    keyring_home = xdg_data
    runtime_dir = os.path.join(work, "runtime")
    os.makedirs(keyring_home)
    os.makedirs(runtime_dir, mode=0o700)
    environment = dict(servers.environment())
    environment.update({"XDG_DATA_HOME": keyring_home, "XDG_RUNTIME_DIR": runtime_dir,
                        "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=" + os.path.join(work, "no-system-bus")})
    wrapper = os.path.join(os.path.dirname(os.path.abspath(__file__)), "with_keyring.sh")

    xvfb, display = start_xvfb()
    try:
        run = AppRun(args.app, script, data_dir, os.path.join(work, "state"), display, environment, wrapper)
        # The page waits after the restore until the runner has read the files and made this folder.
        at_restore = {}
        restored = run.wait_for(RESTORED_MARK, args.timeout)
        if restored is not None:
            for name in ("data.json", "data.json.bak"):
                path = os.path.join(data_dir, name)
                at_restore[name] = read(path) if os.path.exists(path) else None
            # The backup copy follows the last save after a short delay; later saves and the move
            # to a drive folder would overwrite or redirect it, so it is read while the page waits.
            backup = os.path.join(backups, "Quillpost-backup.json")
            snapshots = os.path.join(data_dir, "snapshots")
            safety = lambda: [read(os.path.join(snapshots, n)) for n in os.listdir(snapshots) if n.startswith("before-restore-")]
            wait_until(lambda: os.path.exists(backup) and read(backup) in safety(), 5)
            at_restore["backup"] = read(backup) if os.path.exists(backup) else None
            os.makedirs(os.path.join(json.loads(restored)["docsRoot"], "E2E restore seen"), exist_ok=True)
        done = run.wait_for(DONE_MARK, args.timeout) is not None
        results = run.results
        if done:
            screenshot = os.path.join(args.output, "main-window.png")
            subprocess.run(["import", "-display", display, "-window", "root", screenshot],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
            check(os.path.exists(screenshot) and os.path.getsize(screenshot) > 10000, "a screenshot of the window is written to " + screenshot)
            check_first_run_on_disk(check, results, data_dir, at_restore)
            # A web process that dies (here: killed) must not leave a dead window: the page comes
            # back, and its run encrypts what the first run left and removes the readable copies.
            victims = run.web_processes()
            for pid in victims:
                os.kill(pid, signal.SIGKILL)
            reloaded = run.wait_for(RELOADED_MARK, 30) if victims else None
            check(bool(victims) and reloaded is not None and json.loads(reloaded).get("state") == "ready",
                  "after its web process is killed, the page is reloaded and ready again (%s)" % reloaded)
            encrypted = reloaded is not None and run.wait_for(ENCRYPTED_MARK, 120) is not None
            check(encrypted, "the reloaded page's run with encryption ran to its end")
            if encrypted:
                drive_backup = os.path.join(work, "drive", "Quillpost", "Backups", "Quillpost-backup.json")
                check_encrypted_run_on_disk(check, run.results, data_dir, drive_backup)
        run.finish(os.path.join(args.output, "app.log"))

        check(done, "the page script ran to its end")
        # In the sanitizer build a finding stops the program; one after the page's last check
        # would otherwise pass unseen.
        findings = [line for line in run.log if any(mark in line for mark in SANITIZER_MARKS)]
        check(not findings, "the program reported no memory error, leak or undefined behaviour" + "".join("\n  " + f for f in findings[:5]))
        check_page_results(check, results, 10)

        expected = results.get("disk expectations", {}).get("detail", {})
        # The document trashed from the page is in the Trash, whole, with a note of where it came from.
        trashed = os.path.join(xdg_data, "Trash", "files", expected.get("trashed", "\0"))
        check(os.path.exists(trashed) and read(trashed) == bytes((i * 31 + 7) & 255 for i in range(expected.get("trashedSize", -1))),
              "the document moved to the Trash is in $XDG_DATA_HOME/Trash/files, unchanged")
        check(os.path.exists(os.path.join(xdg_data, "Trash", "info", expected.get("trashed", "\0") + ".trashinfo")),
              "the Trash records where the document came from")
        check(os.path.exists(os.path.join(work, "drive", "Quillpost", "Clients")) and os.path.exists(os.path.join(work, "drive", "Quillpost", "Backups")),
              "connecting the drive folder made its Clients and Backups folders")
        check(not any(r["path"].startswith("/api/") and r["headers"].get("Cookie") for r in servers.requests),
              "no cookie ever reaches the practice server")
        keyrings = os.path.join(keyring_home, "keyrings")
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
