#!/usr/bin/env python3
"""Plots a one-signal WFDB record (.hea, .dat in format 16 or 212) with the annotations of its
.atr as markers, as an SVG file: a dot on the signal and the label above it at each annotation
(N, / paced beat, ^ pacing pulse, " notes with their text). Python 3 standard library only.

usage: plot_wfdb.py RECORD.hea -o OUT.svg [--start S] [--seconds S]
"""

import argparse
import sys
from xml.sax.saxutils import escape

LABELS = {1: "N", 12: "/", 13: "Q", 22: '"', 39: "^"}


def read_record(hea):
    with open(hea) as f:
        lines = [l.split() for l in f if l.strip() and not l.startswith("#")]
    rate, count = float(lines[0][2]), int(lines[0][3])
    fmt, gain = int(lines[1][1]), float(lines[1][2].split("(")[0].split("/")[0])
    raw = open(hea[:-4] + ".dat", "rb").read()
    adc = []
    if fmt == 16:
        for i in range(count):
            v = raw[2 * i] | raw[2 * i + 1] << 8
            adc.append(v - 65536 if v >= 32768 else v)
    elif fmt == 212:
        for i in range(0, 3 * ((count + 1) // 2), 3):
            b0, b1, b2 = raw[i], raw[i + 1], raw[i + 2]
            for v in (b0 | (b1 & 0x0F) << 8, b2 | (b1 >> 4) << 8):
                adc.append(v - 4096 if v >= 2048 else v)
    else:
        sys.exit(f"{hea}: format {fmt} is not drawn by this script (16 or 212)")
    return rate, [v / gain for v in adc[:count]]


def read_annotations(atr):
    try:
        raw = open(atr, "rb").read()
    except OSError:
        return []
    out, t, i = [], 0, 0
    while i + 1 < len(raw):
        word = raw[i] | raw[i + 1] << 8
        i += 2
        if word == 0:
            break
        code, value = word >> 10, word & 0x3FF
        if code == 59:
            t += (raw[i] | raw[i + 1] << 8) << 16 | raw[i + 2] | raw[i + 3] << 8
            i += 4
        elif code == 63:
            out[-1][1] = raw[i:i + value].decode(errors="replace")
            i += value + (value & 1)
        else:
            t += value
            out.append([t, LABELS.get(code, str(code))])
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("record")
    ap.add_argument("-o", "--output", required=True)
    ap.add_argument("--start", type=float, default=0.0)
    ap.add_argument("--seconds", type=float, default=10.0)
    a = ap.parse_args()
    rate, mv = read_record(a.record)
    first = int(a.start * rate)
    last = min(len(mv), int((a.start + a.seconds) * rate))
    if last <= first:
        sys.exit("nothing to draw in that window")
    seg = mv[first:last]
    low, high = min(seg), max(seg)
    if high - low < 1e-6:
        low, high = low - 0.5, high + 0.5
    width, height, pad = 1200, 360, 40
    x = lambda s: pad + (s - first) * (width - 2 * pad) / (last - first)
    y = lambda v: height - pad - (v - low) * (height - 2 * pad) / (high - low)
    step = max(1, (last - first) // 4000)
    points = " ".join(f"{x(s):.1f},{y(mv[s]):.1f}" for s in range(first, last, step))
    marks = []
    shown = 0
    for sample, label in read_annotations(a.record[:-4] + ".atr"):
        if not first <= sample < last:
            continue
        shown += 1
        colour = {"N": "#2e8b57", "/": "#c0392b", "^": "#d35400"}.get(label, "#8e44ad")
        marks.append(f'<circle cx="{x(sample):.1f}" cy="{y(mv[sample]):.1f}" r="3.5" '
                     f'fill="{colour}"/>')
        marks.append(f'<text x="{x(sample):.1f}" y="{pad - 8}" font-size="12" '
                     f'text-anchor="middle" fill="{colour}">{escape(label)}</text>')
        marks.append(f'<line x1="{x(sample):.1f}" y1="{pad - 4}" x2="{x(sample):.1f}" '
                     f'y2="{height - pad}" stroke="{colour}" stroke-opacity="0.25"/>')
    title = escape(f"{a.record}: {a.start:g} .. {a.start + (last - first) / rate:g} s, "
                   f"{low:.2f} .. {high:.2f} mV, {shown} annotations")
    with open(a.output, "w") as f:
        f.write(f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}">\n'
                f'<rect width="100%" height="100%" fill="white"/>\n'
                f'<text x="{pad}" y="16" font-size="13">{title}</text>\n'
                f'<polyline fill="none" stroke="#1f5fbf" stroke-width="1" points="{points}"/>\n'
                + "\n".join(marks) + "\n</svg>\n")
    print(f"plotted {last - first} samples and {shown} annotations of {a.record} to {a.output}")


if __name__ == "__main__":
    main()
