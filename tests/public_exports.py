"""The shared library exports exactly the functions that the public header says it does.

usage: public_exports.py <tolvan.h> <library> <linux|windows|macos> [tool]

linux:   every TOLV_API and TOLV_SERVICE_API function; read with `nm -D --defined-only`.
windows: the TOLV_API functions only; read from the DLL's export table with `objdump -p`.
macos:   the TOLV_API functions only; read with `nm -gU` (leading underscores dropped).
tool is the nm or objdump of the target. The header itself is checked too: the service
functions are those declared after its "Linux builds only" banner, and only those carry
TOLV_SERVICE_API. Fails on any difference either way.
"""
import re
import subprocess
import sys

SERVICE_BANNER = "Linux builds only: service functions"


def header_functions(path):
    """(public names, service names) of the header's declarations."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    banner = text.find(SERVICE_BANNER)
    if banner < 0:
        sys.exit(f"{path}: no '{SERVICE_BANNER}' banner")
    public, service, errors = set(), set(), []
    for part, is_service in ((text[:banner], False), (text[banner:], True)):
        part = re.sub(r"/\*.*?\*/", " ", part, flags=re.S)
        part = re.sub(r"//[^\n]*", " ", part)
        part = re.sub(r"^[ \t]*#(?:[^\n]*\\\n)*[^\n]*", " ", part, flags=re.M)
        declarations = re.findall(r"\b(TOLV_API|TOLV_SERVICE_API)\b([^;]*);", part)
        for macro, rest in declarations:
            # The function's name is the first identifier followed by its parameter list.
            match = re.search(r"([A-Za-z_]\w*)\s*\(", rest)
            if not match:
                sys.exit(f"unreadable declaration in {path}: {macro}{rest}")
            name = match.group(1)
            if (macro == "TOLV_SERVICE_API") != is_service:
                where = "after" if is_service else "before"
                errors.append(f"{name} is declared {where} the service banner with {macro}")
            (service if is_service else public).add(name)
        if len(re.findall(r"\bTOLV_(?:SERVICE_)?API\b", part)) != len(declarations):
            sys.exit(f"{path}: TOLV_API outside a declaration")
    return public, service, errors


def exported_symbols(library, platform, tool):
    if platform == "windows":
        out = subprocess.run([tool or "objdump", "-p", library], check=True,
                             capture_output=True, text=True).stdout
        # "[Ordinal/Name Pointer] Table" lists one "\t[   n] name" line per exported name.
        table = out.split("[Ordinal/Name Pointer] Table", 1)
        if len(table) < 2:
            return set()
        return set(re.findall(r"^\s*\[\s*\d+\]\s+(\S+)\s*$", table[1], flags=re.M))
    if platform == "macos":
        out = subprocess.run([tool or "nm", "-gU", library], check=True,
                             capture_output=True, text=True).stdout
        return {line.split()[-1].lstrip("_") for line in out.splitlines() if line.strip()}
    out = subprocess.run([tool or "nm", "-D", "--defined-only", library], check=True,
                         capture_output=True, text=True).stdout
    # "<address> <type> <name>[@version]"; the address may be missing for absolute symbols.
    return {line.split()[-1].split("@")[0] for line in out.splitlines() if line.strip()}


def main():
    if len(sys.argv) not in (4, 5) or sys.argv[3] not in ("linux", "windows", "macos"):
        sys.exit(__doc__)
    header, library, platform = sys.argv[1:4]
    public, service, errors = header_functions(header)
    declared = public | service if platform == "linux" else public
    exported = exported_symbols(library, platform, sys.argv[4] if len(sys.argv) == 5 else None)
    for line in errors:
        print(line)
    for name in sorted(exported - declared):
        why = " (a Linux-only service function)" if name in service else ""
        print(f"exported but not in the header's {platform} list{why}: {name}")
    for name in sorted(declared - exported):
        print(f"in the header's {platform} list but not exported: {name}")
    print(f"{platform}: {len(declared)} to export ({len(public)} public, {len(service)} service), "
          f"{len(exported)} exported")
    return 1 if errors or exported != declared or not declared else 0


if __name__ == "__main__":
    sys.exit(main())
