"""Reads include/tolvan.h: the functions, records, callback types, enumerations and constants.

The Python package types every function of the library from the header itself, at import, so
that a function added to the header is typed without a change here. A declaration this reader
cannot type is an error (HeaderError), never skipped.
"""

import ctypes
import platform
import re
import sys

_SCALARS = {
    "void": None,
    "bool": ctypes.c_bool,
    "char": ctypes.c_char,
    "signed char": ctypes.c_byte,
    "unsigned char": ctypes.c_ubyte,
    "short": ctypes.c_short,
    "unsigned short": ctypes.c_ushort,
    "int": ctypes.c_int,
    "unsigned": ctypes.c_uint,
    "unsigned int": ctypes.c_uint,
    "long": ctypes.c_long,
    "unsigned long": ctypes.c_ulong,
    "double": ctypes.c_double,
    "float": ctypes.c_float,
    "size_t": ctypes.c_size_t,
    "int8_t": ctypes.c_int8,
    "uint8_t": ctypes.c_uint8,
    "int16_t": ctypes.c_int16,
    "uint16_t": ctypes.c_uint16,
    "int32_t": ctypes.c_int32,
    "uint32_t": ctypes.c_uint32,
    "int64_t": ctypes.c_int64,
    "uint64_t": ctypes.c_uint64,
}


class HeaderError(Exception):
    """The header holds a declaration that cannot be typed."""


class Text(ctypes.c_char_p):
    """const char* parameter: takes str (sent as UTF-8), bytes, os.PathLike or None."""

    @classmethod
    def from_param(cls, value):
        if isinstance(value, str):
            value = value.encode("utf-8")
        elif hasattr(value, "__fspath__"):
            value = value.__fspath__()
            value = value.encode("utf-8") if isinstance(value, str) else value
        return ctypes.c_char_p.from_param(value)


class Function:
    """One exported function: name, result type, parameter names and types, the C text."""

    def __init__(self, name, result, parameters, declaration, comment=""):
        self.comment = comment  # the header's documentation of the function
        self.name = name
        self.result = result
        self.parameters = parameters  # [(name, ctypes type)]
        self.declaration = declaration

    @property
    def argtypes(self):
        return [t for _, t in self.parameters]

    def __repr__(self):
        return f"<tolvan.h {self.declaration}>"

    def code_text(self, code):
        """What the header says a return code of this function means ("" when it says
        nothing): the words after the code in its comment, up to the next ';'."""
        match = re.search(rf"(?<![\w.-]){re.escape(str(code))}(?![\w.])\)?\s*([^;]*)", self.comment)
        if not match:
            return ""
        text = " ".join(match.group(1).split()).strip(" .,")
        return text if len(text) <= 160 else text[:157] + "..."


class Header:
    """Everything of the header that the binding needs."""

    def __init__(self, path):
        with open(path, encoding="utf-8") as f:
            source = f.read()
        self.path = path
        code = re.sub(r"/\*.*?\*/", " ", source, flags=re.S)
        code = re.sub(r"//[^\n]*", " ", code)
        self.constants = {}
        for name, value in re.findall(r"^[ \t]*#define[ \t]+(TOLV_\w+)[ \t]+\(?(-?\d+)\)?[ \t]*$",
                                      code, flags=re.M):
            self.constants[name] = int(value)
        # The one platform condition of the header: the record layout of Linux i386.
        i386 = platform.machine() in ("i386", "i486", "i586", "i686") and sys.platform != "win32"
        code = re.sub(r"^[ \t]*#if defined\(__i386__\)[^\n]*\n(.*?)^[ \t]*#else[^\n]*\n(.*?)"
                      r"^[ \t]*#endif[^\n]*$", lambda m: m.group(1 if i386 else 2), code,
                      flags=re.S | re.M)
        code = re.sub(r"^[ \t]*#(?:[^\n]*\\\n)*[^\n]*", " ", code, flags=re.M)
        self.types = dict(_SCALARS)
        self.structures = {}
        self.callbacks = {}
        self.enums = {}
        self.static_asserts = re.findall(r"TOLV_STATIC_ASSERT\((.*?),\s*\w+\)\s*;", code, flags=re.S)
        self._read_types(code)
        self.functions = {}
        comments = self._comments(source)
        # TOLV_SERVICE_API marks the service functions that only the Linux builds export.
        declarations = re.findall(r"\bTOLV_(?:SERVICE_)?API\b([^;]*);", code)
        if len(re.findall(r"\bTOLV_(?:SERVICE_)?API\b", code)) != len(declarations):
            raise HeaderError(f"{path}: TOLV_API outside a declaration")
        for declaration in declarations:
            function = self._function(" ".join(declaration.split()))
            function.comment = comments.get(function.name, "")
            self.functions[function.name] = function

    @staticmethod
    def _comments(source):
        # The comment block before each declaration (declarations right after one another share
        # the block before the first of them).
        comments, last = {}, ""
        for match in re.finditer(r"/\*(.*?)\*/|^TOLV_(?:SERVICE_)?API\b[^;(]*?(\w+)\s*\(", source, flags=re.S | re.M):
            if match.group(1) is not None:
                last = re.sub(r"^\s*\*", " ", match.group(1), flags=re.M)
            else:
                comments[match.group(2)] = last
        return comments

    # -- types ---------------------------------------------------------------------------------

    def _read_types(self, code):
        for body, name in re.findall(r"typedef\s+enum\s+\w*\s*\{(.*?)\}\s*(\w+)\s*;", code, flags=re.S):
            values, next_value = {}, 0
            for item in (i.strip() for i in body.split(",")):
                if not item:
                    continue
                key, _, value = (p.strip() for p in item.partition("="))
                next_value = int(value, 0) if value else next_value
                values[key] = next_value
                next_value += 1
            self.enums[name] = values
            self.constants.update(values)
            self.types[name] = ctypes.c_int
        for body, name in re.findall(r"typedef\s+struct\s+\w*\s*\{(.*?)\}\s*(\w+)\s*;", code, flags=re.S):
            fields = []
            for member in (m.strip() for m in body.split(";")):
                if not member:
                    continue
                match = re.fullmatch(r"(.+?)\s*\b(\w+)\s*(?:\[(\d+)\])?", " ".join(member.split()))
                if not match:
                    raise HeaderError(f"{self.path}: cannot read member '{member}' of {name}")
                ctype = self._type(match.group(1), f"member {match.group(2)} of {name}")
                if match.group(3):
                    ctype = ctype * int(match.group(3))
                fields.append((match.group(2), ctype))
            self.structures[name] = type(name, (ctypes.Structure,), {"_fields_": fields})
            self.types[name] = self.structures[name]
        for result, name, params in re.findall(
                r"typedef\s+([\w\s\*]+?)\s*\(\s*\*\s*(\w+)\s*\)\s*\(([^)]*)\)\s*;", code):
            argtypes = [t for _, t in self._parameters(params, name)]
            self.callbacks[name] = ctypes.CFUNCTYPE(self._type(result, name), *argtypes)
            self.types[name] = self.callbacks[name]

    def _type(self, text, where, result=False):
        text = " ".join(text.replace("*", " * ").split())
        text = re.sub(r"\bconst\b\s*", "", text).strip()
        stars = text.count("*")
        base = text.replace("*", "").strip()
        if base not in self.types:
            raise HeaderError(f"{self.path}: unknown type '{base}' ({where})")
        ctype = self.types[base]
        if stars == 0:
            return ctype
        if stars == 1 and base == "char":
            return ctypes.c_char_p if result else Text
        if stars == 1 and base == "void":
            return ctypes.c_void_p
        if stars == 2 and base == "char":
            return ctypes.POINTER(ctypes.c_char_p)
        if stars == 1 and ctype is not None:
            return ctypes.POINTER(ctype)
        raise HeaderError(f"{self.path}: cannot type '{text}' ({where})")

    def _parameters(self, text, where):
        text = text.strip()
        if text in ("", "void"):
            return []
        parameters = []
        for i, parameter in enumerate(p.strip() for p in text.split(",")):
            match = re.fullmatch(r"(.*?[\s\*])(\w+)", parameter)
            if match and match.group(1).strip() and match.group(2) not in self.types:
                type_text, name = match.group(1), match.group(2)
            else:  # unnamed parameter
                type_text, name = parameter, f"arg{i}"
            parameters.append((name, self._type(type_text, f"parameter {name} of {where}")))
        return parameters

    def _function(self, declaration):
        match = re.fullmatch(r"(.+?)\b(\w+)\s*\((.*)\)", declaration.strip())
        if not match:
            raise HeaderError(f"{self.path}: cannot read the declaration '{declaration}'")
        name = match.group(2)
        result = self._type(match.group(1), f"result of {name}", result=True)
        return Function(name, result, self._parameters(match.group(3), name),
                        f"{match.group(1).strip()} {name}({match.group(3)})")
