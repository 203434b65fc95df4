#!/usr/bin/env python3
"""Expectations for the real-profile tests, made by tools independent of our parser.

For every file of the corpus's icc/ and icc/bad/ folders and every ICC profile under the
system's colour folder this writes one TSV row: the raw 128-byte header, the MD5 under
the ICC.1 7.2.18 profile-ID rule (hashlib over the file with bytes 44-47, 64-67 and 84-99
zeroed), and, for the tags desc, cprt, dmnd and dmdd, the tag type and the text that
exiftool reports. exiftool shows the last record of a multi-language "mluc" text while the
plugin shows the first: for those tags the first record, read here, is the expectation.

Usage: make_expectations.py OUTPUT.tsv CORPUS_DIR SYSTEM_ICC_DIR
ORVANE_CORPUS in the environment replaces CORPUS_DIR. Absent folders give no rows; a
missing exiftool gives no text expectations (source "no-exiftool").
"""

import base64
import hashlib
import json
import os
import shutil
import struct
import subprocess
import sys

TEXT_TAGS = ("desc", "cprt", "dmnd", "dmdd")
EXIFTOOL_NAMES = {
    "desc": "ProfileDescription",
    "cprt": "ProfileCopyright",
    "dmnd": "DeviceMfgDesc",
    "dmdd": "DeviceModelDesc",
}


def is_profile(data):
    return len(data) >= 128 and data[36:40] == b"acsp"


def profile_id_md5(data):
    if len(data) < 128:
        return ""
    header = bytearray(data[:128])
    for start, end in ((44, 48), (64, 68), (84, 100)):
        header[start:end] = bytes(end - start)
    return hashlib.md5(bytes(header) + data[128:]).hexdigest().upper()


def text_tags(data):
    """signature -> (type, mluc record count, first mluc record text or None); later entries win."""
    found = {}
    if len(data) < 132:
        return found
    count = struct.unpack(">I", data[128:132])[0]
    position = 132
    while count > 0 and position + 12 <= len(data):
        signature = data[position:position + 4].decode("latin-1")
        offset, _size = struct.unpack(">II", data[position + 4:position + 12])
        position += 12
        count -= 1
        if signature not in TEXT_TAGS:
            continue
        kind = data[offset:offset + 4].decode("latin-1") if offset + 4 <= len(data) else ""
        records, first = 0, None
        if kind == "mluc" and offset + 28 <= len(data):
            records, _record_size = struct.unpack(">II", data[offset + 8:offset + 16])
            length, text_offset = struct.unpack(">II", data[offset + 20:offset + 28])
            start = offset + text_offset
            raw = data[start:start + (length // 2) * 2]
            if len(raw) == (length // 2) * 2:
                first = raw.decode("utf-16-be", errors="replace")
        found[signature] = (kind, records, first)
    return found


def exiftool_texts(paths):
    if not paths or shutil.which("exiftool") is None:
        return None
    names = ["-" + name for name in EXIFTOOL_NAMES.values()]
    result = {}
    # A few dozen files a call keeps the command line short.
    for i in range(0, len(paths), 40):
        batch = paths[i:i + 40]
        run = subprocess.run(["exiftool", "-j", "-charset", "utf8"] + names + batch,
                             capture_output=True, check=False)
        for entry in json.loads(run.stdout.decode("utf-8") or "[]"):
            result[entry["SourceFile"]] = entry
    return result


def exif_value(entry, name):
    value = entry.get(name, "") if entry else ""
    value = str(value)
    if value.startswith("base64:"):
        value = base64.b64decode(value[7:]).decode("latin-1")
    return value


def collect(set_name, root, only_profiles):
    rows = []
    if not os.path.isdir(root):
        return rows
    for folder, _dirs, files in sorted(os.walk(root)):
        for name in sorted(files):
            full = os.path.join(folder, name)
            if not os.path.isfile(full):
                continue
            with open(full, "rb") as f:
                data = f.read()
            if only_profiles and not is_profile(data):
                continue
            rows.append((set_name, os.path.relpath(full, root), full, data))
    return rows


def main():
    output, corpus, system = sys.argv[1], sys.argv[2], sys.argv[3]
    corpus = os.environ.get("ORVANE_CORPUS", corpus)
    rows = collect("corpus", os.path.join(corpus, "icc"), False)
    rows += collect("system", system, True)
    texts = exiftool_texts([full for _s, _r, full, _d in rows])

    columns = ["set", "path", "size", "header", "md5"]
    for tag in TEXT_TAGS:
        columns += [tag + "_type", tag + "_records", tag + "_source", tag + "_text"]
    lines = ["\t".join(columns)]
    for set_name, relative, full, data in rows:
        fields = [set_name, relative.replace(os.sep, "/"), str(len(data)),
                  data[:128].hex().upper() if is_profile(data) else "", profile_id_md5(data)]
        tags = text_tags(data) if is_profile(data) else {}
        entry = texts.get(full) if texts is not None else None
        for tag in TEXT_TAGS:
            kind, records, first = tags.get(tag, ("", 0, None))
            if texts is None:
                source, text = "no-exiftool", ""
            elif kind == "mluc" and records > 1 and first is not None:
                source, text = "first-record", first
            else:
                source, text = "exiftool", exif_value(entry, EXIFTOOL_NAMES[tag])
            fields += [kind, str(records), source, text.encode("utf-8").hex().upper()]
        lines.append("\t".join(fields))
    with open(output, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    print(f"{len(rows)} files, exiftool {'absent' if texts is None else 'used'}: {output}")


if __name__ == "__main__":
    main()
