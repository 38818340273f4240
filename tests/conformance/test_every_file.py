#!/usr/bin/python3
"""Every file of the test data, whatever it holds, through every duoramic-cli
reading command: each run ends with success or with a message naming the file
(exit status 1), never with a crash, a sanitizer report or a hang."""
import os
import subprocess
import sys

from support import files_under, parse_arguments, run_suite

COMMANDS = (["info"], ["info", "--json"], ["decode"], ["split"])
TIME_LIMIT = 120


def check(cli, path, out_dir):
    problems = []
    for command in COMMANDS:
        args = [cli, command[0], path] + command[1:]
        if command[0] == "decode":
            args += ["-o", os.path.join(out_dir, "out.png")]
        try:
            run = subprocess.run(args, capture_output=True, text=True,
                                 errors="replace", timeout=TIME_LIMIT)
        except subprocess.TimeoutExpired:
            problems.append(f"{' '.join(command)}: no answer in {TIME_LIMIT} s")
            continue
        if run.returncode == 0:
            continue
        if run.returncode != 1:
            problems.append(f"{' '.join(command)}: exit {run.returncode}: "
                            f"{run.stderr.strip()[-600:]}")
        elif path not in run.stderr:
            problems.append(f"{' '.join(command)}: message does not name the "
                            f"file: {run.stderr.strip()!r}")
        elif "Sanitizer" in run.stderr or "runtime error" in run.stderr:
            problems.append(f"{' '.join(command)}: {run.stderr.strip()[-600:]}")
    return "; ".join(problems)


def main():
    options = parse_arguments()
    files = [path for path in files_under(options.testdata)
             if not path.endswith("LICENSES.md")]
    return run_suite(
        files, lambda path, out_dir: check(options.cli, path, out_dir),
        label=lambda path: os.path.relpath(path, options.testdata))


if __name__ == "__main__":
    sys.exit(main())
