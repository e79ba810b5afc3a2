#!/usr/bin/python3
"""The configuration documents that ship with Velmora parse as YAML, and name
Velmora's DSC 3 resource by the type its manifest gives, with properties that
may be set and that are valid against its instance schema.

Usage: check_config.py MANIFEST DOCUMENT...
"""
import json
import os
import sys

import yaml

from checking import Failures

import schemas

failures = Failures()
expect = failures.expect


def check_properties(where, properties, manifest, validator):
    schema = manifest["schema"]["embedded"]
    for name in properties:
        if schema["properties"].get(name, {}).get("readOnly"):
            failures.fail(f"{where}: {name} is read-only")
    for message in schemas.errors(validator, properties):
        failures.fail(f"{where}: {message}")


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as file:
        manifest = json.load(file)
    validator = schemas.instance_validator(manifest)
    for path in sys.argv[2:]:
        with open(path, encoding="utf-8") as file:
            document = yaml.safe_load(file)
        expect(f"{path}: $schema", "https://aka.ms/dsc/schemas/v3/bundled/config/document.json", document.get("$schema"))
        resources = document.get("resources", [])
        ours = [resource for resource in resources if resource.get("type") == manifest["type"]]
        expect(f"{path}: resources of type {manifest['type']}", 1, len(ours))
        for resource in ours:
            check_properties(f"{path}: {resource.get('name')}", resource.get("properties", {}), manifest, validator)
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
