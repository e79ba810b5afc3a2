#!/usr/bin/python3
"""The configuration documents that ship with Velmora parse as YAML, and name
Velmora's DSC 3 resource by the type its manifest gives, with properties that its
instance schema defines, may be set, and holds values of the right kind.

Usage: check_config.py MANIFEST DOCUMENT...
"""
import json
import os
import sys

import yaml

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests"))
from checking import Failures  # noqa: E402

failures = Failures()
expect = failures.expect


def check_properties(where, properties, schema):
    for name, value in properties.items():
        rule = schema["properties"].get(name)
        if rule is None:
            failures.fail(f"{where}: {name} is no property of the resource")
            continue
        if rule.get("readOnly"):
            failures.fail(f"{where}: {name} is read-only")
        kinds = rule.get("type")
        kinds = kinds if isinstance(kinds, list) else [kinds]
        kind = "boolean" if isinstance(value, bool) else "integer" if isinstance(value, int) else type(value).__name__
        if kind not in kinds:
            failures.fail(f"{where}: {name} is {kind}, not {' or '.join(kinds)}")
        elif kind == "integer" and not rule.get("minimum", value) <= value <= rule.get("maximum", value):
            failures.fail(f"{where}: {name} = {value} is out of {rule.get('minimum')} to {rule.get('maximum')}")


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as file:
        manifest = json.load(file)
    schema = manifest["schema"]["embedded"]
    for path in sys.argv[2:]:
        with open(path, encoding="utf-8") as file:
            document = yaml.safe_load(file)
        expect(f"{path}: $schema", "https://aka.ms/dsc/schemas/v3/bundled/config/document.json", document.get("$schema"))
        resources = document.get("resources", [])
        ours = [resource for resource in resources if resource.get("type") == manifest["type"]]
        expect(f"{path}: resources of type {manifest['type']}", 1, len(ours))
        for resource in ours:
            check_properties(f"{path}: {resource.get('name')}", resource.get("properties", {}), schema)
        if path.endswith(".winget"):
            expect(f"{path}: the processor", "dscv3",
                   document.get("metadata", {}).get("winget", {}).get("processor", {}).get("identifier"))
            packages = [resource for resource in resources if resource.get("type") == "Microsoft.WinGet/Package"]
            expect(f"{path}: the package installed", ["Velmora.Velmora"],
                   [package.get("properties", {}).get("id") for package in packages])
            expect(f"{path}: the package for every user", ["machine"],
                   [package.get("properties", {}).get("scope") for package in packages])
            for resource in ours:
                expect(f"{path}: {resource.get('name')} waits for the package",
                       [f"[resourceId('Microsoft.WinGet/Package', '{package['name']}')]" for package in packages],
                       resource.get("dependsOn"))
    print(f"{len(sys.argv) - 2} documents:")
    return failures.report()


if __name__ == "__main__":
    sys.exit(main())
