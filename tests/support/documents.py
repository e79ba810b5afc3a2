"""The fenced blocks of the project's documents, for the tests that run them.

A test takes a block with document_block(source, "docs/operations.md", "a line
of it"): the document, and text that one line of that block alone holds. The
document checker (tests/readme/check_readme.py) finds these calls in the tests'
sources, as it finds Get-DocumentBlock in PowerShell's, and so knows which
blocks some test runs: write the document and the text as plain string literals.
"""

import os
import re

DOCUMENTS = ["README.md", "docs/operations.md", "docs/development.md"]


class Block:
    def __init__(self, document, language, line, text):
        self.document, self.language, self.line, self.text = document, language, line, text

    def __str__(self):
        return f"{self.document} line {self.line} ({self.language})"

    def holds(self, marker):
        return any(marker in line for line in self.text.splitlines())


def read_blocks(source, document):
    """Every fenced block of the document, in order."""
    blocks, current = [], None
    with open(os.path.join(source, document), encoding="utf-8") as text:
        for number, line in enumerate(text, 1):
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
        raise ValueError(f"{current}: the block is never closed")
    return blocks


def document_block(source, document, marker):
    """The one block of the document with a line that holds the marker."""
    found = [block for block in read_blocks(source, document) if block.holds(marker)]
    if len(found) != 1:
        raise LookupError(f"{document}: {len(found)} blocks hold {marker!r}, not one")
    return found[0]
