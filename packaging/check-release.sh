#!/bin/sh
# Checks a published Velmora archive against the checked-out commit: builds and
# packs that commit afresh and compares the two archives byte for byte. A signed
# Velmora.exe or VelmoraState.exe (a signature is the one thing the build cannot
# make) must be this build once its signature is taken off, and so must the
# signed record.ps1 and restore.ps1; the archive is then packed again with the
# signed files in it, and compared whole.
#
# Usage: sh packaging/check-release.sh Velmora-VERSION-ARCH.zip | URL
# Exit code: 0 the archive holds this commit's build, 1 it does not, 2 usage.
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
    archive="$scratch/$name"
    curl -fsSL -o "$archive" "$1"
    ;;
*) archive=$1 ;;
esac
case $name in
Velmora-*-win32.zip) arch=win32 ;;
Velmora-*-win64.zip) arch=win64 ;;
*) echo "check-release.sh: $name is not named Velmora-VERSION-win32.zip or -win64.zip" >&2; exit 2 ;;
esac
version=${name#Velmora-}
version=${version%-$arch.zip}

build="$scratch/build"
echo "Building $arch from $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo "$root")"
built_version=$(sh "$root/packaging/build-release.sh" "$arch" "$build")
if [ "$built_version" != "$version" ]; then
    echo "DIFFERENT: this checkout is version $built_version, the archive $version" \
        "(check out the commit that release v$version was made from)"
    exit 1
fi

# Each program: a signed one must be this commit's build once its signature is
# taken off, and is packed as published.
for program in Velmora.exe VelmoraState.exe; do
    # osslsigncode writes no file that is there already.
    rm -f "$scratch/unsigned.exe"
    if ! unzip -p "$archive" "$program" >"$scratch/published.exe" 2>/dev/null; then
        echo "DIFFERENT: $name holds no $program"
        exit 1
    fi
    if osslsigncode remove-signature -in "$scratch/published.exe" -out "$scratch/unsigned.exe" \
        >"$scratch/signature.log" 2>&1; then
        echo "The published $program is signed; comparing it without its signature"
        if ! cmp -s "$scratch/unsigned.exe" "$build/$program"; then
            echo "DIFFERENT: $name holds another $program than this commit's build"
            exit 1
        fi
        # Packed as the release packed it: with the signed program.
        cp "$scratch/published.exe" "$build/$program"
    elif ! grep -q "No signature found" "$scratch/signature.log"; then
        cat "$scratch/signature.log" >&2
        exit 1
    fi
done

# The administrator's scripts: a signed one must be this commit's once its
# signature is taken off, and is packed as published.
for script in record.ps1 restore.ps1; do
    unzip -p "$archive" "$script" >"$scratch/$script" || {
        echo "DIFFERENT: $name holds no $script"
        exit 1
    }
    if osslsigncode remove-signature -in "$scratch/$script" -out "$scratch/unsigned-$script" \
        >"$scratch/signature.log" 2>&1; then
        if ! cmp -s "$scratch/unsigned-$script" "$build/admin/$script"; then
            echo "DIFFERENT: $name holds another $script than this commit's"
            exit 1
        fi
        cp "$scratch/$script" "$build/admin/$script"
    fi
done
(cd "$build" && cpack) >>"$build.log" 2>&1 || {
    cat "$build.log" >&2
    exit 1
}
. "$build/release.env"
if cmp -s "$archive" "$ARCHIVE"; then
    echo "SAME: $name holds this commit's build, byte for byte"
else
    echo "DIFFERENT: $name is not this commit's archive"
    exit 1
fi
