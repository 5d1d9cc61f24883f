#!/usr/bin/env python3
"""Installs the build into a temporary prefix and runs the end-to-end test against that copy,
so the program is known to find its page relative to wherever it was installed."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--script", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    prefix = tempfile.mkdtemp(prefix="quillpost-prefix-")
    try:
        subprocess.run(["cmake", "--install", args.build, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
        for expected in ("bin/quillpost", "share/quillpost/app/index.html", "share/applications/quillpost.desktop"):
            if not os.path.exists(os.path.join(prefix, expected)):
                print("FAIL the installed tree lacks " + expected)
                return 1
        runner = os.path.join(os.path.dirname(os.path.abspath(__file__)), "run_e2e.py")
        return subprocess.run([sys.executable, runner, "--app", os.path.join(prefix, "bin", "quillpost"),
                               "--script", args.script, "--output", args.output]).returncode
    finally:
        shutil.rmtree(prefix, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
