#!/usr/bin/python3
"""The two build steps of the cache simulator for Velmora's programs under Wine.

  cachesim.py def DEF EXE...    writes a .def file for CACHESIM.dll: every function
                                that one of the programs imports from KERNEL32.dll
                                is forwarded to kernel32, but the calls that the
                                DLL serves
  cachesim.py patch EXE COPY    writes a copy of EXE that imports CACHESIM.dll in
                                place of KERNEL32.dll (a name of the same length):
                                nothing else in it changes
"""
import sys

import pefile

SERVED = {b"GetSystemFileCacheSize", b"SetSystemFileCacheSize", b"GlobalMemoryStatusEx"}
SYSTEM_NAME = b"KERNEL32.dll"
SIM_NAME = b"CACHESIM.dll"


def kernel32_import(pe, exe):
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        if entry.dll.lower() == SYSTEM_NAME.lower():
            return entry
    sys.exit(f"{exe} imports nothing from {SYSTEM_NAME.decode()}")


def write_def(out, programs):
    names = set()
    for exe in programs:
        names |= {imp.name for imp in kernel32_import(pefile.PE(exe), exe).imports}
    missing = SERVED - names
    if missing:
        sys.exit(f"none of {programs} imports {sorted(n.decode() for n in missing)}")
    lines = ["LIBRARY CACHESIM.dll", "EXPORTS"]
    lines += [f"    {n.decode()} = kernel32.{n.decode()}" for n in sorted(names) if n not in SERVED]
    with open(out, "w") as f:
        f.write("\n".join(lines) + "\n")


def write_patched(exe, out):
    pe = pefile.PE(exe)
    offset = pe.get_offset_from_rva(kernel32_import(pe, exe).struct.Name)
    data = bytearray(pe.__data__)
    found = bytes(data[offset:offset + len(SYSTEM_NAME) + 1])
    if found.lower() != SYSTEM_NAME.lower() + b"\0":
        sys.exit(f"{exe}: expected {SYSTEM_NAME!r} at {offset:#x}, found {found!r}")
    data[offset:offset + len(SIM_NAME)] = SIM_NAME
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "def":
        write_def(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) == 4 and sys.argv[1] == "patch":
        write_patched(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
