#!/usr/bin/env python3
"""Runs the README's first run of Velmora from a checkout: the presets its
command line names exist, and the program that the sim preset builds prints,
on an untouched system, the line that the README shows below it.

Usage: check_documents.py SOURCE_DIR --velmora PATH
"""

import argparse
import json
import os
import re
import sys
import tempfile

from checking import Failures, Sim
from documents import document_block


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("source")
    parser.add_argument("--velmora", required=True, help="the program that the sim preset builds")
    arguments = parser.parse_args()
    failures = Failures()

    block = document_block(arguments.source, "README.md", "cmake --preset sim && cmake --build --preset sim")
    steps = [step.strip() for step in block.text.strip().split("&&")]
    presets = json.load(open(os.path.join(arguments.source, "CMakePresets.json")))
    configure = {preset["name"] for preset in presets["configurePresets"]}
    build = {preset["name"]: preset.get("configurePreset") for preset in presets["buildPresets"]}
    configured = re.fullmatch(r"cmake --preset (\S+)", steps[0])
    preset = configured.group(1) if configured else None
    built = re.fullmatch(r"cmake --build --preset (\S+)", steps[1]) if len(steps) > 1 else None
    failures.expect(block, "configures a preset that exists", True, preset in configure)
    failures.expect(block, "builds that preset", preset, build.get(built.group(1)) if built else None)
    failures.expect(block, "then runs the program that preset builds, as the build folder names it",
                    f"./build/{preset}/Velmora -G", steps[-1])

    shown = document_block(arguments.source, "README.md", "Success: GetSystemFileCacheSize(Min:[1048576], Max:[1073741824]")
    with tempfile.TemporaryDirectory(prefix="velmora-documents-") as scratch:
        failures.expect(shown, "what -G prints on an untouched system", shown.text,
                        Sim(arguments.velmora, scratch).velmora_g())
    return failures.report()


if __name__ == "__main__":
    sys.exit(main())
