"""The shared library exports exactly the functions that the public header declares.

usage: public_exports.py <tolvan.h> <libtolvan.so> [nm]
Reads the header's TOLV_API declarations (comments and preprocessor lines removed) and the
library's dynamic symbol table (nm -D --defined-only), and fails on any difference either way.
"""
import re
import subprocess
import sys


def header_functions(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", " ", text)
    text = re.sub(r"^[ \t]*#(?:[^\n]*\\\n)*[^\n]*", " ", text, flags=re.M)
    declarations = re.findall(r"\bTOLV_API\b[^;]*;", text)
    names = set()
    for declaration in declarations:
        # The function's name is the first identifier followed by its parameter list.
        match = re.search(r"([A-Za-z_]\w*)\s*\(", declaration[len("TOLV_API"):])
        if not match:
            sys.exit(f"unreadable declaration in {path}: {declaration}")
        names.add(match.group(1))
    if text.count("TOLV_API") != len(declarations):
        sys.exit(f"{path}: TOLV_API outside a declaration")
    return names


def exported_symbols(library, nm):
    out = subprocess.run([nm, "-D", "--defined-only", library], check=True,
                         capture_output=True, text=True).stdout
    # "<address> <type> <name>[@version]"; the address may be missing for absolute symbols.
    return {line.split()[-1].split("@")[0] for line in out.splitlines() if line.strip()}


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    declared = header_functions(sys.argv[1])
    exported = exported_symbols(sys.argv[2], sys.argv[3] if len(sys.argv) == 4 else "nm")
    extra = sorted(exported - declared)
    missing = sorted(declared - exported)
    for name in extra:
        print(f"exported but not declared in the header: {name}")
    for name in missing:
        print(f"declared in the header but not exported: {name}")
    print(f"{len(declared)} declared, {len(exported)} exported")
    return 1 if extra or missing or not declared else 0


if __name__ == "__main__":
    sys.exit(main())
