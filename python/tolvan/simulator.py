"""The Pythonic layer: Simulator, TolvanError, output functions by name, NumPy for bulk data."""

import ctypes
import os

from ._library import load

# Output functions and standard waveforms by name (the names of `tolvan play`): name ->
# (output function, standard waveform index or None).
FUNCTIONS = {
    "off": (0, None), "sine": (1, None), "triangle": (2, None), "square": (3, None),
    "pulse": (4, None), "triangle-pulse": (5, None), "exp-decay": (6, None), "ecg": (7, None),
    "iec227": (8, None), "iec251": (9, None), "jjg1041-double-r": (10, None),
    "jjg1041-single-r": (11, None), "exp-alternating": (12, None), "custom-ecg": (14, None),
    "dynamic-range": (15, None), "iec247": (16, None), "ane20000": (17, None),
    "yy1079": (10000, None),
}
for _i, _name in enumerate(["aami3a", "aami3b", "aami3c", "aami3d", "aami4a", "aami4a-x2",
                            "aami4a-half", "aami4b", "aami4b-x2", "aami4b-half"]):
    FUNCTIONS[_name] = (8, _i)
for _i, _name in enumerate(["05000", "10000", "15000", "20000", "30000", "50000", "20002", "20100",
                            "20110", "20160", "20200", "20210", "20260", "20500", "20502", "40000"]):
    FUNCTIONS["cal" + _name] = (9, _i)
for _i in range(5):
    FUNCTIONS[f"pattern{_i + 1}"] = (16, _i)

_GENERIC = {-1: "no session or no device", -2: "argument out of range",
            -3: "refused while the baseline-reset test runs (or as the function documents)"}


class TolvanError(Exception):
    """A call of the library failed. code: the C result (a negative status, or False); text: why,
    in words (the library's last error text where it has one)."""

    def __init__(self, function, code, text=""):
        self.function = function
        self.code = code
        self.text = text or _GENERIC.get(code, "see the function's return codes in tolvan.h")
        super().__init__(f"{function} failed ({code}): {self.text}")


def _check(call, code, library=None, ok=0):
    """Raises TolvanError unless code is ok; the text is what the header documents for the
    code of the function the call names."""
    if code != ok:
        raise TolvanError(call, code, _documented(call, code, library))
    return code


def _documented(call, code, library):
    try:
        lib = library or load()
    except OSError:
        return ""
    function = lib.header.functions.get(call.split("(")[0])
    return function.code_text(code) if function is not None else ""


def resolve(function):
    """(output function, standard waveform index or None, recording path or None) of a number,
    a name of FUNCTIONS or a recording file."""
    if isinstance(function, int):
        return function, None, None
    key = str(function).lower()
    if key in FUNCTIONS:
        return FUNCTIONS[key] + (None,)
    if os.path.isfile(function):
        return 13, None, os.fspath(function)
    raise ValueError(f"unknown output function {function!r}: a number, a recording file or one of "
                     + ", ".join(FUNCTIONS))


class Simulator:
    """A session with the simulator.

        with tolvan.Simulator(port=-1, timeout_ms=5000) as sim:
            sim.on_sample(lambda t, mv: ...)
            sim.play("sine", amplitude=1.0, frequency=2.0)
            ...
            sim.stop()

    port: n of /dev/ttyACM<n>, -1 scans every port; None plays without a device (the library's
    timer drives playback and the callbacks, no port is searched). Entering connects (raising
    TolvanError with the reason when no simulator answers within timeout_ms); leaving stops
    playback and frees the session.
    """

    def __init__(self, port=-1, timeout_ms=5000, library=None):
        self.port = port
        self.timeout_ms = timeout_ms
        self.lib = library if library is not None else load()
        self.open = False

    def _check(self, call, code):
        return _check(call, code, self.lib)

    # -- session -------------------------------------------------------------------------------

    def connect(self):
        """Starts the session (see the class); returns self."""
        if self.open:
            return self
        if self.port is None:
            # No device: a node that cannot exist, so the session never takes a simulator.
            self._pattern = os.environ.get("TOLVAN_DEVICE_PATTERN")
            os.environ["TOLVAN_DEVICE_PATTERN"] = "/nonexistent/tolvan-offline/ttyACM%d"
            if not self.lib.TOLVInit(lambda connected: None):
                raise TolvanError("TOLVInit", False, self.lib.TOLVGetLastErrorText())
        elif not self.lib.TOLVConnect(self.port, self.timeout_ms):
            raise TolvanError(f"TOLVConnect({self.port}, {self.timeout_ms})", False,
                              self.lib.TOLVGetLastErrorText())
        self.open = True
        return self

    def close(self):
        if self.open:
            self.lib.TOLVRegisterOutputSignalCallback(None, 1)
            self.lib.TOLVFree()
            self.open = False
        if self.port is None and hasattr(self, "_pattern"):
            if self._pattern is None:
                os.environ.pop("TOLVAN_DEVICE_PATTERN", None)
            else:
                os.environ["TOLVAN_DEVICE_PATTERN"] = self._pattern
            del self._pattern

    def __enter__(self):
        return self if self.open else self.connect()

    def __exit__(self, *exc):
        self.close()
        return False

    # -- what the simulator is -----------------------------------------------------------------

    connected = property(lambda self: self.lib.TOLVIsConnected())
    ppg_connected = property(lambda self: self.lib.TOLVIsPPGConnected())
    serial_number = property(lambda self: self.lib.TOLVGetSerialNumber())
    firmware_version = property(lambda self: self.lib.TOLVGetFWVersion())
    hardware_version = property(lambda self: self.lib.TOLVGetHWVersion())
    sdk_version = property(lambda self: self.lib.TOLVGetSDKVersion())
    playing = property(lambda self: self.lib.TOLVIsPlaying())
    output_function = property(lambda self: self.lib.TOLVGetOutputFunction())
    sample_rate = property(lambda self: self.lib.TOLVGetSampleRate())

    @property
    def device_information(self):
        info = self.lib.header.structures["MODEL_INFORMATION"]()
        return info if self.lib.TOLVGetDeviceInformation(ctypes.byref(info)) else None

    # -- settings ------------------------------------------------------------------------------

    @property
    def amplitude(self):
        """mV peak-to-peak."""
        return self.lib.TOLVGetAmplitude()

    @amplitude.setter
    def amplitude(self, value):
        self._check(f"TOLVSetAmplitude({value})", self.lib.TOLVSetAmplitude(value))

    @property
    def frequency(self):
        """Hz (beats per second for the ECG forms)."""
        return self.lib.TOLVGetFrequency()

    @frequency.setter
    def frequency(self, value):
        self._check(f"TOLVSetFrequency({value})", self.lib.TOLVSetFrequency(value))

    @property
    def dc_offset(self):
        """mV, whole."""
        return self.lib.TOLVGetDCOffset()

    @dc_offset.setter
    def dc_offset(self, value):
        self._check(f"TOLVSetDCOffset({value})", self.lib.TOLVSetDCOffset(int(value)))

    def set_pacing(self, amplitude, rate=None, width=None):
        """Pacing pulses: amplitude in mV (0 = off), rate in pulses per minute, width in ms."""
        if width is not None:
            self._check(f"TOLVSetPacingDuration({width})", self.lib.TOLVSetPacingDuration(width))
        if rate is not None:
            self._check(f"TOLVSetPacingRate({rate})", self.lib.TOLVSetPacingRate(int(rate)))
        self._check(f"TOLVSetPacingAmplitude({amplitude})", self.lib.TOLVSetPacingAmplitude(amplitude))

    # -- playback ------------------------------------------------------------------------------

    def on_sample(self, callback, divider=1):
        """callback(time_s, millivolts) for every sample (every divider/4th for a divider of 8
        and more), or None. It runs on a library thread inside the sample builder: keep it
        short, and do not call the library from it."""
        self.lib.TOLVRegisterOutputSignalCallback(callback, divider)

    def load_recording(self, path, channel=0):
        """Loads a recording file for output 13 (EDF, WFDB .hea/.dat, text, .bin, AHA .ecg).
        Returns the number of samples."""
        path = os.fspath(path)
        lower = path.lower()
        if lower.endswith(".edf"):
            name, rc = "TOLVLoadECGedf", self.lib.TOLVLoadECGedf(path, channel)
        elif lower.endswith((".hea", ".dat")):
            base = path[:-4]
            name, rc = "TOLVLoadECGdat", self.lib.TOLVLoadECGdat(base + ".hea", base + ".dat",
                                                                 channel)
        elif lower.endswith(".bin"):
            name, rc = "LoadECGBin", self.lib.LoadECGBin(path)
        elif lower.endswith(".ecg"):
            name, rc = "LoadECGAHA", self.lib.LoadECGAHA(path, channel)
        else:
            name, rc = "TOLVLoadECGtxt", self.lib.TOLVLoadECGtxt(path, channel)
        if rc < 0:
            raise TolvanError(f"{name}({path!r}, {channel})", rc, _documented(name, rc, self.lib))
        return rc

    def select(self, function, channel=0, lead=0):
        """Selects what `function` names (standard waveform, recording) and returns its output
        function number, without starting playback."""
        number, wave, path = resolve(function)
        if path is not None:
            self.load_recording(path, channel)
        elif number in (8, 9, 16):
            setter = {8: "TOLVSetSpecialWave227", 9: "TOLVSetSpecialWave251",
                      16: "TOLVSetSpecialWave247"}[number]
            self._check(f"{setter}({wave or 0})", getattr(self.lib, setter)(wave or 0))
        elif number == 17:
            self._check(f"TOLVSetANE20000Lead({lead})", self.lib.TOLVSetANE20000Lead(lead))
        return number

    def play(self, function, amplitude=None, frequency=None, dc=None, width=None, bpm=None,
             leads=(), channel=0, loop=True):
        """Plays an output function: a number, a name ("sine", "ecg", "aami3a", "cal20000",
        "pattern2", ...) or a recording file. Settings given are applied first; a refused one
        raises TolvanError and nothing starts."""
        for value, setter in ((amplitude, "amplitude"), (frequency, "frequency"), (dc, "dc_offset")):
            if value is not None:
                setattr(self, setter, value)
        if bpm is not None:
            self.frequency = bpm / 60.0
        if width is not None:
            self._check(f"TOLVSetPulseWidth({width})", self.lib.TOLVSetPulseWidth(width))
        for lead in leads:
            self._check(f"TOLVSetOutputLead({lead}, True)", self.lib.TOLVSetOutputLead(lead, True))
        self.lib.TOLVSetSpecialWaveformLoop(loop)
        self.lib.TOLVSetFileLoop(loop)
        number = self.select(function, channel, leads[0] if leads else 0)
        self._check(f"TOLVSetOutputFunction({number})", self.lib.TOLVSetOutputFunction(number))

    def stop(self):
        """Output off; returns when playback has stopped."""
        _check("TOLVSetOutputFunction(0)", self.lib.TOLVSetOutputFunction(0))

    # -- bulk data as NumPy arrays -------------------------------------------------------------

    def render(self, function, seconds, rate=1000):
        """The samples (mV) of an output function for `seconds` at `rate`, computed offline by
        the library (no device, nothing plays): a float64 array."""
        import numpy as np
        number = self.select(function)
        out = np.zeros(int(round(seconds * rate)), dtype=np.float64)
        written = self.lib.GetRawDataArrayEx(number, out.ctypes.data_as(ctypes.POINTER(ctypes.c_double)),
                                             len(out), int(rate))
        if written <= 0:
            raise TolvanError(f"GetRawDataArrayEx({number}, ..., {len(out)}, {rate})", written,
                              "nothing rendered (playing, or a rate outside 100 .. 40000)")
        return out

    def set_recording(self, samples, rate):
        """Makes an array of millivolts the recording of output 13."""
        import numpy as np
        samples = np.ascontiguousarray(samples, dtype=np.float64)
        self.lib.SetRawArray(len(samples), samples.ctypes.data_as(ctypes.POINTER(ctypes.c_double)),
                             int(rate))

    def recording(self):
        """(samples as a float64 array (a copy), rate) of the recording of output 13."""
        import numpy as np
        count, rate = ctypes.c_int(), ctypes.c_int()
        data = self.lib.GetFileArray(ctypes.byref(count), ctypes.byref(rate))
        if not data or count.value <= 0:
            return np.zeros(0), rate.value
        return np.ctypeslib.as_array(data, shape=(count.value,)).copy(), rate.value

    def standard_waveform(self, name):
        """(samples in mV as a float64 array, rate) of a 2-27 ("aami3a"), CAL ("cal20000") or
        2-47 ("pattern1") standard waveform."""
        import numpy as np
        number, wave, _ = resolve(name)
        count, rate = ctypes.c_uint(), ctypes.c_uint()
        getter = {8: "GetSpecialWave227Array", 9: "GetSpecialWave251Array",
                  16: "GetSpecialWave247Array"}.get(number)
        if getter is None or wave is None:
            raise ValueError(f"{name!r} is not a standard waveform")
        data = getattr(self.lib, getter)(wave, ctypes.byref(count), ctypes.byref(rate))
        if not data:
            raise TolvanError(f"{getter}({wave})", None, "the table is not available")
        samples = np.ctypeslib.as_array(data, shape=(count.value,)).astype(np.float64)
        return (samples if number == 16 else samples / 1000.0), rate.value

    def ppg_dc_table(self, slot):
        """The PPG DC table of slot 0..2 as a uint16 array (3001 entries)."""
        import numpy as np
        table = np.zeros(3001, dtype=np.uint16)
        n = self.lib.GetPPGDCTable(slot, table.ctypes.data_as(ctypes.POINTER(ctypes.c_uint16)),
                                   len(table))
        if n <= 0:
            raise TolvanError(f"GetPPGDCTable({slot})", n, _documented("GetPPGDCTable", n, self.lib))
        return table[:n]

    def record_output(self, samples):
        """Arms the output recorder for `samples` samples and returns the (ac, dc) float64 arrays
        it fills while playback runs; stop_recording() disarms it. Keep the arrays alive until
        then."""
        import numpy as np
        ac, dc = np.zeros(samples), np.zeros(samples)
        pointer = ctypes.POINTER(ctypes.c_double)
        if not self.lib.EnableRecordRaw(ac.ctypes.data_as(pointer), dc.ctypes.data_as(pointer),
                                        samples):
            raise TolvanError(f"EnableRecordRaw({samples})", False, "already armed")
        self._recorded = (ac, dc)
        return ac, dc

    def stop_recording(self):
        self.lib.DisableRecordRaw()
        self._recorded = None
