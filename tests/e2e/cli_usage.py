#!/usr/bin/env python3
"""duoramic-cli as a new user meets it: every verb answers --help and -h with
its own usage on standard output and exit 0; a folder given to info, decode
or split is called a folder; makelist sums up in English on standard output;
and text-drawing commands run when QT_QPA_PLATFORM names a platform that has
no display to open.
"""
import os
import subprocess
import sys
import tempfile

from xvfb_session import parse_arguments, with_leak_suppressions

VERBS = ["info", "decode", "split", "list", "render", "transition", "movie",
         "comment", "makelist", "page360", "convert", "thumbnail", "align"]


def run(cli, *args, env=None):
    return subprocess.run([cli, *args], capture_output=True, text=True,
                          timeout=300, env=env)


def main():
    args = parse_arguments("cli")
    env = with_leak_suppressions(dict(os.environ))
    failures = []

    def expect(ok, what):
        print(("ok: " if ok else "FAILED: ") + what)
        if not ok:
            failures.append(what)

    for verb in VERBS:
        for option in ("--help", "-h"):
            result = run(args.cli, verb, option, env=env)
            expect(result.returncode == 0 and result.stdout.startswith("usage:")
                   and f"duoramic-cli {verb}" in result.stdout
                   and result.stderr == "",
                   f"{verb} {option}: its usage on stdout, exit 0 "
                   f"({result.returncode}: {result.stderr.strip()[:120]})")
    # The manual page has every verb in its synopsis and a paragraph of its
    # own under COMMANDS.
    manual = open(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                               "..", "..", "packaging", "duoramic-cli.1"),
                  encoding="utf-8").read()
    commands = manual[manual.index(".SH COMMANDS"):manual.index(".SH RENDER")]
    for verb in VERBS:
        expect(f"\n.B duoramic-cli {verb}\n" in manual and
               f".TP\n.B {verb}\n" in commands,
               f"the manual page describes {verb}")
    result = run(args.cli, "makelist", "--help", env=env)
    expect("tenths of a second" in result.stdout,
           "makelist --help says the interval counts tenths of a second")
    # Help after other arguments is still help, not a run.
    result = run(args.cli, "render", "missing.jps", "--help", env=env)
    expect(result.returncode == 0 and "duoramic-cli render" in result.stdout,
           "render FILE --help prints the usage")

    with tempfile.TemporaryDirectory() as folder:
        for verb in ("info", "decode", "split"):
            result = run(args.cli, verb, folder, env=env)
            expect(result.returncode == 1 and "is a folder" in result.stderr
                   and folder in result.stderr,
                   f"{verb} FOLDER says it is a folder ({result.stderr.strip()})")

        sample = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                              "..", "..", "resources", "samples", "scene.jps")
        listed = os.path.join(folder, "show.txt")
        result = run(args.cli, "makelist", listed, sample, env=env)
        expect(result.returncode == 0 and
               result.stdout.strip() == f"{listed}: added 1 of 1 file" and
               result.stderr == "",
               f"makelist sums up in English on stdout ({result.stdout!r}, "
               f"{result.stderr!r})")

        # No display, yet the windowing platform named: text still draws.
        no_display = dict(env, QT_QPA_PLATFORM="xcb")
        no_display.pop("DISPLAY", None)
        no_display.pop("WAYLAND_DISPLAY", None)
        out = os.path.join(folder, "help.png")
        result = run(args.cli, "render", sample, "--format", "SideBySide",
                     "--help-overlay", "-o", out, env=no_display)
        expect(result.returncode == 0 and os.path.getsize(out) > 0,
               f"render with QT_QPA_PLATFORM=xcb and no display works "
               f"({result.returncode}: {result.stderr.strip()[:200]})")

    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
