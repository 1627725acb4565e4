#!/usr/bin/env python3
"""Writes a small seed corpus for each fuzz target: valid files of every loader's format,
made here from scratch (no published data). Usage: make_corpus.py OUTPUT_DIR"""
import math
import os
import struct
import sys


def put(out, target, name, data):
    d = os.path.join(out, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def sine(n, amp):
    return [int(amp * math.sin(2 * math.pi * i / 50)) for i in range(n)]


def text_files():
    rows = "\n".join("%.3f,%.3f" % (v / 1000, -v / 1000) for v in sine(40, 1500))
    yield b"\x01" + ("500\n40\n2\nI,II\n" + rows + "\n").encode()
    yield b"\x02" + b"360.5\r\n3\r\n3\r\na,b,c\r\n1,,2,3\r\n4,5\r\n35,-35,0\r\n"
    yield b"\x00" + b"100\n1000\n1\nI\n"


def bin_files():
    s = sine(60, 2000)
    yield struct.pack(">HI", 500, len(s)) + struct.pack(">%dh" % len(s), *s)
    yield struct.pack(">HI", 4000, 100) + struct.pack(">3h", 25000, -25000, 1)


def aha_txt_files():
    yield b"\x00" + "\n".join("%d,%d" % (v, -v) for v in sine(30, 800)).encode() + b"\n"
    yield b"\x01" + b"400 800\n\n7\n1x,2\n-40\t,\t4e2\n"


def aha_ecg_files():
    s = sine(30, 800)
    yield b"\x00" + b"".join(struct.pack("<hhB", v, -v, 0) for v in s)
    yield b"\x01" + bytes(12)


def field(text, width):
    return text.encode()[:width].ljust(width, b" ")


def edf(signals, records=2, duration="1"):
    ns = len(signals)
    h = (field("0", 8) + field("X M 01-JAN-1970 Fuzz_Seed", 80)
         + field("Startdate 02-MAR-2002 X X X", 80) + field("02.03.02", 8) + field("14.30.00", 8)
         + field(str((ns + 1) * 256), 8) + field("EDF+C", 44) + field(str(records), 8)
         + field(duration, 8) + field(str(ns), 4))
    cols = [
        [s[0] for s in signals], ["" for _ in signals], ["uV" for _ in signals],
        ["-3276.8" for _ in signals], ["3276.7" for _ in signals],
        ["-32768" for _ in signals], ["32767" for _ in signals], ["" for _ in signals],
        [str(s[1]) for s in signals], ["" for _ in signals],
    ]
    widths = [16, 80, 8, 8, 8, 8, 8, 80, 8, 32]
    for values, w in zip(cols, widths):
        for v in values:
            h += field(v, w)
    for r in range(records):
        for label, spr in signals:
            h += struct.pack("<%dh" % spr, *sine(spr, 3000))
    return h


def edf_files():
    yield b"\x01" + edf([("ECG I", 100), ("ECG II", 50)])
    yield b"\x02" + edf([("ECG", 200), ("EDF Annotations", 30)], records=1, duration="2")


def wfdb_files():
    s = sine(40, 500)
    hea = b"r 2 360 20\nr.dat 212 200(0)/mV 12 0 0 0 0 I\nr.dat 212 200/mV 12 0 0 0 0 II\n"
    packed = b""
    for i in range(0, len(s), 2):
        a, b = s[i] & 0xFFF, s[i + 1] & 0xFFF
        packed += bytes([a & 0xFF, ((a >> 8) & 0x0F) | ((b >> 4) & 0xF0), b & 0xFF])
    yield b"\x02" + hea + b"\x00" + packed
    hea16 = b"# comment\nr 1 720 20\nr.dat 16 130 12 2048 0 0 0 ECG\n"
    yield b"\x01" + hea16 + b"\x00" + struct.pack("<20h", *[v + 2048 for v in sine(20, 300)])


def edf_ex_files():
    # flags in bits 2..4 of the first byte: 0x1C all three (resample, gaps, free text)
    yield b"\x1d" + edf([("ECG I", 100), ("ECG II", 50)])
    yield b"\x09" + edf([("ECG", 200), ("EDF Annotations", 30)], records=1, duration="2")


def wfdb_record_files():
    s = sine(30, 400)
    hea = b"r 2 128.5 15\n@ 311 200(0)/mV 10 0 0 0 0 I\n@ 311 200/mV 10 0 0 0 0 II\n"
    packed = b""
    for i in range(0, len(s), 3):
        a, b, c = (v & 0x3FF for v in s[i:i + 3])
        packed += struct.pack("<I", a | b << 10 | c << 20)
    yield b"\x81" + hea + b"\x00" + packed
    yield b"\x02" + b"r 1 360 20\n@ 8 200 8 0 5 0 0 ECG\n" + b"\x00" + bytes(range(20))
    yield b"\x01" + b"m/2 1 360 40\n~ 20\nr 20\n" + b"\x00"
    # samples per frame, skew and offset; format 8 with several samples per frame
    yield (b"\x03" + b"r 3 125 5\n@ 16+2 200 16 0 0 0 0 a\n@ 16x4:2+2 100 16 0 0 0 0 b\n"
           b"@ 16x2:1+2 50(3) 16 0 0 0 0 c\n" + b"\x00" + b"\x00\x00" +
           struct.pack("<35h", *sine(35, 900)))
    yield b"\x01" + b"r 2 62.5 6\n@ 8x3 200 8 0 5 0 0 a\n@ 8 200 8 0 -5 0 0 b\n" + b"\x00" + bytes(
        (v & 0xFF) for v in sine(24, 20))
    # multi-segment records whose segment (the header after 0x01) has two samples per frame
    segment = b"\x01$ 2 250 10\n@ 212x2 100 12 0 0 0 0 ECG\n@ 212 100 12 0 0 0 0 x\n"
    packed = b""
    for i in range(0, 30, 2):
        a, b = (v & 0xFFF for v in sine(30, 700)[i:i + 2])
        packed += bytes([a & 0xFF, ((a >> 8) & 0x0F) | ((b >> 4) & 0xF0), b & 0xFF])
    yield b"\x01" + b"m/3 2 250 25\n~ 5\n$ 10\n$ 10\n" + segment + b"\x00" + packed
    yield b"\x02" + b"m/4 2 250 25\n$ 0\n$ 10\n~ 5\n$ 10\n" + segment + b"\x00" + packed


def reply_files():
    # For each parser selector: an acknowledged 64-byte reply (0xFF at every byte a family
    # tests), a short one and one with the acknowledge byte cleared; counts of 16 and 48.
    for selector in range(32):
        for count in (16, 48):
            sel = bytes([(selector & 0x1F) | ((count << 2) & 0xE0)])
            full = bytearray(range(64))
            for i in (1, 2, 3, 4):
                full[i] = 0xFF
            full[0] = 0xAD
            yield sel + bytes(full)
            yield sel + bytes(full[:12])
            full[3] = full[4] = 0
            yield sel + bytes(full)


def main():
    out = sys.argv[1]
    for target, gen in [("text", text_files), ("bin", bin_files), ("aha_txt", aha_txt_files),
                        ("aha_ecg", aha_ecg_files), ("edf", edf_files), ("wfdb", wfdb_files),
                        ("edf_ex", edf_ex_files), ("wfdb_record", wfdb_record_files),
                        ("replies", reply_files)]:
        for i, data in enumerate(gen()):
            put(out, target, "seed%d" % i, data)


if __name__ == "__main__":
    main()
