"""TOLVLoadECGWfdbRecord against records written here by an encoder of our own, following the
WFDB signal-file formats: every storage format, signals over several files, multi-segment
records with gaps, and non-integer rates."""
import ctypes
import os

import numpy as np
import pytest

import tolvan

ROOT = os.path.dirname(os.path.abspath(__file__))


@pytest.fixture(scope="module")
def lib():
    return tolvan.load(os.environ.get("TOLVAN_LIBRARY"))


def encode(fmt, frames, spf=None):
    """frames: list of tuples of ADC codes, the samples of each frame in order; spf: the samples
    per frame of each signal (default one each)."""
    stream = [int(v) for frame in frames for v in frame]
    out = bytearray()
    if fmt == 8:
        owner = [s for s, k in enumerate(spf or [1] * len(frames[0])) for _ in range(k)]
        last = {}  # each signal's previous sample; its first one is the header's initial value
        for frame in frames:
            for slot, v in enumerate(frame):
                out.append((v - last.get(owner[slot], v)) & 0xFF)
                last[owner[slot]] = v
    elif fmt in (16, 61, 160):
        for v in stream:
            w = (v + 32768) & 0xFFFF if fmt == 160 else v & 0xFFFF
            out += bytes([w >> 8, w & 0xFF]) if fmt == 61 else bytes([w & 0xFF, w >> 8])
    elif fmt == 80:
        out += bytes((v + 128) & 0xFF for v in stream)
    elif fmt == 212:
        stream = stream + [0] * (len(stream) % 2)
        for a, b in zip(stream[::2], stream[1::2]):
            a, b = a & 0xFFF, b & 0xFFF
            out += bytes([a & 0xFF, (a >> 8) | ((b >> 8) << 4), b & 0xFF])
    elif fmt in (310, 311):
        stream = stream + [0] * (-len(stream) % 3)
        for a, b, c in zip(stream[::3], stream[1::3], stream[2::3]):
            a, b, c = a & 0x3FF, b & 0x3FF, c & 0x3FF
            if fmt == 311:
                w = a | b << 10 | c << 20
                out += w.to_bytes(4, "little")
            else:
                w0 = a << 1 | (c & 0x1F) << 11
                w1 = b << 1 | (c >> 5) << 11
                out += w0.to_bytes(2, "little") + w1.to_bytes(2, "little")
    return bytes(out)


def recording(lib):
    count, rate = ctypes.c_int(), ctypes.c_int()
    data = lib.GetFileArray(ctypes.byref(count), ctypes.byref(rate))
    return np.ctypeslib.as_array(data, shape=(count.value,)).copy(), rate.value


RANGES = {8: 100, 16: 30000, 61: 30000, 80: 120, 160: 30000, 212: 2000, 310: 500, 311: 500}


@pytest.mark.parametrize("fmt", sorted(RANGES))
def test_every_format_two_signals_in_one_file_one_in_another(lib, tmp_path, fmt):
    n, top = 301, RANGES[fmt]
    t = np.arange(n)
    a = (top * np.sin(t / 7.0)).astype(int)
    b = (-top * np.cos(t / 5.0)).astype(int) // 2
    c = ((t * 37) % (2 * top) - top).astype(int)
    (tmp_path / "r.dat").write_bytes(encode(fmt, list(zip(a, b))))
    (tmp_path / "r2.dat").write_bytes(b"\x00\x00\x00" + encode(16, [(v,) for v in c]))
    init = lambda v: int(v[0]) if fmt == 8 else 0
    (tmp_path / "r.hea").write_text(
        f"r 3 500 {n}\n"
        f"r.dat {fmt} 100(10)/mV 12 0 {init(a)} 0 0 a\n"
        f"r.dat {fmt} 50/mV 12 0 {init(b)} 0 0 b\n"
        f"r2.dat 16+3 200 16 0 0 0 0 c\n")
    for channel, codes, gain, base in ((0, a, 100, 10), (1, b, 50, 0), (2, c, 200, 0)):
        assert lib.TOLVLoadECGWfdbRecord(str(tmp_path / "r.hea"), channel, 0) == n
        values, rate = recording(lib)
        assert rate == 500
        np.testing.assert_allclose(values, (codes - base) / gain, atol=1e-12)


def spf_record(tmp_path, fmt, n, samples, extra=0):
    """A file of three signals, 1, 4 and 2 samples per frame, skews 0, 2 and 1, five bytes of
    offset, `extra` frames beyond the header's sample count. Returns the codes of each signal
    over the frames written."""
    top, total = RANGES[fmt], n + extra
    a = (top * np.sin(np.arange(total) / 9.0)).astype(int)
    b = (top * np.cos(np.arange(4 * total) / 17.0)).astype(int) // 2
    c = (-top * np.sin(np.arange(2 * total) / 11.0)).astype(int)
    frames = [(a[f], *b[4 * f:4 * f + 4], *c[2 * f:2 * f + 2]) for f in range(total)]
    (tmp_path / "s.dat").write_bytes(b"\x05" * 5 + encode(fmt, frames, [1, 4, 2]))
    init = lambda v: int(v[0]) if fmt == 8 else 0
    (tmp_path / "s.hea").write_text(
        f"s 3 125 {samples}\n"
        f"s.dat {fmt}+5 100 12 0 {init(a)} 0 0 a\n"
        f"s.dat {fmt}x4:2+5 50(3) 12 0 {init(b)} 0 0 b\n"
        f"s.dat {fmt}x2:1+5 20 12 7 {init(c)} 0 0 c\n")
    return a, b, c


@pytest.mark.parametrize("fmt", sorted(RANGES))
def test_samples_per_frame_and_skew(lib, tmp_path, fmt):
    n = 61
    a, b, c = spf_record(tmp_path, fmt, n, n)
    # A skewed signal starts `skew` frames in; the frames the file lacks are not played.
    for channel, want, rate in ((0, a / 100, 125), (1, (b[8:] - 3) / 50, 500),
                                (2, (c[2:] - 7) / 20, 250)):
        assert lib.TOLVLoadECGWfdbRecord(str(tmp_path / "s.hea"), channel, 0) == len(want)
        values, got_rate = recording(lib)
        assert got_rate == rate
        np.testing.assert_allclose(values, want, atol=1e-12)
    # Frames written beyond the record's span serve the skewed signals.
    a, b, c = spf_record(tmp_path, fmt, n, n - 2, extra=2)
    assert lib.TOLVLoadECGWfdbRecord(str(tmp_path / "s.hea"), 1, 0) == 4 * (n - 2)
    np.testing.assert_allclose(recording(lib)[0], (b[8:4 * n] - 3) / 50, atol=1e-12)
    assert lib.TOLVLoadECGWfdbRecord(str(tmp_path / "s.hea"), 0, 0) == n - 2


def test_samples_per_frame_of_a_non_whole_frame_rate(lib, tmp_path):
    (tmp_path / "h.dat").write_bytes(encode(16, [(1, 2)] * 100))
    (tmp_path / "h.hea").write_text("h 1 62.25 100\nh.dat 16x2 1 16 0 0 0 0 x\n")
    assert lib.TOLVLoadECGWfdbRecord(str(tmp_path / "h.hea"), 0, 0) == -5  # 124.5 Hz
    count = lib.TOLVLoadECGWfdbRecord(str(tmp_path / "h.hea"), 0, tolvan.TOLV_WFDB_RESAMPLE)
    assert recording(lib)[1] in (124, 125) and 195 < count < 205


@pytest.mark.parametrize("layout", [False, True])
def test_multi_segment_record_with_samples_per_frame(lib, tmp_path, layout):
    # The signal's samples per frame come from the layout, else from its first segment: the gap
    # before that segment counts two samples a frame either way.
    seg1, seg2 = np.arange(40) - 20, 30 - np.arange(60)
    (tmp_path / "s1.dat").write_bytes(encode(16, [(*seg1[2 * f:2 * f + 2], 7) for f in range(20)]))
    (tmp_path / "s1.hea").write_text("s1 2 250 20\ns1.dat 16x2 100 16 0 0 0 0 ECG\n"
                                     "s1.dat 16 1 16 0 0 0 0 x\n")
    (tmp_path / "s2.dat").write_bytes(encode(212, [tuple(seg2[2 * f:2 * f + 2]) for f in range(30)]))
    (tmp_path / "s2.hea").write_text("s2 1 250 30\ns2.dat 212x2 100 12 0 0 0 0 ECG\n")
    (tmp_path / "s3.hea").write_text("s3 1 250 30\ns2.dat 16 100 12 0 0 0 0 ECG\n")
    (tmp_path / "lay.hea").write_text("lay 2 250 0\n~ 0x2 100 16 0 0 0 0 ECG\n~ 0 1 16 0 0 0 0 x\n")
    head = "m/4 2 250 60\nlay 0\n" if layout else "m/3 2 250 60\n"
    (tmp_path / "m.hea").write_text(head + "~ 10\ns1 20\ns2 30\n")
    assert lib.TOLVLoadECGWfdbRecord(str(tmp_path / "m.hea"), 0, 0) == 120
    values, rate = recording(lib)
    assert rate == 500
    np.testing.assert_allclose(values, np.concatenate([np.zeros(20), seg1 / 100, seg2 / 100]))
    # A segment that gives the signal another number of samples per frame is refused.
    (tmp_path / "m.hea").write_text(head + "~ 10\ns1 20\ns3 30\n")
    assert lib.TOLVLoadECGWfdbRecord(str(tmp_path / "m.hea"), 0, 0) == -2


def test_multi_segment_record_with_a_gap_and_a_layout(lib, tmp_path):
    seg1, seg2 = np.arange(200) - 100, 50 - np.arange(300)
    (tmp_path / "s1.dat").write_bytes(encode(16, [(v, 7) for v in seg1]))
    (tmp_path / "s1.hea").write_text("s1 2 250 200\ns1.dat 16 100 16 0 0 0 0 x\ns1.dat 16 100 16 0 0 0 0 ECG\n")
    (tmp_path / "s2.dat").write_bytes(encode(212, [(v,) for v in seg2]))
    (tmp_path / "s2.hea").write_text("s2 1 250 300\ns2.dat 212 100 12 0 0 0 0 ECG\n")
    (tmp_path / "lay.hea").write_text("lay 2 250 0\n~ 0 100 16 0 0 0 0 x\n~ 0 100 16 0 0 0 0 ECG\n")
    (tmp_path / "m.hea").write_text("m/4 2 250 600\nlay 0\ns1 200\n~ 100\ns2 300\n")
    assert lib.TOLVLoadECGWfdbRecord(str(tmp_path / "m.hea"), 1, 0) == 600
    values, _ = recording(lib)
    np.testing.assert_allclose(values[:200], np.full(200, 0.07))
    np.testing.assert_allclose(values[200:300], 0)
    np.testing.assert_allclose(values[300:], seg2 / 100)
    # Signal 0 ("x") lives only in the first segment.
    assert lib.TOLVLoadECGWfdbRecord(str(tmp_path / "m.hea"), 0, 0) == 600
    values, _ = recording(lib)
    np.testing.assert_allclose(values[:200], seg1 / 100)
    np.testing.assert_allclose(values[200:], 0)


def test_a_non_integer_rate_is_resampled_only_when_asked(lib, tmp_path):
    n = 1285  # 10 s at 128.5 Hz
    codes = (1000 * np.sin(2 * np.pi * np.arange(n) / 128.5)).astype(int)
    (tmp_path / "f.dat").write_bytes(encode(16, [(v,) for v in codes]))
    (tmp_path / "f.hea").write_text(f"f 1 128.5 {n}\nf.dat 16 1000 16 0 0 0 0 ECG\n")
    lib.SetRawArray(3, (ctypes.c_double * 3)(1, 2, 3), 200)
    assert lib.TOLVLoadECGWfdbRecord(str(tmp_path / "f.hea"), 0, 0) == -5
    assert recording(lib)[0].tolist() == [1, 2, 3]  # the current recording stays
    # 128.5 Hz is played at 129 Hz (rounded away from zero), over the same 10 s.
    count = lib.TOLVLoadECGWfdbRecord(str(tmp_path / "f.hea"), 0, tolvan.TOLV_WFDB_RESAMPLE)
    values, rate = recording(lib)
    assert rate in (128, 129) and count == len(values)
    t = np.arange(count) / rate
    np.testing.assert_allclose(values, np.sin(2 * np.pi * t), atol=2e-3)


@pytest.mark.parametrize("header,channel,flags,code", [
    ("missing.hea", 0, 0, -1),
    ("r 1 500 10\nr.dat 99 200 12 0 0 0 0 x\n", 0, 0, -2),
    ("r 1 500 10\nr.dat 16x0 200 12 0 0 0 0 x\n", 0, 0, -2),
    ("r 1 500 10\nr.dat 16x1025 200 12 0 0 0 0 x\n", 0, 0, -2),
    ("r 1 500 10\nr.dat 16:-1 200 12 0 0 0 0 x\n", 0, 0, -2),
    ("r 1 500 10\nr.dat 16x2:1x 200 12 0 0 0 0 x\n", 0, 0, -2),
    ("r 1 500 10\nnone.dat 16 200 12 0 0 0 0 x\n", 0, 0, -2),
    ("r 1 500 10\nr.dat 16 200 12 0 0 0 0 x\n", 1, 0, -3),
    ("r 1 500 0\nr.dat 16 200 12 0 0 0 0 x\n", 0, 0, -4),
    ("r 1 50 10\nr.dat 16 200 12 0 0 0 0 x\n", 0, 0, -5),
    ("r 1 500 10\nr.dat 16 200 12 0 0 0 0 x\n", 0, 2, -6),
    ("m/2 1 500 10\n~ 5\n~ 5555555555555550\n", 0, 0, -1),  # a gap no memory holds
])
def test_refusals(lib, tmp_path, header, channel, flags, code):
    (tmp_path / "r.dat").write_bytes(bytes(20))
    path = tmp_path / "r.hea"
    if header.endswith(".hea"):
        path = tmp_path / header
    else:
        path.write_text(header)
    assert lib.TOLVLoadECGWfdbRecord(str(path), channel, flags) == code
