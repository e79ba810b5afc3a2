#!/bin/sh
# Makes a release of Velmora from the checked-out commit, in build/release/ or
# the folder given:
#   Velmora-VERSION-win32.zip, Velmora-VERSION-win64.zip   each built afresh
#   Velmora-VERSION-powershell.zip   the PowerShell module with both programs
#   Velmora-VERSION-x64.msi          the per-machine Windows Installer package
#   velmora.VERSION.nupkg            the Chocolatey package, which carries it
#   configuration/                   the DSC 3 and WinGet configuration documents,
#                                    the Intune remediation pair and the Ansible play
#   SHA256SUMS            the archives' sums, for "sha256sum -c SHA256SUMS"
#   LICENSE, CHANGELOG.md the licence and the changes, published beside them
#   RELEASE-NOTES.md      this version's entry of CHANGELOG.md, for the release page
#   scoop/velmora.json    the Scoop manifest
#   winget/               the winget manifest set (version, defaultLocale, installer)
# Two runs on the same commit write the same bytes: every archive entry carries
# the commit's time (SOURCE_DATE_EPOCH, unless set). The release is made in a
# scratch folder beside OUTPUT_DIR, which then replaces OUTPUT_DIR whole: nothing
# of an earlier release stays in it.
#
# Usage: sh packaging/release.sh [--trial] [OUTPUT_DIR]
#   --trial   let the manifests name a host that never resolves (.invalid), to
#             try them out, and skip the check that CHANGELOG.md dates this
#             version's entry and lists nothing unreleased; such a release is
#             for trying only
# Environment:
#   VELMORA_RELEASE_URL         where the archives will be published, a URL that
#                               names the version (default:
#                               HOMEPAGE/releases/download/vVERSION)
#   VELMORA_HOMEPAGE_URL        the project's home page (default: the project's
#                               HOMEPAGE_URL in CMakeLists.txt)
#   VELMORA_SIGN_PKCS12         a PKCS#12 file: the files a release signs (the
#                               release facts SIGNED and MODULE_SIGNED: both
#                               programs and the administrator's scripts of each
#                               staged tree, the module's script, manifest and
#                               view) and the MSI are Authenticode-signed
#                               (SHA-256) with it before they are packed
#   VELMORA_SIGN_PASSWORD       that file's password
#   VELMORA_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamping service for the signatures
set -eu

usage() {
    sh "$(dirname "$0")/../scripts/usage.sh" "$0"
}

root=$(cd "$(dirname "$0")/.." && pwd)
out="" trial=""
while [ $# -gt 0 ]; do
    case $1 in
    -h | --help) usage; exit 0 ;;
    --trial) trial=1 ;;
    -*) usage >&2; exit 2 ;;
    *) [ -z "$out" ] || { usage >&2; exit 2; }; out=$1 ;;
    esac
    shift
done
out=${out:-$root/build/release}

pkcs12=${VELMORA_SIGN_PKCS12:-}
if [ -n "$pkcs12" ]; then
    [ -r "$pkcs12" ] || { echo "release.sh: cannot read VELMORA_SIGN_PKCS12: $pkcs12" >&2; exit 1; }
    command -v osslsigncode >/dev/null || { echo "release.sh: signing needs osslsigncode" >&2; exit 1; }
fi
if [ -n "$(git -C "$root" status --porcelain 2>/dev/null)" ]; then
    echo "release.sh: the work tree has uncommitted changes; this build is not of a commit" >&2
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-release-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# The 64-bit build first: it gives the version and the homepage.
echo "Building win64"
version=$(sh "$root/packaging/build-release.sh" win64 "$scratch/win64")
. "$scratch/win64/release.env"
homepage=${VELMORA_HOMEPAGE_URL:-$HOMEPAGE}
homepage=${homepage%/}
url_base=${VELMORA_RELEASE_URL:-$homepage/$RELEASE_PATH}
url_base=${url_base%/}

# Every URL of the manifests starts with one of the two: no release may name a
# host that cannot resolve, unless it is a trial.
for named in "VELMORA_HOMEPAGE_URL=$homepage" "VELMORA_RELEASE_URL=$url_base"; do
    url=${named#*=}
    host=$(printf '%s\n' "$url" | sed -n 's|^https\{0,1\}://\([^/:?#@]*@\)\{0,1\}\([^/:?#]*\).*|\2|p')
    if [ -z "$host" ]; then
        echo "release.sh: ${named%%=*} is not an http or https URL: $url" >&2
        exit 1
    fi
    case $host in
    invalid | *.invalid | *.invalid.)
        if [ -z "$trial" ]; then
            echo "release.sh: ${named%%=*} ($url) is on the host $host, which never resolves; set" \
                "VELMORA_RELEASE_URL and VELMORA_HOMEPAGE_URL to where this release will be published," \
                "or pass --trial for manifests to try out only" >&2
            exit 1
        fi
        ;;
    esac
done
case $url_base in
*"$version"*) ;;
*) echo "release.sh: VELMORA_RELEASE_URL ($url_base) does not name the version $version, so Scoop's" \
    "autoupdate could not find the next release's archives there" >&2
    exit 1 ;;
esac

# A published release says what it is: a dated entry of its version in
# CHANGELOG.md, and nothing left under [Unreleased].
if [ -n "$trial" ]; then
    echo "TRIAL: CHANGELOG.md is not checked for a dated entry of $version and an empty [Unreleased]"
elif ! cmake -D "CHANGELOG=$root/CHANGELOG.md" -D "VERSION=$version" -P "$root/packaging/ReleaseTexts.cmake" \
    2>"$scratch/changelog.log"; then
    # CMake's error, less its frame: the lines from its heading to the first blank one.
    echo "release.sh: $(awk '/^CMake Error/ { on = 1; next } on && /^$/ { exit } on { sub(/^ +/, ""); printf "%s%s", sep, $0; sep = " " }' \
        "$scratch/changelog.log")" >&2
    exit 1
fi

echo "Building win32"
sh "$root/packaging/build-release.sh" win32 "$scratch/win32" >/dev/null

# sign FILE: Authenticode, SHA-256, time-stamped where a service is named; a
# program, or a PowerShell script, manifest or view. The password goes through a
# private file, not the command line.
sign() {
    exe=$1
    (umask 077 && printf '%s' "${VELMORA_SIGN_PASSWORD:-}" >"$scratch/password")
    if [ -n "${VELMORA_SIGN_TIMESTAMP_URL:-}" ]; then
        set -- -ts "$VELMORA_SIGN_TIMESTAMP_URL"
    else
        set --
    fi
    osslsigncode sign -pkcs12 "$pkcs12" -readpass "$scratch/password" -h sha256 -n Velmora "$@" \
        -in "$exe" -out "$exe.signed" >"$scratch/sign.log" 2>&1 || {
        cat "$scratch/sign.log" >&2
        exit 1
    }
    mv "$exe.signed" "$exe"
    rm -f "$scratch/password"
}

# The release is made beside the output folder, on the same file system, and
# then takes its place whole.
mkdir -p "$(dirname "$out")"
made=$(mktemp -d "$(dirname "$out")/.velmora-release-XXXXXX")
trap 'rm -rf "$scratch" "$made"' EXIT
# Each width's staged tree, signed in place, packs to its archive.
for arch in win32 win64; do
    # shellcheck disable=SC1090 # each build writes its own release.env
    . "$scratch/$arch/release.env"
    if [ -n "$pkcs12" ]; then
        # The programs, and the administrator's scripts beside them (SIGNED, a release fact).
        for file in $SIGNED; do
            sign "$STAGE/$file"
        done
    fi
    cmake -D "FACTS=$FACTS" -D "STAGE=$STAGE" -D "ARCHIVE=$made/Velmora-$version-$arch.zip" \
        -P "$root/packaging/ReleaseArchive.cmake" >>"$scratch/$arch.log" 2>&1 || {
        cat "$scratch/$arch.log" >&2
        exit 1
    }
    if [ "$arch" = win32 ]; then x86_stage=$STAGE; else x64_stage=$STAGE; fi
done
# What each script takes beside its own: the facts, and where this release is published.
set -- -D "FACTS=$FACTS" -D "HOMEPAGE=$homepage" -D "URL_BASE=$url_base"

# The PowerShell module, with the programs as the archives hold them, and its
# script, manifest and view signed like them, so that AllSigned runs it.
module="$scratch/powershell/Velmora"
cmake "$@" -D "MODULE_DIR=$module" -D "X64_STAGE=$x64_stage" -D "X86_STAGE=$x86_stage" \
    -P "$root/powershell/PowerShellModule.cmake"
if [ -n "$pkcs12" ]; then
    for file in $MODULE_SIGNED; do
        sign "$module/$file"
    done
fi
cmake "$@" -D "MODULE_DIR=$module" -D "ZIP=$made/Velmora-$version-powershell.zip" -D PACK_ONLY=ON \
    -P "$root/powershell/PowerShellModule.cmake"

# The per-machine Windows Installer package, of the 64-bit staged tree; signed
# like the programs. Then the Chocolatey package that carries it.
msi="$made/Velmora-$version-x64.msi"
cmake "$@" -D "STAGE=$x64_stage" -D "MSI=$msi" -P "$root/packaging/ReleaseMsi.cmake"
[ -z "$pkcs12" ] || sign "$msi"
cmake "$@" -D "MSI=$msi" -D "NUPKG=$made/velmora.$version.nupkg" -P "$root/packaging/ReleaseChocolatey.cmake"

# The configuration that fleets apply: the DSC 3 and WinGet configuration
# documents, the Intune remediation pair, one script under its two names, and
# the Ansible play.
mkdir -p "$made/configuration/intune" "$made/configuration/ansible"
cp "$root/dsc/config/velmora.dsc.yaml" "$root/dsc/config/configuration.winget" "$made/configuration/"
cp "$root/ansible/velmora.yml" "$made/configuration/ansible/"
for name in Detect Remediate; do
    cp "$root/dsc/intune/VelmoraFileCacheLimit.ps1" "$made/configuration/intune/$name-VelmoraFileCacheLimit.ps1"
done

if [ -n "$pkcs12" ]; then
    echo "Signed with $pkcs12${VELMORA_SIGN_TIMESTAMP_URL:+, time-stamped by $VELMORA_SIGN_TIMESTAMP_URL}"
else
    echo "Not signed: VELMORA_SIGN_PKCS12 names no certificate"
fi
cmake "$@" -D "RELEASE_DIR=$made" -P "$root/packaging/ReleaseManifests.cmake"
chmod 755 "$made"
rm -rf "$out"
mv "$made" "$out"
echo "Velmora $version in $out, to be published at $url_base"
if [ -n "$trial" ]; then
    echo "TRIAL: these manifests are for trying only; publish no release made with --trial"
else
    echo "Tag the commit it was built from: git tag -a v$version $(git -C "$root" rev-parse --short HEAD) -m \"Velmora $version\""
fi
