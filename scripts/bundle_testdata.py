#!/usr/bin/python3
"""Copies the small, freely licensed part of the conformance corpus into
tests/data, so that a clone of the repository alone can run its reader tests,
and writes tests/data/LICENSES.md with the origin and licence of each file.

    scripts/bundle_testdata.py [CORPUS]    (default ../shared/testdata)

Only licences that allow redistribution without conditions beyond a notice
are taken; a file whose licence the corpus manifest does not state, or that
is share-alike or copyleft, is refused even when it is listed below."""
import os
import re
import shutil
import sys

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
TARGET = os.path.join(REPO, "tests", "data")

PERMISSIVE = {"public-domain", "PngSuite(free any purpose)", "CC0-1.0", "MIT",
              "MIT-CMU", "BSD-2-Clause", "Apache-2.0", "libtiff(BSD-like)"}

# Folders taken whole, then single files: what the unit tests name and a
# spread of layouts, kept to about a megabyte.
WHOLE = ["pngsuite", "jpeg/jpegsuite", "gif/suite-peterdn", "bmpsuite/ref-png"]
FILES = """
bmpsuite/g/pal1.bmp bmpsuite/g/pal1bg.bmp bmpsuite/g/pal1wb.bmp
bmpsuite/g/pal4.bmp bmpsuite/g/pal4rle.bmp bmpsuite/g/pal8.bmp
bmpsuite/g/pal8os2.bmp bmpsuite/g/pal8rle.bmp bmpsuite/g/pal8topdown.bmp
bmpsuite/g/pal8v5.bmp bmpsuite/g/pal8w124.bmp bmpsuite/g/rgb16-565.bmp
bmpsuite/g/rgb24.bmp bmpsuite/g/rgb32bf.bmp
bmpsuite/q/pal8os2v2-16.bmp bmpsuite/q/pal8os2v2-40sz.bmp
bmpsuite/b/badpalettesize.bmp bmpsuite/b/shortfile.bmp bmpsuite/b/badrle.bmp
bmpsuite/b/reallybig.bmp bmpsuite/b/badbitcount.bmp bmpsuite/b/badwidth.bmp
bmpsuite/b/rletopdown.bmp bmpsuite/q/rgb24jpeg.bmp bmpsuite/q/rgb24png.bmp
bmpsuite/extra/broken_ci_SanselanTest.bmp
bmpsuite/extra/ci_rle4.bmp bmpsuite/extra/ci_rle8.bmp
gif/pillow_hopper.gif gif/pillow_iss634.gif
gif/broken_pillow_decompression_bomb.gif gif/broken_pillow_zero_width.gif
jpeg/pillow_hopper_gray.jpg jpeg/pillow_pil_sample_cmyk.jpg
jpeg/pillow_flower.jpg jpeg/pillow_flower2.jpg jpeg/pillow_hopper.jpg
jpeg/broken_pillow_truncated_jpeg.jpg
jpeg/broken_ci_0x00-to-0xFF-between-segments.jpg
mpo/pillow_sugarshack.mpo mpo/pillow_frame_size.mpo
mpo/pillow_ignore_frame_size.mpo
tiff/ci_TestJpegStrips_ycbcr_jpeg.tiff tiff/pillow_hopper_jpg.tif
tiff/libtiff_logluv-3c-16b.tiff tiff/libtiff_palette-1c-1b.tiff
tiff/libtiff_miniswhite-1c-1b.tiff tiff/pillow_hopper2.tif
tiff/pillow_16bit.deflate.tif tiff/imagetiff_tiled-gray-i1.tif
tiff/ci_TestSample_deflate8_pred2.tiff tiff/broken_ci_bad-offsets-lengths.tiff
tiff/broken_libtiff_test_ifd_loop_to_self.tif
""".split()

ENTRY = re.compile(r"- (\S+) - (\S+) - (.+?) - (\d+) B - ")


def manifest(corpus):
    entries = {}
    with open(os.path.join(corpus, "MANIFEST.md"), encoding="utf-8",
              errors="replace") as f:
        for line in f:
            m = ENTRY.match(line)
            if m:
                entries[m.group(1)] = (m.group(2), m.group(3))
    return entries


# Names changed on the way in (corpus words the project keeps out of its
# own tree); the corpus name is recovered from the bundled one.
RENAMES = {"_spectral_": "_bands_"}


def bundled_name(rel):
    for corpus_word, own_word in RENAMES.items():
        rel = rel.replace(corpus_word, own_word)
    return rel


def corpus_name(rel):
    for corpus_word, own_word in RENAMES.items():
        rel = rel.replace(own_word, corpus_word)
    return rel


def wanted(entries):
    names = set(FILES)
    for folder in WHOLE:
        names |= {rel for rel in entries if rel.startswith(folder + "/")}
    return sorted(names)


def main():
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        REPO, "..", "shared", "testdata")
    entries = manifest(corpus)
    names = wanted(entries)
    notes = []
    for rel in names:
        if rel not in entries:
            sys.exit(f"{rel}: not in the corpus manifest")
        source, licence = entries[rel]
        if licence not in PERMISSIVE:
            sys.exit(f"{rel}: licence {licence!r} does not allow bundling")
        target = os.path.join(TARGET, bundled_name(rel))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(corpus, rel), target)
        os.chmod(target, 0o644)
        notes.append(f"| {bundled_name(rel)} | {source} | {licence} |")
    with open(os.path.join(TARGET, "LICENSES.md"), "w", encoding="utf-8") as f:
        f.write("# Bundled test files\n\n"
                "Copies of freely licensed files from public test suites, so "
                "that the reader tests run in a plain clone. Made by "
                "`scripts/bundle_testdata.py`; each file keeps the licence of "
                "its source:\n\n"
                "- public-domain: bmpsuite (generated images are public domain)\n"
                "- PngSuite(free any purpose): (c) Willem van Schaik, free for "
                "any purpose\n"
                "- CC0-1.0: jpegsuite by Robert Ancell\n"
                "- MIT, MIT-CMU, BSD-2-Clause, Apache-2.0, libtiff(BSD-like): "
                "the licence of the repository named in the source column, "
                "whose copyright notice applies to the file\n\n"
                "| file | source repository:path | licence |\n|---|---|---|\n")
        f.write("\n".join(notes) + "\n")
    total = sum(os.path.getsize(os.path.join(TARGET, r)) for r in names)
    print(f"{len(names)} files, {total} bytes in {TARGET}")


if __name__ == "__main__":
    main()
