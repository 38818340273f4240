#!/usr/bin/python3
"""Renders Duoramic's sample stereo scene and writes the bundled samples.

    /usr/bin/python3 scripts/make_samples.py [OUTDIR]

OUTDIR defaults to resources/samples beside this script's parent.  The scene
(spheres and boxes on a checkered floor under a sky gradient) is ray-cast with
numpy from two parallel cameras and written as:

  scene.mpo                 multi-picture file laid out as stereo cameras write
                            it (Exif with a maker note carrying the parallax,
                            MPF index and attribute segments)
  scene.jps, scene.pns      both views side by side, left view on the left
  scene_L.jpg, scene_R.jpg  a left/right pair, each with a JPEG comment
  duoramic.txt              a slideshow list that plays the files above

The output is the same bytes on every run: no clocks, no randomness, and only
exactly rounded arithmetic (+ - * / sqrt floor) in the pixel code, so vector
maths back ends cannot change a pixel.  The JPEG and PNG bytes still depend
on the libjpeg and zlib builds under Pillow.
"""

import io
import os
import struct
import sys

import numpy as np
from PIL import Image, PngImagePlugin

VIEW_WIDTH, VIEW_HEIGHT = 960, 720
SUPERSAMPLE = 2            # samples per pixel along each axis
STRIP_ROWS = 90            # output rows rendered at a time (bounds memory)
JPEG_QUALITY = 88

# The camera records this horizontal parallax (percent of the view width) and
# the reader crops that many columns to converge the views.  The focal length
# below is chosen so that the near face of the checkered ball in the middle
# has exactly this disparity, which puts it on the screen plane after the
# crop: the nearer spheres and the crate stand out, the rest lies behind.
PARALLAX_PERCENT = (3, 2)  # 1.5 as a signed rational
BASELINE_MM = 65           # between the two eyes
BASELINE = BASELINE_MM / 1000
CAMERA = np.array([0.0, 1.4, 0.0])
SUBJECT_CENTRE = np.array([0.0, 0.7, 4.0])
SUBJECT_RADIUS = 0.7

SUN = np.array([0.35, 0.75, -0.55]) / np.sqrt(0.35**2 + 0.75**2 + 0.55**2)
SUN_COLOUR = np.array([1.05, 0.98, 0.88])
HORIZON = np.array([0.80, 0.87, 0.95])
ZENITH = np.array([0.25, 0.45, 0.80])

# ---------------------------------------------------------------- vectors


def dot(a, b):
    # Written out instead of einsum/matmul so no BLAS kernel is involved.
    return a[..., 0] * b[..., 0] + a[..., 1] * b[..., 1] + a[..., 2] * b[..., 2]


def normalise(v):
    return v / np.sqrt(dot(v, v))[..., None]


def parity(*coords):
    return (sum(np.floor(c) for c in coords) % 2).astype(bool)


def mix(a, b, t):
    return a * (1.0 - t)[..., None] + b * t[..., None]


# ---------------------------------------------------------------- scene


class Sphere:
    def __init__(self, centre, radius, paint, reflect=0.0, shine=0.3):
        self.centre, self.radius = np.array(centre, float), radius
        self.paint, self.reflect, self.shine = paint, reflect, shine

    def intersect(self, orig, dirs):
        oc = orig - self.centre
        b = dot(oc, dirs)
        disc = b * b - (dot(oc, oc) - self.radius * self.radius)
        root = np.sqrt(np.maximum(disc, 0.0))
        t = -b - root
        t = np.where(t > 1e-6, t, -b + root)
        return np.where((disc > 0) & (t > 1e-6), t, np.inf)

    def normal(self, points):
        return (points - self.centre) / self.radius

    def local(self, points):
        return self.normal(points)


class Box:
    """A box turned about the vertical axis by the unit vector (c, s)."""

    def __init__(self, centre, half, turn, paint, shine=0.15):
        self.centre, self.half = np.array(centre, float), np.array(half, float)
        c, s = turn
        self.axes = np.array([[c, 0.0, -s], [0.0, 1.0, 0.0], [s, 0.0, c]])
        self.paint, self.reflect, self.shine = paint, 0.0, shine

    def to_local(self, v):
        return np.stack([dot(v, axis) for axis in self.axes], axis=-1)

    def intersect(self, orig, dirs):
        o = self.to_local(orig - self.centre)
        d = self.to_local(dirs)
        with np.errstate(divide="ignore", invalid="ignore"):
            t1 = (-self.half - o) / d
            t2 = (self.half - o) / d
        near = np.fmax.reduce(np.fmin(t1, t2), axis=-1)
        far = np.fmin.reduce(np.fmax(t1, t2), axis=-1)
        t = np.where(near > 1e-6, near, far)
        return np.where((near <= far) & (t > 1e-6), t, np.inf)

    def local(self, points):
        return self.to_local(points - self.centre) / self.half

    def normal(self, points):
        q = self.local(points)
        axis = np.argmax(np.abs(q), axis=-1)
        n_local = np.zeros_like(q)
        rows = np.arange(len(q))
        n_local[rows, axis] = np.sign(q[rows, axis])
        return sum(n_local[:, i, None] * self.axes[i] for i in range(3))


def ball_paint(q, points):
    # Checker cells in normal space: plenty of edges for depth matching.
    red, white = np.array([0.80, 0.12, 0.10]), np.array([0.92, 0.90, 0.86])
    out = mix(red, white, parity(q[:, 0] * 3, q[:, 1] * 3, q[:, 2] * 3) * 1.0)
    band = np.abs(q[:, 1]) < 0.1
    out[band] = [0.95, 0.78, 0.15]
    return out


def crate_paint(q, points):
    # q is +-1 across a face; 2.5 keeps the cell edges off the face itself,
    # where rounding would otherwise flip the parity from sample to sample.
    dark, light = np.array([0.70, 0.38, 0.10]), np.array([0.90, 0.60, 0.22])
    return mix(dark, light, parity(q[:, 0] * 2.5, q[:, 1] * 2.5, q[:, 2] * 2.5) * 1.0)


def pillar_paint(q, points):
    blue, pale = np.array([0.15, 0.30, 0.65]), np.array([0.75, 0.82, 0.92])
    return mix(blue, pale, parity(points[:, 1] * 4) * 1.0)


def plain(colour):
    colour = np.array(colour)
    return lambda q, points: np.broadcast_to(colour, q.shape).copy()


SCENE = [
    Sphere(SUBJECT_CENTRE, SUBJECT_RADIUS, ball_paint, shine=0.5),
    Sphere([-0.75, 0.25, 2.6], 0.25, plain([0.20, 0.62, 0.25]), shine=0.6),
    Sphere([1.6, 0.55, 5.4], 0.55, plain([0.85, 0.88, 0.92]), reflect=0.75,
           shine=1.0),
    Sphere([-1.2, 1.6, 15.0], 1.6, plain([0.55, 0.35, 0.65])),
    Sphere([0.9, 0.15, 3.2], 0.15, plain([0.95, 0.80, 0.20]), shine=0.6),
    Box([-1.2, 0.35, 3.8], [0.35, 0.35, 0.35], (0.8, 0.6), crate_paint),
    Box([2.7, 1.1, 8.5], [0.35, 1.1, 0.35], (12 / 13, 5 / 13), pillar_paint),
    Box([-3.2, 0.8, 10.5], [0.8, 0.8, 0.8], (0.6, 0.8), crate_paint),
    Box([4.5, 0.5, 14.0], [1.2, 0.5, 0.6], (1.0, 0.0), plain([0.7, 0.7, 0.65])),
]


def floor_colour(points, dist):
    cream, slate = np.array([0.86, 0.83, 0.76]), np.array([0.24, 0.29, 0.34])
    checker = parity(points[:, 0] * 2, points[:, 2] * 2) * 1.0
    # Fade the checks with distance so the horizon does not shimmer.
    fade = dist / (dist + 14.0)
    return mix(mix(cream, slate, checker), (cream + slate) / 2, fade)


def sky(dirs):
    up = np.clip(dirs[:, 1] * 1.8, 0.0, 1.0)
    return mix(HORIZON, ZENITH, np.sqrt(up))


# ---------------------------------------------------------------- tracing


FLOOR = len(SCENE)  # the index nearest_hit gives the floor plane y = 0


def nearest_hit(orig, dirs):
    """Distance to and index of the first thing each ray meets (inf, -1 for
    the sky)."""
    with np.errstate(divide="ignore"):
        t_floor = np.where(dirs[:, 1] < 0, -orig[:, 1] / dirs[:, 1], np.inf)
    best = np.where(t_floor > 1e-6, t_floor, np.inf)
    which = np.where(np.isfinite(best), FLOOR, -1)
    for index, shape in enumerate(SCENE):
        t = shape.intersect(orig, dirs)
        closer = t < best
        best = np.where(closer, t, best)
        which = np.where(closer, index, which)
    return best, which


def in_shadow(points):
    dirs = np.broadcast_to(SUN, points.shape)
    blocked = np.zeros(len(points), bool)
    for shape in SCENE:
        blocked |= np.isfinite(shape.intersect(points, dirs))
    return blocked


def surface(points, which, dist):
    """Normals, colours, reflectivity and shininess of hit points."""
    normals = np.zeros_like(points)
    albedo = np.zeros_like(points)
    reflect = np.zeros(len(points))
    shine = np.zeros(len(points))
    on_floor = which == FLOOR
    normals[on_floor] = [0.0, 1.0, 0.0]
    albedo[on_floor] = floor_colour(points[on_floor], dist[on_floor])
    shine[on_floor] = 0.05
    for index, shape in enumerate(SCENE):
        sel = which == index
        if not sel.any():
            continue
        p = points[sel]
        normals[sel] = shape.normal(p)
        albedo[sel] = shape.paint(shape.local(p), p)
        reflect[sel], shine[sel] = shape.reflect, shape.shine
    return normals, albedo, reflect, shine


def trace(orig, dirs, bounces):
    dist, which = nearest_hit(orig, dirs)
    colour = sky(dirs)
    hit = np.isfinite(dist)
    if not hit.any():
        return colour
    o, d, t = orig[hit], dirs[hit], dist[hit]
    points = o + d * t[:, None]
    normals, albedo, reflect, shine = surface(points, which[hit], t)
    lifted = points + normals * 1e-5
    lit = ~in_shadow(lifted) * 1.0
    diffuse = np.maximum(dot(normals, SUN), 0.0) * lit
    fill = 0.22 + 0.12 * normals[:, 1]
    shade = albedo * (SUN_COLOUR * diffuse[:, None] + (ZENITH * fill[:, None]))
    glint = np.maximum(dot(normals, normalise(SUN - d)), 0.0)
    for _ in range(5):  # glint**32 by squaring: exact on every machine
        glint = glint * glint
    shade += (shine * glint * lit)[:, None] * SUN_COLOUR
    mirror = reflect > 0
    if bounces > 0 and mirror.any():
        r = d[mirror] - 2 * dot(d[mirror], normals[mirror])[:, None] * normals[mirror]
        bounced = trace(lifted[mirror], r, bounces - 1)
        shade[mirror] = mix(shade[mirror], bounced, reflect[mirror])
    fog = t / (t + 40.0)
    colour[hit] = mix(shade, HORIZON, fog)
    return colour


# ---------------------------------------------------------------- cameras


def camera_frame():
    """Forward, right and up of both (parallel) eyes, and the focal length."""
    forward = normalise(SUBJECT_CENTRE - CAMERA)
    right = np.array([1.0, 0.0, 0.0])
    up = np.array([0.0, forward[2], -forward[1]])
    to_subject = SUBJECT_CENTRE - CAMERA
    depth = np.sqrt(dot(to_subject, to_subject)) - SUBJECT_RADIUS
    disparity = VIEW_WIDTH * PARALLAX_PERCENT[0] / PARALLAX_PERCENT[1] / 100
    return forward, right, up, disparity * depth / BASELINE


def render_view(eye_side):
    """eye_side -1 renders the left eye, +1 the right one (uint8 H x W x 3)."""
    forward, right, up, focal = camera_frame()
    eye = CAMERA + right * (eye_side * BASELINE / 2)
    s = SUPERSAMPLE
    sub = (np.arange(VIEW_WIDTH * s) + 0.5) / s - VIEW_WIDTH / 2
    out = np.zeros((VIEW_HEIGHT, VIEW_WIDTH, 3), np.uint8)
    for top in range(0, VIEW_HEIGHT, STRIP_ROWS):
        rows = (np.arange(top * s, (top + STRIP_ROWS) * s) + 0.5) / s - VIEW_HEIGHT / 2
        y, x = np.meshgrid(rows, sub, indexing="ij")
        dirs = (forward + (x / focal)[..., None] * right
                - (y / focal)[..., None] * up).reshape(-1, 3)
        dirs = normalise(dirs)
        orig = np.broadcast_to(eye, dirs.shape)
        colour = trace(orig, dirs, 1).reshape(STRIP_ROWS, s, VIEW_WIDTH, s, 3)
        linear = np.clip(colour, 0.0, 1.0).mean(axis=(1, 3))
        # Square root as the display curve: exactly rounded, unlike pow().
        out[top:top + STRIP_ROWS] = np.floor(np.sqrt(linear) * 255 + 0.5)
    return out


# ---------------------------------------------------------------- JPEG bits


def encode_jpeg(pixels):
    buf = io.BytesIO()
    Image.fromarray(pixels).save(buf, "JPEG", quality=JPEG_QUALITY)
    return buf.getvalue()


def segment(marker, payload):
    if len(payload) + 2 > 0xFFFF:
        raise ValueError("segment too long")
    return struct.pack(">BBH", 0xFF, marker, len(payload) + 2) + payload


def split_jfif(jpeg):
    """(SOI + APP0, everything after) of a Pillow JPEG."""
    if jpeg[:4] != b"\xff\xd8\xff\xe0":
        raise ValueError("expected a JFIF stream")
    end = 4 + struct.unpack(">H", jpeg[4:6])[0]
    return jpeg[:end], jpeg[end:]


def with_comment(jpeg, text):
    head, body = split_jfif(jpeg)
    return head + segment(0xFE, text.encode("utf-8")) + body


# ---------------------------------------------------------------- TIFF IFDs
# Exif, the maker note and the MPF segments all use little-endian TIFF
# directories; each entry is (tag, type, count, value bytes).

ASCII, SHORT, LONG, RATIONAL, UNDEFINED, SRATIONAL = 2, 3, 4, 5, 7, 10


def ascii_tag(tag, text):
    value = text.encode("ascii") + b"\0"
    return tag, ASCII, len(value), value


def short_tag(tag, value):
    return tag, SHORT, 1, struct.pack("<H", value)


def long_tag(tag, value):
    return tag, LONG, 1, struct.pack("<I", value)


def rational_tag(tag, num, den):
    return tag, RATIONAL, 1, struct.pack("<II", num, den)


def srational_tag(tag, num, den):
    return tag, SRATIONAL, 1, struct.pack("<ii", num, den)


def undefined_tag(tag, value):
    return tag, UNDEFINED, len(value), value


def ifd(entries, offset, next_ifd=0):
    """A directory that starts `offset` bytes after its offset base, with the
    values that do not fit an entry stored right behind it."""
    entries = sorted(entries)
    data_at = offset + 2 + 12 * len(entries) + 4
    rows, data = b"", b""
    for tag, kind, count, value in entries:
        if len(value) <= 4:
            field = value.ljust(4, b"\0")
        else:
            field = struct.pack("<I", data_at + len(data))
            data += value + b"\0" * (len(value) & 1)  # keep word alignment
        rows += struct.pack("<HHI", tag, kind, count) + field
    return struct.pack("<H", len(entries)) + rows + struct.pack("<I", next_ifd) + data


# ---------------------------------------------------------------- MPO


def maker_note(with_parallax):
    """A maker note in the "FUJIFILM" layout: 8-byte name, the offset of its
    directory (12), and value offsets counted from the name's first byte."""
    entries = [
        undefined_tag(0x0000, b"0130"),     # version
        ascii_tag(0x1000, "NORMAL "),       # quality
        short_tag(0x1001, 3),               # sharpness: normal
        short_tag(0x1002, 0),               # white balance: auto
        short_tag(0x1003, 0),               # saturation: normal
    ]
    if with_parallax:
        entries += [srational_tag(0xB211, *PARALLAX_PERCENT),
                    srational_tag(0xB212, 0, 1)]
    return b"FUJIFILM" + struct.pack("<I", 12) + ifd(entries, 12)


def exif_segment(with_parallax):
    exif_entries = [
        undefined_tag(0x9000, b"0230"),
        undefined_tag(0x9101, b"\x01\x02\x03\x00"),
        undefined_tag(0x927C, maker_note(with_parallax)),
        undefined_tag(0xA000, b"0100"),
        short_tag(0xA001, 1),
        long_tag(0xA002, VIEW_WIDTH),
        long_tag(0xA003, VIEW_HEIGHT),
    ]

    def ifd0(exif_at):
        return ifd([
            ascii_tag(0x010F, "Duoramic"),
            ascii_tag(0x0110, "Sample renderer"),
            short_tag(0x0112, 1),
            rational_tag(0x011A, 72, 1),
            rational_tag(0x011B, 72, 1),
            short_tag(0x0128, 2),
            ascii_tag(0x0131, "make_samples.py"),
            short_tag(0x0213, 2),
            long_tag(0x8769, exif_at),
        ], 8)

    exif_at = 8 + len(ifd0(0))
    tiff = b"II*\0" + struct.pack("<I", 8) + ifd0(exif_at) + ifd(exif_entries, exif_at)
    return segment(0xE1, b"Exif\0\0" + tiff)


MP_DISPARITY = 0x020002
MP_REPRESENTATIVE = 0x20000000


def mp_attributes(number):
    return [
        undefined_tag(0xB000, b"0100"),
        long_tag(0xB101, number),                  # individual image number
        long_tag(0xB204, 1),                       # base viewpoint
        srational_tag(0xB205, 0, 1),               # convergence: parallel
        rational_tag(0xB206, BASELINE_MM, 1000),   # baseline in metres
    ]


def mpf_first(size1, size2, offset2):
    """Index and attribute directories of the first image.  Offsets count
    from the MP header (the "II" right after "MPF\\0"); the first image's
    own offset is 0 by definition."""
    table = (struct.pack("<IIIHH", MP_REPRESENTATIVE | MP_DISPARITY, size1, 0, 0, 0)
             + struct.pack("<IIIHH", MP_DISPARITY, size2, offset2, 0, 0))
    index = [undefined_tag(0xB000, b"0100"), long_tag(0xB001, 2),
             undefined_tag(0xB002, table)]
    attributes_at = 8 + len(ifd(index, 8))
    header = b"II*\0" + struct.pack("<I", 8)
    body = (header + ifd(index, 8, next_ifd=attributes_at)
            + ifd(mp_attributes(1), attributes_at))
    return segment(0xE2, b"MPF\0" + body)


def mpf_second():
    header = b"II*\0" + struct.pack("<I", 8)
    return segment(0xE2, b"MPF\0" + header + ifd(mp_attributes(2), 8))


def build_mpo(left_jpeg, right_jpeg):
    """Image 1: SOI, Exif, MPF index; image 2: SOI, Exif with the parallax,
    MPF attributes; each followed by its own JPEG tables and scan."""
    soi = b"\xff\xd8"
    second = soi + exif_segment(True) + mpf_second() + split_jfif(right_jpeg)[1]
    exif1 = exif_segment(False)
    left_body = split_jfif(left_jpeg)[1]

    def first(size1, offset2):
        return soi + exif1 + mpf_first(size1, len(second), offset2) + left_body

    size1 = len(first(0, 0))
    mp_header_at = len(soi) + len(exif1) + 4 + 4   # APP2 marker+length, "MPF\0"
    image1 = first(size1, size1 - mp_header_at)
    mpo = image1 + second
    check_marks(mpo)
    return mpo


def check_marks(mpo):
    """Readers find the second image and the parallax by scanning for these
    byte strings, so an accidental copy in the entropy data must not pass."""
    mpf = [i for i in range(len(mpo) - 5)
           if mpo[i:i + 4] == b"MPF\0" and mpo[i + 4:i + 6] in (b"II", b"MM")]
    film = [i for i in range(len(mpo)) if mpo.startswith(b"FILM\x0c\x00", i)]
    if len(mpf) != 2 or len(film) != 2:
        raise RuntimeError(f"marks found: MPF at {mpf}, maker notes at {film}")


# ---------------------------------------------------------------- outputs


def encode_png(pixels, comment):
    info = PngImagePlugin.PngInfo()
    info.add_text("Comment", comment)
    buf = io.BytesIO()
    Image.fromarray(pixels).save(buf, "PNG", pnginfo=info, compress_level=9)
    return buf.getvalue()


LIST_HEADER = (
    "SlideShowList;;\t//Stereo SlideShow File List\n"
    "//BGMusic;sample.mid;;\n"
    "//MovieBGMStop;1;;\n"
    "Repeat;1;;\t//Repeat:ON\n"
    "SlideShow;1;;\t//SlideShow:ON\n"
    "StereoEffect;1;;\t//StereoEffect:Random\n"
    "StereoType;0;;\t//StereoType:Side-by-side\n"
    "ScreenSize;1;;\t//CanvasSize:Screen size\n"
    "//DispWidth;1024;;\n"
    "//DispHeight;768;;\n"
    "Font;MS UI Gothic;;\t//Font:MS UI Gothic\n"
    "Comment;1;;\t//Comment:ON\n"
    "CommentSize;5;;\t//CommentSize:Canvas height x 5%\n"
    "Floatingwindow;0;;\t//Floatingwindow:Canvas Width x 0%\n"
)


def slideshow_list():
    # Five seconds per item.  The pair entry has no list comment, so the
    # viewer shows the comment stored in the left file instead.
    return LIST_HEADER + (
        "11;50;0;0;0;scene.mpo;MPO: two pictures, parallax from the maker note;;\n"
        "11;50;0;0;0;scene.jps;JPS: side by side, left view on the left;;\n"
        "11;50;0;0;0;scene.pns;PNS: side by side in a PNG;;\n"
        "21;50;0;0;0;scene_L.jpg;scene_R.jpg;;\n"
    )


LEFT_COMMENT = "立体写真のサンプル（左目の画像）"
RIGHT_COMMENT = "Duoramic sample scene, right view"
PNS_COMMENT = "Duoramic sample scene"


def build_samples():
    left, right = render_view(-1), render_view(+1)
    side_by_side = np.concatenate([left, right], axis=1)
    left_jpeg, right_jpeg = encode_jpeg(left), encode_jpeg(right)
    return {
        "scene.mpo": build_mpo(left_jpeg, right_jpeg),
        "scene.jps": encode_jpeg(side_by_side),
        "scene.pns": encode_png(side_by_side, PNS_COMMENT),
        "scene_L.jpg": with_comment(left_jpeg, LEFT_COMMENT),
        "scene_R.jpg": with_comment(right_jpeg, RIGHT_COMMENT),
        "duoramic.txt": slideshow_list().encode("ascii"),
    }


def main(argv):
    if len(argv) > 2 or (len(argv) == 2 and argv[1].startswith("-")):
        sys.stderr.write(__doc__)
        return 2
    here = os.path.dirname(os.path.abspath(argv[0]))
    outdir = argv[1] if len(argv) == 2 else os.path.join(here, "..", "resources", "samples")
    os.makedirs(outdir, exist_ok=True)
    for name, data in build_samples().items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
