"""TOLVLoadECGWfdbRecord against biosig (Debian's libbiosig) on records written by the encoder of
test_wfdb_record.py. Our samples must follow the format definitions (the codes written) and
equal biosig's decode to a fraction of the ADC step. Where biosig 2.5 departs from the WFDB
format definitions (signal(5), the WFDB Programmer's Guide), the case names what biosig does; it
is then an expected failure (or a skip when biosig refuses the record), and our samples are
still checked against the codes written:
  - several signals in one file in a format other than 212: biosig steps through the file with a
    frame too wide (6 bytes for two 16-bit signals instead of 4); samples per frame above 1: its
    frames overlap (2 bytes a frame for one 16-bit signal of 4 samples per frame, not 8).
    signal(5) interleaves the signals sample by sample, each frame holding every signal's
    samples per frame once;
  - skew: ignored by biosig; signal(5) takes sample n of the signal from frame n + skew;
  - the baseline in parentheses after the gain ("100(10)"): ignored by biosig; signal(5) gives
    physical = (code - baseline) / gain, the baseline defaulting to the ADC zero;
  - formats 80 and 160 with an ADC zero: biosig takes the format's offset (128, 32768) as the
    baseline; signal(5) removes the offset to get the code, the baseline being the ADC zero;
  - formats 8, 310, 311, records of several signal files: biosig refuses them; multi-segment
    headers make it crash (SIGSEGV)."""
import os
import subprocess

import numpy as np
import pytest

import tolvan
from test_wfdb_record import encode, recording

BIOSIG_DUMP = os.environ.get("TOLVAN_BIOSIG_DUMP")
if not BIOSIG_DUMP:
    pytest.skip("biosig not found when configured (libbiosig-dev): no biosig cross-check",
                allow_module_level=True)

N = 250
TOPS = {8: 100, 16: 30000, 61: 30000, 80: 120, 160: 30000, 212: 2000, 310: 500, 311: 500}


@pytest.fixture(scope="module")
def lib():
    return tolvan.load(os.environ.get("TOLVAN_LIBRARY"))


def biosig(path, channel):
    """(rate, samples) as biosig reads them, or None when it refuses the file or crashes."""
    run = subprocess.run([BIOSIG_DUMP, str(path), str(channel)], capture_output=True, text=True,
                         timeout=60)
    if run.returncode != 0:
        return None
    lines = run.stdout.split()
    return float(lines[0]), np.array([float(v) for v in lines[1:]])


def wave(fmt, count, phase):
    top = TOPS[fmt]
    return (top * np.sin(np.arange(count) / 9.0 + phase)).astype(int) // (1 + phase % 2)


def signal_line(file, fmt, gain, zero, initial, name, suffix=""):
    return f"{file} {fmt}{suffix} {gain} 12 {zero} {initial} 0 0 {name}\n"


def one_file(tmp_path, fmt, signals, suffix="", zero=0, gain="100"):
    """A record of `signals` signals in one file; the second carries `suffix` after its format.
    Returns the header and the codes of that signal (or of the only one)."""
    codes = [wave(fmt, N, s) for s in range(signals)]
    (tmp_path / "r.dat").write_bytes(encode(fmt, list(zip(*codes))))
    init = lambda c: int(c[0]) if fmt == 8 else 0
    text = f"r {signals} 250 {N}\n"
    for s, c in enumerate(codes):
        text += signal_line("r.dat", fmt, gain, zero, init(c), f"s{s}", suffix if s == 1 else "")
    (tmp_path / "r.hea").write_text(text)
    return tmp_path / "r.hea", codes[min(1, signals - 1)]


def case_format(fmt):
    def make(tmp_path):
        hea, codes = one_file(tmp_path, fmt, 1, zero=0 if fmt in (80, 160) else 3)
        return hea, 0, (codes - (0 if fmt in (80, 160) else 3)) / 100, 250
    return make


def case_frame(fmt):
    def make(tmp_path):
        hea, codes = one_file(tmp_path, fmt, 3)
        return hea, 1, codes / 100, 250
    return make


def case_spf(tmp_path):
    a, b = wave(212, N, 0), wave(212, 4 * N, 1)
    (tmp_path / "r.dat").write_bytes(
        encode(212, [(a[f], *b[4 * f:4 * f + 4]) for f in range(N)], [1, 4]))
    (tmp_path / "r.hea").write_text(f"r 2 125 {N}\n" + signal_line("r.dat", 212, 100, 0, 0, "a") +
                                    signal_line("r.dat", 212, 100, 0, 0, "b", "x4"))
    return tmp_path / "r.hea", 1, b / 100, 500


def case_skew(tmp_path):
    hea, codes = one_file(tmp_path, 212, 2, ":3")
    return hea, 1, codes[3:] / 100, 250


def case_offset(tmp_path):
    codes = wave(16, N, 1)
    (tmp_path / "r.dat").write_bytes(b"\x01" * 6 + encode(16, [(v,) for v in codes]))
    (tmp_path / "r.hea").write_text(f"r 1 250 {N}\n" + signal_line("r.dat", 16, 40, 5, 0, "a", "+6"))
    return tmp_path / "r.hea", 0, (codes - 5) / 40, 250


def case_baseline(tmp_path):
    hea, codes = one_file(tmp_path, 16, 1, gain="100(10)")
    return hea, 0, (codes - 10) / 100, 250


def case_offset_binary_zero(fmt):
    def make(tmp_path):
        hea, codes = one_file(tmp_path, fmt, 1, zero=3)
        return hea, 0, (codes - 3) / 100, 250
    return make


def case_files(tmp_path):
    a, b = wave(212, N, 0), wave(16, N, 1)
    (tmp_path / "r.dat").write_bytes(encode(212, [(v,) for v in a]))
    (tmp_path / "r2.dat").write_bytes(encode(16, [(v,) for v in b]))
    (tmp_path / "r.hea").write_text(f"r 2 250 {N}\n" + signal_line("r.dat", 212, 100, 0, 0, "a") +
                                    signal_line("r2.dat", 16, 100, 0, 0, "b"))
    return tmp_path / "r.hea", 1, b / 100, 250


def case_segments(tmp_path):
    a = wave(212, N, 0)
    (tmp_path / "s.dat").write_bytes(encode(212, [(v,) for v in a]))
    (tmp_path / "s.hea").write_text(f"s 1 250 {N}\n" + signal_line("s.dat", 212, 100, 0, 0, "a"))
    (tmp_path / "m.hea").write_text(f"m/3 1 250 {2 * N + 50}\ns {N}\n~ 50\ns {N}\n")
    return tmp_path / "m.hea", 0, np.concatenate([a, np.zeros(50), a]) / 100, 250


WIDE_FRAME = "biosig 2.5 reads a frame of several signals in this format with a wrong stride"
CASES = {
    **{f"format{f}": (case_format(f), "biosig 2.5 does not read format %d" % f
                      if f in (8, 310, 311) else None) for f in sorted(TOPS)},
    **{f"three_signals_format{f}": (case_frame(f), None if f == 212 else
                                    "biosig 2.5 does not read format %d" % f
                                    if f in (8, 310, 311) else WIDE_FRAME) for f in sorted(TOPS)},
    "samples_per_frame": (case_spf, "biosig 2.5 reads samples per frame with a wrong stride"),
    "skew": (case_skew, "biosig 2.5 ignores skew"),
    "byte_offset": (case_offset, None),
    "baseline_in_parentheses": (case_baseline, "biosig 2.5 ignores the baseline after the gain"),
    "format80_adc_zero": (case_offset_binary_zero(80),
                          "biosig 2.5 takes format 80's offset for the baseline"),
    "format160_adc_zero": (case_offset_binary_zero(160),
                           "biosig 2.5 takes format 160's offset for the baseline"),
    "several_signal_files": (case_files, "biosig 2.5 refuses records of several signal files"),
    "multi_segment": (case_segments, "biosig 2.5 crashes on multi-segment headers"),
}


@pytest.mark.parametrize("name", sorted(CASES))
def test_biosig_decodes_as_we_do(lib, tmp_path, name):
    make, departure = CASES[name]
    hea, channel, truth, rate = make(tmp_path)
    assert lib.TOLVLoadECGWfdbRecord(str(hea), channel, 0) == len(truth)
    ours, our_rate = recording(lib)
    assert our_rate == rate
    np.testing.assert_allclose(ours, truth, atol=1e-12)  # the codes written, by the definition
    theirs = biosig(hea, channel)
    if theirs is None:
        if departure:
            pytest.skip(departure)
        pytest.fail("biosig refuses the record")
    agree = (theirs[0] == rate and len(theirs[1]) == len(ours) and
             np.max(np.abs(theirs[1] - ours)) < 0.01 * 0.5)  # half the ADC step of gain 100
    if departure and not agree:
        pytest.xfail(departure)
    assert agree, f"biosig: {theirs[0]} Hz, {theirs[1][:8]}; ours: {our_rate} Hz, {ours[:8]}"


def test_a_resampled_rate_follows_biosig_samples(lib, tmp_path):
    codes = wave(16, 1285, 0)
    (tmp_path / "f.dat").write_bytes(encode(16, [(v,) for v in codes]))
    (tmp_path / "f.hea").write_text("f 1 128.5 1285\n" + signal_line("f.dat", 16, 1000, 0, 0, "a"))
    count = lib.TOLVLoadECGWfdbRecord(str(tmp_path / "f.hea"), 0, tolvan.TOLV_WFDB_RESAMPLE)
    ours, rate = recording(lib)
    source_rate, theirs = biosig(tmp_path / "f.hea", 0)
    assert source_rate == 128.5 and len(theirs) == 1285
    # Our sample i lies at i / rate s: biosig's samples interpolated there.
    at = np.arange(count) * source_rate / rate
    np.testing.assert_allclose(ours, np.interp(at, np.arange(len(theirs)), theirs), atol=1e-9)
