"""libtolvan, the host SDK of the TOLVAN patient simulator, from Python.

    import tolvan
    with tolvan.Simulator(port=-1, timeout_ms=5000) as sim:     # port=None: no device
        print(sim.serial_number, sim.firmware_version)
        sim.on_sample(lambda t, mv: None, divider=40)
        sim.play("ecg", amplitude=1.0, bpm=72)
        ...
        sim.stop()

Every function of include/tolvan.h is available with its C name, typed from the header at
import (tolvan.load().TOLVSetAmplitude(1.0) returns the C status code). The constants
(OUTPUT_SINE, TOLV_TABLE_MISSING, ...) and records (MODEL_INFORMATION, ...) of the header are
attributes of this module. The library is TOLVAN_LIBRARY when set, else the one installed with
this package, else build/libtolvan.so of the source tree, else the system's libtolvan.so.1.
`python -m tolvan --help` is the command-line tool.
"""

from ._header import Header, HeaderError
from ._library import Library, header, header_path, load, package_version
from .simulator import FUNCTIONS, Simulator, TolvanError, resolve

__version__ = package_version()

_header = header()
globals().update(_header.constants)
globals().update(_header.structures)
globals().update(_header.callbacks)

__all__ = ["FUNCTIONS", "Header", "HeaderError", "Library", "Simulator", "TolvanError", "load",
           "resolve", "__version__"] + sorted(_header.constants) + sorted(_header.structures)
