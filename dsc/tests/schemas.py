"""The two JSON schemas of Velmora's DSC 3 resource, as validators: the
published schema of a resource manifest (manifest.schema.json beside this file,
the bundled draft 2020-12 schema of PowerShell/DSC), and the instance schema
that a manifest embeds. Both are read without a network: the canonical
properties that an instance schema names by reference are their published
definitions, given here.
"""
import json
import os

import jsonschema

MANIFEST_SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "manifest.schema.json")

# The published canonical properties that an instance schema may reference.
CANONICAL = {
    "inDesiredState.json": {"type": ["boolean", "null"], "readOnly": True},
    "exist.json": {"type": "boolean"},
}


class _OfflineResolver(jsonschema.RefResolver):
    """Resolves references from the store alone. (The scan of subschemas for
    $id is skipped: Debian's jsonschema 4.10 fails on a property named $id.)"""

    def _find_in_subschemas(self, url):
        return None

    def resolve_remote(self, uri):
        raise jsonschema.RefResolutionError(f"no schema for {uri} here, and no network")


def manifest_validator():
    with open(MANIFEST_SCHEMA, encoding="utf-8") as file:
        schema = json.load(file)
    store = {schema["$id"]: schema}
    for key, definition in schema.get("$defs", {}).items():
        store[definition.get("$id", key)] = definition
    return jsonschema.Draft202012Validator(schema, resolver=_OfflineResolver.from_schema(schema, store=store))


def manifest_fields():
    """The fields a manifest may have at its top: the engine refuses others."""
    with open(MANIFEST_SCHEMA, encoding="utf-8") as file:
        return set(json.load(file)["properties"])


def instance_validator(manifest):
    schema = manifest["schema"]["embedded"]
    jsonschema.Draft202012Validator.check_schema(schema)
    store = {}
    for version in ("v3", "v3.1", "v3.1.0"):
        for name, definition in CANONICAL.items():
            store[f"https://aka.ms/dsc/schemas/{version}/resource/properties/{name}"] = definition
    return jsonschema.Draft202012Validator(schema, resolver=_OfflineResolver.from_schema(schema, store=store))


def errors(validator, instance):
    return [error.message for error in validator.iter_errors(instance)]
