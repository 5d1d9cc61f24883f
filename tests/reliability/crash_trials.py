#!/usr/bin/env python3
"""Crash-injection trials: runs the real Quillpost under Xvfb with a page script that saves
self-checking documents in a loop (saver.js), kills the program with SIGKILL at a random moment,
starts it again on the same data folder, and checks after every kill that no saved data was lost or
torn. Exits 1 when any check fails."""

import json
import os
import random
import re
import sys
import time

from reliability import HERE, AppRun, Checks, arguments, session, page_script, write

LARGE = 1_000_000  # a save of at least this many payload characters counts as large
MAX_DELAY = 2.5  # the longest wait after the first confirmed save before the kill, in seconds


def payload(seq, size):
    """What saver.js saves as document seq's payload of that size."""
    blocks = (("[%d:%d]" % (seq, at)).ljust(1000, chr(97 + (seq + at // 1000) % 26)) for at in range(0, size, 1000))
    return "".join(blocks)[:size]


class History:
    """What the page has reported over all runs: the last sequence number it tried to save, the
    last one the program confirmed, and how long a large save took from attempt to confirmation."""

    def __init__(self):
        self.attempted = self.confirmed = self.confirmations = self.size = 0
        self.since = 0.0
        self.errors = []
        self.seconds_per_million = None

    def save_duration(self):
        return 0.35 if self.seconds_per_million is None else self.seconds_per_million * self.size / 1e6

    def take(self, line):
        """Notes what a line of the program's output reports; answers the kind of report."""
        found = re.search(r"CRASH-(ATTEMPT|SAVED|ERROR) (.*)", line or "")
        if not found:
            return None
        kind, value = found.group(1), json.loads(found.group(2))
        if kind == "ATTEMPT":
            self.attempted, self.size, self.since = value["seq"], value["size"], time.monotonic()
        elif kind == "SAVED":
            if self.size >= LARGE and value["seq"] == self.attempted:
                self.seconds_per_million = (time.monotonic() - self.since) * 1e6 / self.size
            self.confirmed = value["seq"]
            self.confirmations += 1
        else:
            self.errors.append(value)
        return kind


def read_document(path):
    """(sequence, None) for a whole document, or (None, what is wrong with it)."""
    try:
        with open(path, "rb") as f:
            trial = json.loads(f.read()).get("crashTrial")
    except FileNotFoundError:
        return None, "missing"
    except (ValueError, UnicodeDecodeError, AttributeError) as error:
        return None, "does not parse (%s)" % error
    seq, size = (trial.get("seq"), trial.get("size")) if isinstance(trial, dict) else (None, None)
    if not isinstance(seq, int) or not isinstance(size, int) or trial.get("payload") != payload(seq, size):
        return None, "holds no whole trial document (seq %s)" % seq
    return seq, None


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


def check_files_after_kill(check, history, folders, launched):
    """Whole documents in order, and at most the one write in progress with a temporary file per folder."""
    data_dir, snapshots, backups = folders
    data_seq, data_problem = read_document(os.path.join(data_dir, "data.json"))
    bak_seq, bak_problem = read_document(os.path.join(data_dir, "data.json.bak"))
    confirmed, attempted = history.confirmed, history.attempted
    check(history.confirmations < 1 or not data_problem, "data.json is whole after a confirmed save: %s" % data_problem)
    check(history.confirmations < 2 or not bak_problem, "data.json.bak is whole after two: %s" % bak_problem)
    check(data_seq is None or confirmed <= data_seq <= attempted,
          "data.json holds %s, between the confirmed %d and the attempted %d" % (data_seq, confirmed, attempted))
    check(data_seq is None or bak_seq is None or max(confirmed - 1, 0) <= bak_seq <= data_seq,
          "data.json.bak holds %s, between the confirmed %d less one and data.json" % (bak_seq, confirmed))
    copies = [os.path.join(snapshots, n) for n in os.listdir(snapshots) if n.startswith("data-")] if os.path.isdir(snapshots) else []
    backup = os.path.join(backups, "Quillpost-backup.json")
    for path in copies + ([backup] if os.path.exists(backup) else []):
        problem = read_document(path)[1]
        check(problem is None, "%s is whole: %s" % (os.path.basename(path), problem))
    # One save writes the new data.json beside it and then links the old one into place as
    # data.json.bak, so a kill between the two steps leaves a temporary file for each; never two
    # for one file.
    for folder in folders:
        fresh = sorted(n for n, mtime in temporary_files(folder).items() if mtime >= launched)
        targets = [n[1:].rsplit(".", 1)[0] for n in fresh]
        check(len(targets) == len(set(targets)), "at most the one write in progress left a temporary file for each file in %s: %s" % (folder, fresh))


def run_until_kill(run, history, chooser, during_large):
    """Reads the page's reports and kills the program at a random moment after the first confirmed
    save, or during a large save; answers whether the program ended before the kill."""
    kill_at = None
    give_up = time.monotonic() + 30
    while time.monotonic() < min(kill_at or give_up, give_up):
        line = run.next_line(min(kill_at or give_up, give_up))
        if line is None and run.ended:
            break
        kind = history.take(line)
        if kill_at is None and during_large and kind == "ATTEMPT" and history.size >= LARGE:
            # The program's own work (the .bak copy, the write) is the later part of a save; the
            # page's encoding of the document comes first.
            kill_at = time.monotonic() + chooser.uniform(0.3, 1.05) * history.save_duration()
        elif kill_at is None and not during_large and kind == "SAVED":
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
    args = arguments(__doc__, trials=dict(type=int, default=30), seed=dict(type=int, help="makes the kill moments repeatable"))
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    chooser, history, check = random.Random(seed), History(), Checks()
    print("crash trials: %d, seed %d" % (args.trials, seed), flush=True)
    with session("quillpost-crash-") as (work, display):
        data_dir, backups = os.path.join(work, "data"), os.path.join(work, "backups")
        folders = (data_dir, os.path.join(data_dir, "snapshots"), backups)
        write(os.path.join(data_dir, "config.json"), json.dumps({"backupFolder": backups}))
        settings = {"largeMin": LARGE, "largeMax": 5_000_000, "pauseChance": 0.08}
        script = page_script(work, "saver.js", settings, os.path.join(HERE, "saver.js"))
        for trial in range(1, args.trials + 1):
            launched = time.time()
            run = AppRun(args.app, script, data_dir, os.path.join(work, "state"), display)
            # What the previous run left must come back whole, and be one of its last saves.
            loaded = json.loads(run.wait_for("CRASH-LOADED ", 60) or "null")
            if not check(loaded is not None, "trial %d: the page reports what load() returned: %s" % (trial, run.log[-1:])):
                run.kill()
                continue
            check(not history.confirmed or loaded["seq"] is not None and loaded["whole"]
                  and history.confirmed <= loaded["seq"] <= history.attempted,
                  "trial %d: load() returns a whole document between the confirmed %d and the attempted %d: %s"
                  % (trial, history.confirmed, history.attempted, loaded))
            # From here on the page counts from what it loaded.
            history.confirmed = history.attempted = loaded["seq"] or 0
            for folder in folders[:2]:
                stale = sorted(n for n, mtime in temporary_files(folder).items() if mtime < launched)
                check(not stale, "trial %d: no temporary file of earlier runs is left in %s: %s" % (trial, folder, stale[:5]))

            during_large = chooser.random() < 0.3
            ended = run_until_kill(run, history, chooser, during_large)
            check(not ended, "trial %d: the program runs until it is killed %s" % (trial, "during a large save" if during_large else ""))
            check(not history.errors, "trial %d: every save succeeds: %s" % (trial, history.errors))
            history.errors.clear()
            check_files_after_kill(check, history, folders, launched)
            write(os.path.join(args.output, "trial-%04d.log" % trial), "\n".join(run.log))
    print("\n%d trials, %d saves confirmed, seed %d" % (args.trials, history.confirmations, seed))
    return check.outcome("crash-trial", args.output)


if __name__ == "__main__":
    sys.exit(main())
