#!/usr/bin/env python3
"""Starts the real Quillpost under Xvfb with a temporary data folder, lets a script drive its page,
then checks what the page reported and what landed on disk."""

import argparse
import datetime
import json
import os
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

RESULT_PREFIX = "E2E-RESULT "
DONE_MARK = "E2E-DONE"
SANITIZER_MARKS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:")


def start_xvfb():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
        pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as display_pipe:
        display = display_pipe.readline().strip()
    if not display:
        raise RuntimeError("Xvfb did not start")
    return xvfb, ":" + display


def run_app(app, script, data_dir, state_dir, display, timeout, extra_env=None):
    env = dict(os.environ)
    env.update({
        "DISPLAY": display,
        "QUILLPOST_DATA_DIR": data_dir,
        "QUILLPOST_SELFTEST": "1",
        "QUILLPOST_TEST_SCRIPT": script,
        "XDG_STATE_HOME": state_dir,
        "GDK_BACKEND": "x11",
        "GSK_RENDERER": "cairo",
        "LIBGL_ALWAYS_SOFTWARE": "1",
        "NO_AT_BRIDGE": "1",
    })
    env.pop("WAYLAND_DISPLAY", None)
    env.update(extra_env or {})
    process = subprocess.Popen(["dbus-run-session", "--", app], env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True, errors="replace", start_new_session=True)
    lines = queue.Queue()

    def pump():
        for line in process.stdout:
            lines.put(line.rstrip("\n"))
        lines.put(None)

    threading.Thread(target=pump, daemon=True).start()
    results, log = {}, []
    deadline = time.monotonic() + timeout
    done = False
    while not done:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            break
        try:
            line = lines.get(timeout=remaining)
        except queue.Empty:
            break
        if line is None:
            break
        log.append(line)
        if RESULT_PREFIX in line:
            entry = json.loads(line.split(RESULT_PREFIX, 1)[1])
            results[entry["name"]] = entry
        elif DONE_MARK in line:
            done = True
    return process, results, log, done


def stop(process):
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()


def read(path):
    with open(path, "rb") as f:
        return f.read()


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
    failures = []

    def check(condition, what):
        print(("ok   " if condition else "FAIL ") + what)
        if not condition:
            failures.append(what)

    # An installed copy must find its page relative to wherever it was installed.
    if args.install_from:
        prefix = os.path.join(work, "prefix")
        subprocess.run(["cmake", "--install", args.install_from, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
        for expected in ("share/quillpost/app/index.html", "share/applications/quillpost.desktop"):
            check(os.path.exists(os.path.join(prefix, expected)), "the installed tree holds " + expected)
        args.app = os.path.join(prefix, "bin", "quillpost")

    # The backup folder is set before the start, as a returning user would have it.
    backups = os.path.join(work, "backups")
    os.makedirs(data_dir)
    with open(os.path.join(data_dir, "config.json"), "w") as f:
        json.dump({"backupFolder": backups}, f)

    xvfb, display = start_xvfb()
    try:
        process, results, log, done = run_app(args.app, args.script, data_dir, os.path.join(work, "state"), display, args.timeout)
        backup = os.path.join(backups, "Quillpost-backup.json")
        deadline = time.monotonic() + 5
        while done and not os.path.exists(backup) and time.monotonic() < deadline:
            time.sleep(0.1)
        if done:
            screenshot = os.path.join(args.output, "main-window.png")
            subprocess.run(["import", "-display", display, "-window", "root", screenshot],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
            check(os.path.getsize(screenshot) > 10000 if os.path.exists(screenshot) else False,
                  "a screenshot of the window is written to " + screenshot)
        stop(process)
        with open(os.path.join(args.output, "app.log"), "w") as f:
            f.write("\n".join(log))

        check(done, "the page script ran to its end")
        # In the sanitizer build a finding stops the program; one after the page's last check
        # would otherwise pass unseen.
        findings = [line for line in log if any(mark in line for mark in SANITIZER_MARKS)]
        check(not findings, "the program reported no memory error, leak or undefined behaviour" + "".join("\n  " + f for f in findings[:5]))
        for name, entry in sorted(results.items()):
            check(entry.get("ok") is True, "page: " + name + ("" if entry.get("ok") else " -- " + str(entry.get("detail"))))
        check(len(results) >= 10, "the page reported its checks (%d)" % len(results))

        # What the page saved must be on disk: the data file, its .bak copy, the day's snapshot,
        # and the safety copy the restore took.
        expected = results.get("disk expectations", {}).get("detail", {})
        data_file = os.path.join(data_dir, "data.json")
        snapshots = os.path.join(data_dir, "snapshots")
        snapshot = os.path.join(snapshots, "data-%s.json" % datetime.date.today().isoformat())
        check(os.path.exists(snapshot) and expected.get("clientName", "\0") in read(snapshot).decode(),
              "the day's snapshot holds the first save of the day")
        check(os.path.exists(data_file) and os.path.exists(snapshot) and read(data_file) == read(snapshot),
              "after the restore, data.json holds the restored snapshot")
        check(os.path.exists(data_file + ".bak") and read(data_file + ".bak").decode() == expected.get("bak"),
              "data.json.bak holds the document saved before the last save, untouched by the refused save and the restore")
        check(os.path.exists(backup) and read(backup).decode() == expected.get("beforeRestore"),
              "the backup folder received the last saved document")
        safety = [n for n in os.listdir(snapshots) if n.startswith("before-restore-")] if os.path.isdir(snapshots) else []
        check(len(safety) == 1 and read(os.path.join(snapshots, safety[0])).decode() == expected.get("beforeRestore"),
              "the safety copy holds the data as it was before the restore")
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)

    if failures:
        print("\n%d end-to-end checks failed; the application's output is in %s" % (len(failures), args.output))
        return 1
    print("\nall end-to-end checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
