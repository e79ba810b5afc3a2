#!/bin/sh
# Checks a published Velmora archive, MSI or Chocolatey package against the
# checked-out commit: builds and packs that commit afresh and compares the two
# byte for byte. A signature is the one thing the build cannot make, so:
# - a signed Velmora.exe, VelmoraState.exe, record.ps1 or restore.ps1 in it must
#   be this build once its signature is taken off, and is then packed as
#   published;
# - a signed MSI is compared with its signature taken off, against the rebuilt
#   one signed with a throwaway key and that signature taken off too (taking a
#   signature off rewrites the whole file, so both sides go through it);
# - a Chocolatey package's MSI is checked as an MSI, and the package is then
#   made again around it.
# The MSI and the package name the project's homepage and release URL: the
# rebuilt ones are made for the ones the published ones give.
#
# Usage: sh packaging/check-release.sh FILE | URL
#   FILE is Velmora-VERSION-win32.zip, Velmora-VERSION-win64.zip,
#   Velmora-VERSION-x64.msi or velmora.VERSION.nupkg
# Exit code: 0 the file holds this commit's build, 1 it does not, 2 usage.
set -eu

case ${1:-} in
'' | -*) sh "$(dirname "$0")/../scripts/usage.sh" "$0" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-check-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

name=$(basename "$1")
case $1 in
http://* | https://*)
    published="$scratch/$name"
    curl -fsSL -o "$published" "$1"
    ;;
/*) published=$1 ;;
*) published="$PWD/$1" ;;
esac
case $name in
Velmora-*-win32.zip) kind=zip arch=win32 version=${name#Velmora-} version=${version%-win32.zip} ;;
Velmora-*-win64.zip) kind=zip arch=win64 version=${name#Velmora-} version=${version%-win64.zip} ;;
Velmora-*-x64.msi) kind=msi arch=win64 version=${name#Velmora-} version=${version%-x64.msi} ;;
velmora.*.nupkg) kind=nupkg arch=win64 version=${name#velmora.} version=${version%.nupkg} ;;
*) echo "check-release.sh: $name is none of Velmora-VERSION-win32.zip, -win64.zip, -x64.msi or" \
    "velmora.VERSION.nupkg" >&2
    exit 2 ;;
esac

different() {
    echo "DIFFERENT: $*"
    exit 1
}

build="$scratch/build"
echo "Building $arch from $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo "$root")"
built_version=$(sh "$root/packaging/build-release.sh" "$arch" "$build")
[ "$built_version" = "$version" ] || different "this checkout is version $built_version, $name $version" \
    "(check out the commit that release v$version was made from)"
. "$build/release.env"

# unsign IN OUT: OUT is IN less its Authenticode signature; fails where IN is
# not signed.
unsign() {
    # osslsigncode writes no file that is there already.
    rm -f "$2"
    osslsigncode remove-signature -in "$1" -out "$2" >"$scratch/signature.log" 2>&1 && return 0
    grep -q -e "No signature found" -e "Unable to remove existing signature" "$scratch/signature.log" || {
        cat "$scratch/signature.log" >&2
        exit 1
    }
    return 1
}

# take_signed FOLDER: each file a release signs (SIGNED), as FOLDER holds it from
# the published file: a signed one must be the staged tree's once its signature
# is taken off, and replaces it there, to be packed as published.
take_signed() {
    for file in $SIGNED; do
        [ -f "$1/$file" ] || different "$name holds no $file"
        if unsign "$1/$file" "$scratch/unsigned"; then
            echo "The published $file is signed; comparing it without its signature"
            cmp -s "$scratch/unsigned" "$STAGE/$file" || different "$name holds another $file than this commit's build"
            cp "$1/$file" "$STAGE/$file"
        fi
    done
}

# package SCRIPT -D...: runs a packaging script with the build's facts.
package() {
    script=$1
    shift
    cmake -D "FACTS=$FACTS" "$@" -P "$root/packaging/$script" >>"$build.log" 2>&1 || {
        cat "$build.log" >&2
        exit 1
    }
}

# property MSI NAME: a value of the package's Property table.
property() {
    msiinfo export "$1" Property | tr -d '\r' | awk -F '\t' -v name="$2" '$1 == name { print $2 }'
}

# check_msi MSI: MSI (signed or not) is this commit's package; MSI.rebuilt is
# then the package made again, as published.
check_msi() {
    msiextract -C "$scratch/msi-files" "$1" >/dev/null || different "$name holds no MSI that msiextract reads"
    take_signed "$scratch/msi-files/Velmora"
    package ReleaseMsi.cmake -D "STAGE=$STAGE" -D "HOMEPAGE=$(property "$1" ARPURLINFOABOUT)" -D "MSI=$1.rebuilt"
    if unsign "$1" "$scratch/published-unsigned.msi"; then
        echo "The published MSI is signed; comparing both without a signature"
        openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Velmora release check" \
            -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null &&
            osslsigncode sign -certs "$scratch/cert.pem" -key "$scratch/key.pem" -h sha256 \
                -in "$1.rebuilt" -out "$scratch/throwaway.msi" >"$scratch/signature.log" 2>&1 || {
            cat "$scratch/signature.log" >&2
            exit 1
        }
        unsign "$scratch/throwaway.msi" "$scratch/rebuilt-unsigned.msi"
        cmp -s "$scratch/published-unsigned.msi" "$scratch/rebuilt-unsigned.msi" ||
            different "$name is not this commit's MSI"
    else
        cmp -s "$1" "$1.rebuilt" || different "$name is not this commit's MSI"
    fi
}

case $kind in
zip)
    mkdir "$scratch/files"
    # shellcheck disable=SC2086 # SIGNED is a list of file names, one word each
    (cd "$scratch/files" && unzip -q "$published" $SIGNED) || different "$name holds not every file a release signs"
    take_signed "$scratch/files"
    package ReleaseArchive.cmake -D "STAGE=$STAGE" -D "ARCHIVE=$scratch/rebuilt.zip"
    cmp -s "$published" "$scratch/rebuilt.zip" || different "$name is not this commit's archive"
    ;;
msi)
    cp "$published" "$scratch/$name"
    check_msi "$scratch/$name"
    ;;
nupkg)
    msi_name="Velmora-$version-x64.msi"
    unzip -q -d "$scratch/nupkg" "$published" velmora.nuspec "tools/$msi_name" ||
        different "$name holds no velmora.nuspec and tools/$msi_name"
    check_msi "$scratch/nupkg/tools/$msi_name"
    # Made again around the published MSI, for the URLs its .nuspec gives.
    nuspec="$scratch/nupkg/velmora.nuspec"
    package ReleaseChocolatey.cmake -D "MSI=$scratch/nupkg/tools/$msi_name" -D "NUPKG=$scratch/$name" \
        -D "HOMEPAGE=$(sed -n 's|^ *<projectUrl>\(.*\)</projectUrl>$|\1|p' "$nuspec")" \
        -D "URL_BASE=$(sed -n 's|^ *<licenseUrl>\(.*\)/LICENSE</licenseUrl>$|\1|p' "$nuspec")"
    cmp -s "$published" "$scratch/$name" || different "$name is not this commit's Chocolatey package"
    ;;
esac
echo "SAME: $name holds this commit's build, byte for byte"
