#!/usr/bin/env python3
"""Reads back the packages upload_package_test.cpp kept in OUT_DIR: the entry layout of
each case with zipfile, and every archive with `unzip -t`."""
import os
import subprocess
import sys
import zipfile

out = sys.argv[1]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def names(case):
    with zipfile.ZipFile(os.path.join(out, case + ".zip")) as z:
        return [i.filename for i in z.infolist()]


def info(case, name):
    with zipfile.ZipFile(os.path.join(out, case + ".zip")) as z:
        return z.getinfo(name), z.read(name)


expected = {
    "layout": {"Car\\", "Car\\body.max", "Car\\maps\\", "Car\\maps\\wheel.jpg", "Car\\empty\\"},
    "empty": {"Empty\\"},
    "dotted": {"v1.2\\", "v1.2\\readme.txt"},
    "stale": {"Car\\", "Car\\fresh.txt"},
    "apart-first": {"Car\\", "Car\\which.txt"},
    "apart-second": {"Car\\", "Car\\which.txt"},
    "safe": {"inside.txt", "sub\\", "sub\\deep.txt"},
}
for case, wanted in expected.items():
    got = names(case)
    check(set(got) == wanted, "%s: entries %r, expected %r" % (case, got, sorted(wanted)))
    if case != "safe":
        own = [n for n in wanted if n.endswith("\\") and n.count("\\") == 1]
        check(got[:1] == own, "%s: first entry %r is not the folder's own" % (case, got[:1]))
    for name in got:
        check(":" not in name and not name.startswith(("\\", "/"))
              and ".." not in name.replace("\\", "/").split("/"), "%s: unsafe %r" % (case, name))
        check(not any(part.startswith(".") for part in name.split("\\") if part),
              "%s: dot-name %r packed" % (case, name))

body, data = info("layout", "Car\\body.max")
check(data == b"body of the car", "layout: body.max holds %r" % data)
check(body.compress_type == zipfile.ZIP_DEFLATED, "layout: body.max not deflated")
check(body.date_time == (2021, 6, 15, 10, 20, 30), "layout: body.max time %r" % (body.date_time,))
check(body.external_attr & 0x01 == 0, "layout: read-only bit kept")
# Attributes go in as 0; minizip itself sets the text bit when deflate found text.
check(body.internal_attr in (0, 1) and body.extra == b"" and body.comment == b"",
      "layout: internal attributes, extra field or comment set")
folder, _ = info("layout", "Car\\maps\\")
check(folder.external_attr & 0x10, "layout: folder entry without the directory attribute")
_, wheel = info("layout", "Car\\maps\\wheel.jpg")
check(wheel == b"w" * 100000, "layout: wheel.jpg damaged")
check(info("apart-first", "Car\\which.txt")[1] == b"first", "apart: first package mixed up")
check(info("apart-second", "Car\\which.txt")[1] == b"second", "apart: second package mixed up")

# The package of the larger tree against the plain zipper's archive of a finished copy:
# the same entries holding the same bytes, deflated alike, with the same times and
# attributes, each folder's entry before what it holds.
with zipfile.ZipFile(os.path.join(out, "tree-package.zip")) as package, \
        zipfile.ZipFile(os.path.join(out, "tree-reference.zip")) as reference:
    got = [i.filename for i in package.infolist()]
    wanted = [i.filename for i in reference.infolist()]
    check(sorted(got) == sorted(wanted), "tree: entries %r, expected %r" % (got, wanted))
    check(len(got) == 47 and "Tree\\textures\\empty\\" in got
          and not any(".cache" in n or ".notes" in n for n in got), "tree: entries %r" % got)
    for position, name in enumerate(got):
        parent = name.rstrip("\\").rpartition("\\")[0]
        check(not parent or parent + "\\" in got[:position],
              "tree: %r comes before its folder's entry" % name)
        if name not in wanted:
            continue
        ours, theirs = package.getinfo(name), reference.getinfo(name)
        for field in ("CRC", "file_size", "compress_size", "compress_type", "internal_attr",
                      "external_attr", "flag_bits"):
            check(getattr(ours, field) == getattr(theirs, field),
                  "tree: %s %s %r, expected %r" % (name, field, getattr(ours, field),
                                                   getattr(theirs, field)))
        if not name.endswith("\\"):
            check(ours.date_time == theirs.date_time, "tree: %s time %r, expected %r"
                  % (name, ours.date_time, theirs.date_time))
            check(package.read(name) == reference.read(name), "tree: %s bytes differ" % name)
    check(package.getinfo("Tree\\one.txt").date_time == (2019, 1, 2, 3, 4, 6),
          "tree: one.txt time %r" % (package.getinfo("Tree\\one.txt").date_time,))
    check(got == wanted, "tree: order %r, expected %r" % (got, wanted))

for case in list(expected) + ["tree-package"]:
    # unzip warns (exit 1) about backslash separators; only "No errors" counts.
    run = subprocess.run(["unzip", "-t", os.path.join(out, case + ".zip")],
                         capture_output=True, text=True)
    check(run.returncode in (0, 1) and "No errors detected" in run.stdout,
          "%s: unzip -t failed:\n%s%s" % (case, run.stdout, run.stderr))

for failure in failures:
    print("FAIL", failure)
print("%d packages checked, %d failures" % (len(expected) + 1, len(failures)))
sys.exit(1 if failures else 0)
