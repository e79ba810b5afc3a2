#!/usr/bin/python3
"""The Windows workflow loads, builds presets that exist, and runs a suite that exists
on the live system.

Usage: check_workflow.py SOURCE_DIR
"""
import json
import os
import re
import sys

import yaml


def main():
    source = sys.argv[1]
    with open(os.path.join(source, ".github", "workflows", "windows.yml")) as file:
        workflow = yaml.safe_load(file)
    with open(os.path.join(source, "CMakePresets.json")) as file:
        presets = json.load(file)
    failures = []
    steps = workflow["jobs"]["conformance"]["steps"]
    scripts = "\n".join(step.get("run", "") for step in steps)
    configure = {preset["name"] for preset in presets["configurePresets"]}
    for name in ("msvc-x64", "msvc-win32"):
        if f"'{name}'" not in scripts or name not in configure:
            failures.append(f"the workflow does not build the preset {name}, or it does not exist")
    for path in re.findall(r"powershell/tests/[\w.-]+\.ps1", scripts):
        if not os.path.exists(os.path.join(source, path)):
            failures.append(f"the workflow runs {path}, which does not exist")
    environments = [step.get("env", {}) for step in steps]
    if not any(env.get("VELMORA_CONFORMANCE") == "live" for env in environments):
        failures.append("no step runs the conformance suite on the live system")
    if not any(step.get("uses", "").startswith("actions/upload-artifact") for step in steps):
        failures.append("the workflow keeps no output")
    for failure in failures:
        print(failure)
    if not failures:
        print("the workflow builds both presets and runs the conformance suite on the live system, keeping its output")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
