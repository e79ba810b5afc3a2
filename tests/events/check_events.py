#!/usr/bin/env python3
"""The startup task's events as the Application log shows them: each event ID
that VelmoraState.exe writes, formatted from the program's own message table by
FormatMessage under Wine, with its insertion strings where the text puts them.
Wine's event log itself only traces, so the events a run writes are checked on
the simulated system (StateTests.cpp); here, their texts.

    check_events.py --wine WINE_SH --event-text EXE --program VELMORA_STATE_EXE
"""

import argparse
import os
import subprocess
import sys

from checking import Failures, windows_path

COMMAND = "set --minimum 256MB --maximum 12.5% --event-log"
BEFORE = "1048576 and 1073741824 bytes, flags 0"
AFTER = "268435456 and 2147483648 bytes, flags 5"
ASKED = "268435456 and 4294967296 bytes with both hard limits on"
WHY = "VelmoraState.cpp:300: SetSystemFileCacheSize(87): The parameter is incorrect."

# The event ID as written (severity in its top bits), the event ID the log
# shows, the inserts, and the text it must read as.
EVENTS = [
    (0x40000001, 1, [BEFORE, AFTER, COMMAND],
     f"The file cache limits were changed from {BEFORE} to {AFTER}.\r\n\r\nStartup task: VelmoraState {COMMAND}\r\n"),
    (0xC0000002, 2, [ASKED, WHY, COMMAND],
     f"The system refused to set the file cache limits to {ASKED}, and nothing was changed: {WHY}\r\n\r\n"
     f"Startup task: VelmoraState {COMMAND}\r\n"),
    (0xC0000003, 3, ["minimumMB must be below maximumMB", COMMAND],
     "The wanted state was refused, and nothing was changed: minimumMB must be below maximumMB\r\n\r\n"
     f"Startup task: VelmoraState {COMMAND}\r\n"),
    (0xC0000004, 4, ["the physical memory could not be read", COMMAND],
     "The startup task could not run, and nothing was changed: the physical memory could not be read\r\n\r\n"
     f"Startup task: VelmoraState {COMMAND}\r\n"),
    (0x40000005, 5, [AFTER, COMMAND],
     f"The file cache limits are in place: {AFTER}.\r\n\r\nStartup task: VelmoraState {COMMAND}\r\n"),
    (0x80000006, 6, [WHY, COMMAND],
     "The physical memory could not be read, so the check that the maximum is not above it was skipped: "
     f"{WHY}\r\n\r\nStartup task: VelmoraState {COMMAND}\r\n"),
    (0x80000007, 7, [AFTER, ASKED, COMMAND],
     f"The system holds the file cache limits at {AFTER}, not at {ASKED} as asked: it lowers a maximum above the "
     f"largest it takes. Nothing was changed.\r\n\r\nStartup task: VelmoraState {COMMAND}\r\n"),
]


def event_text(arguments, program, *event):
    """EventText's exit code and its output, as bytes decoded: line ends as written."""
    result = subprocess.run([arguments.wine, arguments.event_text, program, *event], capture_output=True, timeout=300)
    return result.returncode, result.stdout.decode("utf-8", "replace")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--event-text", required=True)
    parser.add_argument("--program", required=True)
    arguments = parser.parse_args()
    failures = Failures()
    program = windows_path(os.path.abspath(arguments.program))
    for whole, shown, inserts, text in EVENTS:
        code, out = event_text(arguments, program, hex(whole), *inserts)
        failures.expect(f"event {shown}", "the ID the log shows", shown, whole & 0xFFFF)
        failures.expect(f"event {shown}", "EventText's exit code", 0, code)
        failures.expect(f"event {shown}", "its text", text, out)
    # An ID the program does not write has no text: the table holds only these.
    code, out = event_text(arguments, program, hex(0x40000008))
    failures.expect("event 8", "no such message (317)", (1, "FormatMessageW failed: 317\n"), (code, out.replace("\r\n", "\n")))
    return failures.report()


if __name__ == "__main__":
    sys.exit(main())
