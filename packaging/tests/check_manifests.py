#!/usr/bin/python3
"""Reads a release folder back: SHA256SUMS names the archives, the MSI and the
Chocolatey package with their true SHA-256; the Scoop manifest and the winget
manifest set name the archives (and winget the MSI, with its codes) with their
SHA-256 and their download URL, carry the version, the release date and what installs, keep to the rules
of winget's 1.6.0 schemas that can be checked here, and name no URL that does
not start with the release's URL base or the homepage.

Usage: check_manifests.py RELEASE_DIR VERSION URL_BASE HOMEPAGE RELEASE_DATE
"""
import hashlib
import json
import os
import re
import subprocess
import sys

import yaml

from checking import Failures

failures = Failures()
expect = failures.expect


def strings(value):
    """Every string inside a manifest, however deep."""
    if isinstance(value, str):
        yield value
    elif isinstance(value, dict):
        for item in value.values():
            yield from strings(item)
    elif isinstance(value, list):
        for item in value:
            yield from strings(item)


# Rules of winget's 1.6.0 manifest schemas: (manifest, field, pattern or None, longest).
WINGET_RULES = [
    ("version", "PackageIdentifier", r"^[^\.\s\\/:\*\?\"<>\|\x01-\x1f]{1,32}(\.[^\.\s\\/:\*\?\"<>\|\x01-\x1f]{1,32}){1,7}$", 128),
    ("version", "PackageVersion", r"^[^\\/:\*\?\"<>\|\x01-\x1f]+$", 128),
    ("version", "DefaultLocale", r"^([a-zA-Z]{2,3}|[iI]-[a-zA-Z]+|[xX]-[a-zA-Z]{1,8})(-[a-zA-Z]{1,8})*$", 20),
    ("defaultLocale", "Publisher", None, 256),
    ("defaultLocale", "PublisherUrl", r"^([Hh][Tt][Tt][Pp][Ss]?)://.+$", 2048),
    ("defaultLocale", "PackageName", None, 256),
    ("defaultLocale", "PackageUrl", r"^([Hh][Tt][Tt][Pp][Ss]?)://.+$", 2048),
    ("defaultLocale", "License", None, 512),
    ("defaultLocale", "LicenseUrl", r"^([Hh][Tt][Tt][Pp][Ss]?)://.+$", 2048),
    ("defaultLocale", "Copyright", None, 512),
    ("defaultLocale", "ShortDescription", None, 256),
    ("defaultLocale", "Description", None, 10000),
    ("defaultLocale", "Moniker", r"^\S+$", 40),
    ("defaultLocale", "ReleaseNotes", None, 10000),
    ("defaultLocale", "ReleaseNotesUrl", r"^([Hh][Tt][Tt][Pp][Ss]?)://.+$", 2048),
    ("installer", "MinimumOSVersion", r"^(0|[1-9][0-9]{0,3}|[1-5][0-9]{4}|6[0-4][0-9]{3}|65[0-4][0-9]{2}|655[0-2][0-9]|6553[0-5])(\.(0|[1-9][0-9]{0,3}|[1-5][0-9]{4}|6[0-4][0-9]{3}|65[0-4][0-9]{2}|655[0-2][0-9]|6553[0-5])){0,3}$", None),
    ("installer", "ReleaseDate", r"^\d{4}-\d{2}-\d{2}$", None),
]
WINGET_REQUIRED = {
    "version": ["PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType", "ManifestVersion"],
    "defaultLocale": ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher", "PackageName", "License",
                      "ShortDescription", "ManifestType", "ManifestVersion"],
    "installer": ["PackageIdentifier", "PackageVersion", "Installers", "ManifestType", "ManifestVersion"],
}


def check_module(folder, archives, version, url_base, homepage):
    """The PowerShell module's archive: the module folder with both programs, as released."""
    import zipfile
    with zipfile.ZipFile(os.path.join(folder, archives["powershell"])) as module:
        expect("the module archive's entries",
               ["Velmora/LICENSE", "Velmora/Velmora.Format.ps1xml", "Velmora/Velmora.psd1", "Velmora/Velmora.psm1",
                "Velmora/VelmoraStartupTask.xml",
                "Velmora/bin/x64/Velmora.exe", "Velmora/bin/x64/VelmoraState.exe",
                "Velmora/bin/x64/velmora.dsc.resource.json", "Velmora/bin/x86/Velmora.exe", "Velmora/bin/x86/VelmoraState.exe",
                "Velmora/en-US/about_Velmora.help.txt"],
               module.namelist())
        for arch, program in (("win64", "x64"), ("win32", "x86")):
            with zipfile.ZipFile(os.path.join(folder, archives[arch])) as archive:
                for name in ("Velmora.exe", "VelmoraState.exe"):
                    expect(f"the module's {program} {name} is the {arch} archive's", archive.read(name),
                           module.read(f"Velmora/bin/{program}/{name}"))
        manifest = module.read("Velmora/Velmora.psd1").decode("utf-8")
    for key, value in (("ModuleVersion", version), ("LicenseUri", f"{url_base}/LICENSE"), ("ProjectUri", homepage)):
        found = re.search(r"^\s*" + key + r"\s*=\s*'([^']*)'", manifest, re.M)
        expect(f"the module manifest's {key}", value, found and found.group(1))


def msi_codes(path):
    """The ProductCode and UpgradeCode that the MSI's Property table holds."""
    table = subprocess.run(["msiinfo", "export", path, "Property"], capture_output=True, text=True, check=True).stdout
    properties = dict(line.split("\t", 1) for line in table.replace("\r", "").splitlines() if "\t" in line)
    return properties.get("ProductCode"), (properties.get("UpgradeCode") or "").upper()


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    folder, version, url_base, homepage, release_date = sys.argv[1:]
    archives = {arch: f"Velmora-{version}-{arch}.zip" for arch in ("win32", "win64", "powershell")}
    archives["msi"] = f"Velmora-{version}-x64.msi"
    archives["nupkg"] = f"velmora.{version}.nupkg"
    sums = {}
    for arch, name in archives.items():
        with open(os.path.join(folder, name), "rb") as f:
            sums[arch] = hashlib.sha256(f.read()).hexdigest()
    urls = {arch: f"{url_base}/{name}" for arch, name in archives.items()}
    template = url_base.replace(version, "$version")

    expect("files in the release folder",
           sorted([*archives.values(), "SHA256SUMS", "LICENSE", "CHANGELOG.md", "RELEASE-NOTES.md", "scoop",
                   "winget", "configuration"]),
           sorted(os.listdir(folder)))
    expect("the configuration published",
           ["ansible/velmora.yml", "configuration.winget", "intune/Detect-VelmoraFileCacheLimit.ps1",
            "intune/Remediate-VelmoraFileCacheLimit.ps1", "velmora.dsc.yaml"],
           sorted(os.path.relpath(os.path.join(top, name), os.path.join(folder, "configuration"))
                  for top, _, names in os.walk(os.path.join(folder, "configuration")) for name in names))
    with open(os.path.join(folder, "SHA256SUMS")) as f:
        expect("SHA256SUMS", "".join(f"{sums[a]}  {archives[a]}\n" for a in ("win32", "win64", "powershell", "msi",
                                                                               "nupkg")),
               f.read())
    check_module(folder, archives, version, url_base, homepage)
    with open(os.path.join(folder, "CHANGELOG.md")) as f:
        changelog = f.read()
    with open(os.path.join(folder, "RELEASE-NOTES.md")) as f:
        notes = f.read()
    entry = re.search(r"^## \[" + re.escape(version) + r"\][^\n]*\n(.*?)(?=^## |\Z)", changelog, re.S | re.M)
    expect("RELEASE-NOTES.md: the version's entry of CHANGELOG.md", entry and entry.group(1).strip() + "\n", notes)

    with open(os.path.join(folder, "scoop", "velmora.json")) as f:
        scoop = json.load(f)
    expect("scoop version", version, scoop.get("version"))
    expect("scoop homepage", homepage, scoop.get("homepage"))
    expect("scoop license", {"identifier": "MIT", "url": f"{url_base}/LICENSE"}, scoop.get("license"))
    expect("scoop bin", "Velmora.exe", scoop.get("bin"))
    if not scoop.get("description"):
        failures.fail("scoop description: expected a description, got none")
    notes_text = " ".join(scoop.get("notes", []))
    for needed in ("elevated", "SYSTEM", "restart", "-G"):
        if needed not in notes_text:
            failures.fail(f"scoop notes: expected them to speak of {needed!r}, got {notes_text!r}")
    expect("scoop architecture",
           {"32bit": {"url": urls["win32"], "hash": sums["win32"]},
            "64bit": {"url": urls["win64"], "hash": sums["win64"]}},
           scoop.get("architecture"))
    expect("scoop checkver", {"url": f"{homepage}/releases/latest", "regex": r"/releases/tag/v([\d.]+)"},
           scoop.get("checkver"))
    expect("scoop autoupdate",
           {"architecture": {"64bit": {"url": f"{template}/Velmora-$version-win64.zip"},
                             "32bit": {"url": f"{template}/Velmora-$version-win32.zip"}},
            "hash": {"url": "$baseurl/SHA256SUMS"}},
           scoop.get("autoupdate"))
    # What autoupdate would make of this very version is this release.
    for arch, bits in (("win32", "32bit"), ("win64", "64bit")):
        made = scoop["autoupdate"]["architecture"][bits]["url"].replace("$version", version)
        expect(f"scoop autoupdate {bits} for {version}", urls[arch], made)

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
        for field in WINGET_REQUIRED[kind]:
            if field not in manifest:
                failures.fail(f"winget {name}: the required {field} is missing")
    for kind, field, pattern, longest in WINGET_RULES:
        value = manifests[kind].get(field)
        if value is None:
            failures.fail(f"winget {kind} {field}: expected a value, got none")
            continue
        value = str(value)
        if pattern and not re.match(pattern, value):
            failures.fail(f"winget {kind} {field}: {value!r} does not match the schema's pattern")
        if longest and len(value) > longest:
            failures.fail(f"winget {kind} {field}: {len(value)} characters, the schema allows {longest}")
    expect("winget DefaultLocale", "en-US", manifests["version"].get("DefaultLocale"))
    locale = manifests["defaultLocale"]
    expect("winget PackageLocale", "en-US", locale.get("PackageLocale"))
    expect("winget PackageUrl", homepage, locale.get("PackageUrl"))
    expect("winget PublisherUrl", homepage, locale.get("PublisherUrl"))
    expect("winget License", "MIT", locale.get("License"))
    expect("winget LicenseUrl", f"{url_base}/LICENSE", locale.get("LicenseUrl"))
    expect("winget ReleaseNotesUrl", f"{url_base}/CHANGELOG.md", locale.get("ReleaseNotesUrl"))
    expect("winget ReleaseNotes", notes.strip(), locale.get("ReleaseNotes"))
    with open(os.path.join(folder, "LICENSE")) as f:
        copyright_line = next(line.strip() for line in f if line.startswith("Copyright "))
    expect("winget Copyright", copyright_line, locale.get("Copyright"))
    for tag in locale.get("Tags", []):
        if not re.match(r"^\S+$", tag) or len(tag) > 40:
            failures.fail(f"winget Tags: {tag!r} breaks the schema's rule for a tag")
    installer = manifests["installer"]
    expect("winget ReleaseDate", release_date, str(installer.get("ReleaseDate")))
    portable = {"InstallerType": "zip", "NestedInstallerType": "portable",
                "NestedInstallerFiles": [{"RelativeFilePath": "Velmora.exe", "PortableCommandAlias": "velmora"}]}
    product_code, upgrade_code = msi_codes(os.path.join(folder, archives["msi"]))
    # The Windows that the MSI's Windows Installer schema needs: 500 is Windows
    # Installer 5.0, which came with Windows 7 (6.1.7600).
    suminfo = subprocess.run(["msiinfo", "suminfo", os.path.join(folder, archives["msi"])], capture_output=True,
                             text=True, check=True).stdout
    schema = re.search(r"^Version: (\d+)", suminfo, re.M)
    msi_minimum = {"500": "6.1.7600.0"}.get(schema.group(1) if schema else None)
    expect("winget Installers",
           [{"Architecture": "x86", "Scope": "user", **portable, "InstallerUrl": urls["win32"],
             "InstallerSha256": sums["win32"].upper()},
            {"Architecture": "x64", "Scope": "user", **portable, "InstallerUrl": urls["win64"],
             "InstallerSha256": sums["win64"].upper()},
            {"Architecture": "x64", "MinimumOSVersion": msi_minimum, "InstallerType": "msi", "Scope": "machine",
             "InstallerSwitches": {"InstallLocation": 'INSTALLDIR="<INSTALLPATH>"'}, "InstallerUrl": urls["msi"],
             "InstallerSha256": sums["msi"].upper(), "ProductCode": product_code,
             "AppsAndFeaturesEntries": [{"ProductCode": product_code, "UpgradeCode": upgrade_code}],
             "UpgradeBehavior": "install"}],
           installer.get("Installers"))

    # No URL that points anywhere but the release's own places.
    for where, manifest in [("scoop", scoop), *(("winget " + k, m) for k, m in manifests.items())]:
        for text in strings(manifest):
            for url in re.findall(r"[a-z]+://[^\s\"']+", text):
                if not (url.startswith(url_base + "/") or url.startswith(template + "/") or url == homepage
                        or url.startswith(homepage + "/")):
                    failures.fail(f"{where}: the URL {url} starts with neither {url_base} nor {homepage}")

    print(f"{folder}:")
    return failures.report()


if __name__ == "__main__":
    sys.exit(main())
