"""Finding and loading libtolvan, every function typed from the header."""

import ctypes
import ctypes.util
import os

from ._header import Header

_HERE = os.path.dirname(os.path.abspath(__file__))
_SOURCE_ROOT = os.path.dirname(os.path.dirname(_HERE))  # python/tolvan -> the source tree


def _first_existing(paths):
    for path in paths:
        if path and os.path.exists(path):
            return path
    return None


def header_path():
    """TOLVAN_HEADER, the copy installed with this package, or include/tolvan.h of the source
    tree this package sits in."""
    path = _first_existing([os.environ.get("TOLVAN_HEADER"), os.path.join(_HERE, "tolvan.h"),
                            os.path.join(_SOURCE_ROOT, "include", "tolvan.h")])
    if path is None:
        raise FileNotFoundError("tolvan.h not found: set TOLVAN_HEADER to the header of libtolvan")
    return path


_headers = {}


def header(path=None):
    """The header read once per path (so that records and callback types are the same classes
    everywhere in the process)."""
    path = path or header_path()
    if path not in _headers:
        _headers[path] = Header(path)
    return _headers[path]


def package_version():
    path = _first_existing([os.path.join(_HERE, "VERSION"), os.path.join(_SOURCE_ROOT, "VERSION")])
    if path is None:
        return "unknown"
    with open(path, encoding="utf-8") as f:
        return f.read().strip()


def library_candidates(path=None):
    """Where load() looks, in order: the argument, TOLVAN_LIBRARY, the library installed with
    this package by cmake --install, the build tree beside the sources, the system's loader."""
    candidates = [path, os.environ.get("TOLVAN_LIBRARY")]
    try:
        from ._installed import LIBRARY  # written by cmake --install
        candidates.append(LIBRARY)
    except ImportError:
        pass
    candidates.append(os.path.join(_SOURCE_ROOT, "build", "libtolvan.so"))
    candidates.append(ctypes.util.find_library("tolvan"))
    candidates.append("libtolvan.so.1")
    return [c for c in candidates if c]


class Library:
    """libtolvan loaded with ctypes. Every function of the header is an attribute of the same
    name, with the header's argument and result types: texts are returned as str and accepted as
    str, records are the header's structures (tolvan.MODEL_INFORMATION, ...), callbacks are
    plain Python callables (kept alive while registered), return codes are returned as they are.
    """

    def __init__(self, path, header=None):
        self.header = header if header is not None else globals()["header"]()
        self.dll = ctypes.CDLL(path)
        self.path = path
        self.missing = []
        self._keep = {}
        callback_types = tuple(self.header.callbacks.values())
        for name, function in self.header.functions.items():
            try:
                c_function = getattr(self.dll, name)
            except AttributeError:
                self.missing.append(name)
                continue
            c_function.restype = function.result
            c_function.argtypes = function.argtypes
            if function.result is ctypes.c_char_p:
                c_function.errcheck = _decode
            positions = [i for i, t in enumerate(function.argtypes) if issubclass(t, callback_types)]
            if positions:
                c_function = self._taking_callables(name, c_function, function, positions)
            setattr(self, name, c_function)
        self._resolve_path()

    def _taking_callables(self, name, c_function, function, positions):
        keep = self._keep

        def call(*args):
            args = list(args)
            key = [name] + [a for a in args if isinstance(a, int)]
            for i in positions:
                if i < len(args) and not isinstance(args[i], function.argtypes[i]):
                    callback = args[i]
                    args[i] = function.argtypes[i](callback) if callback else function.argtypes[i]()
                    keep[tuple(key + [i])] = args[i]  # alive while the library may call it
            return c_function(*args)

        call.__name__ = name
        call.__doc__ = function.declaration
        return call

    def _resolve_path(self):
        # The file the loader really opened, for messages.
        try:
            address = ctypes.cast(self.dll.TOLVGetSDKVersion, ctypes.c_void_p).value
            info = _DlInfo()
            if _dladdr(ctypes.c_void_p(address), ctypes.byref(info)) and info.dli_fname:
                self.path = os.path.realpath(info.dli_fname.decode())
        except (AttributeError, OSError):
            pass

    def __getattr__(self, name):
        header = self.__dict__.get("header")
        if header is not None and name in header.functions:
            raise AttributeError(f"{self.path} does not export {name}, which {header.path} "
                                 "declares: the library is older than the header")
        raise AttributeError(name)

    def sdk_version(self):
        return self.TOLVGetSDKVersion()

    def last_error_text(self):
        return self.TOLVGetLastErrorText()


def _decode(result, function, arguments):
    return result.decode("utf-8", "replace") if result is not None else None


class _DlInfo(ctypes.Structure):
    _fields_ = [("dli_fname", ctypes.c_char_p), ("dli_fbase", ctypes.c_void_p),
                ("dli_sname", ctypes.c_char_p), ("dli_saddr", ctypes.c_void_p)]


try:
    _dladdr = ctypes.CDLL(None).dladdr
    _dladdr.argtypes = [ctypes.c_void_p, ctypes.POINTER(_DlInfo)]
    _dladdr.restype = ctypes.c_int
except (AttributeError, OSError):  # not on every platform
    def _dladdr(address, info):
        return 0


_loaded = {}


def load(path=None):
    """Loads libtolvan (once per path) from the first of library_candidates(path) that loads.
    Raises OSError naming every place tried."""
    errors = []
    for candidate in library_candidates(path):
        if candidate in _loaded:
            return _loaded[candidate]
        if os.path.sep in candidate and not os.path.exists(candidate):
            errors.append(f"{candidate}: no such file")
            continue
        try:
            library = Library(candidate)
        except OSError as error:
            errors.append(str(error))
            continue
        _loaded[candidate] = library
        return library
    raise OSError("libtolvan not found; set TOLVAN_LIBRARY to the path of libtolvan.so.\n  " +
                  "\n  ".join(errors))
