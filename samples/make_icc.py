#!/usr/bin/env python3
"""Writes the two sample ICC profiles: a version 2 display profile with "desc" and "text"
tags, and a version 4 one with "mluc" tags and a profile ID (ICC.1:2010 7.2.18)."""
import hashlib
import struct
import sys


def s15f16(value):
    return struct.pack(">i", round(value * 65536))


def xyz(x, y, z):
    return b"XYZ " + bytes(4) + s15f16(x) + s15f16(y) + s15f16(z)


def curve(gamma):
    return b"curv" + bytes(4) + struct.pack(">IH", 1, round(gamma * 256)) + bytes(2)


def desc(text):
    ascii_text = text.encode("ascii") + b"\0"
    return (b"desc" + bytes(4) + struct.pack(">I", len(ascii_text)) + ascii_text
            + struct.pack(">II", 0, 0) + struct.pack(">HB", 0, 0) + bytes(67))


def text(value):
    return b"text" + bytes(4) + value.encode("ascii") + b"\0"


def mluc(records):
    header = b"mluc" + bytes(4) + struct.pack(">II", len(records), 12)
    strings = [value.encode("utf-16-be") for _, _, value in records]
    offset = len(header) + 12 * len(records)
    table = b""
    for (language, country, _), data in zip(records, strings):
        table += language.encode() + country.encode() + struct.pack(">II", len(data), offset)
        offset += len(data)
    return header + table + b"".join(strings)


def profile(version, device_class, tags, creator):
    tag_data = b""
    table = b""
    offset = 128 + 4 + 12 * len(tags)
    for signature, data in tags:
        while len(data) % 4:
            data += b"\0"
        table += signature.encode() + struct.pack(">II", offset + len(tag_data), len(data))
        tag_data += data
    size = offset + len(tag_data)
    header = bytearray(128)
    struct.pack_into(">I", header, 0, size)
    header[4:8] = b"lcms"
    header[8:12] = version
    header[12:16] = device_class
    header[16:20] = b"RGB "
    header[20:24] = b"XYZ "
    struct.pack_into(">6H", header, 24, 2026, 12, 10, 12, 0, 0)
    header[36:40] = b"acsp"
    header[40:44] = b"APPL"
    header[48:52] = b"ORVN"
    header[52:56] = b"smp1"
    header[68:80] = s15f16(0.9642) + s15f16(1.0) + s15f16(0.8249)
    header[80:84] = creator
    data = bytearray(header + struct.pack(">I", len(tags)) + table + tag_data)
    if version[0] >= 4:
        hashed = bytearray(data)
        hashed[44:48] = bytes(4)
        hashed[64:68] = bytes(4)
        hashed[84:100] = bytes(16)
        data[84:100] = hashlib.md5(hashed).digest()
    return bytes(data)


colourants = [
    ("wtpt", xyz(0.9505, 1.0, 1.0891)),
    ("rXYZ", xyz(0.4361, 0.2225, 0.0139)),
    ("gXYZ", xyz(0.3851, 0.7169, 0.0971)),
    ("bXYZ", xyz(0.1431, 0.0606, 0.7141)),
    ("rTRC", curve(2.2)), ("gTRC", curve(2.2)), ("bTRC", curve(2.2)),
]

v2 = profile(b"\x02\x10\x00\x00", b"mntr", [
    ("desc", desc("Orvane sample RGB (gamma 2.2)")),
    ("cprt", text("No copyright, use freely")),
    ("dmnd", desc("Orvane")),
    ("dmdd", desc("Sample display")),
] + colourants, b"ORVN")

v4 = profile(b"\x04\x30\x00\x00", b"spac", [
    ("desc", mluc([("en", "US", "Orvane sample RGB v4"), ("de", "DE", "Orvane Beispiel RGB v4")])),
    ("cprt", mluc([("en", "US", "No copyright, use freely")])),
] + colourants, b"ORVN")

with open(sys.argv[1], "wb") as out:
    out.write(v2)
with open(sys.argv[2], "wb") as out:
    out.write(v4)
