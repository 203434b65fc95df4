#!/usr/bin/env python3
"""End-to-end runs of wdxprobe over generated folder trees.

Every run gets a fresh tree (the fake plugin deletes the file named vanishing.fake while it
is asked about). The fake plugin's tree has nested folders, a file its detect string
rejects, a folder named like a file, a file that cannot be opened (when the test does not
run with the power to read it anyway), a file that vanishes during the run and, where the
system has them, a broken link, a link to a file and a link to a folder that leads back up.
The real plugin's tree has JPEGs made by cjpeg (one of them cut short), an ICC profile and a
text file.

Usage: tree_test.py --probe EXE [--emulator CMD] --work DIR --fake PLUGIN --real PLUGIN
                    [--cjpeg CJPEG] [--no-links] [--expected DIR] CASE
CASE: table, formats, where, real, progress.
"""

import argparse
import csv
import io
import json
import os
import shutil
import struct
import subprocess
import sys

args = None
failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def check(condition, message):
    if not condition:
        fail(message)
    return condition


# --- trees ------------------------------------------------------------------------------

FAKE_FILES = {
    # path below the tree: bytes
    "a, b.fake": b"a,b",
    "a.fake": b"hello",
    "b/d.txt": b"nothing to see",  # the detect string rejects it
    "b/deep/x/z.fake": b"z",
    "b/e.bin": b"FK!" + b"x" * 9,  # accepted by its first bytes
    "folder.fake/inner.fake": b"inner file",
    "grüße.fake": "grüße".encode(),
    "locked.fake": b"locked",
    "vanishing.fake": b"soon gone",
}
# Files whose row is an error, with the message.
FAKE_ERRORS = {
    "tree/links/broken.fake": "broken link to nowhere.fake",
    "tree/locked.fake": "cannot open it: Permission denied",
    "tree/vanishing.fake": "vanished while it was probed",
}


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def fresh_dir(name):
    path = os.path.join(args.work, name)
    if os.path.lexists(path):
        for root, dirs, files in os.walk(path):
            for d in dirs:
                os.chmod(os.path.join(root, d), 0o755)
            for f in files:
                full = os.path.join(root, f)
                if not os.path.islink(full):
                    os.chmod(full, 0o644)
        shutil.rmtree(path)
    os.makedirs(path)
    return path


locked_note_printed = False


def locked_applies(path):
    """chmod 000, and whether that stops this process from reading the file."""
    os.chmod(path, 0)
    try:
        with open(path, "rb"):
            return False
    except PermissionError:
        return True


def make_fake_tree(run):
    """The fake plugin's tree in WORK/run/tree; returns the files expected as error rows."""
    global locked_note_printed
    base = fresh_dir(run)
    tree = os.path.join(base, "tree")
    for name, data in FAKE_FILES.items():
        write(os.path.join(tree, name), data)
    os.makedirs(os.path.join(tree, "empty"))
    errors = dict(FAKE_ERRORS)
    if not locked_applies(os.path.join(tree, "locked.fake")):
        os.remove(os.path.join(tree, "locked.fake"))
        del errors["tree/locked.fake"]
        if not locked_note_printed:
            print("skipped: the unreadable file (chmod 000 does not stop this user, e.g. root, from reading it)")
            locked_note_printed = True
    if args.links:
        links = os.path.join(tree, "links")
        os.makedirs(links)
        os.symlink("nowhere.fake", os.path.join(links, "broken.fake"))
        os.symlink("../a.fake", os.path.join(links, "file.fake"))
        os.symlink("..", os.path.join(links, "loop"))  # a link to a folder is not followed
    else:
        del errors["tree/links/broken.fake"]
    shutil.copy(args.fake, base)
    return base, errors


def ppm(width, height, gray=False):
    """A PPM/PGM picture with smooth gradients and some detail, for cjpeg."""
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            r = (x * 255) // (width - 1)
            g = (y * 255) // (height - 1)
            b = ((x ^ y) * 16) & 0xFF
            pixels += bytes([(r + g) // 2]) if gray else bytes([r, g, b])
    return (b"P5" if gray else b"P6") + b"\n%d %d\n255\n" % (width, height) + bytes(pixels)


def icc_profile(description):
    """An ICC.1 version 2 display profile with only a desc tag (textDescriptionType)."""
    ascii_text = description.encode() + b"\0"
    desc = b"desc" + b"\0" * 4 + struct.pack(">I", len(ascii_text)) + ascii_text
    desc += struct.pack(">II", 0x656E5553, 0) + b"\0" * (2 + 1 + 67)
    table = struct.pack(">I", 1) + b"desc" + struct.pack(">II", 128 + 4 + 12, len(desc))
    size = 128 + len(table) + len(desc)
    header = struct.pack(">I", size) + b"lcms" + struct.pack(">I", 0x02100000) + b"mntrRGB XYZ "
    header += struct.pack(">6H", 2024, 1, 2, 3, 4, 5) + b"acspAPPL" + b"\0" * 4 + b"none" + b"\0" * 12
    header += struct.pack(">I", 0) + struct.pack(">3I", 0xF6D6, 0x10000, 0xD32D) + b"lcms"
    header += b"\0" * (128 - len(header))
    return header + table + desc


REAL_FILES = ["photos/2019/q50.jpg", "photos/2019/q90-gray.jpg", "photos/2020/cut.jpg", "photos/2020/restart.jpg",
              "photos/notes.txt", "photos/profile.icc"]
REAL_COPIES = 8  # copies of the photos folder, so that four threads overlap on many files


def cjpeg(options, picture):
    return subprocess.run([args.cjpeg] + options, input=picture, stdout=subprocess.PIPE, check=True).stdout


def make_real_tree(run):
    base = fresh_dir(run)
    color = ppm(64, 48)
    gray = ppm(64, 48, gray=True)
    files = {
        "2019/q50.jpg": cjpeg(["-quality", "50"], color),
        "2019/q90-gray.jpg": cjpeg(["-quality", "90", "-grayscale"], gray),
        "2020/restart.jpg": cjpeg(["-quality", "75", "-restart", "1"], color),
        "notes.txt": b"a text file, no JPEG and no profile\n",
        "profile.icc": icc_profile("Orvane test profile"),
    }
    whole = cjpeg(["-quality", "90"], color)
    files["2020/cut.jpg"] = whole[: len(whole) * 6 // 10]
    for copy in range(REAL_COPIES):
        for name, data in files.items():
            write(os.path.join(base, "photos" + ("" if copy == 0 else str(copy)), name), data)
    shutil.copy(args.real, base)
    return base, os.path.basename(args.real)


# --- running ----------------------------------------------------------------------------

def probe(cwd, arguments):
    command = ([args.emulator] if args.emulator else []) + [args.probe] + arguments
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    err = result.stderr.decode("utf-8", "replace")
    # A sanitizer's report ends the run with a status the checks might take for the probe's own.
    check("Sanitizer" not in err and "runtime error:" not in err, f"{' '.join(arguments)}: {err}")
    return result.returncode, result.stdout, err


def norm(name):
    """Names as Linux prints them: the Windows build joins folder and file with a backslash."""
    return name.replace("\\", "/")


def run_both(make, arguments, label):
    """Runs with --jobs 1 and --jobs 4 on fresh trees; checks both print the same; returns the first."""
    results = []
    for jobs in ("1", "4"):
        base, errors = make("jobs" + jobs)
        results.append((probe(base, ["--jobs", jobs] + arguments), errors))
    (first, errors), (second, _) = results
    check(first[1] == second[1], f"{label}: --jobs 1 and --jobs 4 print different outputs")
    check(first[2] == second[2], f"{label}: --jobs 1 and --jobs 4 report different errors:\n{first[2]}\n{second[2]}")
    check(first[0] == second[0], f"{label}: exit status {first[0]} with --jobs 1, {second[0]} with --jobs 4")
    return first, errors


def check_errors(stderr, errors, label):
    for name, message in errors.items():
        shown = name.replace("/", "\\") if args.emulator else name
        check(f"wdxprobe: {shown}: {message}" in stderr or f"wdxprobe: {name}: {message}" in stderr,
              f"{label}: stderr does not report {name}: {message}\n{stderr}")


# The fake plugin's rows in walk order: name below the tree, Name, Size. Links come and go
# with the system's support for them.
FAKE_ROWS = [
    ("tree/a, b.fake", 3), ("tree/a.fake", 5), ("tree/b/deep/x/z.fake", 1), ("tree/b/e.bin", 12),
    ("tree/folder.fake/inner.fake", 10), ("tree/grüße.fake", 7), ("tree/links/broken.fake", None),
    ("tree/links/file.fake", 5), ("tree/locked.fake", None), ("tree/vanishing.fake", None),
]


def expected_rows(errors, keep=lambda name, size: True):
    rows = []
    for name, size in FAKE_ROWS:
        if name.startswith("tree/links/") and not args.links:
            continue
        if size is None:
            if name in errors:
                rows.append(name)
        elif keep(os.path.basename(name), size):
            rows.append(name)
    return rows


def case_table():
    (rc, out, err), errors = run_both(make_fake_tree, ["-r", "--format", "table", "--fields", "Name,Size",
                                                       "./fake.wdx", "tree"], "table")
    check(rc == 1, f"table: exit status {rc}, expected 1 (some files could not be probed)")
    check_errors(err, errors, "table")
    with open(os.path.join(args.expected, "tree_table.txt"), encoding="utf-8") as f:
        expected = f.read().splitlines()
    wanted = [line for line in expected
              if not any(line.endswith(name) for name in FAKE_ERRORS if name not in errors)
              and (args.links or "tree/links/" not in line)]
    actual = norm(out.decode("utf-8")).splitlines()
    check(actual == wanted, "table: output differs\n--- expected\n" + "\n".join(wanted) + "\n--- actual\n" +
          "\n".join(actual))

    # Named on the command line without -r: a folder named like a file is an error row, a
    # file the detect string rejects is asked about all the same.
    base, _ = make_fake_tree("named")
    rc, out, err = probe(base, ["--format", "csv", "--fields", "Size", "./fake.wdx", "tree/folder.fake", "tree/b/d.txt"])
    wanted = 'file,Size,error\r\ntree/folder.fake,,"is a folder, not a file"\r\ntree/b/d.txt,14,\r\n'
    check(rc == 1 and out.decode("utf-8") == wanted, f"named: status {rc}, output {out!r}, expected {wanted!r}")
    check("wdxprobe: tree/folder.fake: is a folder, not a file" in err, f"named: stderr {err!r}")


FORMAT_FIELDS = "Name,Size,Label,Yes,Nothing,Broken"


def case_formats():
    arguments = ["-r", "--fields", FORMAT_FIELDS, "./fake.wdx", "tree"]
    (rc, csv_out, err), errors = run_both(make_fake_tree, ["--format", "csv"] + arguments, "csv")
    check(rc == 1, f"csv: exit status {rc}, expected 1")
    check_errors(err, errors, "csv")
    (rc, jsonl_out, _), _ = run_both(make_fake_tree, ["--format", "jsonl"] + arguments, "jsonl")
    (rc, json_out, _), _ = run_both(make_fake_tree, ["--json"] + arguments, "json")
    names = expected_rows(errors)

    # CSV: RFC 4180 records ending in CR LF, parsed back.
    text = csv_out.decode("utf-8")
    check(text.endswith("\r\n") and "\n" not in text.replace("\r\n", ""), "csv: lines must end with CR LF")
    records = list(csv.reader(io.StringIO(text, newline="")))
    header = ["file"] + FORMAT_FIELDS.split(",") + ["error"]
    check(records and records[0] == header, f"csv: header {records[:1]}, expected {header}")
    rows = records[1:]
    check([norm(r[0]) for r in rows] == names, f"csv: files {[r[0] for r in rows]}, expected {names}")
    for row in rows:
        if not check(len(row) == len(header), f"csv: row {row} has {len(row)} fields, expected {len(header)}"):
            continue
        name = norm(row[0])
        if name in errors:
            check(row[1:-1] == [""] * (len(header) - 2) and row[-1] == errors[name], f"csv: error row {row}")
        else:
            size = dict(FAKE_ROWS)[name]
            check(row[1:] == [os.path.basename(name), str(size), 'say "hi"\tto C:\\', "true", "", "(file error)", ""],
                  f"csv: row {row}")

    # JSON Lines: one object per line, the same rows, typed values.
    lines = jsonl_out.decode("utf-8").splitlines()
    objects = []
    for line in lines:
        try:
            objects.append(json.loads(line))
        except ValueError as e:
            fail(f"jsonl: not JSON: {line} ({e})")
    check([norm(o.get("file", "")) for o in objects] == names, f"jsonl: files {[o.get('file') for o in objects]}")
    for o in objects:
        name = norm(o["file"])
        if name in errors:
            check(o == {"file": o["file"], "error": errors[name]}, f"jsonl: error object {o}")
        else:
            expected = {"Name": os.path.basename(name), "Size": dict(FAKE_ROWS)[name], "Label": 'say "hi"\tto C:\\',
                        "Yes": True, "Nothing": None, "Broken": {"result": -2, "type": "fileerror"}}
            check(o.get("values") == expected, f"jsonl: values {o.get('values')}, expected {expected}")

    # The single JSON document: the same files, errors included.
    try:
        document = json.loads(json_out.decode("utf-8"))
        check([norm(f["name"]) for f in document["files"]] == names, "json: files differ")
        check(all(("error" in f) == (norm(f["name"]) in errors) for f in document["files"]), "json: error entries")
    except (ValueError, KeyError) as e:
        fail(f"json: not the expected document ({e})")


# (conditions, which of the fake tree's files meet them: (file name, Size) -> bool, fields shown)
WHERE_CASES = [
    (["Size>5"], lambda n, s: s > 5),
    (["Size<=5"], lambda n, s: s <= 5),
    (["Size >= 10"], lambda n, s: s >= 10),
    (["Name=a.fake"], lambda n, s: n == "a.fake"),
    (["Name!=a.fake"], lambda n, s: n != "a.fake"),
    (["Name~e."], lambda n, s: "e." in n),
    (["Name!~fake"], lambda n, s: "fake" not in n),
    (["Name~/^[a-c]/"], lambda n, s: n[0] in "abc"),
    (["Name~/^A/i"], lambda n, s: n[0] == "a"),
    (["Name!~/fake$/"], lambda n, s: not n.endswith("fake")),
    (["Name~/ß/"], lambda n, s: "ß" in n),
    (["Nothing="], lambda n, s: True),
    (["Nothing!="], lambda n, s: False),
    (["Broken="], lambda n, s: False),
    (["Broken!="], lambda n, s: True),
    (["Broken~"], lambda n, s: False),
    (["Yes=true", "No=false"], lambda n, s: True),
    (["Count<0"], lambda n, s: True),
    (["Count>-7"], lambda n, s: False),
    (["Count>=-7"], lambda n, s: True),
    (["Big>4999999999"], lambda n, s: True),
    (["Big<5000000000"], lambda n, s: False),
    (["Label~\"hi\""], lambda n, s: True),
    (["Label<1"], lambda n, s: False),
    (["Size>4", "Name~fake"], lambda n, s: s > 4 and "fake" in n),
    (["7>9"], lambda n, s: s > 9),  # a field by index
]


def case_where():
    for conditions, meets in WHERE_CASES:
        arguments = ["-r", "--format", "jsonl", "--fields", "Name"]
        for condition in conditions:
            arguments += ["--where", condition]
        base, errors = make_fake_tree("where")
        rc, out, err = probe(base, arguments + ["./fake.wdx", "tree"])
        label = "--where " + " --where ".join(conditions)
        check(rc == 1, f"{label}: exit status {rc}, expected 1")
        objects = [json.loads(line) for line in out.decode("utf-8").splitlines()]
        files = [norm(o["file"]) for o in objects]
        wanted = expected_rows(errors, meets)
        check(files == wanted, f"{label}: files {files}, expected {wanted}")
        check(all(list(o.get("values", {"Name": 0})) == ["Name"] for o in objects),
              f"{label}: only the field Name is printed")


def case_real():
    fields = "Colorspace,Quality,Restart interval,ICC description,Integrity"
    for fmt in ("csv", "jsonl"):
        (rc, out, err), _ = run_both(lambda run: (make_real_tree(run)[0], {}),
                                     ["-r", "--format", fmt, "--fields", fields, "./" + os.path.basename(args.real),
                                      "."], "real " + fmt)
        check(rc == 0, f"real {fmt}: exit status {rc}, expected 0\n{err}")

    base, plugin = make_real_tree("checks")
    rc, out, err = probe(base, ["-r", "--format", "jsonl", "--fields", fields, "./" + plugin, "photos"])
    check(rc == 0, f"real: exit status {rc}\n{err}")
    objects = [json.loads(line) for line in out.decode("utf-8").splitlines()]
    names = [norm(o["file"]) for o in objects]
    wanted = [name for name in REAL_FILES if not name.endswith(".txt")]
    check(names == wanted, f"real: files {names}, expected {wanted} (the text file is rejected)")
    values = {norm(o["file"]): o.get("values", {}) for o in objects}
    expect = {
        "photos/2019/q50.jpg": {"Colorspace": "YCbCr", "Quality": 50, "Restart interval": None},
        "photos/2019/q90-gray.jpg": {"Colorspace": "Gray", "Quality": 90},
        "photos/2020/restart.jpg": {"Colorspace": "YCbCr", "Quality": 75},
        "photos/2020/cut.jpg": {"Colorspace": "YCbCr", "Quality": 90},
        "photos/profile.icc": {"Colorspace": None, "ICC description": "Orvane test profile"},
    }
    for name, fields_expected in expect.items():
        for field, value in fields_expected.items():
            check(values.get(name, {}).get(field) == value,
                  f"real: {name} {field} = {values.get(name, {}).get(field)!r}, expected {value!r}")
    restart = values.get("photos/2020/restart.jpg", {}).get("Restart interval")
    check(isinstance(restart, int) and restart > 0, f"real: restart.jpg Restart interval = {restart!r}")
    # Integrity: OK for whole files, how far the decoding got for the one cut short.
    for name in expect:
        integrity = values.get(name, {}).get("Integrity")
        if name.endswith("cut.jpg"):
            check(isinstance(integrity, str) and integrity.startswith("Corrupted ("),
                  f"real: cut.jpg Integrity = {integrity!r}")
        elif name.endswith(".jpg"):
            check(integrity == "OK", f"real: {name} Integrity = {integrity!r}")
        else:
            check(integrity is None, f"real: {name} Integrity = {integrity!r}")

    for conditions, wanted in [
        (["Quality<60"], ["photos/2019/q50.jpg"]),
        (["Colorspace=Gray"], ["photos/2019/q90-gray.jpg"]),
        (["ICC description~/TEST/i"], ["photos/profile.icc"]),
        (["Restart interval>0"], ["photos/2020/restart.jpg"]),
        (["Colorspace=", "Quality="], ["photos/profile.icc"]),
    ]:
        arguments = ["-r", "--format", "jsonl", "--fields", "Quality"]
        for condition in conditions:
            arguments += ["--where", condition]
        rc, out, err = probe(base, arguments + ["./" + plugin, "photos"])
        files = [norm(json.loads(line)["file"]) for line in out.decode("utf-8").splitlines()]
        check(rc == 0 and files == wanted, f"real --where {conditions}: files {files} (status {rc}), expected {wanted}")

    rc, out, err = probe(base, ["-r", "--format", "jsonl", "--fields", "Integrity", "--where", "Integrity!=OK",
                                "./" + plugin, "photos"])
    files = [norm(json.loads(line)["file"]) for line in out.decode("utf-8").splitlines()]
    check(files == ["photos/2020/cut.jpg", "photos/profile.icc"],
          f"real: Integrity!=OK lists {files}, expected the cut JPEG and the profile (no value)")


def case_progress():
    base, errors = make_fake_tree("progress")
    rc, out, err = probe(base, ["-r", "--progress", "--format", "csv", "--fields", "Name", "./fake.wdx", "tree"])
    check("\r" in err and "files/s" in err, f"progress: no progress line on stderr with --progress:\n{err!r}")
    rows = [line for line in out.decode("utf-8").split("\r\n") if line]
    check(len(rows) == 1 + len(expected_rows(errors)), "progress: the output is the same with the bar")
    base, errors = make_fake_tree("quiet")
    rc, out, err = probe(base, ["-r", "--format", "csv", "--fields", "Name", "./fake.wdx", "tree"])
    check("\r" not in err and "files/s" not in err, f"progress: a bar on stderr that is no terminal:\n{err!r}")


def main():
    global args
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--emulator", default="")
    parser.add_argument("--work", required=True)
    parser.add_argument("--fake", required=True)
    parser.add_argument("--real", required=True)
    parser.add_argument("--cjpeg", default="")
    parser.add_argument("--expected", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "expected"))
    parser.add_argument("--no-links", dest="links", action="store_false")
    parser.add_argument("case", choices=["table", "formats", "where", "real", "progress"])
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    if not args.links:
        print("skipped: the links in the tree (broken link, link to a file, link to a folder): not on this system")
    if args.case == "real" and not args.cjpeg:
        print("skipped: the real plugin's tree needs cjpeg")
        return 0
    globals()["case_" + args.case]()
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
