#!/usr/bin/env python3
"""Runs the administrator's files of admin/ as they ship, beside Velmora.exe in
%ProgramFiles%\\Velmora.

    check_admin.py sim SOURCE_DIR --velmora PATH [--pwsh PWSH]
        record.ps1 and restore.ps1, run as `powershell -File` runs them, with the
        simulated system's Velmora; the startup task's definition, read as the
        task scheduler reads it, its arguments as the simulated VelmoraState reads
        them; and the operations guide's blocks that run these files
    check_admin.py wine SOURCE_DIR --wine WINE_SH --cache-sim DIR --eventcreate EXE
        the startup script of an earlier Velmora (tests/earlier/startup.cmd, with
        a machine's sizes), which every upgrade but the MSI's leaves in place, run
        by Wine's cmd with this release's Velmora.exe (its CACHESIM.dll copy)
        beside it and a stand-in for eventcreate that logs what it is asked; and
        the startup.cmd an MSI upgrade puts in its place, with VelmoraState.exe
        (its CACHESIM.dll copy) beside it, on the earlier script's log
"""

import os
import re
import shutil
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

from checking import Failures, Sim, limits_of, mode_parser, run, state_of, windows_path
from documents import document_block

MiB = 1048576
UNTOUCHED_GET = "Success: GetSystemFileCacheSize(Min:[1048576], Max:[1073741824], Flags: 0)\n"


def installed(sim, source, name):
    """The shipped script, copied as it is beside the simulated Velmora.exe."""
    path = os.path.join(sim.program, name)
    shutil.copy(os.path.join(source, "admin", name), path)
    return path


def check_record(arguments, scratch, failures):
    untouched = Sim(arguments.velmora, scratch, arguments.pwsh)
    line = untouched.velmora_g()
    result = untouched.pwsh_file(installed(untouched, arguments.source, "record.ps1"))
    failures.expect("record.ps1", "with no record: exit code", 0, result.returncode)
    failures.expect("record.ps1", "with no record: before.txt holds -G's line", line,
                    open(untouched.record).read() if os.path.exists(untouched.record) else None)

    again = Sim(arguments.velmora, scratch, arguments.pwsh)
    with open(again.record, "w") as record:
        record.write(UNTOUCHED_GET)
    again.set_state("min=268435456\nmax=2147483648\nflags=5\n")
    result = again.pwsh_file(installed(again, arguments.source, "record.ps1"))
    failures.expect("record.ps1", "with a record already: exit code", 0, result.returncode)
    failures.expect("record.ps1", "with a record already: before.txt is kept", UNTOUCHED_GET, open(again.record).read())

    failing = Sim(arguments.velmora, scratch, arguments.pwsh)
    failing.set_state("fail.GetSystemFileCacheSize=534\n")
    result = failing.pwsh_file(installed(failing, arguments.source, "record.ps1"))
    failures.expect("record.ps1", "when -G fails: exit code", 1, result.returncode)
    failures.expect("record.ps1", "when -G fails: no before.txt", False, os.path.exists(failing.record))
    failures.expect("record.ps1", "when -G fails: the error says so", True, "534" in result.stderr + result.stdout)


# Restore: the record, the state before, the exit code, the limits in force after
# (min, max, flags), or None where nothing may change.
RESTORE_CASES = [
    ("no record", None, "", 1, None),
    ("an empty record", "", "", 1, None),
    ("a record that is no line of -G", "Min:[1048576], Max:[1073741824], Flags: 0\n", "", 1, None),
    ("a record of a failed -G", "main.cpp:80: GetSystemFileCacheSize(534): Arithmetic result exceeded 32 bits.\n",
     "", 1, None),
    ("sizes that are not whole megabytes", UNTOUCHED_GET.replace("1048576", "1052672"), "", 1, None),
    ("a minimum equal to the maximum", UNTOUCHED_GET.replace("1073741824", "1048576"), "", 1, None),
    ("a maximum hard limit alone", UNTOUCHED_GET.replace("Flags: 0", "Flags: 1"), "", 1, None),
    ("a minimum hard limit alone", UNTOUCHED_GET.replace("Flags: 0", "Flags: 4"), "", 1, None),
    ("-S refused by the system", UNTOUCHED_GET, "min=268435456\nmax=2147483648\nflags=5\nprivilege=missing\n", 1, None),
    ("flags 0: -S, then -C", UNTOUCHED_GET, "min=268435456\nmax=2147483648\nflags=5\n", 0, (MiB, 1024 * MiB, 0)),
    ("flags 5: -S alone", "Success: GetSystemFileCacheSize(Min:[268435456], Max:[2147483648], Flags: 5)\n",
     "", 0, (256 * MiB, 2048 * MiB, 5)),
]


def check_restore(arguments, scratch, failures):
    for name, record, state, code, after in RESTORE_CASES:
        sim = Sim(arguments.velmora, scratch, arguments.pwsh)
        if record is not None:
            with open(sim.record, "w") as file:
                file.write(record)
        sim.set_state(state)
        before = state_of(sim.state)
        result = sim.pwsh_file(installed(sim, arguments.source, "restore.ps1"))
        failures.expect("restore.ps1", name, "exit code", code, result.returncode)
        if after is None:
            failures.expect("restore.ps1", name, "nothing changed", before, state_of(sim.state))
        else:
            failures.expect("restore.ps1", name, "limits in force", tuple(map(str, after)), limits_of(sim.state))
            failures.expect("restore.ps1", name, "shows them at the end", True,
                            f"Min:[{after[0]}], Max:[{after[1]}], Flags: {after[2]})" in result.stdout)


def check_task_definition(arguments, scratch, failures):
    """The definition as schtasks /xml reads it: UTF-16 with its mark, a task of
    the task scheduler's namespace that runs, as SYSTEM, VelmoraState.exe in
    %ProgramFiles%\\Velmora with a wanted state in its arguments that the
    program takes, writing its events."""
    path = os.path.join(arguments.source, "admin", "VelmoraStartupTask.xml")
    data = open(path, "rb").read()
    failures.expect("VelmoraStartupTask.xml", "starts with UTF-16 LE's byte order mark", b"\xff\xfe", data[:2])
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        failures.fail("VelmoraStartupTask.xml", f"does not parse: {error}")
        return
    ns = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}
    failures.expect("VelmoraStartupTask.xml", "the root", "{" + ns["t"] + "}Task", root.tag)
    failures.expect("VelmoraStartupTask.xml", "its command", "%ProgramFiles%\\Velmora\\VelmoraState.exe",
                    root.findtext("t:Actions/t:Exec/t:Command", namespaces=ns))
    words = (root.findtext("t:Actions/t:Exec/t:Arguments", namespaces=ns) or "").split()
    failures.expect("VelmoraStartupTask.xml", "its arguments: set, writing events", ("set", True),
                    (words[0] if words else None, "--event-log" in words))
    sim = Sim(arguments.velmora, scratch, arguments.pwsh)
    wanted = run([sim.velmora_state, "wanted"] + words[1:], env=sim.environment())
    failures.expect("VelmoraStartupTask.xml", "the wanted state its arguments say, as VelmoraState reads them",
                    (0, '{"hardLimits":true,"minimumMB":256,"maximumMB":2048}\n'), (wanted.returncode, wanted.stdout))
    principal = root.find("t:Principals/t:Principal", ns)
    failures.expect("VelmoraStartupTask.xml", "the actions run as the principal it names",
                    principal.get("id") if principal is not None else None, root.find("t:Actions", ns).get("Context"))
    failures.expect("VelmoraStartupTask.xml", "the principal is SYSTEM", "S-1-5-18",
                    root.findtext("t:Principals/t:Principal/t:UserId", namespaces=ns))


# The earlier script: the state of CACHESIM.dll, whether Velmora.exe and the
# records folder are there; the exit code, and the eventcreate arguments and
# text the run must give.
STARTUP_CASES = [
    ("the limits applied", "", True, True, 0, "/T INFORMATION /ID 1",
     "Velmora -S 512 4096: exit code 0: Success: SetSystemFileCacheSize(Min:[536870912], Max:[4294967296], Flags: 5)"),
    ("sizes the system refuses", "largest=16777216\n", True, True, 1, "/T ERROR /ID 2",
     "Velmora -S 512 4096: exit code 1: main.cpp:"),
    ("no Velmora.exe beside the script", "", False, True, 9009, "/T ERROR /ID 4",
     "Velmora -S 512 4096: exit code 9009: "),
    ("no records folder", "", True, False, 3, "/T ERROR /ID 4",
     "Velmora -S 512 4096 did not run: no folder "),
]

# The script an MSI upgrade installs: the earlier script's log (None: none at
# all), the exit code, and the limits in force after (min, max), or None where
# nothing may change.
EARLIER_RUN = "Wed 12/09/2026  6:00:01.25 Velmora -S {0} {1}: exit code 0\r\n" \
              "Success: SetSystemFileCacheSize(Min:[1], Max:[2], Flags: 5)\r\n"
SHIM_CASES = [
    ("the sizes of the last run logged", EARLIER_RUN.format(256, 2048) + EARLIER_RUN.format(512, 4096), 0,
     (512 * MiB, 4096 * MiB)),
    ("a run of the earlier PowerShell script, from shares",
     "2026-12-09T06:00:01 Velmora -S 163 2048 (from {'minimumPercent':2,'maximumPercent':25}): in place: "
     "Success: GetSystemFileCacheSize(Min:[170917888], Max:[2147483648], Flags: 5)\r\n", 0, (163 * MiB, 2048 * MiB)),
    ("a log in another date format", "09.12.2026  6:00:01,25 Velmora -S 300 3000: exit code 0\r\n", 0,
     (300 * MiB, 3000 * MiB)),
    ("no log", None, 1, None),
    ("a log with no run", "Success: SetSystemFileCacheSize(Min:[1], Max:[2], Flags: 5)\r\n", 1, None),
    ("a run whose sizes are refused", EARLIER_RUN.format(4096, 512), 2, None),
]


def check_startup_script(arguments, scratch, failures):
    for name, state, program, records, code, kind, text in STARTUP_CASES:
        root = tempfile.mkdtemp(dir=scratch)
        program_dir = os.path.join(root, "Program Files", "Velmora")
        data_dir = os.path.join(root, "ProgramData")
        bin_dir = os.path.join(root, "bin")
        for folder in (program_dir, bin_dir) + ((os.path.join(data_dir, "Velmora"),) if records else (data_dir,)):
            os.makedirs(folder)
        shutil.copy(os.path.join(arguments.source, "admin", "tests", "earlier", "startup.cmd"), program_dir)
        shutil.copy(os.path.join(arguments.cache_sim, "CACHESIM.dll"), program_dir)
        if program:
            shutil.copy(os.path.join(arguments.cache_sim, "Velmora.exe"), program_dir)
        with open(os.path.join(program_dir, "cachesim.state"), "w") as file:
            file.write(state)
        shutil.copy(arguments.eventcreate, os.path.join(bin_dir, "eventcreate.exe"))
        wrapper = os.path.join(root, "run.cmd")
        with open(wrapper, "w", newline="\r\n") as file:
            file.write(f'@set "ProgramData={windows_path(data_dir)}"\n'
                       f'@set "PATH={windows_path(bin_dir)};%PATH%"\n'
                       # Not through call: Wine's call gives 1 for any exit code of the
                       # script it calls; a script run by name hands over its own.
                       f'@"{windows_path(os.path.join(program_dir, "startup.cmd"))}"\n')
        # From the case's own folder: cmd looks for a program in the current folder first.
        result = run([arguments.wine, "cmd", "/c", windows_path(wrapper)], cwd=root)
        # Wine's exit code reaches Linux as a process status, of which only the
        # low 8 bits remain: 9009 comes as 49.
        failures.expect("startup.cmd", name, "exit code (its low 8 bits)", code & 0xFF, result.returncode)
        log_path = os.path.join(bin_dir, "eventcreate.log")
        events = open(log_path, encoding="utf-8").read().splitlines() if os.path.exists(log_path) else []
        failures.expect("startup.cmd", name, "one event", 1, len(events))
        event = events[0] if events else ""
        options = re.match(r'\S+ (/L \S+ /SO \S+ /T \S+ /ID \S+) /D "', event)
        failures.expect("startup.cmd", name, "the event's log, source, type and ID",
                        f"/L APPLICATION /SO Velmora {kind}", options.group(1) if options else event)
        description = re.search(r'/D "(.*)"', event)
        failures.expect("startup.cmd", name, "the event's text starts", text,
                        description.group(1)[:len(text)] if description else None)
        if records:
            log = open(os.path.join(data_dir, "Velmora", "startup.log"), encoding="ascii", errors="replace").read()
            failures.expect("startup.cmd", name, "startup.log has the exit code", True, f"exit code {code}" in log)


def check_msi_startup_script(arguments, scratch, failures):
    for name, log, code, after in SHIM_CASES:
        root = tempfile.mkdtemp(dir=scratch)
        program_dir = os.path.join(root, "Program Files", "Velmora")
        data_dir = os.path.join(root, "ProgramData")
        os.makedirs(program_dir)
        os.makedirs(os.path.join(data_dir, "Velmora"))
        if log is not None:
            with open(os.path.join(data_dir, "Velmora", "startup.log"), "w", newline="") as file:
                file.write(log)
        shutil.copy(os.path.join(arguments.source, "admin", "startup.cmd"), program_dir)
        for name_in_sim in ("VelmoraState.exe", "CACHESIM.dll"):
            shutil.copy(os.path.join(arguments.cache_sim, name_in_sim), program_dir)
        state_path = os.path.join(program_dir, "cachesim.state")
        with open(state_path, "w") as file:
            file.write("memory=8589934592\n")
        wrapper = os.path.join(root, "run.cmd")
        with open(wrapper, "w", newline="\r\n") as file:
            file.write(f'@set "ProgramData={windows_path(data_dir)}"\n'
                       f'@"{windows_path(os.path.join(program_dir, "startup.cmd"))}"\n')
        result = run([arguments.wine, "cmd", "/c", windows_path(wrapper)], cwd=root)
        failures.expect("MSI's startup.cmd", name, "exit code", code, result.returncode)
        state = state_of(state_path)
        failures.expect("MSI's startup.cmd", name, "the limits in force",
                        (str(after[0]), str(after[1]), "5") if after else (None, None, None),
                        (state.get("min"), state.get("max"), state.get("flags")))


# --- the operations guide's blocks that run these files -------------------------


def powershell_is_pwsh(arguments):
    """Windows PowerShell's name, for PowerShell 7 here."""
    return f"function powershell {{ & '{arguments.pwsh}' @args }}\n"


def with_admin_files(arguments, scratch):
    """A simulated Windows with every file of admin/ beside Velmora.exe, as they ship."""
    sim = Sim(arguments.velmora, scratch, arguments.pwsh)
    for name in os.listdir(os.path.join(arguments.source, "admin")):
        if os.path.isfile(os.path.join(arguments.source, "admin", name)):
            installed(sim, arguments.source, name)
    return sim


def check_guide_record_restore(arguments, scratch, failures):
    """The guide's lines that run record.ps1 and restore.ps1 as they ship."""
    block = document_block(arguments.source, "docs/operations.md", "Velmora\\record.ps1")
    sim = with_admin_files(arguments, scratch)
    line = sim.velmora_g()
    result = sim.pwsh(block.text, powershell_is_pwsh(arguments))
    failures.expect(block, "exit code", 0, result.returncode)
    failures.expect(block, "before.txt holds -G's line", line,
                    open(sim.record).read() if os.path.exists(sim.record) else None)

    block = document_block(arguments.source, "docs/operations.md", "Velmora\\restore.ps1")
    sim = with_admin_files(arguments, scratch)
    with open(sim.record, "w") as record:
        record.write("Success: GetSystemFileCacheSize(Min:[268435456], Max:[2147483648], Flags: 5)\n")
    result = sim.pwsh(block.text, powershell_is_pwsh(arguments))
    failures.expect(block, "exit code", 0, result.returncode)
    failures.expect(block, "the recorded limits in force", ("268435456", "2147483648", "5"), limits_of(sim.state))


def check_guide_task(arguments, scratch, failures):
    """The guide's schtasks line registers the definition that ships (the task
    scheduler is Windows' own: the line names files of admin/), and its edited
    copy is written in the records folder as schtasks reads it, with sizes that
    VelmoraState takes, and registered."""
    block = document_block(arguments.source, "docs/operations.md", '/xml "%ProgramFiles%\\Velmora\\VelmoraStartupTask.xml"')
    named = re.findall(r"\\Velmora\\([^\\\"]+)\"", block.text)
    failures.expect(block, "names the shipped definition", ["VelmoraStartupTask.xml"], named)
    for name in named:
        failures.expect(block, f"{name} ships beside Velmora.exe", True,
                        os.path.isfile(os.path.join(arguments.source, "admin", name)))

    block = document_block(arguments.source, "docs/operations.md", "$Copy = \"$env:ProgramData\\Velmora\\VelmoraStartupTask.xml\"")
    sim = Sim(arguments.velmora, scratch, arguments.pwsh)
    installed(sim, arguments.source, "VelmoraStartupTask.xml")
    result = sim.pwsh(block.text, "function schtasks { \"schtasks $args\" }\n")
    copy = os.path.join(sim.program_data, "Velmora", "VelmoraStartupTask.xml")
    failures.expect(block, "exit code", 0, result.returncode)
    failures.expect(block, "schtasks registers the copy", f"schtasks /create /tn Velmora file cache limits /xml {copy} /f",
                    result.stdout.strip().replace("\\", "/"))
    data = open(copy, "rb").read() if os.path.exists(copy) else b""
    failures.expect(block, "the copy is UTF-16 with its byte order mark, as schtasks /xml reads it", b"\xff\xfe", data[:2])
    ns = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}
    try:
        arguments_text = ElementTree.fromstring(data).findtext("t:Actions/t:Exec/t:Arguments", namespaces=ns) or ""
    except ElementTree.ParseError as error:
        failures.fail(block, f"the copy does not parse: {error}")
        return
    words = arguments_text.split()
    wanted = run([sim.velmora_state, "wanted"] + words[1:], env=sim.environment())
    failures.expect(block, "the copy's wanted state, as VelmoraState reads its arguments",
                    '{"hardLimits":true,"minimumMB":512,"maximumPercent":12.5}\n', wanted.stdout)
    failures.expect(block, "the copy still runs set and writes events", ("set", True),
                    (words[0] if words else None, "--event-log" in words))


def main():
    parser = mode_parser(__doc__)
    parser.add_argument("--cache-sim")
    parser.add_argument("--eventcreate")
    arguments = parser.parse_args()
    arguments.source = os.path.abspath(arguments.source)
    failures = Failures()
    with tempfile.TemporaryDirectory(prefix="velmora-admin-") as scratch:
        if arguments.mode == "sim":
            check_record(arguments, scratch, failures)
            check_restore(arguments, scratch, failures)
            check_task_definition(arguments, scratch, failures)
            check_guide_record_restore(arguments, scratch, failures)
            check_guide_task(arguments, scratch, failures)
        else:
            check_startup_script(arguments, scratch, failures)
            check_msi_startup_script(arguments, scratch, failures)
    return failures.report()


if __name__ == "__main__":
    sys.exit(main())
