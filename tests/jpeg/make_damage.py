#!/usr/bin/env python3
"""Damaged copies of real JPEG streams and what djpeg and jpeginfo -c say about them.

Usage: make_damage.py OUT ORIGINAL... [--corpus DIR]

Writes OUT/damage/<original>-<kind>.jpg for every original: cut at several points of its
entropy-coded data, without EOI, a byte flipped in the data, EOI or random bytes inserted
in the data, a restart marker renumbered or dropped, bytes appended after EOI. Then, one
row per file (the originals first), tab-separated:

  OUT/damage.tsv   file (relative to OUT), original, kind, cut (1 when the file ends inside
                   some scan's entropy-coded data, 0 otherwise), appended (bytes after EOI,
                   -1 when the stream has no EOI), scans (SOS markers), djpeg, jpeginfo
  OUT/corpus_decode.tsv  the same columns for every JPEG of the corpus (file relative to
                   the corpus, original and kind "-"), if --corpus is given

The verdicts: "ok", "warning: <message>" or "error: <message>" (djpeg exits 2 after
warnings, 1 after an error); jpeginfo's "OK", "WARNING ..." or "ERROR ..." likewise; "-"
when the tool is missing.
"""
import os
import random
import shutil
import subprocess
import sys


def walk(data):
    """Scan data ranges [start, end), the offset of the EOI that ends the stream (or None),
    and the number of SOS markers, by the marker walk of T.81 B.1."""
    scans, eoi, sos = [], None, 0
    i = 2 if data[:2] == b"\xff\xd8" else 0
    while i + 1 < len(data):
        if data[i] != 0xFF:
            i += 1
            continue
        marker = data[i + 1]
        if marker in (0x00, 0xFF) or 0xD0 <= marker <= 0xD7 or marker == 0x01:
            i += 1 if marker == 0xFF else 2
            continue
        if marker == 0xD9:
            eoi = i
            break
        if i + 3 >= len(data):
            break
        length = data[i + 2] << 8 | data[i + 3]
        end = i + 2 + length
        if marker == 0xDA:
            sos += 1
            j = end
            # Entropy-coded data runs to the first marker that is neither 0xFF00 nor RSTn.
            while j + 1 < len(data) and not (data[j] == 0xFF and data[j + 1] != 0x00 and not 0xD0 <= data[j + 1] <= 0xD7):
                j += 1
            if j + 1 >= len(data):
                j = len(data)
            scans.append((end, j))
            i = j
        else:
            i = end
    return scans, eoi, sos


def verdict(command):
    if not shutil.which(command[0]):
        return "-"
    run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    text = (run.stdout + run.stderr).decode("latin-1")
    if command[0] == "djpeg":
        message = "; ".join(line.strip() for line in run.stderr.decode("latin-1").splitlines() if line.strip())
        if run.returncode == 0 and not message:
            return "ok"
        return ("error: " if run.returncode == 1 else "warning: ") + message
    # jpeginfo -c: one line per file ending in OK, or WARNING/ERROR and a message.
    for word in ("ERROR", "WARNING"):
        at = text.find(word)
        if at >= 0:
            return " ".join(text[at:].split())
    return "OK" if "OK" in text else " ".join(text.split())


def row(path, shown, original, kind, data, cut=0):
    _, eoi, sos = walk(data)
    appended = len(data) - eoi - 2 if eoi is not None else -1
    djpeg = verdict(["djpeg", "-outfile", os.devnull, path])
    jpeginfo = verdict(["jpeginfo", "-c", path])
    return "\t".join([shown, original, kind, str(cut), str(appended), str(sos), djpeg, jpeginfo])


def damaged(data, rng):
    """(kind, bytes, cut) for every damage that applies to this stream; cut is 1 when the
    bytes end strictly inside the entropy-coded data of one of its scans."""
    scans, eoi, _ = walk(data)
    if not scans or eoi is None:
        return []
    first, last = scans[0], scans[-1]
    out = []
    span_start, span_end = first[0], eoi
    for percent in (10, 30, 50, 70, 90):
        at = span_start + (span_end - span_start) * percent // 100
        while data[at - 1] == 0xFF:  # not between a data byte 0xFF and its 0x00
            at -= 1
        out.append(("cut%d" % percent, data[:at], int(any(start < at < end for start, end in scans))))
    out.append(("no-eoi", data[:eoi], 0))
    for name, (start, end) in (("first", first), ("last", last)):
        at = (start + end) // 2
        flipped = bytearray(data)
        flipped[at] ^= 0x10 if flipped[at] ^ 0x10 != 0xFF else 0x20
        out.append(("flip-" + name, bytes(flipped), 0))
    middle = (first[0] + first[1]) // 2
    while data[middle - 1] == 0xFF:
        middle -= 1
    out.append(("eoi-inside", data[:middle] + b"\xff\xd9" + data[middle:], 0))
    noise = bytes(rng.randrange(256) for _ in range(64)).replace(b"\xff", b"\xfe")
    out.append(("noise", data[:middle] + noise + data[middle:], 0))
    restarts = [i for i in range(first[0], first[1] - 1) if data[i] == 0xFF and 0xD0 <= data[i + 1] <= 0xD7]
    if len(restarts) >= 2:
        at = restarts[1]
        renumbered = bytearray(data)
        renumbered[at + 1] = 0xD0 + (data[at + 1] - 0xD0 + 2) % 8
        out.append(("rst-renumbered", bytes(renumbered), 0))
        out.append(("rst-dropped", data[:at] + data[at + 2:], 0))
    out.append(("trailer", data + bytes(range(123)), 0))
    return out


def main():
    args = sys.argv[1:]
    corpus = None
    if "--corpus" in args:
        at = args.index("--corpus")
        corpus = args[at + 1]
        del args[at:at + 2]
    out, originals = args[0], args[1:]
    os.makedirs(os.path.join(out, "damage"), exist_ok=True)
    rng = random.Random(20240611)
    rows = []
    for original in originals:
        with open(original, "rb") as f:
            data = f.read()
        name = os.path.splitext(os.path.basename(original))[0]
        rows.append(row(original, os.path.relpath(original, out), name, "original", data))
        for kind, variant, cut in damaged(data, rng):
            path = os.path.join(out, "damage", "%s-%s.jpg" % (name, kind))
            with open(path, "wb") as f:
                f.write(variant)
            rows.append(row(path, os.path.relpath(path, out), name, kind, variant, cut))
    with open(os.path.join(out, "damage.tsv"), "w") as f:
        f.write("\n".join(rows) + "\n")
    if corpus and os.path.isdir(os.path.join(corpus, "jpeg")):
        rows = []
        for folder, _, files in sorted(os.walk(os.path.join(corpus, "jpeg"))):
            for file in sorted(files):
                if os.path.splitext(file)[1].lower() not in (".jpg", ".jpeg", ".jps", ".mpo"):
                    continue
                path = os.path.join(folder, file)
                with open(path, "rb") as f:
                    data = f.read()
                rows.append(row(path, os.path.relpath(path, corpus), "-", "-", data))
        with open(os.path.join(out, "corpus_decode.tsv"), "w") as f:
            f.write("\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
