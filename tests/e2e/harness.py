"""Runs the real Quillpost under Xvfb for the end-to-end and reliability tools: a display, the
program with a data folder and a page script, its output line by line as it comes, and stopping it."""

import argparse
import base64
import contextlib
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
HERE = os.path.dirname(os.path.abspath(__file__))
KEYRING_WRAPPER = os.path.join(HERE, "with_keyring.sh")
SKIP = 77


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


def stop_xvfb(xvfb):
    xvfb.terminate()
    xvfb.wait()


@contextlib.contextmanager
def session(prefix):
    """A work folder and an Xvfb display for one runner; both go when it ends."""
    work = tempfile.mkdtemp(prefix=prefix)
    xvfb, display = start_xvfb()
    try:
        yield work, display
    finally:
        stop_xvfb(xvfb)
        shutil.rmtree(work, ignore_errors=True)


def skip(reason):
    """Ends a runner as skipped (ctest's SKIP_RETURN_CODE) where this machine can't run it."""
    print("SKIPPED: " + reason, flush=True)
    sys.exit(SKIP)


def app_environment(data_dir, state_dir, display, script, extra_env=None):
    env = dict(os.environ, DISPLAY=display, QUILLPOST_DATA_DIR=data_dir, QUILLPOST_SELFTEST="1", XDG_STATE_HOME=state_dir,
               GDK_BACKEND="x11", GSK_RENDERER="cairo", LIBGL_ALWAYS_SOFTWARE="1", NO_AT_BRIDGE="1")
    env.pop("WAYLAND_DISPLAY", None)
    # Without a script of its own the program runs its built-in self-test instead.
    if script:
        env["QUILLPOST_TEST_SCRIPT"] = script
    env.update(extra_env or {})
    return env


class AppRun:
    """One run of the program. Its output (the page script's console messages among it) is read on
    a thread into a queue; `next_line` and `wait_for` take lines from it in order, and every line
    taken is kept in `log`. As a context, it is stopped at the end."""

    def __init__(self, app, script, data_dir, state_dir, display, extra_env=None, wrapper=None, arguments=()):
        env = app_environment(data_dir, state_dir, display, script, extra_env)
        # A wrapper runs inside the session first (e.g. to start a keyring) and then execs the program.
        command = ["dbus-run-session", "--"] + ([wrapper] if wrapper else []) + [app] + list(arguments)
        self.process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True, errors="replace", start_new_session=True)
        self.log = []
        self.results = {}
        self.ended = False
        self._lines = queue.Queue()
        threading.Thread(target=self._pump, daemon=True).start()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.stop()

    def _pump(self):
        for line in self.process.stdout:
            self._lines.put(line.rstrip("\n"))
        self._lines.put(None)

    def next_line(self, deadline):
        """The next line of output, or None when the output ended or the deadline (a monotonic time) passed."""
        remaining = deadline - time.monotonic()
        if self.ended or remaining <= 0:
            return None
        try:
            line = self._lines.get(timeout=remaining)
        except queue.Empty:
            return None
        if line is None:
            self.ended = True
            return None
        self.log.append(line)
        if RESULT_PREFIX in line:
            entry = json.loads(line.split(RESULT_PREFIX, 1)[1])
            self.results[entry["name"]] = entry
        return line

    def wait_for(self, mark, timeout):
        """Reads up to the first line holding `mark`; returns the text after the mark, or None."""
        deadline = time.monotonic() + timeout
        while True:
            line = self.next_line(deadline)
            if line is None:
                return None
            if mark in line:
                return line.split(mark, 1)[1].strip()

    def program_pid(self):
        """The program's own process: the child of dbus-run-session that runs the executable."""
        for pid in text("/proc/%d/task/%d/children" % (self.process.pid, self.process.pid)).split():
            argv0 = text("/proc/%s/cmdline" % pid).split("\0")[0]
            if os.path.exists("/proc/" + pid) and not os.path.basename(argv0).startswith("dbus-"):
                return int(pid)
        return None

    def web_processes(self):
        """The WebKit web processes that the program started (they share its session)."""
        return [int(pid) for pid in filter(str.isdigit, os.listdir("/proc"))
                if text("/proc/%s/stat" % pid).rsplit(")", 1)[-1].split()[3:4] == [str(self.process.pid)]
                and text("/proc/%s/comm" % pid).startswith("WebKitWebProces")]

    def alive(self):
        pid = self.program_pid()
        return pid is not None and os.path.exists("/proc/%d" % pid)

    def kill(self):
        """SIGKILL for the program first, so that it dies mid-step, then for the rest of its group."""
        signal_all(filter(None, [self.program_pid()]), signal.SIGKILL)
        self._kill_group(signal.SIGKILL)
        self.process.wait()

    def stop(self):
        if self.process.poll() is None:
            self._kill_group(signal.SIGTERM)
            if exit_status(self.process, 10) is None:
                self._kill_group(signal.SIGKILL)
                self.process.wait()

    def drain(self, timeout=2):
        """Keeps what the program wrote up to its end."""
        deadline = time.monotonic() + timeout
        while self.next_line(deadline) is not None:
            pass

    def finish(self, log_path):
        """Stops the program and writes all it wrote to log_path."""
        self.stop()
        self.drain()
        write(log_path, "\n".join(self.log))

    def _kill_group(self, sig):
        with contextlib.suppress(ProcessLookupError):
            os.killpg(self.process.pid, sig)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def text(path):
    """The file's text, or "" when it can't be read (it isn't there, or its process ended)."""
    try:
        return read(path).decode(errors="replace")
    except OSError:
        return ""


def write(path, content):
    """Writes text or bytes to path, making its folder; answers the path."""
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb" if isinstance(content, bytes) else "w") as f:
        f.write(content)
    return path


def exit_status(process, timeout):
    """The process's exit status, or None when it hasn't ended within timeout seconds."""
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def signal_all(pids, sig=signal.SIGTERM):
    """Sends sig to each process of a list of ids (numbers or their text) that is still there."""
    for pid in pids:
        with contextlib.suppress(ValueError, ProcessLookupError):
            os.kill(int(pid), sig)


def quiet(arguments, timeout=300, **options):
    return subprocess.run(arguments, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=timeout, **options)


def ed25519_key(folder, name):
    """A fresh Ed25519 key in folder: (its PEM file, its public key in Base64)."""
    key = os.path.join(folder, name + ".pem")
    quiet(["openssl", "genpkey", "-algorithm", "ed25519", "-out", key], check=True)
    public = subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-outform", "DER"], check=True, capture_output=True).stdout
    return key, base64.b64encode(public[-32:]).decode()


def sign(key, path):
    signature = subprocess.run(["openssl", "pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", path], check=True, capture_output=True)
    return base64.b64encode(signature.stdout).decode()


def keyring_environment(folder):
    """XDG_DATA_HOME and XDG_RUNTIME_DIR in folder, where with_keyring.sh keeps a Secret Service of the run's own."""
    runtime = os.path.join(folder, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    os.makedirs(os.path.join(folder, "xdg-data"), exist_ok=True)
    return {"XDG_DATA_HOME": os.path.join(folder, "xdg-data"), "XDG_RUNTIME_DIR": runtime}


def script_with_checks(directory, name, body_path, preamble="", settings=None, checks=True):
    """Writes a page script of the preamble, `SETTINGS` when given, the shared checks (checks.js)
    unless told not to, and the body."""
    if settings is not None:
        preamble += "const SETTINGS = %s;\n" % json.dumps(settings)
    shared = read(os.path.join(HERE, "checks.js")).decode() if checks else ""
    return write(os.path.join(directory, name), preamble + shared + read(body_path).decode())


def page_script(directory, name, settings, body_path):
    """Writes a page script that defines `SETTINGS` before the body, so one body serves several runs."""
    return script_with_checks(directory, name, body_path, settings=settings, checks=False)


class Checks:
    """Prints each check as it is made and keeps the failed ones."""

    def __init__(self):
        self.failures = []

    def outcome(self, kind, output=None):
        """Prints the summary of a run and answers its exit status."""
        where = "; the program's output is in %s" % output if output else ""
        if self.failures:
            print("\n%d %s checks failed%s" % (len(self.failures), kind, where))
            return 1
        print("\nall %s checks passed" % kind)
        return 0

    def __call__(self, condition, what):
        print(("ok   " if condition else "FAIL ") + what, flush=True)
        if not condition:
            self.failures.append(what)
        return condition


def check_sanitizers(check, log):
    """In the sanitizer build a finding stops the program; one after the page's last check would
    otherwise pass unseen."""
    findings = [line for line in log if any(mark in line for mark in SANITIZER_MARKS)]
    check(not findings, "the program reported no memory error, leak or undefined behaviour" + "".join("\n  " + f for f in findings[:5]))


def check_page_results(check, results, minimum):
    """Turns what the page script reported into checks, and fails when fewer than expected came."""
    for name, entry in sorted(results.items()):
        check(entry.get("ok") is True, "page: " + name + ("" if entry.get("ok") else " -- " + str(entry.get("detail"))))
    check(len(results) >= minimum, "the page reported its checks (%d of at least %d)" % (len(results), minimum))


def wait_until(condition, seconds, step=0.2):
    """Polls condition until it holds or the time is up; answers its last value."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


def runner_arguments(timeout, required=("--app", "--script")):
    """The arguments a runner takes: by default the program and the page script, then where its
    output goes and how long it may take."""
    parser = argparse.ArgumentParser()
    for name in tuple(required) + ("--output",):
        parser.add_argument(name, required=True)
    parser.add_argument("--timeout", type=float, default=timeout)
    args = parser.parse_args()
    os.makedirs(args.output, exist_ok=True)
    return args
