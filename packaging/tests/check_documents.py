#!/usr/bin/env python3
"""Runs the documents' commands for what a release gives: checking a download
(sha256sum, and PowerShell's Get-FileHash), finding where winget put Velmora.exe,
and the deployment guide's msiexec lines, by Wine's cmd with this build's MSI.

Usage: check_documents.py SOURCE_DIR --version VERSION --pwsh PWSH --wine WINE_SH --msi MSI
"""

import argparse
import hashlib
import os
import shutil
import sys
import tempfile

from checking import Failures, run
from documents import document_block


def write_release(folder, version, tamper):
    """A release folder with SHA256SUMS for two archives, one of them downloaded."""
    archive = b"PK\x05\x06" + bytes(18)
    sums = ""
    for name, data in ((f"Velmora-{version}-win32.zip", b"other"), (f"Velmora-{version}-win64.zip", archive)):
        sums += f"{hashlib.sha256(data).hexdigest()}  {name}\n"
    with open(os.path.join(folder, "SHA256SUMS"), "w") as file:
        file.write(sums)
    with open(os.path.join(folder, f"Velmora-{version}-win64.zip"), "wb") as file:
        file.write(archive + (b"!" if tamper else b""))


def check_download(arguments, scratch, failures):
    """Both ways of checking a download pass the released archive and refuse a changed one."""
    block = document_block(arguments.source, "README.md", "sha256sum --ignore-missing -c SHA256SUMS")
    for tamper, code, output in ((False, 0, f"Velmora-{arguments.version}-win64.zip: OK"), (True, 1, None)):
        folder = tempfile.mkdtemp(dir=scratch)
        write_release(folder, arguments.version, tamper)
        result = run(["sh", "-e", "-c", block.text], cwd=folder)
        said = "a changed" if tamper else "the released"
        failures.expect(block, f"{said} archive: exit code", code, result.returncode)
        if output is not None:
            failures.expect(block, f"{said} archive: output", output, result.stdout.strip())

    block = document_block(arguments.source, "README.md", "(Get-FileHash $Zip -Algorithm SHA256).Hash")
    for tamper, expected in ((False, "True"), (True, "False")):
        folder = tempfile.mkdtemp(dir=scratch)
        write_release(folder, arguments.version, tamper)
        result = run([arguments.pwsh, "-NoLogo", "-NoProfile", "-NonInteractive", "-Command", block.text], cwd=folder)
        failures.expect(block, f"{'a changed' if tamper else 'the released'} archive: output", expected,
                        result.stdout.strip())


def check_winget_path(arguments, scratch, failures):
    """With two winget sources' installs, $Velmora is the newer program."""
    block = document_block(arguments.source, "docs/operations.md", "# winget install, for the current user")
    local_app_data = tempfile.mkdtemp(dir=scratch)
    packages = os.path.join(local_app_data, "Microsoft", "WinGet", "Packages")
    newest = None
    for number, source in enumerate(["Velmora.Velmora_Microsoft.Winget.Source_8wekyb3d8bbwe", "Velmora.Velmora_other"]):
        folder = os.path.join(packages, source)
        os.makedirs(folder)
        newest = os.path.join(folder, "Velmora.exe")
        open(newest, "w").close()
        os.utime(newest, (1700000000 + number * 3600,) * 2)
    winget_lines = block.text.split("\n# scoop")[0]
    result = run([arguments.pwsh, "-NoLogo", "-NoProfile", "-NonInteractive", "-Command", winget_lines + "\n$Velmora\n"],
                 env=dict(os.environ, LOCALAPPDATA=local_app_data))
    failures.expect(block, "with two winget installs: $Velmora is the newest", newest, result.stdout.strip())


def check_msiexec(arguments, scratch, failures):
    """The deployment guide's msiexec lines, each a script of its own under Wine's
    cmd, in a folder that holds the build's MSI under its release name: the first
    installs Velmora.exe into Program Files, the next removes it."""
    program = os.path.join(os.environ["WINEPREFIX"], "drive_c", "Program Files", "Velmora", "Velmora.exe")
    for block in (document_block(arguments.source, "docs/operations.md", "msiexec /i Velmora-"),
                  document_block(arguments.source, "docs/operations.md", 'msiexec /i "Velmora-')):
        folder = tempfile.mkdtemp(dir=scratch)
        shutil.copy(arguments.msi, folder)
        for line in block.text.splitlines():
            # From a script, so that the line's quotes reach cmd as they stand.
            with open(os.path.join(folder, "step.cmd"), "w", newline="\r\n") as step:
                step.write(f"@{line}\n")
            result = run([arguments.wine, "cmd", "/c", "step.cmd"], cwd=folder)
            failures.expect(block, f"{line}: exit code", 0, result.returncode)
            installing = " /i " in line
            failures.expect(block, f"{line}: Velmora.exe in Program Files afterwards", installing, os.path.exists(program))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("source")
    for option in ("--version", "--pwsh", "--wine", "--msi"):
        parser.add_argument(option, required=True)
    arguments = parser.parse_args()
    arguments.source = os.path.abspath(arguments.source)
    failures = Failures()
    with tempfile.TemporaryDirectory(prefix="velmora-documents-") as scratch:
        check_download(arguments, scratch, failures)
        check_winget_path(arguments, scratch, failures)
        check_msiexec(arguments, scratch, failures)
    return failures.report()


if __name__ == "__main__":
    sys.exit(main())
