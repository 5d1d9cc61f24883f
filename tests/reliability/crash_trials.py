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


class History:
    """What the page has reported over all runs: the last sequence number it tried to save and
    the last one the program confirmed."""

    def __init__(self):
        self.attempted = 0
        self.confirmed = 0
        self.confirmations = 0
        self.large_attempt = False
        self.errors = []
        self.attempt_size = 0
        self.attempt_time = 0.0
        # Seconds per million payload characters from attempt to confirmation, as last measured.
        self.seconds_per_million = None

    def save_duration(self, size):
        """How long a save of this size is expected to take, from its attempt to its confirmation."""
        return 0.35 if self.seconds_per_million is None else self.seconds_per_million * size / 1e6

    def take(self, line):
        for kind in ("ATTEMPT", "SAVED", "ERROR", "LOADED"):
            mark = "CRASH-%s " % kind
            if mark in line:
                value = json.loads(line.split(mark, 1)[1])
                if kind == "ATTEMPT":
                    self.attempted = value["seq"]
                    self.large_attempt = value["size"] >= LARGE
                    self.attempt_size = value["size"]
                    self.attempt_time = time.monotonic()
                elif kind == "SAVED":
                    self.confirmed = value["seq"]
                    self.confirmations += 1
                    if self.large_attempt and value["seq"] == self.attempted:
                        self.seconds_per_million = (time.monotonic() - self.attempt_time) * 1e6 / self.attempt_size
                elif kind == "ERROR":
                    self.errors.append(value)
                return kind, value
        return None, None


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
    try:
        names = [n for n in os.listdir(folder) if n.startswith(".")]
    except FileNotFoundError:
        return {}
    found = {}
    for name in names:
        try:
            found[name] = os.stat(os.path.join(folder, name)).st_mtime
        except FileNotFoundError:
            pass
    return found


def check_files_after_kill(history, folders, launched, report):
    """What is on disk after the kill: whole documents, in order, and no pile of temporary files.
    Calls report(kind, detail) for each problem; answers the sequences in data.json and .bak and
    whether the saved data is lost (both damaged)."""
    data_dir, snapshots, backups = folders
    lost = False
    data_seq, data_problem = read_document(os.path.join(data_dir, "data.json"))
    bak_seq, bak_problem = read_document(os.path.join(data_dir, "data.json.bak"))
    if history.confirmations >= 1 and data_problem:
        report("data.json damaged", "data.json " + data_problem)
        lost = bak_problem is not None
    if history.confirmations >= 2 and bak_problem:
        report("data.json.bak damaged", "data.json.bak " + bak_problem)
    if data_seq is not None and not history.confirmed <= data_seq <= history.attempted:
        report("data.json out of order", "data.json holds %d; confirmed %d, attempted %d" % (data_seq, history.confirmed, history.attempted))
    if data_seq is not None and bak_seq is not None and not max(history.confirmed - 1, 0) <= bak_seq <= data_seq:
        report("data.json.bak out of order", "data.json.bak holds %d, data.json %d, confirmed %d" % (bak_seq, data_seq, history.confirmed))
    for name in sorted(os.listdir(snapshots)) if os.path.isdir(snapshots) else []:
        if name.startswith("data-"):
            _, problem = read_document(os.path.join(snapshots, name))
            if problem:
                report("snapshot damaged", name + " " + problem)
    backup = os.path.join(backups, "Quillpost-backup.json")
    if os.path.exists(backup):
        _, problem = read_document(backup)
        if problem:
            report("backup copy damaged", problem)
    # At the moment of the kill, at most the one write in progress has a temporary file per folder.
    for folder in (data_dir, snapshots, backups):
        fresh = [n for n, mtime in temporary_files(folder).items() if mtime >= launched]
        if len(fresh) > 1:
            report("several temporary files at the kill", "%s: %s" % (folder, ", ".join(sorted(fresh))))
    return data_seq, data_problem, bak_seq, bak_problem, lost


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--app", required=True, help="the program to run")
    parser.add_argument("--trials", type=int, default=30)
    parser.add_argument("--output", required=True, help="a folder for the logs of failed trials")
    parser.add_argument("--seed", type=int, help="makes the kill moments repeatable")
    parser.add_argument("--max-delay", type=float, default=2.5, help="longest wait after the first confirmed save before the kill, in seconds")
    parser.add_argument("--large-max", type=int, default=5_000_000, help="largest payload, in characters")
    parser.add_argument("--keep", action="store_true", help="keep the data folder")
    args = parser.parse_args()

    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    chooser = random.Random(seed)
    os.makedirs(args.output, exist_ok=True)
    work = tempfile.mkdtemp(prefix="quillpost-crash-")
    data_dir = os.path.join(work, "data")
    snapshots = os.path.join(data_dir, "snapshots")
    backups = os.path.join(work, "backups")
    state_dir = os.path.join(work, "state")
    os.makedirs(data_dir)
    with open(os.path.join(data_dir, "config.json"), "w") as f:
        json.dump({"backupFolder": backups}, f)
    script = page_script(work, "saver.js", {"largeMin": LARGE, "largeMax": args.large_max, "pauseChance": 0.08},
                         os.path.join(HERE, "saver.js"))

    history = History()
    violations = collections.Counter()
    examples = {}
    lost = 0
    kills = collections.Counter()
    started = time.monotonic()

    def violation(trial, kind, detail, run):
        violations[kind] += 1
        print("trial %d: FAIL %s: %s" % (trial, kind, detail), flush=True)
        examples.setdefault(kind, "trial %d: %s" % (trial, detail))
        with open(os.path.join(args.output, "trial-%04d.log" % trial), "w") as f:
            f.write("\n".join(run.log))

    print("crash trials: %d, seed %d, data folder %s" % (args.trials, seed, data_dir), flush=True)
    xvfb, display = start_xvfb()
    try:
        for trial in range(1, args.trials + 1):
            launched = time.time()
            run = AppRun(args.app, script, data_dir, state_dir, display)

            # What the previous run left must come back whole, and be one of its last saves.
            loaded = None
            deadline = time.monotonic() + 60
            while loaded is None:
                line = run.next_line(deadline)
                if line is None:
                    break
                kind, value = history.take(line)
                if kind == "LOADED":
                    loaded = value
            if loaded is None:
                run.kill()
                violation(trial, "no start", "the page did not report what load() returned within 60 s", run)
                continue
            if history.confirmed:
                if loaded["seq"] is None or not loaded["whole"]:
                    lost += 1
                    violation(trial, "data lost", "load() returned %s after %d was confirmed" % (loaded, history.confirmed), run)
                elif not history.confirmed <= loaded["seq"] <= history.attempted:
                    lost += loaded["seq"] < history.confirmed
                    violation(trial, "load returned an older document",
                              "load() returned %d; confirmed %d, attempted %d" % (loaded["seq"], history.confirmed, history.attempted), run)

            # From here on the page counts from what it loaded.
            history.confirmed = history.attempted = loaded["seq"] or 0

            # Temporary files left by earlier runs must be gone once the program has started.
            for folder in (data_dir, snapshots):
                stale = [n for n, mtime in temporary_files(folder).items() if mtime < launched]
                if stale:
                    violation(trial, "stale temporary files", "%d in %s after the start: %s" % (len(stale), folder, ", ".join(sorted(stale)[:5])), run)

            # The kill: a random moment after the first confirmed save, or during a large save.
            during_large = chooser.random() < 0.3
            kills["during a large save" if during_large else "after a confirmed save"] += 1
            seen_confirmation = False
            kill_at = None
            give_up = time.monotonic() + 30
            while True:
                now = time.monotonic()
                if kill_at is not None and now >= kill_at or now >= give_up:
                    break
                line = run.next_line(min(kill_at or give_up, give_up))
                if line is None:
                    if run.ended:
                        break
                    continue
                kind, _ = history.take(line)
                if kill_at is not None:
                    continue
                if during_large and kind == "ATTEMPT" and history.large_attempt:
                    # The program's own work (the .bak copy, the write) is the later part of a save;
                    # the page's encoding of the document comes first.
                    kill_at = time.monotonic() + chooser.uniform(0.3, 1.05) * history.save_duration(history.attempt_size)
                elif not during_large and kind == "SAVED" and not seen_confirmation:
                    seen_confirmation = True
                    kill_at = time.monotonic() + chooser.uniform(0.0, args.max_delay)
            ended_early = run.ended
            run.kill()
            # Lines the page wrote before the kill still count.
            drained = len(run.log)
            run.drain()
            for line in run.log[drained:]:
                history.take(line)
            for entry in history.errors:
                violation(trial, "save failed", entry, run)
            history.errors.clear()
            if ended_early:
                violation(trial, "program ended", "the program ended on its own before the kill", run)

            # What is on disk after the kill.
            data_seq, data_problem, bak_seq, bak_problem, lost_now = check_files_after_kill(
                history, (data_dir, snapshots, backups), launched, lambda kind, detail: violation(trial, kind, detail, run))
            lost += lost_now
            print("trial %d: loaded %s, confirmed %d, attempted %d, on disk data %s bak %s, temporary files %d, %.0f s"
                  % (trial, loaded["seq"], history.confirmed, history.attempted, data_seq if data_seq is not None else data_problem,
                     bak_seq if bak_seq is not None else bak_problem,
                     len(temporary_files(data_dir)) + len(temporary_files(snapshots)), time.monotonic() - started), flush=True)
    finally:
        stop_xvfb(xvfb)
        if args.keep:
            print("data folder kept in " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)

    print("\nsummary: %d trials (%s), %d saves confirmed, seed %d, %.0f s" % (
        args.trials, ", ".join("%d %s" % (n, k) for k, n in kills.items()), history.confirmed, seed, time.monotonic() - started))
    print("data lost: %d" % lost)
    if not violations:
        print("no violations")
        return 0
    for kind, count in violations.most_common():
        print("FAIL %s: %d trial(s), e.g. %s" % (kind, count, examples[kind]))
    print("logs of the failed trials are in " + args.output)
    return 1


if __name__ == "__main__":
    sys.exit(main())
