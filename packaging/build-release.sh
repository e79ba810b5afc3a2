#!/bin/sh
# Builds Velmora.exe and VelmoraState.exe as a release has them, the one way the
# release script, the release check and their test all build them: the win32 or
# win64 preset configured afresh in BUILD_DIR, without tests, the programs built
# there, and the release's staged tree made from it by cmake --install (STAGE in
# BUILD_DIR/release.env, which holds what else the build knows of the release:
# packaging/CMakeLists.txt). Prints the version it built, the one line on
# standard output. What the build prints goes to BUILD_DIR.log, and to standard
# error when it fails.
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
    cmake --preset "$arch" -S "$root" -B "$build" -DBUILD_TESTING=OFF &&
        cmake --build "$build" --target Velmora VelmoraState &&
        rm -rf "$build/stage" &&
        cmake --install "$build" --prefix "$build/stage"
} >"$log" 2>&1 || {
    cat "$log" >&2
    echo "build-release.sh: building $arch failed" >&2
    exit 1
}
. "$build/release.env"
echo "$VERSION"
