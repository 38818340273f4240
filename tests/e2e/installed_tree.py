#!/usr/bin/env python3
"""The Debian package, unpacked into a scratch root, and the programs in it.

Builds the package with CPack from the build tree, unpacks it, and checks
the layout (programs, links, the libraries the viewer opens on first use,
data, icons, desktop entry, MIME types, manual page, thumbnailer, AppStream
metainfo, which desktop_files.py checks in depth); validates the desktop entry and the MIME definitions; runs the
installed duoramic-cli on the installed sample; and starts the installed
viewer under Xvfb the way a file manager does, from the desktop entry's Exec
line with the MPO, and without arguments (the demo list from share/duoramic).
Exits 77 (skipped) when CPack's Debian tools or Xvfb are missing.
"""
import glob
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

from xvfb_session import Failure, missing_tool, parse_arguments, run_scenarios

ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True,
                            timeout=600, **kwargs)
    if result.returncode != 0:
        raise Failure(f"{' '.join(command)} exited {result.returncode}: "
                      f"{(result.stdout + result.stderr)[-2000:]}")
    return result.stdout


def build_package(build, work):
    out = os.path.join(work, "package")
    run(["cpack", "-G", "DEB", "--config",
         os.path.join(build, "CPackConfig.cmake"), "-B", out])
    debs = [n for n in os.listdir(out) if n.endswith(".deb")]
    if len(debs) != 1:
        raise Failure(f"CPack made {debs}")
    return os.path.join(out, debs[0])


def check_layout(root, build):
    usr = os.path.join(root, "usr")
    # The libraries the viewer opens on first use, where it looks for them:
    # the folder "duoramic" of the library folder beside bin/.
    libraries = ["libduoramic_autoalign.so"]
    if os.path.exists(os.path.join(build, "libduoramic_hosted360.so")):
        libraries.append("libduoramic_hosted360.so")
    for name in libraries:
        if not (glob.glob(os.path.join(usr, "lib", "duoramic", name)) or
                glob.glob(os.path.join(usr, "lib", "*", "duoramic", name))):
            raise Failure(f"not installed: lib/.../duoramic/{name}")
    expected = ["bin/duoramic", "bin/duoramic-cli",
                "share/duoramic/duoramic.html", "share/duoramic/duoramic.txt",
                "share/duoramic/scene.mpo", "share/duoramic/scene.jps",
                "share/duoramic/scene.pns", "share/duoramic/scene_L.jpg",
                "share/duoramic/scene_R.jpg",
                "share/applications/org.duoramic.Duoramic.desktop",
                "share/mime/packages/duoramic.xml",
                "share/icons/hicolor/scalable/apps/duoramic.svg",
                "share/man/man1/duoramic-cli.1",
                "share/thumbnailers/duoramic.thumbnailer",
                "share/metainfo/org.duoramic.Duoramic.metainfo.xml"]
    expected += [f"share/icons/hicolor/{n}x{n}/apps/duoramic.png"
                 for n in ICON_SIZES]
    missing = [p for p in expected if not os.path.isfile(os.path.join(usr, p))]
    if missing:
        raise Failure(f"not installed: {missing}")
    for mode in "hnw":
        link = os.path.join(usr, "bin", f"duoramic_{mode}")
        if not os.path.islink(link) or os.readlink(link) != "duoramic":
            raise Failure(f"{link} is not a link to duoramic")
    return usr


def check_desktop_files(usr, work):
    desktop = os.path.join(usr, "share/applications/org.duoramic.Duoramic.desktop")
    mime = os.path.join(usr, "share/mime/packages/duoramic.xml")
    out = run(["desktop-file-validate", desktop])
    if out.strip():
        raise Failure(f"desktop-file-validate: {out}")
    run(["xmllint", "--noout", mime])
    if shutil.which("appstreamcli"):
        run(["appstreamcli", "validate", "--no-net", "--strict",
             os.path.join(usr, "share/metainfo/org.duoramic.Duoramic.metainfo.xml")])
    warnings = subprocess.run(
        ["groff", "-man", "-ww", "-z",
         os.path.join(usr, "share/man/man1/duoramic-cli.1")],
        capture_output=True, text=True).stderr
    if warnings.strip():
        raise Failure(f"manual page: {warnings}")
    # The MIME types as a desktop resolves them: our definitions over the
    # system's, in a database of their own.
    share = os.path.join(work, "mime-share")
    packages = os.path.join(share, "mime", "packages")
    os.makedirs(packages)
    shutil.copy(mime, packages)
    system = "/usr/share/mime/packages/freedesktop.org.xml"
    if os.path.exists(system):
        shutil.copy(system, packages)
    run(["update-mime-database", os.path.join(share, "mime")])
    data = os.path.join(usr, "share/duoramic")
    unnamed = os.path.join(work, "camera-file")
    shutil.copy(os.path.join(data, "scene.mpo"), unnamed)
    list_copy = os.path.join(work, "show")
    shutil.copy(os.path.join(data, "duoramic.txt"), list_copy)
    env = dict(os.environ, XDG_DATA_HOME=share, XDG_DATA_DIRS=share)
    for path, wanted in ((os.path.join(data, "scene.mpo"), "image/x-mpo"),
                         (os.path.join(data, "scene.jps"), "image/x-jps"),
                         (os.path.join(data, "scene.pns"), "image/x-pns"),
                         (unnamed, "image/x-mpo"),  # by its APP2 "MPF"
                         (list_copy, "text/x-duoramic-slideshow")):
        if not shutil.which("gio"):
            break
        out = run(["gio", "info", "-a", "standard::content-type", path], env=env)
        if wanted not in out:
            raise Failure(f"{os.path.basename(path)} is not {wanted}: {out}")
    with open(desktop) as f:
        entry = f.read()
    for mime_type in ("image/x-mpo", "image/x-jps", "image/x-pns",
                      "text/x-duoramic-slideshow"):
        if mime_type not in entry:
            raise Failure(f"the desktop entry does not take {mime_type}")
    exec_line = next(line for line in entry.splitlines()
                     if line.startswith("Exec="))
    return shlex.split(exec_line[len("Exec="):])


def check_cli(usr):
    cli = os.path.join(usr, "bin/duoramic-cli")
    help_text = run([cli, "--help"])
    if "convert" not in help_text or "render" not in help_text:
        raise Failure(f"--help does not list the commands: {help_text}")
    info = run([cli, "info", os.path.join(usr, "share/duoramic/scene.mpo")])
    if "left view" not in info:
        raise Failure(f"info on the installed MPO: {info}")


def opened_from_desktop_entry(s):
    # As a file manager runs the entry: the program from PATH, %F the file.
    exec_words = s.args.exec_words
    argv = [os.path.join(s.args.usr, "bin", exec_words[0])]
    argv += [s.args.sample if w == "%F" else w for w in exec_words[1:]]
    with s.running_viewer("opened", argv[1:]) as (viewer, window):
        s.key(window, "F9")
        s.wait_until(window, s.find_client_area,
                     "the MPO opened from the desktop entry is not shown")
        s.end_viewer(viewer, window)


def installed_demo_list(s):
    """Without arguments: the demo list from the installed data folder."""
    with s.running_viewer("demo", []) as (viewer, window):
        s.wait_for_title(window, "share/duoramic/scene", "the installed "
                         "viewer did not play the installed demo list")
        s.end_viewer(viewer, window)


def main():
    args = parse_arguments("build")
    status = missing_tool(skip=("cpack", "dpkg-deb", "dpkg-shlibdeps", "Xvfb",
                                "desktop-file-validate", "xmllint",
                                "update-mime-database"))
    if status is not None:
        return status
    with tempfile.TemporaryDirectory() as work:
        root = os.path.join(work, "root")
        try:
            deb = build_package(os.path.abspath(args.build), work)
            depends = run(["dpkg-deb", "-f", deb, "Depends"])
            # Qt, and the plugins no library pulls in: without them the
            # viewer has no window or a camera's movie no decoder.
            # qt6-wayland: a Wayland session without DISPLAY has no other
            # platform plugin to start the viewer with.
            # libheif1 and the HEVC decoder under it: spatial HEIC photos.
            for needed in ("libqt6widgets6", "qt6-qpa-plugins", "qt6-wayland",
                           "gstreamer1.0-plugins-good", "gstreamer1.0-libav",
                           "libheif1", "libde265-0"):
                if needed not in depends:
                    raise Failure(f"the package does not depend on {needed}: "
                                  f"{depends}")
            run(["dpkg-deb", "-x", deb, root])
            args.usr = check_layout(root, os.path.abspath(args.build))
            args.exec_words = check_desktop_files(args.usr, work)
            check_cli(args.usr)
            print("ok package", os.path.basename(deb))
        except Failure as failure:
            print("FAIL:", failure)
            return 1
        args.viewer = os.path.join(args.usr, "bin/duoramic")
        args.cli = os.path.join(args.usr, "bin/duoramic-cli")
        args.sample = os.path.join(args.usr, "share/duoramic/scene.mpo")
        return run_scenarios(args, [opened_from_desktop_entry,
                                    installed_demo_list])


if __name__ == "__main__":
    sys.exit(main())
