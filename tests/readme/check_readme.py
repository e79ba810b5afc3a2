#!/usr/bin/env python3
"""Checks every fenced block of the README, docs/operations.md and docs/development.md as what it is.

Each block carries its language, and each must match exactly one row of BLOCKS
below: the row names a line that only that block holds, and either the check
that runs it or why nothing here can. On top of that every block of a language
is checked as that language: PowerShell by PowerShell's own parser, YAML by a
YAML parser, XML saved in UTF-16 by an XML parser, sh by `sh -n`.

    check_readme.py sim SOURCE_DIR --velmora PATH
        every block but the msiexec lines: PowerShell, YAML (with ansible-playbook),
        XML, sh and text, with Velmora on the simulated system
    check_readme.py wine SOURCE_DIR --wine WINE_SH --msi MSI
        the deployment guide's msiexec lines, run by Wine's cmd

A failure names the block by its document and the line of its fence.
"""

import json
import os
import re
import shutil
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

import yaml

from checking import Failures, Sim, limits_of, mode_parser, run, state_of

LANGUAGES = {"powershell", "bat", "yaml", "xml", "sh", "text"}
DOCUMENTS = ["README.md", "docs/operations.md", "docs/development.md"]
PWSH = "pwsh"


class Block:
    def __init__(self, document, language, line, text):
        self.document, self.language, self.line, self.text = document, language, line, text

    def __str__(self):
        return f"{self.document} line {self.line} ({self.language})"


def read_blocks(source, document):
    blocks, current = [], None
    with open(os.path.join(source, document), encoding="utf-8") as readme:
        for number, line in enumerate(readme, 1):
            if current is None:
                fence = re.match(r"^```(.*)$", line.rstrip("\n"))
                if fence:
                    current = Block(document, fence.group(1).strip(), number, "")
            elif line.rstrip("\n") == "```":
                blocks.append(current)
                current = None
            else:
                current.text += line
    if current is not None:
        raise SystemExit(f"{current}: the block is never closed")
    return blocks


# --- sim: the blocks that run with Velmora on the simulated system -------------

def sim_with_admin_files(context):
    """A simulated Windows with the administrator's files of admin/ beside Velmora.exe."""
    sim = Sim(context.velmora, context.scratch, PWSH)
    for name in os.listdir(os.path.join(context.source, "admin")):
        if os.path.isfile(os.path.join(context.source, "admin", name)):
            shutil.copy(os.path.join(context.source, "admin", name), sim.program)
    return sim


def powershell_is_pwsh():
    """Windows PowerShell's name, for PowerShell 7 here."""
    return f"function powershell {{ & '{PWSH}' @args }}\n"


def check_record_line(block, context, failures):
    sim = sim_with_admin_files(context)
    line = sim.velmora_g()
    result = sim.pwsh(block.text, powershell_is_pwsh())
    failures.expect(block, "exit code", 0, result.returncode)
    failures.expect(block, "before.txt holds -G's line", line,
                    open(sim.record).read() if os.path.exists(sim.record) else None)


def check_restore_line(block, context, failures):
    sim = sim_with_admin_files(context)
    with open(sim.record, "w") as record:
        record.write("Success: GetSystemFileCacheSize(Min:[268435456], Max:[2147483648], Flags: 5)\n")
    result = sim.pwsh(block.text, powershell_is_pwsh())
    failures.expect(block, "exit code", 0, result.returncode)
    failures.expect(block, "the recorded limits in force", ("268435456", "2147483648", "5"), limits_of(sim.state))


def check_names_shipped_file(block, context, failures):
    """A line that Windows alone can run names a file that ships in %ProgramFiles%\\Velmora."""
    for name in re.findall(r"\\Velmora\\([^\\\"]+)\"", block.text):
        failures.expect(block, f"{name} ships beside Velmora.exe", True,
                        os.path.isfile(os.path.join(context.source, "admin", name)))


def check_task_copy(block, context, failures):
    """The guide's edited copy of the task definition: written in the records folder
    as schtasks reads it, with the new sizes that VelmoraState takes, and registered."""
    sim = Sim(context.velmora, context.scratch, PWSH)
    shutil.copy(os.path.join(context.source, "admin", "VelmoraStartupTask.xml"), sim.program)
    prelude = "function schtasks { \"schtasks $args\" }\n"
    result = sim.pwsh(block.text, prelude)
    copy = os.path.join(sim.program_data, "Velmora", "VelmoraStartupTask.xml")
    failures.expect(block, "exit code", 0, result.returncode)
    failures.expect(block, "schtasks registers the copy", f"schtasks /create /tn Velmora file cache limits /xml {copy} /f",
                    result.stdout.strip().replace("\\", "/"))
    data = open(copy, "rb").read() if os.path.exists(copy) else b""
    failures.expect(block, "the copy is UTF-16 with its byte order mark, as schtasks /xml reads it", b"\xff\xfe", data[:2])
    ns = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}
    try:
        arguments = ElementTree.fromstring(data).findtext("t:Actions/t:Exec/t:Arguments", namespaces=ns) or ""
    except ElementTree.ParseError as error:
        failures.fail(block, f"the copy does not parse: {error}")
        return
    words = arguments.split()
    wanted = run([sim.velmora_state, "wanted"] + words[1:], env=sim.environment())
    failures.expect(block, "the copy's wanted state, as VelmoraState reads its arguments",
                    '{"hardLimits":true,"minimumMB":512,"maximumPercent":12.5}\n', wanted.stdout)
    failures.expect(block, "the copy still runs set and writes events", ("set", True),
                    (words[0] if words else None, "--event-log" in words))


def check_module_record(block, context, failures):
    """The module's record and restore, with the module and the simulated system's Velmora."""
    prelude = f"Import-Module '{context.module}'\n"
    untouched = Sim(context.velmora, context.scratch, PWSH)
    result = untouched.pwsh(block.text, prelude)
    failures.expect(block, "with no record: exit code", 0, result.returncode)
    failures.expect(block, "with no record: before.xml written", True,
                    os.path.exists(os.path.join(untouched.program_data, "Velmora", "before.xml")))
    held = state_of(untouched.state)
    failures.expect(block, "with no record: the untouched limits put back, both hard limits off",
                    ("1048576", "1073741824", "0"), (held.get("min"), held.get("max"), held.get("flags")))

    again = Sim(context.velmora, context.scratch, PWSH)
    again.set_state("min=268435456\nmax=2147483648\nflags=5\n")
    again.pwsh(block.text, prelude)
    again.set_state("min=104857600\nmax=209715200\nflags=5\n")
    result = again.pwsh(block.text, prelude)
    held = state_of(again.state)
    failures.expect(block, "with a record already: exit code", 0, result.returncode)
    failures.expect(block, "with a record already: the first record is what comes back",
                    ("268435456", "2147483648", "5"), (held.get("min"), held.get("max"), held.get("flags")))

    failing = Sim(context.velmora, context.scratch, PWSH)
    failing.set_state("fail.GetSystemFileCacheSize=534\n")
    result = failing.pwsh(block.text, prelude)
    failures.expect(block, "when -G fails: exit code", 1, result.returncode)
    failures.expect(block, "when -G fails: no before.xml", False,
                    os.path.exists(os.path.join(failing.program_data, "Velmora", "before.xml")))


# The quick start's Windows: Install-Module imports the built module, which takes
# this for an elevated Windows; the task scheduler, the ACL tools and the
# registry are test doubles that log what they are asked, and the task's
# definition is kept.
def check_winget_path(block, context, failures):
    sim = Sim(context.velmora, context.scratch, PWSH)
    packages = os.path.join(sim.local_app_data, "Microsoft", "WinGet", "Packages")
    newest = None
    for number, source in enumerate(["Velmora.Velmora_Microsoft.Winget.Source_8wekyb3d8bbwe", "Velmora.Velmora_other"]):
        folder = os.path.join(packages, source)
        os.makedirs(folder)
        newest = os.path.join(folder, "Velmora.exe")
        open(newest, "w").close()
        os.utime(newest, (1700000000 + number * 3600,) * 2)
    first_line = block.text.split("\n# scoop")[0]
    result = sim.pwsh(first_line + "\n$Velmora\n")
    failures.expect(block, "with two winget installs: $Velmora is the newest", newest, result.stdout.strip())


def check_hash(block, context, failures):
    for tamper, expected in ((False, "True"), (True, "False")):
        folder = tempfile.mkdtemp(dir=context.scratch)
        write_release(folder, context.version, tamper)
        result = run([PWSH, "-NoLogo", "-NoProfile", "-NonInteractive", "-Command", block.text], cwd=folder)
        failures.expect(block, f"{'a changed' if tamper else 'the released'} archive: output", expected,
                        result.stdout.strip())


def write_release(folder, version, tamper):
    """A release folder with SHA256SUMS for two archives, one of them downloaded."""
    import hashlib
    archive = b"PK\x05\x06" + bytes(18)
    sums = ""
    for name, data in ((f"Velmora-{version}-win32.zip", b"other"), (f"Velmora-{version}-win64.zip", archive)):
        sums += f"{hashlib.sha256(data).hexdigest()}  {name}\n"
    with open(os.path.join(folder, "SHA256SUMS"), "w") as file:
        file.write(sums)
    with open(os.path.join(folder, f"Velmora-{version}-win64.zip"), "wb") as file:
        file.write(archive + (b"!" if tamper else b""))


def check_sha256sum(block, context, failures):
    for tamper, code, output in ((False, 0, f"Velmora-{context.version}-win64.zip: OK"), (True, 1, None)):
        folder = tempfile.mkdtemp(dir=context.scratch)
        write_release(folder, context.version, tamper)
        result = run(["sh", "-e", "-c", block.text], cwd=folder)
        failures.expect(block, f"{'a changed' if tamper else 'the released'} archive: exit code", code,
                        result.returncode)
        if output is not None:
            failures.expect(block, "the released archive: output", output, result.stdout.strip())


def check_try_it(block, context, failures):
    steps = [step.strip() for step in block.text.strip().split("&&")]
    presets = json.load(open(os.path.join(context.source, "CMakePresets.json")))
    configure = {preset["name"] for preset in presets["configurePresets"]}
    build = {preset["name"] for preset in presets["buildPresets"]}
    failures.expect(block, "configures a preset that exists", True,
                    re.fullmatch(r"cmake --preset (\S+)", steps[0]) is not None and steps[0].split()[-1] in configure)
    failures.expect(block, "builds a preset that exists", True,
                    re.fullmatch(r"cmake --build --preset (\S+)", steps[1]) is not None and steps[1].split()[-1] in build)
    failures.expect(block, "then runs the program the sim preset builds", "./build/sim/Velmora -G", steps[2])
    # The program itself the workflow has just built; what it prints is the next block.
    shown = context.next_block(block)
    sim = Sim(context.velmora, context.scratch, PWSH)
    failures.expect(block, "prints the line shown below it", shown.text if shown else None, sim.velmora_g())


def check_usage(block, context, failures):
    result = run([context.velmora])
    failures.expect(block, "is the usage text Velmora prints", block.text, result.stdout)
    failures.expect(block, "Velmora's exit code with no option", 255, result.returncode)


def check_script_named(block, context, failures):
    """A block that no test here can run as it stands names scripts that exist."""
    for script in re.findall(r"\bsh (\S+\.sh)\b", block.text):
        failures.expect(block, f"{script} exists", True, os.path.exists(os.path.join(context.source, script)))


def check_play(block, context, failures):
    play_path = os.path.join(context.scratch, "play.yml")
    with open(play_path, "w") as file:
        file.write(block.text)
    environment = dict(os.environ, ANSIBLE_NOCOLOR="1", ANSIBLE_LOCAL_TEMP=context.scratch,
                       ANSIBLE_REMOTE_TEMP=context.scratch, ANSIBLE_RETRY_FILES_ENABLED="0",
                       ANSIBLE_LOCALHOST_WARNING="0", ANSIBLE_INVENTORY_UNPARSED_WARNING="0")
    result = run(["ansible-playbook", "--syntax-check", play_path], env=environment)
    failures.expect(block, "ansible-playbook --syntax-check: exit code", 0, result.returncode)
    if result.returncode != 0:
        failures.fail(block, result.stdout + result.stderr)
        return

    # The play's own read and set logic, on three simulated hosts on this machine.
    # ansible.builtin.command stands in for ansible.windows.win_command (no Windows
    # here), and the runas become, which only Windows has, is dropped.
    plays = yaml.safe_load(block.text)
    for play in plays:
        play["environment"] = {"VELMORA_SIM_STATE": "{{ sim_state }}"}
        for task in play["tasks"]:
            task["ansible.builtin.command"] = task.pop("ansible.windows.win_command")
            for key in ("become", "become_method", "become_user"):
                task.pop(key, None)
    local_play = os.path.join(context.scratch, "local-play.yml")
    with open(local_play, "w") as file:
        yaml.safe_dump(plays, file, sort_keys=False)
    hosts = {"capped": "min=268435456\nmax=2147483648\nflags=5\n",
             "untouched": "",
             "broken": "fail.GetSystemFileCacheSize=5\n"}
    inventory = os.path.join(context.scratch, "inventory.ini")
    with open(inventory, "w") as file:
        file.write("[windows]\n")
        for name, state in hosts.items():
            path = os.path.join(context.scratch, f"{name}.state")
            with open(path, "w") as state_file:
                state_file.write(state)
            file.write(f"{name} ansible_connection=local ansible_python_interpreter={sys.executable} "
                       f"sim_state={path}\n")

    def play_run(*options):
        result = run(["ansible-playbook", "-i", inventory, "-e", f"velmora={os.path.abspath(context.velmora)}",
                      *options, local_play], env=environment)
        recap = dict(re.findall(r"^(\w+)\s+: (ok=.*)$", result.stdout, re.M))
        counts = {host: dict(re.findall(r"(\w+)=(\d+)", recap.get(host, ""))) for host in hosts}
        return result, counts, {host: state_of(os.path.join(context.scratch, f"{host}.state")) for host in hosts}

    before = {host: state_of(os.path.join(context.scratch, f"{host}.state")) for host in hosts}
    result, counts, states = play_run("--check")
    for host, changed, failed in (("capped", "0", "0"), ("untouched", "1", "0"), ("broken", "0", "1")):
        failures.expect(block, f"--check on the {host} host: changed, failed", (changed, failed),
                        (counts[host].get("changed"), counts[host].get("failed")))
    failures.expect(block, "--check changes no host", before, states)

    result, counts, states = play_run()
    failures.expect(block, "run: the untouched host is capped", ("268435456", "2147483648", "5"),
                    tuple(states["untouched"].get(key) for key in ("min", "max", "flags")))
    failures.expect(block, "run: the capped host is left alone", before["capped"], states["capped"])
    failures.expect(block, "run: the broken host fails", "1", counts["broken"].get("failed"))

    result, counts, states = play_run()
    for host in ("capped", "untouched"):
        failures.expect(block, f"second run on the {host} host: changed", "0", counts[host].get("changed"))


# --- wine: the msiexec lines, run by cmd under Wine ---------------------------------

def check_msiexec(block, context, failures):
    """The deployment guide's msiexec lines, each a script of its own under Wine's
    cmd, in a folder that holds the build's MSI under its release name: the first
    installs Velmora.exe into Program Files, the next removes it."""
    folder = tempfile.mkdtemp(dir=context.scratch)
    shutil.copy(context.msi, folder)
    program = os.path.join(os.environ["WINEPREFIX"], "drive_c", "Program Files", "Velmora", "Velmora.exe")
    for line in block.text.splitlines():
        # From a script, so that the line's quotes reach cmd as they stand.
        with open(os.path.join(folder, "step.cmd"), "w", newline="\r\n") as step:
            step.write(f"@{line}\n")
        result = run([context.wine, "cmd", "/c", "step.cmd"], cwd=folder)
        failures.expect(block, f"{line}: exit code", 0, result.returncode)
        installing = " /i " in line
        failures.expect(block, f"{line}: Velmora.exe in Program Files afterwards", installing, os.path.exists(program))


# --- the table of blocks ---------------------------------------------------------

# (language, text that one line of that block alone holds, the check that runs it
# in sim or wine or None, and why no test here can run the block as it stands or None)
BLOCKS = [
    ("text", "Velmora -G                  print the current minimum, maximum and flags", None,
     "the synopsis: the usage block and the command-line tests check what it names"),
    ("sh", "sha256sum --ignore-missing -c SHA256SUMS", ("sim", check_sha256sum), None),
    ("powershell", "$Zip = 'Velmora-@VERSION@-win64.zip'", ("sim", check_hash), None),
    ("powershell", 'Expand-Archive .\\Velmora-@VERSION@-win64.zip', None,
     "writes to Program Files and reads an Authenticode signature: Windows only; parsed"),
    ("powershell", "# winget install, for the current user", ("sim", check_winget_path), None),
    ("text", "Usage: Velmora [-G|-C|-S minMB maxMB ]", ("sim", check_usage), None),
    ("powershell", "Expand-Archive \\\\server\\share\\Velmora-@VERSION@-powershell.zip", None,
     "a file share and Program Files: Windows only; the module's own tests import it; parsed"),
    ("powershell", "$limit = Get-VelmoraFileCacheLimit -ErrorAction Stop", ("sim", check_module_record), None),
    ("powershell", "Install-Module Velmora -Scope AllUsers", None,
     "the quick start: powershell.QuickStart runs it whole, as written, with the module's Windows doubles; parsed"),
    ("powershell", "Get-VelmoraFileCacheUsage", None,
     "Windows' performance counters; the module's tests check the cmdlet with a test double; parsed"),
    ("powershell", "Get-VelmoraStartupTask", None,
     "Task Scheduler; the module's tests check the cmdlets with test doubles; parsed"),
    ("powershell", "Register-VelmoraStartupTask -MinimumPercent 2 -MaximumPercent 25 -RepeatEvery", None,
     "Task Scheduler; the module's tests register it with test doubles and run the task it registers; parsed"),
    ("text", '"C:\\Program Files\\Velmora\\VelmoraState.exe" set --minimum 256MB --maximum 2048MB --event-log', None,
     "the task's command line: admin.record-restore has VelmoraState read the shipped definition's arguments"),
    ("powershell", '$Copy = "$env:ProgramData\\Velmora\\VelmoraStartupTask.xml"', ("sim", check_task_copy), None),
    ("powershell", "$Source = 'HKLM:\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Velmora'", None,
     "the registry: Windows only; msi.install-upgrade-remove checks the same values where the MSI writes them; parsed"),
    ("powershell", "Configuration VelmoraLimits {", None,
     "the local configuration manager of Windows PowerShell 5.1; the module's tests run the resource; parsed"),
    ("powershell", '$Data = "$env:ProgramData\\Velmora"', None,
     "takeown and icacls set Windows permissions: Windows only; parsed"),
    ("text", "C:\\ProgramData\\Velmora NT AUTHORITY\\SYSTEM:(OI)(CI)(F)", None,
     "what icacls prints on Windows"),
    ("powershell", "Velmora\\record.ps1", ("sim", check_record_line), None),
    ("powershell", "Get-Counter '\\Memory\\Cache Bytes'", None,
     "Windows' performance counters: Windows only; parsed"),
    ("bat", 'typeperf "\\Memory\\Cache Bytes"', None, "Windows' performance counters: Windows only"),
    ("powershell", "Get-WinEvent -FilterHashtable", None, "the Windows event log: Windows only; parsed"),
    ("bat", "wevtutil qe Application", None, "the Windows event log: Windows only"),
    ("bat", "schtasks /create /tn", ("sim", check_names_shipped_file),
     "Task Scheduler: Windows only; admin.record-restore reads the definition it registers"),
    ("powershell", "Velmora\\restore.ps1", ("sim", check_restore_line), None),
    ("bat", "msiexec /i Velmora-@VERSION@-x64.msi /qn /norestart", ("wine", check_msiexec), None),
    ("bat", 'msiexec /i "Velmora-@VERSION@-x64.msi" /qn /norestart', ("wine", check_msiexec), None),
    ("powershell", "dsc config test --file .\\velmora.dsc.yaml", None,
     "dsc and winget are not here: dsc.FileCacheLimit runs the resource's methods as dsc does, and "
     "dsc.ConfigurationDocuments checks both documents against its manifest; parsed"),
    ("powershell", "choco install velmora --source . -y", None,
     "Chocolatey is not here: chocolatey.package runs the package's own scripts with test doubles; parsed"),
    ("powershell", "$hosts = Get-Content .\\hosts.txt", None,
     "PowerShell remoting to Windows hosts: Windows only; parsed"),
    ("yaml", "- name: Cap the system file cache with Velmora", ("sim", check_play), None),
    ("sh", "cmake --preset sim && cmake --build --preset sim && ./build/sim/Velmora -G", ("sim", check_try_it),
     None),
    ("text", "Success: GetSystemFileCacheSize(Min:[1048576], Max:[1073741824], Flags: 0)", None,
     "what the block above prints: checked there"),
    ("sh", "sh scripts/test-all.sh", ("sim", check_script_named),
     "runs every test, this one among them: it names a script that exists"),
    ("powershell", "$env:VELMORA_CONFORMANCE = 'live'", None,
     "a live Windows: the same suite runs here on the simulated system (powershell.Conformance); parsed"),
    ("powershell", "Publish-PSResource -Path .\\module\\Velmora", None,
     "publishes to the gallery: packaging/tests/check_manifests.py checks the archive it unpacks; parsed"),
    ("sh", "VELMORA_HOMEPAGE_URL=https://example.org/velmora sh packaging/release.sh", ("sim", check_script_named),
     "a real release: packaging/tests/test_release.sh runs release.sh with such URLs"),
    ("sh", "VELMORA_SIGN_TIMESTAMP_URL=http://timestamp.example/ sh packaging/release.sh", ("sim", check_script_named),
     "needs a real certificate: packaging/tests/test_release.sh signs with a throwaway one"),
    ("sh", "sh packaging/check-release.sh <release URL>/Velmora-@VERSION@-win64.zip", ("sim", check_script_named),
     "needs a published release: packaging/tests/test_release.sh runs check-release.sh on its own"),
]


def parseable_here(text):
    """The block as PowerShell on Linux can parse it. A DSC configuration needs the
    schema of DSC's keywords, which only Windows has: its Configuration keyword is
    read as function and its meta-configuration attribute dropped, so that the
    rest of it (braces, quoting, the keyword's body) is still parsed."""
    text = text.replace("[DscLocalConfigurationManager()]\n", "")
    return re.sub(r"^Configuration (\w+) \{", r"function \1 {", text, flags=re.M)


def parse_powershell(blocks, scratch, failures):
    """PowerShell's own parser, once for all blocks."""
    files = []
    for index, block in enumerate(blocks):
        path = os.path.join(scratch, f"parse-{index}.ps1")
        with open(path, "w", encoding="utf-8") as file:
            file.write(parseable_here(block.text))
        files.append(path)
    # A script of its own, given the blocks as arguments: the blocks are parsed, never run.
    parser = os.path.join(scratch, "parse.ps1")
    with open(parser, "w", encoding="utf-8") as file:
        file.write("foreach ($path in $args) { $tokens = $null; $errors = $null\n"
                   "[void][System.Management.Automation.Language.Parser]::ParseFile($path, [ref]$tokens, [ref]$errors)\n"
                   "foreach ($e in $errors) { \"$path`t$($e.Extent.StartLineNumber)`t$($e.Message -replace '\\s+', ' ')\" } }\n"
                   "\"parsed $($args.Count)\"\n")
    result = run([PWSH, "-NoLogo", "-NoProfile", "-NonInteractive", "-File", parser, *files])
    if result.returncode != 0:
        failures.fail("PowerShell", f"the parser did not run: {result.stderr}")
        return
    lines = result.stdout.splitlines()
    failures.expect("PowerShell", "the parser's last line", f"parsed {len(files)}", lines[-1] if lines else None)
    found = {}
    for line in lines[:-1]:
        path, number, message = line.split("\t", 2)
        found.setdefault(path, []).append(f"block line {number}: {message}")
    for block, path in zip(blocks, files):
        failures.expect(block, "PowerShell's parser finds no error", [], found.get(path, []))


def check_language(block, failures):
    if block.language == "yaml":
        try:
            yaml.safe_load(block.text)
        except yaml.YAMLError as error:
            failures.fail(block, f"YAML does not parse: {error}")
    elif block.language == "xml":
        try:
            ElementTree.fromstring(block.text.encode("utf-16"))
        except ElementTree.ParseError as error:
            failures.fail(block, f"XML saved in UTF-16 does not parse: {error}")
    elif block.language == "sh":
        result = run(["sh", "-n", "-c", block.text])
        failures.expect(block, "sh -n finds no error", "", result.stderr)


class Context:
    def __init__(self, arguments, blocks, scratch):
        self.__dict__.update(vars(arguments))
        self.blocks, self.scratch = blocks, scratch
        self.source = os.path.abspath(arguments.source)

    def next_block(self, block):
        index = self.blocks.index(block)
        return self.blocks[index + 1] if index + 1 < len(self.blocks) else None


def main():
    parser = mode_parser(__doc__)
    parser.add_argument("--module", help="the built PowerShell module's manifest")
    parser.add_argument("--msi", help="the build's MSI, for the deployment guide's msiexec lines")
    parser.add_argument("--version", required=True,
                        help="the project's version, which the documents' release names give (@VERSION@ in BLOCKS)")
    arguments = parser.parse_args()
    global PWSH
    PWSH = arguments.pwsh

    blocks = [block for document in DOCUMENTS for block in read_blocks(arguments.source, document)]
    failures = Failures()
    # The release files and tags the documents name are this version's.
    for document in DOCUMENTS:
        with open(os.path.join(arguments.source, document), encoding="utf-8") as text:
            for number, line in enumerate(text, 1):
                for named in re.findall(r"(?:Velmora-|\bv)(\d+\.\d+\.\d+)\b", line):
                    failures.expect(f"{document} line {number}", "the release it names", arguments.version, named)
    rows_met = [0] * len(BLOCKS)
    matched = []
    for block in blocks:
        if block.language not in LANGUAGES:
            failures.fail(block, f"language {block.language!r} is none of {sorted(LANGUAGES)}")
            continue
        rows = [index for index, (language, marker, _, _) in enumerate(BLOCKS)
                if language == block.language
                and any(marker.replace("@VERSION@", arguments.version) in line for line in block.text.splitlines())]
        if len(rows) != 1:
            failures.fail(block, f"matches {len(rows)} rows of the table of blocks, not one: give it a row")
            continue
        rows_met[rows[0]] += 1
        matched.append((block, BLOCKS[rows[0]]))
    for count, (language, marker, _, _) in zip(rows_met, BLOCKS):
        if count != 1:
            failures.fail("table of blocks", f"the {language} row {marker!r} matches {count} blocks, not one")

    with tempfile.TemporaryDirectory(prefix="velmora-readme-") as scratch:
        context = Context(arguments, blocks, scratch)
        if arguments.mode == "sim":
            parse_powershell([block for block in blocks if block.language == "powershell"], scratch, failures)
            for block in blocks:
                check_language(block, failures)
        for block, (_, marker, check, _) in matched:
            if check is not None and check[0] == arguments.mode:
                check[1](block, context, failures)

    return failures.report()


if __name__ == "__main__":
    sys.exit(main())
