#!/usr/bin/python3
"""The files bundled in tests/data: each has a licence note naming a licence
that allows bundling, and, where the whole corpus is at hand, each is the
same bytes as the corpus file under the licence its manifest gives."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
from bundle_testdata import PERMISSIVE, corpus_name, manifest  # noqa: E402
from support import BUNDLED, Checks, parse_arguments  # noqa: E402


def notes():
    rows = {}
    with open(os.path.join(BUNDLED, "LICENSES.md"), encoding="utf-8") as f:
        for line in f:
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if len(cells) == 3 and "/" in cells[0]:
                rows[cells[0]] = cells[2]
    return rows


def main():
    args = parse_arguments()
    checks = Checks()
    licences = notes()
    files = sorted(os.path.relpath(os.path.join(root, n), BUNDLED)
                   for root, _, names in os.walk(BUNDLED) for n in names
                   if n != "LICENSES.md")
    checks.expect(len(files) > 100, f"{len(files)} bundled files")
    for rel in files:
        if rel not in licences:
            checks.expect(False, f"{rel}: no licence note")
        elif licences[rel] not in PERMISSIVE:
            checks.expect(False, f"{rel}: licence {licences[rel]} not allowed")
    corpus, full = args.testdata, args.full
    if full:
        entries = manifest(corpus)
        for rel in files:
            with open(os.path.join(BUNDLED, rel), "rb") as a, \
                 open(os.path.join(corpus, corpus_name(rel)), "rb") as b:
                same = a.read() == b.read()
            licence = entries.get(corpus_name(rel), ("", ""))[1]
            if not same or licence != licences.get(rel):
                checks.expect(False, f"{rel}: differs from the corpus file "
                                     f"or its licence")
    print(f"{len(files)} files, {len(checks.failures)} problems"
          + ("" if full else "; corpus absent, bytes not compared"))
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
