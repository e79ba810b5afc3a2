#!/bin/sh
# Builds Velmora.exe and VelmoraState.exe as a release has them, the one way the
# release script, the release check and their test all build them: the win32 or
# win64 preset configured afresh in BUILD_DIR, without tests, and the programs
# built there (BUILD_DIR/Velmora.exe and BUILD_DIR/VelmoraState.exe, ready for
# cpack). Prints the version it built, the one
# line on standard output; BUILD_DIR/release.env holds what else the build knows
# of the release (see ReleaseArchive.cmake). What the build prints goes to
# BUILD_DIR.log, and to standard error when it fails.
#
# Usage: sh packaging/build-release.sh win32|win64 BUILD_DIR
set -eu

case ${1:-}:${2:-} in
win32:?* | win64:?*) ;;
*) sh "$(dirname "$0")/../scripts/usage.sh" "$0" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
arch=$1 build=$2
log="$build.log"
{
    cmake --preset "$arch" -S "$root" -B "$build" -DVELMORA_BUILD_TESTS=OFF &&
        cmake --build "$build" --target Velmora VelmoraState
} >"$log" 2>&1 || {
    cat "$log" >&2
    echo "build-release.sh: building $arch failed" >&2
    exit 1
}
. "$build/release.env"
echo "$VERSION"
