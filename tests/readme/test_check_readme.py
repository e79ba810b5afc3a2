#!/usr/bin/env python3
"""The block checker turns red on a broken block: each case breaks one block of a
copy of the documents and wants check_readme.py to fail, naming that block.

Usage: test_check_readme.py SOURCE_DIR CHECK_README_ARGUMENTS...
"""

import os
import shutil
import subprocess
import sys
import tempfile

from checking import Failures

# The document, a line of it, what it becomes, and what the checker must then say.
BREAKS = [
    ("docs/operations.md", "Import-Clixml -LiteralPath $Record | Restore-VelmoraFileCacheLimit -ErrorAction Stop -PassThru",
     "Get-VelmoraFileCacheLimit", "the untouched limits put back"),
    ("docs/operations.md", 'powershell -NoProfile -ExecutionPolicy Bypass -File "$env:ProgramFiles\\Velmora\\restore.ps1"',
     'powershell -NoProfile -ExecutionPolicy Bypass -File "$env:ProgramFiles\\Velmora\\restore.ps1" -Record nowhere',
     "the recorded limits in force"),
    ("README.md", "-SimpleMatch).Line)[0]", "-SimpleMatch).Line)[0])", "PowerShell's parser finds no error"),
    ("docs/operations.md", "## Choosing values", "```sh\necho an unlisted block\n```\n\n## Choosing values",
     "matches 0 rows of the table of blocks"),
]


def main():
    source, check_arguments = os.path.abspath(sys.argv[1]), sys.argv[2:]
    checker = os.path.join(source, "tests", "readme", "check_readme.py")
    failures = Failures()
    for document, line, broken, said in BREAKS:
        with tempfile.TemporaryDirectory(prefix="velmora-readme-break-") as copy:
            for part in ("README.md", "docs", "admin", "scripts", "packaging", "CMakePresets.json"):
                origin = os.path.join(source, part)
                (shutil.copytree if os.path.isdir(origin) else shutil.copy)(origin, os.path.join(copy, part))
            path = os.path.join(copy, document)
            text = open(path, encoding="utf-8").read()
            failures.expect(document, line, "the line is there to break", True, line in text)
            with open(path, "w", encoding="utf-8") as file:
                file.write(text.replace(line, broken, 1))
            result = subprocess.run([sys.executable, checker, "sim", copy, *check_arguments],
                                    capture_output=True, text=True, timeout=600)
            failures.expect(document, line, "exit code", 1, result.returncode)
            if said not in result.stdout:
                failures.fail(document, line, f"the checker does not say {said!r}; it says:\n{result.stdout[-2000:]}")
    return failures.report()


if __name__ == "__main__":
    sys.exit(main())
