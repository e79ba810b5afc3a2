#!/usr/bin/python3
"""The two build steps of the cache simulator for Velmora.exe under Wine.

  cachesim.py def EXE DEF       writes a .def file for CACHESIM.dll: every function
                                that EXE imports from KERNEL32.dll is forwarded to
                                kernel32, but the two cache calls that the DLL serves
  cachesim.py patch EXE COPY    writes a copy of EXE that imports CACHESIM.dll in
                                place of KERNEL32.dll (a name of the same length):
                                nothing else in it changes
"""
import sys

import pefile

SERVED = {b"GetSystemFileCacheSize", b"SetSystemFileCacheSize"}
SYSTEM_NAME = b"KERNEL32.dll"
SIM_NAME = b"CACHESIM.dll"


def kernel32_import(pe):
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        if entry.dll.lower() == SYSTEM_NAME.lower():
            return entry
    sys.exit(f"{pe.filename if hasattr(pe, 'filename') else 'the program'} imports nothing from {SYSTEM_NAME.decode()}")


def write_def(exe, out):
    pe = pefile.PE(exe)
    names = sorted(imp.name for imp in kernel32_import(pe).imports)
    missing = SERVED - set(names)
    if missing:
        sys.exit(f"{exe} does not import {sorted(n.decode() for n in missing)}")
    lines = ["LIBRARY CACHESIM.dll", "EXPORTS"]
    lines += [f"    {n.decode()} = kernel32.{n.decode()}" for n in names if n not in SERVED]
    with open(out, "w") as f:
        f.write("\n".join(lines) + "\n")


def write_patched(exe, out):
    pe = pefile.PE(exe)
    offset = pe.get_offset_from_rva(kernel32_import(pe).struct.Name)
    data = bytearray(pe.__data__)
    found = bytes(data[offset:offset + len(SYSTEM_NAME) + 1])
    if found.lower() != SYSTEM_NAME.lower() + b"\0":
        sys.exit(f"{exe}: expected {SYSTEM_NAME!r} at {offset:#x}, found {found!r}")
    data[offset:offset + len(SIM_NAME)] = SIM_NAME
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("def", "patch"):
        sys.exit(__doc__)
    (write_def if sys.argv[1] == "def" else write_patched)(sys.argv[2], sys.argv[3])
