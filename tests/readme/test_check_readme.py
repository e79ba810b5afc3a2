#!/usr/bin/env python3
"""The block checker turns red on a broken document: each case breaks one line of
a copy of the source tree and wants check_readme.py to fail, saying why.

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
    ("README.md", "-SimpleMatch).Line)[0]", "-SimpleMatch).Line)[0])", "PowerShell's parser finds no error"),
    ("docs/operations.md", "## Choosing values", "```sh\necho an unlisted block\n```\n\n## Choosing values",
     "no test runs it and UNRUN has no row for it"),
    ("README.md", "Install-Module Velmora -Scope AllUsers", "Install-Module Velmora -Scope CurrentUser",
     "QuickStart.Tests.ps1 takes README.md 'Install-Module Velmora -Scope AllUsers': finds 0 blocks, not one"),
    ("docs/operations.md", "Get-Counter '\\Memory\\Cache Bytes'", "Get-Counter '\\Memory\\Cache Bytes' # Velmora\\record.ps1",
     "UNRUN says no test runs it, but more names it"),
    ("docs/operations.md", "```powershell\nGet-VelmoraFileCacheUsage", "```pwsh\nGet-VelmoraFileCacheUsage",
     "language 'pwsh' is none of"),
    ("README.md", "$Zip = 'Velmora-", "$Zip = 'Velmora-0.0.1-win64.zip' # 'Velmora-", "the release it names"),
]


def main():
    source, check_arguments = os.path.abspath(sys.argv[1]), sys.argv[2:]
    checker = os.path.join(source, "tests", "readme", "check_readme.py")
    failures = Failures()
    for document, line, broken, said in BREAKS:
        with tempfile.TemporaryDirectory(prefix="velmora-readme-break-") as scratch:
            copy = os.path.join(scratch, "source")
            shutil.copytree(source, copy, ignore=shutil.ignore_patterns(".git", "build", "build-*"))
            path = os.path.join(copy, document)
            text = open(path, encoding="utf-8").read()
            failures.expect(document, line, "the line is there to break", True, line in text)
            with open(path, "w", encoding="utf-8") as file:
                file.write(text.replace(line, broken, 1))
            result = subprocess.run([sys.executable, checker, copy, *check_arguments],
                                    capture_output=True, text=True, timeout=600)
            failures.expect(document, line, "exit code", 1, result.returncode)
            if said not in result.stdout:
                failures.fail(document, line, f"the checker does not say {said!r}; it says:\n{result.stdout[-2000:]}")
    return failures.report()


if __name__ == "__main__":
    sys.exit(main())
