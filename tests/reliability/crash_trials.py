#!/usr/bin/env python3
"""Crash-injection trials: runs the real Quillpost under Xvfb with a page script that saves
self-checking documents in a loop, kills the program with SIGKILL at a random moment, starts it
again on the same data folder, and checks after every kill that no saved data was lost or torn.

Exits 1 when any check fails; the summary names each kind of failure and how often it happened."""

import argparse
import collections
import json
import os
import random
import shutil
import sys
import tempfile
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "e2e"))
from harness import AppRun, page_script, start_xvfb, stop_xvfb  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
LARGE = 1_000_000  # a save of at least this many payload characters counts as large
MAX_DELAY = 2.5  # the longest wait after the first confirmed save before the kill, in seconds


class History:
    """What the page has reported over all runs: the last sequence number it tried to save, the
    last one the program confirmed, and how long a large save took from attempt to confirmation."""

    def __init__(self):
        self.attempted = self.confirmed = self.confirmations = self.attempt_size = 0
        self.attempt_time = 0.0
        self.errors = []
        self.seconds_per_million = None

    def save_duration(self, size):
        return 0.35 if self.seconds_per_million is None else self.seconds_per_million * size / 1e6

    def take(self, line):
        for kind in ("ATTEMPT", "SAVED", "ERROR"):
            mark = "CRASH-%s " % kind
            if mark not in line:
                continue
            value = json.loads(line.split(mark, 1)[1])
            if kind == "ATTEMPT":
                self.attempted, self.attempt_size = value["seq"], value["size"]
                self.attempt_time = time.monotonic()
            elif kind == "SAVED":
                if self.attempt_size >= LARGE and value["seq"] == self.attempted:
                    self.seconds_per_million = (time.monotonic() - self.attempt_time) * 1e6 / self.attempt_size
                self.confirmed = value["seq"]
                self.confirmations += 1
            else:
                self.errors.append(value)
            return kind
        return None


def read_document(path):
    """(sequence, None) for a whole document, or (None, what is wrong with it)."""
    try:
        with open(path, "rb") as f:
            document = json.loads(f.read())
    except FileNotFoundError:
        return None, "missing"
    except (ValueError, UnicodeDecodeError) as error:
        return None, "does not parse (%s)" % error
    trial = document.get("crashTrial") if isinstance(document, dict) else None
    if not isinstance(trial, dict) or not isinstance(trial.get("payload"), str):
        return None, "holds no trial document"
    payload = trial["payload"]
    if len(payload) != trial.get("size"):
        return None, "its payload is %d characters, not %s (seq %s)" % (len(payload), trial.get("size"), trial.get("seq"))
    if "%08x" % zlib.crc32(payload.encode("ascii", "replace")) != trial.get("sum"):
        return None, "its checksum does not match its payload (seq %s)" % trial.get("seq")
    return trial["seq"], None


def temporary_files(folder):
    """Names starting with "." and their modification times."""
    found = {}
    for name in os.listdir(folder) if os.path.isdir(folder) else []:
        try:
            if name.startswith("."):
                found[name] = os.stat(os.path.join(folder, name)).st_mtime
        except FileNotFoundError:
            pass
    return found


def check_files_after_kill(history, folders, launched, report):
    """Whole documents in order, and at most the one write in progress with a temporary file per
    folder; answers what data.json and .bak hold for the trial's line."""
    data_dir, snapshots, backups = folders
    data_seq, data_problem = read_document(os.path.join(data_dir, "data.json"))
    bak_seq, bak_problem = read_document(os.path.join(data_dir, "data.json.bak"))
    if history.confirmations >= 1 and data_problem:
        report("data.json damaged", "data.json %s (data.json.bak: %s)" % (data_problem, bak_problem or "whole"))
    if history.confirmations >= 2 and bak_problem:
        report("data.json.bak damaged", "data.json.bak " + bak_problem)
    if data_seq is not None and not history.confirmed <= data_seq <= history.attempted:
        report("data.json out of order", "data.json holds %d; confirmed %d, attempted %d" % (data_seq, history.confirmed, history.attempted))
    if data_seq is not None and bak_seq is not None and not max(history.confirmed - 1, 0) <= bak_seq <= data_seq:
        report("data.json.bak out of order", "data.json.bak holds %d, data.json %d, confirmed %d" % (bak_seq, data_seq, history.confirmed))
    copies = [os.path.join(snapshots, n) for n in sorted(os.listdir(snapshots)) if n.startswith("data-")] if os.path.isdir(snapshots) else []
    backup = os.path.join(backups, "Quillpost-backup.json")
    for path in copies + ([backup] if os.path.exists(backup) else []):
        problem = read_document(path)[1]
        if problem:
            report("backup copy damaged" if path.startswith(backups) else "snapshot damaged", os.path.basename(path) + " " + problem)
    for folder in folders:
        fresh = [n for n, mtime in temporary_files(folder).items() if mtime >= launched]
        if len(fresh) > 1:
            report("several temporary files at the kill", "%s: %s" % (folder, ", ".join(sorted(fresh))))
    return data_seq if data_seq is not None else data_problem, bak_seq if bak_seq is not None else bak_problem


def run_until_kill(run, history, chooser, during_large):
    """Reads the page's reports and kills the program at a random moment after the first confirmed
    save, or during a large save; answers whether the program ended before the kill."""
    kill_at = None
    give_up = time.monotonic() + 30
    while time.monotonic() < min(kill_at or give_up, give_up):
        line = run.next_line(min(kill_at or give_up, give_up))
        if line is None and run.ended:
            break
        kind = history.take(line) if line is not None else None
        if kill_at is not None:
            continue
        if during_large and kind == "ATTEMPT" and history.attempt_size >= LARGE:
            # The program's own work (the .bak copy, the write) is the later part of a save;
            # the page's encoding of the document comes first.
            kill_at = time.monotonic() + chooser.uniform(0.3, 1.05) * history.save_duration(history.attempt_size)
        elif not during_large and kind == "SAVED":
            kill_at = time.monotonic() + chooser.uniform(0.0, MAX_DELAY)
    ended_early = run.ended
    run.kill()
    # Lines the page wrote before the kill still count.
    drained = len(run.log)
    run.drain()
    for line in run.log[drained:]:
        history.take(line)
    return ended_early


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--app", required=True, help="the program to run")
    parser.add_argument("--trials", type=int, default=30)
    parser.add_argument("--output", required=True, help="a folder for the logs of failed trials")
    parser.add_argument("--seed", type=int, help="makes the kill moments repeatable")
    args = parser.parse_args()

    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    chooser = random.Random(seed)
    os.makedirs(args.output, exist_ok=True)
    work = tempfile.mkdtemp(prefix="quillpost-crash-")
    data_dir, backups = os.path.join(work, "data"), os.path.join(work, "backups")
    folders = (data_dir, os.path.join(data_dir, "snapshots"), backups)
    os.makedirs(data_dir)
    with open(os.path.join(data_dir, "config.json"), "w") as f:
        json.dump({"backupFolder": backups}, f)
    script = page_script(work, "saver.js", {"largeMin": LARGE, "largeMax": 5_000_000, "pauseChance": 0.08}, os.path.join(HERE, "saver.js"))
    history = History()
    violations = collections.Counter()
    examples = {}
    kills = collections.Counter()
    started = time.monotonic()

    print("crash trials: %d, seed %d, data folder %s" % (args.trials, seed, data_dir), flush=True)
    xvfb, display = start_xvfb()
    try:
        for trial in range(1, args.trials + 1):
            launched = time.time()
            run = AppRun(args.app, script, data_dir, os.path.join(work, "state"), display)

            def violation(kind, detail):
                violations[kind] += 1
                print("trial %d: FAIL %s: %s" % (trial, kind, detail), flush=True)
                examples.setdefault(kind, "trial %d: %s" % (trial, detail))
                with open(os.path.join(args.output, "trial-%04d.log" % trial), "w") as f:
                    f.write("\n".join(run.log))

            # What the previous run left must come back whole, and be one of its last saves.
            loaded = run.wait_for("CRASH-LOADED ", 60)
            if loaded is None:
                run.kill()
                violation("no start", "the page did not report what load() returned within 60 s: %s" % run.log[-1:])
                continue
            loaded = json.loads(loaded)
            if history.confirmed and (loaded["seq"] is None or not loaded["whole"]):
                violation("data lost", "load() returned %s after %d was confirmed" % (loaded, history.confirmed))
            elif history.confirmed and not history.confirmed <= loaded["seq"] <= history.attempted:
                violation("load returned an older document",
                          "load() returned %d; confirmed %d, attempted %d" % (loaded["seq"], history.confirmed, history.attempted))
            # From here on the page counts from what it loaded.
            history.confirmed = history.attempted = loaded["seq"] or 0

            # Temporary files left by earlier runs must be gone once the program has started.
            for folder in folders[:2]:
                stale = [n for n, mtime in temporary_files(folder).items() if mtime < launched]
                if stale:
                    violation("stale temporary files", "%d in %s after the start: %s" % (len(stale), folder, ", ".join(sorted(stale)[:5])))

            during_large = chooser.random() < 0.3
            kills["during a large save" if during_large else "after a confirmed save"] += 1
            if run_until_kill(run, history, chooser, during_large):
                violation("program ended", "the program ended on its own before the kill")
            for entry in history.errors:
                violation("save failed", entry)
            history.errors.clear()

            data, bak = check_files_after_kill(history, folders, launched, violation)
            print("trial %d: loaded %s, confirmed %d, attempted %d, on disk data %s bak %s, temporary files %d, %.0f s"
                  % (trial, loaded["seq"], history.confirmed, history.attempted, data, bak,
                     len(temporary_files(folders[0])) + len(temporary_files(folders[1])), time.monotonic() - started), flush=True)
    finally:
        stop_xvfb(xvfb)
        shutil.rmtree(work, ignore_errors=True)

    print("\nsummary: %d trials (%s), %d saves confirmed, seed %d, %.0f s" % (
        args.trials, ", ".join("%d %s" % (n, k) for k, n in kills.items()), history.confirmed, seed, time.monotonic() - started))
    for kind, count in violations.most_common():
        print("FAIL %s: %d trial(s), e.g. %s" % (kind, count, examples[kind]))
    print("logs of the failed trials are in " + args.output if violations else "no violations")
    return 1 if violations else 0


if __name__ == "__main__":
    sys.exit(main())
