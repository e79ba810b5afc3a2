#!/usr/bin/python3
"""Reads a built program (Velmora.exe or VelmoraState.exe) back: a console
program for its architecture (PE32 for Intel 80386, or PE32+ for AMD64) for
Windows 6.0 and later, with the
security marks each build carries, that imports only system DLLs and carries
exactly one manifest, asInvoker and without uiAccess, and version information
that matches the project version.

Usage: check_pe.py PROGRAM.exe VERSION win32|win64
"""
import os
import re
import sys

import pefile

from checking import Failures

failures = Failures()
expect = failures.expect

# What each build is: optional header magic, machine.
FORMATS = {
    "win32": (0x10B, 0x14C, "PE32", "Intel 80386"),
    "win64": (0x20B, 0x8664, "PE32+", "AMD64"),
}


# The marks in the optional header's DllCharacteristics: what each build carries
# (win32, win64).
MARKS = [
    ("DYNAMIC_BASE (ASLR)", 0x0040, True, True),
    ("HIGH_ENTROPY_VA (64-bit ASLR)", 0x0020, False, True),
    ("NX_COMPAT (DEP)", 0x0100, True, True),
    ("NO_SEH (no exception handlers to hijack)", 0x0400, True, False),
    ("TERMINAL_SERVER_AWARE", 0x8000, True, True),
    ("GUARD_CF (Control Flow Guard; MinGW-w64's GCC 12 makes none)", 0x4000, False, False),
]


def resources(pe, type_id):
    found = []
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != type_id:
            continue
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                found.append(pe.get_data(data.OffsetToData, data.Size))
    return found


def main():
    if len(sys.argv) != 4 or sys.argv[3] not in FORMATS:
        sys.exit(__doc__)
    path, version = sys.argv[1], sys.argv[2]
    magic, machine, format_name, machine_name = FORMATS[sys.argv[3]]
    pe = pefile.PE(path)

    expect(f"optional header magic ({format_name})", magic, pe.OPTIONAL_HEADER.Magic)
    expect(f"machine ({machine_name})", machine, pe.FILE_HEADER.Machine)
    expect("subsystem (console)", 3, pe.OPTIONAL_HEADER.Subsystem)
    expect("link time stamp", 0, pe.FILE_HEADER.TimeDateStamp)
    expect("subsystem version (Windows Vista / Server 2008)", (6, 0),
           (pe.OPTIONAL_HEADER.MajorSubsystemVersion, pe.OPTIONAL_HEADER.MinorSubsystemVersion))
    # ASLR needs the relocations to move the image.
    expect("relocations kept (RELOCS_STRIPPED clear)", 0, pe.FILE_HEADER.Characteristics & 0x0001)
    column = 0 if sys.argv[3] == "win32" else 1
    for name, bit, *carried in MARKS:
        expect(f"DllCharacteristics {name}", carried[column], bool(pe.OPTIONAL_HEADER.DllCharacteristics & bit))

    imports = sorted(entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT)
    expect("imported DLLs", ["advapi32.dll", "kernel32.dll", "msvcrt.dll"], imports)

    manifests = resources(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"])
    expect("number of manifests", 1, len(manifests))
    if manifests:
        text = manifests[0].decode("utf-8")
        levels = re.findall(r'<requestedExecutionLevel\s+level="([^"]*)"\s+uiAccess="([^"]*)"', text)
        expect("requestedExecutionLevel (level, uiAccess)", [("asInvoker", "false")], levels)

    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    expect("FileVersion", version, strings.get("FileVersion"))
    expect("ProductVersion", version, strings.get("ProductVersion"))
    expect("ProductName", "Velmora", strings.get("ProductName"))
    expect("OriginalFilename", os.path.basename(path), strings.get("OriginalFilename"))
    if not strings.get("FileDescription"):
        failures.fail("FileDescription: expected a description, got none")
    if "Copyright" not in strings.get("LegalCopyright", ""):
        failures.fail(f"LegalCopyright: expected a copyright line, got {strings.get('LegalCopyright')!r}")

    numbers = [int(part) for part in version.split(".")] + [0]
    fixed = pe.VS_FIXEDFILEINFO[0]
    expect("fixed file version",
           ((numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3]),
           (fixed.FileVersionMS, fixed.FileVersionLS))
    expect("fixed product version",
           ((numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3]),
           (fixed.ProductVersionMS, fixed.ProductVersionLS))

    print(f"{path}:")
    return failures.report()


if __name__ == "__main__":
    sys.exit(main())
