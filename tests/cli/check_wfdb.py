"""Reads a WFDB record written by tolvan render --annotations without any WFDB library and
checks it: the header, the samples (format 16 or 212) against a CSV render of the same signal,
and that every beat annotation of the .atr sits on the highest sample of its beat.

usage: check_wfdb.py RECORD(.hea) CSV LABELS [EDFPLUS_LISTING]
  LABELS  the beat annotations expected per label, e.g. N=1,/=9
  EDFPLUS_LISTING  what edfplus_annotations printed for the EDF+ twin: its beats must match
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


def main():
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
