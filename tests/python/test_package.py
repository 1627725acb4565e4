"""The Python package: typed from the header without drift, errors with code and text, NumPy
bulk data, and python -m tolvan against a virtual simulator."""
import ctypes
import math
import os
import re
import subprocess
import sys

import numpy as np
import pytest

import tolvan


@pytest.fixture(scope="module")
def lib():
    return tolvan.load(os.environ.get("TOLVAN_LIBRARY"))


@pytest.fixture
def offline(lib):
    with tolvan.Simulator(port=None, library=lib) as sim:
        yield sim


def test_every_exported_function_is_typed_from_the_header(lib):
    exported = subprocess.run(["nm", "-D", "--defined-only", lib.path], check=True,
                              capture_output=True, text=True).stdout
    symbols = {line.split()[-1].split("@")[0] for line in exported.splitlines() if line.strip()}
    assert set(lib.header.functions) == symbols
    assert lib.missing == []
    for name, function in lib.header.functions.items():
        c_function = getattr(lib.dll, name)
        assert c_function.argtypes == function.argtypes and c_function.restype is function.result


def test_records_have_the_layout_the_header_asserts(lib):
    # Each TOLV_STATIC_ASSERT of the header, evaluated on the package's ctypes records.
    structures = lib.header.structures
    def sizeof(name):
        return ctypes.sizeof(structures[name]) if name in structures else ctypes.sizeof(ctypes.c_int)
    def offsetof(name, field):
        return getattr(structures[name], field).offset
    for condition in lib.header.static_asserts:
        expression = re.sub(r"sizeof\((\w+)\)", r"sizeof('\1')", condition)
        expression = re.sub(r"offsetof\((\w+),\s*(\w+)\)", r"offsetof('\1', '\2')", expression)
        assert eval(expression, {"sizeof": sizeof, "offsetof": offsetof}), condition


def test_a_named_function_plays_to_the_python_callback(offline):
    seen = []
    offline.on_sample(lambda t, mv: seen.append((t, mv)), divider=40)
    offline.play("sine", amplitude=2.0, frequency=5.0)
    deadline = 200
    while len(seen) < 100 and deadline:
        deadline -= 1
        __import__("time").sleep(0.01)
    offline.stop()
    offline.on_sample(None)
    assert len(seen) >= 100
    for t, mv in seen:
        assert mv == pytest.approx(math.sin(2 * math.pi * 5.0 * math.fmod(t, 0.2)), abs=1e-6)


@pytest.mark.parametrize("call, code, text", [
    (lambda s: setattr(s, "amplitude", 99.0), -2, "TOLVSetAmplitude(99.0) failed (-2): out of range"),
    (lambda s: s.play("nonsense"), None, "unknown output function 'nonsense'"),
    (lambda s: s.load_recording("/nonexistent.edf"), -1, "the file cannot be opened"),
])
def test_refused_calls_raise_with_code_and_text(offline, call, code, text):
    with pytest.raises((tolvan.TolvanError, ValueError)) as caught:
        call(offline)
    if code is not None:
        assert caught.value.code == code
    assert text in str(caught.value)


def test_a_failed_connect_says_why(lib, tmp_path, monkeypatch):
    monkeypatch.setenv("TOLVAN_DEVICE_PATTERN", str(tmp_path / "ttyACM%d"))
    with pytest.raises(tolvan.TolvanError) as caught:
        with tolvan.Simulator(port=3, timeout_ms=300, library=lib):
            pass
    assert caught.value.code is False
    assert caught.value.text == f"timed out after 300 ms (no such node: {tmp_path}/ttyACM3)"


def test_bulk_data_comes_as_numpy_arrays(offline):
    samples = offline.render("sine", 1.0, rate=1000)
    assert samples.dtype == np.float64 and samples.shape == (1000,)
    np.testing.assert_allclose(samples, 0.5 * np.sin(2 * np.pi * np.arange(1000) / 1000), atol=1e-9)
    recording = np.linspace(-1.0, 1.0, 500)
    offline.set_recording(recording, 250)
    back, rate = offline.recording()
    assert rate == 250
    np.testing.assert_array_equal(back, recording)


@pytest.mark.skipif(not os.environ.get("TOLVAN_VDEV"), reason="needs tolvan-vdev (TOLVAN_VDEV)")
def test_python_m_tolvan_plays_on_a_virtual_simulator(tmp_path):
    csv = tmp_path / "out.csv"
    result = subprocess.run(
        [sys.executable, "-m", "tolvan", "play", "sine", "--amplitude", "1", "--frequency", "5",
         "--seconds", "1", "--divider", "40", "--vdev", "--vdev-csv", str(csv)],
        capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert "connected: QPS0130-260815" in result.stdout
    assert re.search(r"played sine for 1\.\d s: \d+ callback samples, -0.500 .. 0.500 mV",
                     result.stdout), result.stdout
    assert csv.stat().st_size > 10000


def test_python_m_tolvan_renders_an_edf_file_the_library_reads(offline, tmp_path):
    edf = tmp_path / "sine.edf"
    result = subprocess.run([sys.executable, "-m", "tolvan", "render", "sine", "--amplitude", "2",
                             "--frequency", "5", "--seconds", "2", "--rate", "500", "-o", str(edf)],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert offline.load_recording(edf) == 1000
    samples, rate = offline.recording()
    assert rate == 500
    expected = np.sin(2 * np.pi * 5.0 * np.arange(1000) / 500)
    np.testing.assert_allclose(samples, expected, atol=2.0 / 65535 + 1e-6)
