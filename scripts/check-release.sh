#!/bin/sh
# Checks a published Velmora archive against the checked-out commit: builds that
# commit afresh and compares its Velmora.exe with the archive's, byte for byte,
# once a signature (which the build cannot make) is taken off. README.md and
# LICENSE must match the checkout too.
#
# Usage: sh scripts/check-release.sh Velmora-VERSION-ARCH.zip | URL
# Exit code: 0 the archive holds this commit's build, 1 it does not, 2 usage.
set -eu

case ${1:-} in
'' | -*) sed -n '2,9s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
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

echo "Building $arch from $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo "$root")"
cmake --preset "$arch" -S "$root" -B "$scratch/build" -DVELMORA_BUILD_TESTS=OFF >"$scratch/build.log" 2>&1 &&
    cmake --build "$scratch/build" --target Velmora >>"$scratch/build.log" 2>&1 || {
    cat "$scratch/build.log" >&2
    exit 1
}
built_version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$scratch/build/CPackConfig.cmake")
if [ "$built_version" != "$version" ]; then
    echo "DIFFERENT: this checkout is version $built_version, the archive $version (git checkout v$version)"
    exit 1
fi

unzip -p "$archive" Velmora.exe >"$scratch/published.exe"
if osslsigncode remove-signature -in "$scratch/published.exe" -out "$scratch/unsigned.exe" \
    >"$scratch/signature.log" 2>&1; then
    echo "The published Velmora.exe is signed; comparing it without its signature"
    mv "$scratch/unsigned.exe" "$scratch/published.exe"
elif ! grep -q "No signature found" "$scratch/signature.log"; then
    cat "$scratch/signature.log" >&2
    exit 1
fi

status=0
cmp "$scratch/published.exe" "$scratch/build/Velmora.exe" || status=1
for file in README.md LICENSE; do
    unzip -p "$archive" "$file" | cmp - "$root/$file" || status=1
done
if [ "$status" -eq 0 ]; then
    echo "SAME: $name holds this commit's build"
else
    echo "DIFFERENT: $name does not hold this commit's build"
fi
exit "$status"
