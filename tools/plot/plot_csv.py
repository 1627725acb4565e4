#!/usr/bin/env python3
"""Plots the output samples that tolvan-vdev --csv wrote, as an SVG file.

Each CSV file becomes one trace of the AC path in millivolts (and one of the DC path with
--dc) against time, sample / rate. Long files are decimated to at most --max-points points per
trace, keeping the minimum and maximum of every bucket so that narrow peaks (R waves, pacing
spikes) survive. Python 3 standard library only.
"""

import argparse
import csv
import math
import os
import sys
from xml.sax.saxutils import escape

COLOURS = ["#1f5fbf", "#c0392b", "#2e8b57", "#8e44ad", "#d35400", "#16a085"]


def read_csv(path, rate, start, duration, column="ac_mV"):
    """Returns (times, values of column (ac_mV by default), dc_mV) of the rows inside the time
    window."""
    times, ac, dc = [], [], []
    end = None if duration is None else start + duration
    with open(path, newline="") as f:
        reader = csv.reader(f)
        header = next(reader, None)
        if header is None:
            return times, ac, dc
        try:
            i_s, i_ac, i_dc = header.index("sample"), header.index(column), header.index("dc_mV")
        except ValueError:
            sys.exit(f"{path}: not a tolvan-vdev CSV file (needs sample, {column}, dc_mV)")
        for row in reader:
            t = int(row[i_s]) / rate
            if t < start:
                continue
            if end is not None and t >= end:
                break
            times.append(t)
            ac.append(float(row[i_ac]))
            dc.append(float(row[i_dc]))
    return times, ac, dc


def read_column(path, rate, start, duration, column):
    """Returns (times, values) of one column in the time window; empty cells are skipped."""
    times, values = [], []
    end = None if duration is None else start + duration
    with open(path, newline="") as f:
        reader = csv.reader(f)
        header = next(reader, None)
        if header is None or column not in header:
            sys.exit(f"{path}: no column {column}")
        i_s, i_v = header.index("sample"), header.index(column)
        for row in reader:
            t = int(row[i_s]) / rate
            if t < start:
                continue
            if end is not None and t >= end:
                break
            if i_v < len(row) and row[i_v] != "":
                times.append(t)
                values.append(float(row[i_v]))
    return times, values


def fit_to(values, lo, hi):
    """Scales values linearly so that their range spans lo .. hi."""
    if not values:
        return values
    v0, v1 = min(values), max(values)
    if v1 <= v0:
        return [(lo + hi) / 2 for _ in values]
    return [lo + (v - v0) * (hi - lo) / (v1 - v0) for v in values]


def decimate(times, values, max_points):
    """Keeps the minimum and the maximum of each bucket, in time order."""
    n = len(values)
    if n <= max_points:
        return list(zip(times, values))
    buckets = max(1, max_points // 2)
    out = []
    for b in range(buckets):
        lo, hi = b * n // buckets, (b + 1) * n // buckets
        if lo >= hi:
            continue
        seg = range(lo, hi)
        i_min = min(seg, key=values.__getitem__)
        i_max = max(seg, key=values.__getitem__)
        for i in sorted({i_min, i_max}):
            out.append((times[i], values[i]))
    return out


def nice_step(span, target):
    """A 1-2-5 step that divides span into about target intervals."""
    if span <= 0:
        return 1.0
    raw = span / target
    mag = 10 ** math.floor(math.log10(raw))
    for m in (1, 2, 5, 10):
        if raw <= m * mag:
            return m * mag
    return 10 * mag


def ticks(lo, hi, step):
    first = math.ceil(lo / step - 1e-9)
    last = math.floor(hi / step + 1e-9)
    return [k * step for k in range(first, last + 1)]


def fmt(v, step):
    digits = max(0, -int(math.floor(math.log10(step)))) if step < 1 else 0
    return f"{v:.{digits}f}"


def plot(traces, path, title, width, height):
    """traces: list of (label, colour, dashed, [(t, v), ...])."""
    left, right, top, bottom = 70, 20, 40, 50
    pw, ph = width - left - right, height - top - bottom
    all_t = [p[0] for tr in traces for p in tr[3]]
    all_v = [p[1] for tr in traces for p in tr[3]]
    t0, t1 = (min(all_t), max(all_t)) if all_t else (0.0, 1.0)
    if t1 <= t0:
        t1 = t0 + 1.0
    v0, v1 = (min(all_v), max(all_v)) if all_v else (-1.0, 1.0)
    # Always show zero and at least 1 mV, with a small margin, on whole grid steps.
    v0, v1 = min(v0, 0.0), max(v1, 0.0)
    if v1 - v0 < 1.0:
        mid = (v0 + v1) / 2
        v0, v1 = mid - 0.5, mid + 0.5
    ystep = nice_step(v1 - v0, 8)
    v0 = math.floor(v0 / ystep - 0.05) * ystep
    v1 = math.ceil(v1 / ystep + 0.05) * ystep
    xstep = nice_step(t1 - t0, 10)

    def x(t):
        return left + (t - t0) / (t1 - t0) * pw

    def y(v):
        return top + (v1 - v) / (v1 - v0) * ph

    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
        f'viewBox="0 0 {width} {height}" font-family="sans-serif" font-size="12">',
        f'<rect width="{width}" height="{height}" fill="white"/>',
        f'<text x="{width / 2:.1f}" y="24" text-anchor="middle" font-size="15">'
        f"{escape(title)}</text>",
    ]
    # Millivolt grid and the y axis labels.
    for v in ticks(v0, v1, ystep):
        colour = "#888" if abs(v) < ystep / 2 else "#ddd"
        out.append(
            f'<line x1="{left}" y1="{y(v):.1f}" x2="{left + pw}" y2="{y(v):.1f}" '
            f'stroke="{colour}" stroke-width="1"/>'
        )
        out.append(
            f'<text x="{left - 6}" y="{y(v) + 4:.1f}" text-anchor="end">{fmt(v, ystep)}</text>'
        )
    # Time grid and the x axis labels.
    for t in ticks(t0, t1, xstep):
        out.append(
            f'<line x1="{x(t):.1f}" y1="{top}" x2="{x(t):.1f}" y2="{top + ph}" '
            f'stroke="#eee" stroke-width="1"/>'
        )
        out.append(
            f'<text x="{x(t):.1f}" y="{top + ph + 16}" text-anchor="middle">{fmt(t, xstep)}</text>'
        )
    out.append(
        f'<rect x="{left}" y="{top}" width="{pw}" height="{ph}" fill="none" stroke="black"/>'
    )
    out.append(
        f'<text x="{left + pw / 2:.1f}" y="{height - 10}" text-anchor="middle">time (s)</text>'
    )
    out.append(
        f'<text transform="translate(18,{top + ph / 2:.1f}) rotate(-90)" '
        f'text-anchor="middle">mV</text>'
    )
    for label, colour, dashed, points in traces:
        if not points:
            continue
        d = " ".join(f"{x(t):.2f},{y(v):.2f}" for t, v in points)
        dash = ' stroke-dasharray="5,3"' if dashed else ""
        out.append(
            f'<polyline fill="none" stroke="{colour}" stroke-width="1.2"{dash} points="{d}"/>'
        )
    # Legend in the top right corner of the plot area.
    lw = 12 + 7 * max((len(tr[0]) for tr in traces), default=0) + 34
    lx, ly = left + pw - lw - 8, top + 8
    out.append(
        f'<rect x="{lx}" y="{ly}" width="{lw}" height="{8 + 18 * len(traces)}" '
        f'fill="white" fill-opacity="0.85" stroke="#999"/>'
    )
    for k, (label, colour, dashed, _) in enumerate(traces):
        yy = ly + 16 + 18 * k
        dash = ' stroke-dasharray="5,3"' if dashed else ""
        out.append(
            f'<line x1="{lx + 8}" y1="{yy - 4}" x2="{lx + 32}" y2="{yy - 4}" '
            f'stroke="{colour}" stroke-width="2"{dash}/>'
        )
        out.append(f'<text x="{lx + 38}" y="{yy}">{escape(label)}</text>')
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def summary(path, times, ac, dc, rate):
    name = os.path.basename(path)
    if not times:
        print(f"{name}: no samples in the window")
        return
    print(
        f"{name}: {len(times)} samples, {len(times) / rate:.3f} s "
        f"({times[0]:.3f} .. {times[-1]:.3f} s), "
        f"AC {min(ac):+.3f} .. {max(ac):+.3f} mV, DC {min(dc):+.3f} .. {max(dc):+.3f} mV"
    )


def main():
    p = argparse.ArgumentParser(
        description="Plots the AC path (and optionally the DC path) of tolvan-vdev --csv files "
        "in millivolts against time, as an SVG file.",
        epilog="example: plot_csv.py out.csv -o out.svg --start 1 --duration 2 --dc",
    )
    p.add_argument("csv", nargs="+", help="CSV file(s) written by tolvan-vdev --csv")
    p.add_argument("-o", "--output", help="SVG file to write (default: first CSV with .svg)")
    p.add_argument("--rate", type=float, default=20000, help="samples per second (default 20000)")
    p.add_argument("--start", type=float, default=0.0, help="start of the window, s (default 0)")
    p.add_argument("--duration", type=float, help="length of the window, s (default: to the end)")
    p.add_argument("--max-points", type=int, default=4000,
                   help="at most this many points per trace (default 4000)")
    p.add_argument("--column", default="ac_mV",
                   help="CSV column of the main trace (default ac_mV; resp_ohms plots the "
                   "respiration module's resistance)")
    p.add_argument("--dc", action="store_true", help="also plot the DC path (dashed)")
    p.add_argument("--also", action="append", default=[], metavar="COLUMN",
                   help="also plot this column of each file on the same time axis, scaled to "
                   "the main trace's range (for example ch1_ac, the AC level of PPG channel 1); "
                   "may be repeated")
    p.add_argument("--title", help="plot title (default: the file names)")
    p.add_argument("--label", action="append",
                   help="legend label of each CSV file, in order (default: file name)")
    p.add_argument("--width", type=int, default=1000, help="SVG width in pixels (default 1000)")
    p.add_argument("--height", type=int, default=400, help="SVG height in pixels (default 400)")
    p.add_argument("--summary", action="store_true",
                   help="print samples, duration, AC and DC min/max of each file; no plot "
                   "unless -o is given")
    a = p.parse_args()
    if a.rate <= 0 or a.max_points < 2 or (a.duration is not None and a.duration <= 0):
        p.error("--rate and --duration must be positive, --max-points at least 2")

    traces = []
    for k, path in enumerate(a.csv):
        times, ac, dc = read_csv(path, a.rate, a.start, a.duration, a.column)
        if a.summary:
            summary(path, times, ac, dc, a.rate)
        name = a.label[k] if a.label and k < len(a.label) else os.path.basename(path)
        colour = COLOURS[k % len(COLOURS)]
        traces.append((f"{name} AC" if a.column == "ac_mV" else f"{name} {a.column}", colour, False, decimate(times, ac, a.max_points)))
        if a.dc:
            traces.append((f"{name} DC", colour, True, decimate(times, dc, a.max_points)))
        lo, hi = (min(ac), max(ac)) if ac else (0.0, 1.0)
        for m, column in enumerate(a.also):
            t2, v2 = read_column(path, a.rate, a.start, a.duration, column)
            extra = COLOURS[(k + m + 1) % len(COLOURS)]
            traces.append((f"{name} {column} (scaled)", extra, False,
                           decimate(t2, fit_to(v2, lo, hi), a.max_points)))
    if a.summary and not a.output:
        return
    out = a.output or os.path.splitext(a.csv[0])[0] + ".svg"
    title = a.title or ", ".join(os.path.basename(c) for c in a.csv)
    plot(traces, out, title, a.width, a.height)


if __name__ == "__main__":
    main()
