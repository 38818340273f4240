#!/usr/bin/python3
"""The bundled samples: truly the generator's output, and read as intended.

- scripts/make_samples.py run into a scratch folder reproduces every file of
  resources/samples (README.md aside) byte for byte, and nothing else;
- exiftool sees scene.mpo as a two-picture MPF file (disparity images), can
  extract MPImage2, and finds the FujiFilm parallax (1.5, vertical 0) in the
  second picture's maker note; the byte marks that the MPO reader scans for
  sit where it looks for them;
- duoramic-cli splits scene.mpo into the two pictures cropped by the
  recorded parallax (the left view loses its leftmost columns, the right
  view its rightmost) and, after that crop, the ball in the middle has no
  disparity left;
- duoramic-cli splits scene.jps and scene.pns into halves equal to Pillow's
  decoding of them, and every file holds the same two views, left as left;
- the left/right pair finds one name from the other by the letter before
  the dot, and each file's JPEG comment comes out of `info --json`;
- duoramic.txt is a slideshow list that plays exactly these samples.
"""
import io
import json
import os
import re
import subprocess
import sys
import tempfile
import warnings

import numpy as np
from PIL import Image

from support import (REPO, Checks, exiftool_json, exiftool_second_picture,
                     fujifilm_parallax, load_rgb, parse_arguments, read, run)

# Pillow warns when it decodes the first picture of the MPO on its own (its
# MP index then points past the end); that is intended here.
warnings.filterwarnings("ignore", category=UserWarning)

SAMPLES = os.path.join(REPO, "resources", "samples")
GENERATOR = os.path.join(REPO, "scripts", "make_samples.py")
NOT_GENERATED = {"README.md"}
MPF_MARK = re.compile(rb"MPF\x00(?:II|MM)")
MAKER_NOTE_MARK = b"FILM\x0c\x00"
EXPECTED_PARALLAX = 1.5
# Same view through two JPEG encodings stays well under this mean difference;
# the other eye's view is several times further off.
SAME_VIEW_MAD = 3.0


def sample(name):
    return os.path.join(SAMPLES, name)


def decode(data):
    return load_rgb(io.BytesIO(data))


def mad(a, b):
    return float(np.abs(a.astype(int) - b.astype(int)).mean())


def cli_info(checks, cli, name, **wanted):
    """duoramic-cli info --json of a sample: the fields named in `wanted`
    must hold those values."""
    result = run(cli, "info", sample(name), "--json")
    if checks.expect(result.returncode == 0, f"cli info {name} succeeds "
                                             f"({result.stderr.strip()})"):
        info = json.loads(result.stdout)
        got = {key: info.get(key) for key in wanted}
        checks.expect(got == wanted, f"cli info {name}: {wanted} (got {got})")


def cli_split(checks, cli, name, scratch):
    left = os.path.join(scratch, name + ".left.png")
    right = os.path.join(scratch, name + ".right.png")
    result = run(cli, "split", sample(name), "-l", left, "-r", right)
    if not checks.expect(result.returncode == 0, f"cli split {name} succeeds "
                                                 f"({result.stderr.strip()})"):
        return None
    return load_rgb(left), load_rgb(right)


# ------------------------------------------------------------ regeneration


def check_regenerated(checks, scratch):
    out = os.path.join(scratch, "regenerated")
    result = subprocess.run([sys.executable, GENERATOR, out],
                            capture_output=True, text=True, timeout=600)
    if not checks.expect(result.returncode == 0,
                         f"generator runs ({result.stderr.strip()[-300:]})"):
        return
    made = set(os.listdir(out))
    committed = set(os.listdir(SAMPLES)) - NOT_GENERATED
    checks.expect(made == committed,
                  f"generator writes exactly the committed files "
                  f"(only made: {sorted(made - committed)}, "
                  f"only committed: {sorted(committed - made)})")
    for name in sorted(made & committed):
        checks.expect(read(os.path.join(out, name)) == read(sample(name)),
                      f"{name} is byte-identical to the generator's output")
    checks.expect(os.path.isfile(sample("README.md")),
                  "resources/samples/README.md describes the files")
    total = sum(os.path.getsize(sample(n)) for n in os.listdir(SAMPLES))
    checks.expect(total < 1_500_000, f"samples stay small ({total} bytes)")


# ------------------------------------------------------------ MPO metadata


def check_mpo_metadata(checks, scratch):
    """Returns (first picture, second picture, parallax) as bytes, bytes,
    (P, V) or None when the file is not what it should be."""
    data = read(sample("scene.mpo"))
    tags = exiftool_json("-a", "-G1", "-validate", "-MPF0:all",
                         "-MPImage1:all", "-MPImage2:all", "-Validate",
                         sample("scene.mpo"))
    checks.expect(tags.get("MPF0:NumberOfImages") == 2,
                  "exiftool: MPF index lists 2 images")
    for n in (1, 2):
        checks.expect(tags.get(f"MPImage{n}:MPImageType") == 0x020002,
                      f"exiftool: MP image {n} is a disparity image")
    # -n prints the validation as counts: errors, warnings, minor warnings.
    checks.expect(tags.get("ExifTool:Validate") == "0 0 0",
                  f"exiftool validates scene.mpo ({tags.get('ExifTool:Validate')})")
    second = exiftool_second_picture(sample("scene.mpo")) or b""
    if not checks.expect(len(second) > 0 and data.endswith(second),
                         "exiftool extracts MPImage2 = the file's tail"):
        return None
    first = data[:len(data) - len(second)]
    checks.expect(tags.get("MPImage2:MPImageLength") == len(second)
                  and tags.get("MPImage1:MPImageLength") == len(first),
                  "MP entries give both pictures' sizes")
    check_pillow_frames(checks, first, second)
    parallax = fujifilm_parallax(second, scratch)
    checks.expect(parallax == (EXPECTED_PARALLAX, 0),
                  f"exiftool: FujiFilm parallax of MPImage2 is "
                  f"{EXPECTED_PARALLAX}, vertical 0 (got {parallax})")
    check_scan_marks(checks, data, len(first))
    return first, second, parallax or (0.0, 0.0)


def check_pillow_frames(checks, first, second):
    """Pillow's MPO reader walks the MP index on its own: a second opinion
    on the offsets."""
    image = Image.open(sample("scene.mpo"))
    frames = getattr(image, "n_frames", 1)
    if not checks.expect(image.format == "MPO" and frames == 2,
                         f"Pillow opens scene.mpo as MPO with 2 frames "
                         f"({image.format}, {frames})"):
        return
    image.seek(1)
    checks.expect(np.array_equal(np.asarray(image.convert("RGB")),
                                 decode(second)),
                  "Pillow's frame 2 is the picture exiftool extracts")


def check_scan_marks(checks, data, second_start):
    """The reader finds the second picture two bytes before the APP2 of the
    second MPF mark, and the parallax in the 400 bytes after the second
    maker-note mark; check the file puts them there."""
    mpf = [m.start() for m in MPF_MARK.finditer(data)]
    film = [i for i in range(len(data)) if data.startswith(MAKER_NOTE_MARK, i)]
    checks.expect(len(mpf) == 2, f"two MPF marks (at {mpf})")
    checks.expect(len(film) == 2 and len(mpf) == 2 and film[1] < mpf[1],
                  f"two maker notes, the second before the second MPF mark "
                  f"(at {film})")
    if len(mpf) < 2 or len(film) < 2:
        return
    start = mpf[1] - 6
    checks.expect(data[start + 2:start + 4] == b"\xff\xe2"
                  and start > second_start,
                  "the second MPF mark is in an APP2 segment of picture 2")
    m = film[1] - 4
    found = [j for j in range(m, m + 400)
             if data[j:j + 2] == b"\x11\xb2" and data[j + 12:j + 14] == b"\x12\xb2"]
    if not checks.expect(bool(found), "0xB211/0xB212 within 400 bytes of the "
                         "maker note"):
        return
    values = []
    for entry in (found[0], found[0] + 12):
        at = m + int.from_bytes(data[entry + 8:entry + 12], "little")
        num = int.from_bytes(data[at:at + 4], "little", signed=True)
        den = int.from_bytes(data[at + 4:at + 8], "little", signed=True)
        values.append(num / den if den else None)
    checks.expect(values == [EXPECTED_PARALLAX, 0.0],
                  f"maker-note rationals read {values} from the note's start")


# ------------------------------------------------------------ views


def central_disparity(left, right, reach=30, half=60):
    """Horizontal shift that best maps a central window of the right view
    onto the left view (positive: the left view has it further right)."""
    cy, cx = left.shape[0] // 2, min(left.shape[1], right.shape[1]) // 2
    rows = slice(cy - half, cy + half)
    target = right[rows, cx - half:cx + half].astype(int)
    errors = [(np.abs(left[rows, cx - half + s:cx + half + s].astype(int)
                      - target).mean(), s) for s in range(-reach, reach + 1)]
    return min(errors)[1]


def check_mpo_views(checks, cli, scratch, pictures):
    first, second, (p, v) = pictures
    left_full, right_full = decode(first), decode(second)
    h, w = right_full.shape[:2]
    shift_x, shift_y = int(w * p * -0.01), int(h * v * 0.01)
    cli_info(checks, cli, "scene.mpo", parallax_shift_x=shift_x,
             parallax_shift_y=shift_y)
    views = cli_split(checks, cli, "scene.mpo", scratch)
    if views is None:
        return
    crop = -shift_x
    checks.expect(crop > 0, f"the recorded parallax crops {crop} columns")
    checks.expect(np.array_equal(views[0], left_full[:, crop:]),
                  "MPO left view = picture 1 without its leftmost columns")
    checks.expect(np.array_equal(views[1], right_full[:, :w - crop]),
                  "MPO right view = picture 2 without its rightmost columns")
    before = central_disparity(left_full, right_full)
    after = central_disparity(views[0], views[1])
    checks.expect(abs(after) <= 1 and abs(before - crop) <= 1,
                  f"the crop brings the central ball from disparity {before} "
                  f"to the screen plane (now {after})")


def check_side_by_side(checks, cli, scratch, name, comment):
    whole = decode(read(sample(name)))
    half = whole.shape[1] // 2
    cli_info(checks, cli, name, comment=comment)
    views = cli_split(checks, cli, name, scratch)
    if views is None:
        return
    checks.expect(np.array_equal(views[0], whole[:, :half])
                  and np.array_equal(views[1], whole[:, half:2 * half]),
                  f"{name} splits into its left and right halves")


def check_views_agree(checks, pictures):
    """Every sample holds the same two views in the same order; the PNS is
    lossless, so it stands for the rendered views."""
    pns = decode(read(sample("scene.pns")))
    half = pns.shape[1] // 2
    left, right = pns[:, :half], pns[:, half:]
    jps = decode(read(sample("scene.jps")))
    candidates = {
        "JPS left half": (jps[:, :half], left, right),
        "JPS right half": (jps[:, half:], right, left),
        "scene_L.jpg": (decode(read(sample("scene_L.jpg"))), left, right),
        "scene_R.jpg": (decode(read(sample("scene_R.jpg"))), right, left),
    }
    if pictures:
        candidates["MPO picture 1"] = (decode(pictures[0]), left, right)
        candidates["MPO picture 2"] = (decode(pictures[1]), right, left)
    for what, (view, same, other) in candidates.items():
        if not checks.expect(view.shape == same.shape,
                             f"{what} has the rendered view's size"):
            continue
        near, far = mad(view, same), mad(view, other)
        checks.expect(near < SAME_VIEW_MAD and far > 2 * near,
                      f"{what} matches its own eye's view "
                      f"(difference {near:.2f}, other eye {far:.2f})")


# ------------------------------------------------------------ pair and list


def jpeg_comments(data):
    """COM segment texts before the first scan."""
    found, i = [], 2
    while i + 4 <= len(data) and data[i] == 0xFF and data[i + 1] != 0xDA:
        length = int.from_bytes(data[i + 2:i + 4], "big")
        if data[i + 1] == 0xFE:
            found.append(data[i + 4:i + 2 + length].decode("utf-8"))
        i += 2 + length
    return found


def partner_name(name):
    stem, dot, ext = name.rpartition(".")
    swap = {"L": "R", "R": "L", "l": "r", "r": "l"}
    if not dot or not stem or not ext or stem[-1] not in swap:
        return None
    return stem[:-1] + swap[stem[-1]] + "." + ext


def check_pair(checks, cli):
    pairs = [n for n in sorted(os.listdir(SAMPLES))
             if n.lower().endswith(".jpg") and partner_name(n)]
    checks.expect(len(pairs) == 2 and all(partner_name(n) in pairs for n in pairs),
                  f"a left/right pair whose names lead to each other ({pairs})")
    texts = []
    for name in pairs:
        comments = jpeg_comments(read(sample(name)))
        if not checks.expect(len(comments) == 1, f"{name} has one comment"):
            continue
        texts.append(comments[0])
        cli_info(checks, cli, name, comment=comments[0])
    checks.expect(any(re.search("[\u3040-\u30ff\u4e00-\u9fff]", t) for t in texts),
                  "one pair comment is Japanese text")


def list_entries(text):
    """(kind, names) of each entry line; ';' runs count as one separator."""
    entries = []
    for line in text.splitlines():
        first = line.split(";", 1)[0]
        if not first.strip().isdigit() or line.count(";") < 5:
            continue
        kind = int(first)
        fields = [f for f in line.split(";") if f]
        at = 3 if kind <= 9 else 5
        count = 2 if kind in (5, 21) else 1
        entries.append((kind, fields[at:at + count]))
    return entries


def check_list(checks):
    text = read(sample("duoramic.txt")).decode("ascii")
    checks.expect(text.splitlines()[0].split(";")[0] == "SlideShowList",
                  "duoramic.txt starts as a slideshow list")
    entries = list_entries(text)
    named = [n for _, names in entries for n in names]
    pictures = {n for n in os.listdir(SAMPLES)
                if n.rsplit(".", 1)[-1].lower() in ("mpo", "jps", "pns", "jpg")}
    checks.expect(set(named) == pictures,
                  f"the list plays every sample picture and nothing else "
                  f"({sorted(named)})")
    checks.expect(all(not os.path.isabs(n) and "\\" not in n for n in named),
                  "list names are relative to the list's folder")
    pairs = [names for kind, names in entries if kind in (5, 21)]
    checks.expect(any(partner_name(a) == b for a, b in pairs),
                  "the pair entry names the left file first, then its partner")


def png_comment(path):
    """The first text chunk's text, which the PNG reader shows as comment."""
    return next(iter(Image.open(path).text.values()), "")


def main():
    args = parse_arguments(corpus=False)
    checks = Checks()
    with tempfile.TemporaryDirectory() as scratch:
        check_regenerated(checks, scratch)
        pictures = check_mpo_metadata(checks, scratch)
        check_views_agree(checks, pictures)
        check_pair(checks, args.cli)
        check_list(checks)
        if pictures:
            check_mpo_views(checks, args.cli, scratch, pictures)
        check_side_by_side(checks, args.cli, scratch, "scene.jps", "")
        check_side_by_side(checks, args.cli, scratch, "scene.pns",
                           png_comment(sample("scene.pns")))
    return checks.status()


if __name__ == "__main__":
    sys.exit(main())
