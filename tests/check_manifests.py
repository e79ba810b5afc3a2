#!/usr/bin/python3
"""Reads a release folder back: SHA256SUMS, the Scoop manifest and the winget
manifest set each name both archives with their true SHA-256 and their download
URL, and carry the version, the homepage and what installs.

Usage: check_manifests.py RELEASE_DIR VERSION URL_BASE HOMEPAGE
"""
import hashlib
import json
import os
import sys

import yaml

failures = []


def expect(what, expected, got):
    if expected != got:
        failures.append(f"{what}: expected {expected!r}, got {got!r}")


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    folder, version, url_base, homepage = sys.argv[1:]
    archives = {arch: f"Velmora-{version}-{arch}.zip" for arch in ("win32", "win64")}
    sums = {}
    for arch, name in archives.items():
        with open(os.path.join(folder, name), "rb") as f:
            sums[arch] = hashlib.sha256(f.read()).hexdigest()
    urls = {arch: f"{url_base}/{name}" for arch, name in archives.items()}

    expect("files in the release folder",
           sorted([*archives.values(), "SHA256SUMS", "scoop", "winget"]), sorted(os.listdir(folder)))
    with open(os.path.join(folder, "SHA256SUMS")) as f:
        expect("SHA256SUMS", "".join(f"{sums[a]}  {archives[a]}\n" for a in ("win32", "win64")), f.read())

    with open(os.path.join(folder, "scoop", "velmora.json")) as f:
        scoop = json.load(f)
    expect("scoop version", version, scoop.get("version"))
    expect("scoop homepage", homepage, scoop.get("homepage"))
    expect("scoop license", "MIT", scoop.get("license"))
    expect("scoop bin", "Velmora.exe", scoop.get("bin"))
    if not scoop.get("description"):
        failures.append("scoop description: expected a description, got none")
    expect("scoop architecture",
           {"32bit": {"url": urls["win32"], "hash": sums["win32"]},
            "64bit": {"url": urls["win64"], "hash": sums["win64"]}},
           scoop.get("architecture"))

    manifests = {}
    for kind, name in (("version", "Velmora.Velmora.yaml"),
                       ("defaultLocale", "Velmora.Velmora.locale.en-US.yaml"),
                       ("installer", "Velmora.Velmora.installer.yaml")):
        with open(os.path.join(folder, "winget", name)) as f:
            manifests[kind] = yaml.safe_load(f)
        manifest = manifests[kind]
        expect(f"winget {name} ManifestType", kind, manifest.get("ManifestType"))
        expect(f"winget {name} PackageIdentifier", "Velmora.Velmora", manifest.get("PackageIdentifier"))
        # PyYAML reads 1.6.0 as text, and a version like 1.0 as a number: both must be text.
        expect(f"winget {name} PackageVersion", version, manifest.get("PackageVersion"))
        expect(f"winget {name} ManifestVersion", "1.6.0", manifest.get("ManifestVersion"))
    expect("winget DefaultLocale", "en-US", manifests["version"].get("DefaultLocale"))
    locale = manifests["defaultLocale"]
    expect("winget PackageLocale", "en-US", locale.get("PackageLocale"))
    expect("winget PackageUrl", homepage, locale.get("PackageUrl"))
    expect("winget License", "MIT", locale.get("License"))
    for key in ("Publisher", "PackageName", "ShortDescription"):
        if not locale.get(key):
            failures.append(f"winget {key}: expected a value, got none")
    installer = manifests["installer"]
    expect("winget InstallerType", "zip", installer.get("InstallerType"))
    expect("winget NestedInstallerType", "portable", installer.get("NestedInstallerType"))
    expect("winget NestedInstallerFiles",
           [{"RelativeFilePath": "Velmora.exe", "PortableCommandAlias": "velmora"}],
           installer.get("NestedInstallerFiles"))
    expect("winget Installers",
           [{"Architecture": "x86", "InstallerUrl": urls["win32"], "InstallerSha256": sums["win32"].upper()},
            {"Architecture": "x64", "InstallerUrl": urls["win64"], "InstallerSha256": sums["win64"].upper()}],
           installer.get("Installers"))

    for failure in failures:
        print(f"{folder}: {failure}")
    print(f"{folder}: {'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
