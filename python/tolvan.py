"""Python binding of libtolvan, the host SDK of the TOLVAN patient simulator.

A thin ctypes layer over the C interface of include/tolvan.h: every function keeps its C name,
argument order and return codes, so the header documents this module too. Callbacks are plain
Python callables; keep the returned objects alive while they are registered (the module does
that for the ones it registers).

    import tolvan
    lib = tolvan.load()                      # finds build/libtolvan.so or uses TOLVAN_LIBRARY
    if lib.TOLVConnect(0, 5000):
        print(lib.serial_number())
    lib.TOLVSetAmplitude(1.0)
    lib.TOLVSetOutputFunction(tolvan.OUTPUT_SINE)
"""

import ctypes
import os
from ctypes import POINTER, c_bool, c_char_p, c_double, c_int, c_int64, c_uint, c_uint32

OUTPUT_OFF = 0
OUTPUT_SINE = 1
OUTPUT_TRIANGLE = 2
OUTPUT_SQUARE = 3
OUTPUT_PULSE = 4
OUTPUT_TRIANGLE_PULSE = 5
OUTPUT_EXP_DECAY = 6
OUTPUT_ECG = 7
OUTPUT_IEC227 = 8
OUTPUT_IEC251 = 9
OUTPUT_JJG1041_DOUBLE_R = 10
OUTPUT_JJG1041_SINGLE_R = 11
OUTPUT_EXP_ALTERNATING = 12
OUTPUT_ECG_FILE = 13
OUTPUT_CUSTOM_ECG = 14
OUTPUT_INPUT_DYNAMIC_RANGE = 15
OUTPUT_IEC247 = 16
OUTPUT_ANE20000 = 17
OUTPUT_YY1079_DYNAMIC_RANGE = 10000


class MODEL_INFORMATION(ctypes.Structure):
    _fields_ = [
        ("Letter1", ctypes.c_char),
        ("Letter2", ctypes.c_char),
        ("ModelHigh", ctypes.c_uint8),
        ("ModelLow", ctypes.c_uint8),
        ("SerialSequence", ctypes.c_int32),
        ("SerialGroup", ctypes.c_int32),
        ("OutputChannel", ctypes.c_int32 * 3),
    ]


class HW_INFORMATION(ctypes.Structure):
    _fields_ = [
        ("FirmwareVersion", ctypes.c_int32 * 4),
        ("HardwareMajor", ctypes.c_int32),
        ("HardwareMinor", ctypes.c_int32),
    ]


CONNECTED_CALLBACK = ctypes.CFUNCTYPE(None, c_bool)
SIGNAL_CALLBACK = ctypes.CFUNCTYPE(None, c_double, c_double)

# name: (result type, argument types)
_SIGNATURES = {
    "TOLVGetSDKVersion": (c_char_p, []),
    "TOLVInit": (c_bool, [CONNECTED_CALLBACK]),
    "TOLVConnect": (c_bool, [c_int, c_uint32]),
    "TOLVFree": (None, []),
    "TOLVIsConnected": (c_bool, []),
    "TOLVIsPPGConnected": (c_bool, []),
    "TOLVGetDeviceInformation": (c_bool, [POINTER(MODEL_INFORMATION)]),
    "TOLVGetPPGDeviceInformation": (c_bool, [POINTER(MODEL_INFORMATION)]),
    "TOLVGetHWInformation": (c_bool, [POINTER(HW_INFORMATION)]),
    "TOLVGetPPGHWInformation": (c_bool, [POINTER(HW_INFORMATION)]),
    "TOLVGetSerialNumber": (c_char_p, []),
    "TOLVGetPPGSerialNumber": (c_char_p, []),
    "TOLVGetFWVersion": (c_char_p, []),
    "TOLVGetHWVersion": (c_char_p, []),
    "TOLVGetDeviceHandle": (c_int64, []),
    "TOLVGetUSBBusVoltage": (c_int, []),
    "TOLVSetOutputFunction": (c_int, [c_int]),
    "TOLVGetOutputFunction": (c_int, []),
    "TOLVIsPlaying": (c_bool, []),
    "TOLVSetAmplitude": (c_int, [c_double]),
    "TOLVGetAmplitude": (c_double, []),
    "TOLVSetFrequency": (c_int, [c_double]),
    "TOLVGetFrequency": (c_double, []),
    "TOLVSetDCOffset": (c_int, [c_int]),
    "TOLVGetDCOffset": (c_int, []),
    "TOLVSetPulseWidth": (c_int, [c_double]),
    "TOLVGetPulseWidth": (c_double, []),
    "TOLVSetOutputLead": (c_int, [c_int, c_bool]),
    "TOLVGetOutputLead": (c_bool, [c_int]),
    "TOLVEnableECGOutput": (c_int, [c_bool]),
    "TOLVSetPacingAmplitude": (c_int, [c_double]),
    "TOLVGetPacingAmplitude": (c_double, []),
    "TOLVSetPacingDuration": (c_int, [c_double]),
    "TOLVSetPacingRate": (c_int, [c_uint]),
    "TOLVRegisterOutputSignalCallback": (None, [SIGNAL_CALLBACK, c_int]),
    "EnableSaveLog": (c_int, [c_char_p]),
    "DisableSaveLog": (None, []),
}


class Library:
    """libtolvan with typed functions, plus a few conveniences (texts as str, callbacks kept)."""

    def __init__(self, path):
        self._dll = ctypes.CDLL(path)
        self._keep = {}
        for name, (result, arguments) in _SIGNATURES.items():
            function = getattr(self._dll, name, None)
            if function is None:
                continue
            function.restype = result
            function.argtypes = arguments
            setattr(self, name, function)

    def sdk_version(self):
        return self.TOLVGetSDKVersion().decode()

    def serial_number(self):
        return self.TOLVGetSerialNumber().decode()

    def firmware_version(self):
        return self.TOLVGetFWVersion().decode()

    def init(self, on_connection=None):
        """TOLVInit with a Python callable(bool), or None."""
        callback = CONNECTED_CALLBACK(on_connection) if on_connection else CONNECTED_CALLBACK()
        self._keep["connected"] = callback
        return self.TOLVInit(callback)

    def register_output_signal(self, on_sample, divider=1):
        """TOLVRegisterOutputSignalCallback with a Python callable(time_s, millivolts), or None.
        The callable runs on a library thread for every (decimated) sample: keep it short."""
        callback = SIGNAL_CALLBACK(on_sample) if on_sample else SIGNAL_CALLBACK()
        self._keep["signal"] = callback
        self.TOLVRegisterOutputSignalCallback(callback, divider)

    def device_information(self):
        info = MODEL_INFORMATION()
        return info if self.TOLVGetDeviceInformation(ctypes.byref(info)) else None


def load(path=None):
    """Loads libtolvan: the given path, TOLVAN_LIBRARY, or build/libtolvan.so next to python/."""
    candidates = [path, os.environ.get("TOLVAN_LIBRARY")]
    here = os.path.dirname(os.path.abspath(__file__))
    candidates.append(os.path.join(here, "..", "build", "libtolvan.so"))
    candidates.append("libtolvan.so")
    for candidate in candidates:
        if candidate and (os.path.exists(candidate) or candidate == "libtolvan.so"):
            try:
                return Library(candidate)
            except OSError:
                continue
    raise OSError("libtolvan not found; set TOLVAN_LIBRARY to the path of libtolvan.so")
