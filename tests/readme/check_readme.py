#!/usr/bin/env python3
"""Checks every fenced block of the README, docs/operations.md and docs/development.md.

Each block names its language, parses as that language (PowerShell by
PowerShell's own parser, YAML by a YAML parser, XML saved in UTF-16 by an XML
parser, sh by `sh -n`), and is either run by a test of the part it is about or
says why nothing here can run it:
- a test runs a block by taking it with document_block() (Python),
  DocumentBlock() (C++) or Get-DocumentBlock (PowerShell), naming the document
  and a line of the block; this checker finds those calls in the tests' sources;
- a block no test can run has a row in UNRUN below, with the reason.
Every call and every row must find exactly one block, and every block exactly
one of them. The release files and tags the documents name must be this version's.

    check_readme.py SOURCE_DIR --version VERSION [--pwsh PWSH]

A failure names the block by its document and the line of its fence.
"""

import argparse
import ast
import os
import re
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

import yaml

from checking import Failures, run
from documents import DOCUMENTS, read_blocks

LANGUAGES = {"powershell", "bat", "yaml", "xml", "sh", "text"}

# The blocks that no test here can run: (language, text that one line of that
# block alone holds, why).
UNRUN = [
    ("text", "Velmora -G                  print the current minimum, maximum and flags",
     "the synopsis: the usage block and the command-line tests check what it names"),
    ("powershell", "Get-AuthenticodeSignature $Velmora",
     "writes to Program Files and reads an Authenticode signature: Windows only; parsed"),
    ("powershell", "Expand-Archive \\\\server\\share\\Velmora-",
     "a file share and Program Files: Windows only; the module's own tests import it; parsed"),
    ("powershell", "Get-VelmoraFileCacheUsage",
     "Windows' performance counters; the module's tests check the cmdlet with a test double; parsed"),
    ("powershell", "Get-VelmoraStartupTask",
     "Task Scheduler; the module's tests check the cmdlets with test doubles; parsed"),
    ("powershell", "Register-VelmoraStartupTask -MinimumPercent 2 -MaximumPercent 25 -RepeatEvery",
     "Task Scheduler; the module's tests register it with test doubles and run the task it registers; parsed"),
    ("text", '"C:\\Program Files\\Velmora\\VelmoraState.exe" set --minimum 256MB --maximum 2048MB --event-log',
     "the task's command line: admin.record-restore has VelmoraState read the shipped definition's arguments"),
    ("powershell", "$Source = 'HKLM:\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Velmora'",
     "the registry: Windows only; msi.install-upgrade-remove checks the same values where the MSI writes them; parsed"),
    ("powershell", "Configuration VelmoraLimits {",
     "the local configuration manager of Windows PowerShell 5.1; the module's tests run the resource; parsed"),
    ("powershell", '$Data = "$env:ProgramData\\Velmora"',
     "takeown and icacls set Windows permissions: Windows only; parsed"),
    ("text", "C:\\ProgramData\\Velmora NT AUTHORITY\\SYSTEM:(OI)(CI)(F)", "what icacls prints on Windows"),
    ("powershell", "Get-Counter '\\Memory\\Cache Bytes'", "Windows' performance counters: Windows only; parsed"),
    ("bat", 'typeperf "\\Memory\\Cache Bytes"', "Windows' performance counters: Windows only"),
    ("powershell", "Get-WinEvent -FilterHashtable", "the Windows event log: Windows only; parsed"),
    ("bat", "wevtutil qe Application", "the Windows event log: Windows only"),
    ("powershell", "dsc config test --file .\\velmora.dsc.yaml",
     "dsc and winget are not here: dsc.FileCacheLimit runs the resource's methods as dsc does, and "
     "dsc.ConfigurationDocuments checks both documents against its manifest; parsed"),
    ("powershell", "choco install velmora --source . -y",
     "Chocolatey is not here: chocolatey.package runs the package's own scripts with test doubles; parsed"),
    ("powershell", "$hosts = Get-Content .\\hosts.txt", "PowerShell remoting to Windows hosts: Windows only; parsed"),
    ("sh", "sh scripts/test-all.sh", "runs every test, this one among them"),
    ("powershell", "$env:VELMORA_CONFORMANCE = 'live'",
     "a live Windows: the same suite runs here on the simulated system (powershell.Conformance); parsed"),
    ("powershell", "Publish-PSResource -Path .\\module\\Velmora",
     "publishes to the gallery: packaging/tests/check_manifests.py checks the archive it unpacks; parsed"),
    ("sh", "VELMORA_HOMEPAGE_URL=https://example.org/velmora sh packaging/release.sh",
     "a real release: packaging/tests/test_release.sh runs release.sh with such URLs"),
    ("sh", "VELMORA_SIGN_TIMESTAMP_URL=http://timestamp.example/ sh packaging/release.sh",
     "needs a real certificate: packaging/tests/test_release.sh signs with a throwaway one"),
    ("sh", "sh packaging/check-release.sh <release URL>/Velmora-",
     "needs a published release: packaging/tests/test_release.sh runs check-release.sh on its own"),
]

# The calls by which a test takes a block: the document and the line, as string
# literals of the test's language.
LITERAL = r"""("(?:[^"\\]|\\.)*"|'(?:[^'\\]|\\.)*')"""
CALLS = [
    (re.compile(r"(?:\bdocument_block\(\s*[\w.]+\s*,|\bDocumentBlock\()\s*" + LITERAL + r"\s*,\s*" + LITERAL + r"\s*\)"),
     ast.literal_eval),
    (re.compile(r"\bGet-DocumentBlock\s+'((?:[^']|'')*)'\s+'((?:[^']|'')*)'"), lambda text: text.replace("''", "'")),
]
# Where the tests are: every part's tests/ folder, and the tool's own. The block
# readers' own folder (tests/support) and this checker's are not tests.
SKIPPED = {".git", "build", "support", "readme"}


def test_calls(source):
    """Every (document, line, file) by which a test takes a block."""
    found = []
    for top, folders, files in os.walk(source):
        folders[:] = sorted(name for name in folders if name not in SKIPPED and not name.startswith("build-"))
        if "tests" not in os.path.relpath(top, source).split(os.sep):
            continue
        for name in sorted(files):
            if not name.endswith((".py", ".ps1", ".cpp", ".h")):
                continue
            path = os.path.join(top, name)
            with open(path, encoding="utf-8") as file:
                text = file.read()
            for pattern, unquote in CALLS:
                for match in pattern.finditer(text):
                    document, marker = (unquote(group) for group in match.groups())
                    found.append((document, marker, os.path.relpath(path, source)))
    return found


def parseable_here(text):
    """The block as PowerShell on Linux can parse it. A DSC configuration needs the
    schema of DSC's keywords, which only Windows has: its Configuration keyword is
    read as function and its meta-configuration attribute dropped, so that the
    rest of it (braces, quoting, the keyword's body) is still parsed."""
    text = text.replace("[DscLocalConfigurationManager()]\n", "")
    return re.sub(r"^Configuration (\w+) \{", r"function \1 {", text, flags=re.M)


def parse_powershell(blocks, scratch, pwsh, failures):
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
    result = run([pwsh, "-NoLogo", "-NoProfile", "-NonInteractive", "-File", parser, *files])
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


def check_language(block, source, failures):
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
        for script in re.findall(r"\bsh (\S+\.sh)\b", block.text):
            failures.expect(block, f"{script} exists", True, os.path.exists(os.path.join(source, script)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("source")
    parser.add_argument("--pwsh", default="pwsh", help="PowerShell 7, whose parser reads the PowerShell blocks")
    parser.add_argument("--version", required=True, help="the project's version, which the documents' release names give")
    arguments = parser.parse_args()
    source = os.path.abspath(arguments.source)

    failures = Failures()
    blocks = []
    for document in DOCUMENTS:
        try:
            blocks += read_blocks(source, document)
        except ValueError as error:
            failures.fail(error)
        # The release files and tags the documents name are this version's.
        with open(os.path.join(source, document), encoding="utf-8") as text:
            for number, line in enumerate(text, 1):
                for named in re.findall(r"(?:Velmora-|\bv)(\d+\.\d+\.\d+)\b", line):
                    failures.expect(f"{document} line {number}", "the release it names", arguments.version, named)

    # Each block, run by a test or with a row of UNRUN; never both, never neither.
    ways = [(f"{path} takes {document} {marker!r}", lambda block, d=document, m=marker: block.document == d and block.holds(m))
            for document, marker, path in test_calls(source)]
    ways += [(f"UNRUN's {language} row {marker!r}", lambda block, l=language, m=marker: block.language == l and block.holds(m))
             for language, marker, _ in UNRUN]
    met = {name: 0 for name, _ in ways}
    for block in blocks:
        if block.language not in LANGUAGES:
            failures.fail(block, f"language {block.language!r} is none of {sorted(LANGUAGES)}")
        found = sorted(name for name, holds in ways if holds(block))
        for name in found:
            met[name] += 1
        rows = [name for name in found if name.startswith("UNRUN")]
        if not found:
            failures.fail(block, "no test runs it and UNRUN has no row for it: take it in a test of its part, "
                                 "or give UNRUN a row that says why nothing here can run it")
        elif rows and len(found) > 1:
            failures.fail(block, f"UNRUN says no test runs it, but more names it: {found}")
    for name, count in met.items():
        if count != 1:
            failures.fail(name, f"finds {count} blocks, not one")

    with tempfile.TemporaryDirectory(prefix="velmora-readme-") as scratch:
        parse_powershell([block for block in blocks if block.language == "powershell"], scratch, arguments.pwsh, failures)
    for block in blocks:
        check_language(block, source, failures)
    return failures.report()


if __name__ == "__main__":
    sys.exit(main())
