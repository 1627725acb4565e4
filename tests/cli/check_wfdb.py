"""Reads a WFDB record written by tolvan render --annotations without any WFDB library and
checks it: the header, the samples (format 16 or 212) against a CSV render of the same signal,
and that every beat annotation of the .atr sits on the highest sample of its beat.

usage: check_wfdb.py RECORD(.hea) CSV LABELS [EDFPLUS_LISTING]
  LABELS  the beat annotations expected per label, e.g. N=1,/=9
  EDFPLUS_LISTING  what edfplus_annotations printed for the EDF+ twin: its beats must match
or:    check_wfdb.py --device DEVICE(.hea) VDEV_CSV HOST(.hea) LABELS
  the record tolvan-vdev decoded in a play whose ground truth was merged into it, the CSV it
  wrote in the same run and the record of the callback's samples that tolvan play wrote: the
  samples equal the CSV's ac_mV and (within the two records' resolutions) the host's, every beat
  lies on its beat's highest sample within one sample, every ^ on a sample whose pacing marker
  is set.
Prints one line and exits 0 when all holds, 1 otherwise.
"""

import sys

CODES = {1: "N", 12: "/", 13: "Q", 22: '"', 39: "^"}


def read_header(path):
    with open(path) as f:
        lines = [l.split() for l in f if l.strip() and not l.startswith("#")]
    name, signals, rate, count = lines[0][:4]
    assert signals == "1", "one signal"
    sig = lines[1]
    fmt = int(sig[1])
    gain = float(sig[2].split("(")[0])
    return float(rate), int(count), sig[0], fmt, gain, int(sig[5]), int(sig[6])


def read_dat(path, fmt, count):
    raw = open(path, "rb").read()
    out = []
    if fmt == 16:
        for i in range(count):
            v = raw[2 * i] | raw[2 * i + 1] << 8
            out.append(v - 65536 if v >= 32768 else v)
    elif fmt == 212:
        for i in range(0, count, 2):
            b0, b1, b2 = raw[3 * (i // 2): 3 * (i // 2) + 3]
            for v in (b0 | (b1 & 0x0F) << 8, b2 | (b1 >> 4) << 8):
                out.append(v - 4096 if v >= 2048 else v)
        out = out[:count]
    else:
        raise ValueError(fmt)
    return out


def read_atr(path):
    raw = open(path, "rb").read()
    anns, t, i = [], 0, 0
    while i + 1 < len(raw):
        word = raw[i] | raw[i + 1] << 8
        i += 2
        code, value = word >> 10, word & 0x3FF
        if word == 0:
            break
        if code == 59:  # SKIP: a 32-bit interval, high word first
            hi = raw[i] | raw[i + 1] << 8
            lo = raw[i + 2] | raw[i + 3] << 8
            t += hi << 16 | lo
            i += 4
        elif code == 63:  # AUX: text of the previous annotation
            anns[-1][2] = raw[i:i + value].decode()
            i += value + (value & 1)
        else:
            t += value
            anns.append([t, CODES.get(code, str(code)), ""])
    return anns


def read_record(hea):
    rate, count, dat, fmt, gain, first, checksum = read_header(hea)
    adc = read_dat(hea[:-4] + ".dat", fmt, count)
    assert adc[0] == first, "first value"
    total = sum(adc) & 0xFFFF
    assert (total - 65536 if total >= 32768 else total) == checksum, "checksum"
    return rate, gain, [a / gain for a in adc], read_atr(hea[:-4] + ".atr")


def beat_counts(anns):
    got = {}
    for _, label, _ in anns:
        if label in ("N", "/", "^"):
            got[label] = got.get(label, 0) + 1
    return ",".join("%s=%d" % (k, got[k]) for k in sorted(got))


def device(hea, vdev_csv, host_hea, labels):
    rate, gain, mv, anns = read_record(hea)
    with open(vdev_csv) as f:
        columns = next(f).strip().split(",")
        rows = [l.split(",") for l in f]
    ac = [float(r[columns.index("ac_mV")]) for r in rows]
    pacing = [r[columns.index("pacing")] == "1" for r in rows]
    assert len(ac) == len(mv), "%d samples, the CSV %d" % (len(mv), len(ac))
    worst = max(abs(a - b) for a, b in zip(ac, mv))
    assert worst <= 0.5 / gain + 1e-5, "record and CSV differ by %g mV" % worst
    host_rate, host_gain, host, _ = read_record(host_hea)
    assert host_rate == rate and 0 < len(host) <= len(mv), "host record %g/s, %d samples" % (
        host_rate, len(host))
    worst = max(abs(a - b) for a, b in zip(host, mv))
    assert worst <= 1.0 / gain + 0.5 / host_gain + 1e-9, "device and host differ by %g mV" % worst
    assert beat_counts(anns) == labels, "annotations %s, want %s" % (beat_counts(anns), labels)
    w = int(0.1 * rate)
    for s, label, _ in anns:
        if label in ("N", "/"):
            seg = mv[max(0, s - w): s + w + 1]
            peak = max(0, s - w) + seg.index(max(seg))
            assert abs(peak - s) <= 1, "beat at %d, its peak at %d" % (s, peak)
        elif label == "^":
            assert pacing[s], "^ at %d without a pacing marker" % s
    print("device record ok: %d samples at %g/s equal the CSV and the host's %d, %s"
          % (len(mv), rate, len(host), labels))


def main():
    if sys.argv[1] == "--device":
        device(*sys.argv[2:6])
        return
    hea, csv, labels = sys.argv[1:4]
    want = {k: int(v) for k, v in (p.split("=") for p in labels.split(","))}
    rate, count, dat, fmt, gain, first, checksum = read_header(hea)
    base = hea[:-4]
    adc = read_dat(base + ".dat", fmt, count)
    assert adc[0] == first, "first value"
    total = sum(adc) & 0xFFFF
    assert (total - 65536 if total >= 32768 else total) == checksum, "checksum"
    with open(csv) as f:
        next(f)
        mv = [float(l.split(",")[1]) for l in f]
    assert len(mv) == count, "sample count %d vs %d" % (len(mv), count)
    worst = max(abs(a / gain - b) for a, b in zip(adc, mv))
    assert worst <= 0.5 / gain + 1e-9, "samples differ by %g mV" % worst
    anns = read_atr(base + ".atr")
    beat = [a for a in anns if a[1] in ("N", "/")]
    got = {k: sum(1 for a in beat if a[1] == k) for k in ("N", "/")}
    assert {k: v for k, v in got.items() if v} == want, "beats %s, want %s" % (got, want)
    w = int(0.1 * rate)
    for s, _, _ in beat:
        seg = mv[max(0, s - w): s + w]
        assert mv[s] == max(seg), "annotation at %d is not its beat's peak" % s
    if len(sys.argv) > 4:
        onsets = []
        for line in open(sys.argv[4]):
            onset, text = line.rstrip("\n").split(" ", 1)
            if text in ("N", "/"):
                onsets.append(round(float(onset) * rate))
        assert onsets == [a[0] for a in beat], "EDF+ beats differ from the .atr"
    print("wfdb ok: format %d, %d samples, beats %s, %d annotations%s"
          % (fmt, count, labels, len(anns), ", EDF+ agrees" if len(sys.argv) > 4 else ""))


if __name__ == "__main__":
    try:
        main()
    except (AssertionError, OSError, ValueError, IndexError) as e:
        print("wfdb check failed: %s" % e)
        sys.exit(1)
