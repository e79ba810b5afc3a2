#!/bin/sh
# Makes a release of Velmora from the checked-out commit, in build/release/ or
# the folder given:
#   Velmora-VERSION-win32.zip, Velmora-VERSION-win64.zip   each built afresh
#   SHA256SUMS            the archives' sums, for "sha256sum -c SHA256SUMS"
#   scoop/velmora.json    the Scoop manifest
#   winget/               the winget manifest set (version, defaultLocale, installer)
#
# Usage: sh scripts/release.sh [OUTPUT_DIR]
# Environment:
#   VELMORA_RELEASE_URL         where the archives will be published (default:
#                               HOMEPAGE/releases/download/vVERSION)
#   VELMORA_SIGN_PKCS12         a PKCS#12 file: each Velmora.exe is Authenticode-
#                               signed (SHA-256) with it before it is zipped
#   VELMORA_SIGN_PASSWORD       that file's password
#   VELMORA_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamping service for the signatures
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/release}
case $out in -*) sed -n '2,18s/^# \{0,1\}//p' "$0" >&2; exit 2 ;; esac

pkcs12=${VELMORA_SIGN_PKCS12:-}
if [ -n "$pkcs12" ]; then
    [ -r "$pkcs12" ] || { echo "release.sh: cannot read VELMORA_SIGN_PKCS12: $pkcs12" >&2; exit 1; }
    command -v osslsigncode >/dev/null || { echo "release.sh: signing needs osslsigncode" >&2; exit 1; }
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-release-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# Only what a release consists of is replaced in the output folder.
mkdir -p "$out"
rm -rf "$out"/Velmora-*-win32.zip "$out"/Velmora-*-win64.zip "$out/SHA256SUMS" "$out/scoop" "$out/winget"

if [ -n "$(git -C "$root" status --porcelain 2>/dev/null)" ]; then
    echo "release.sh: the work tree has uncommitted changes; this build is not of a commit" >&2
fi

# sign EXE: Authenticode, SHA-256, time-stamped where a service is named. The
# password goes through a private file, not the command line.
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

for arch in win32 win64; do
    build="$scratch/$arch"
    echo "Building $arch"
    cmake --preset "$arch" -S "$root" -B "$build" -DVELMORA_BUILD_TESTS=OFF >"$scratch/$arch.log" 2>&1 &&
        cmake --build "$build" --target Velmora >>"$scratch/$arch.log" 2>&1 || {
        cat "$scratch/$arch.log" >&2
        exit 1
    }
    [ -z "$pkcs12" ] || sign "$build/Velmora.exe"
    (cd "$build" && cpack -G ZIP >>"$scratch/$arch.log" 2>&1) || {
        cat "$scratch/$arch.log" >&2
        exit 1
    }
    cp "$build"/package/Velmora-*-"$arch".zip "$out/"
done

if [ -n "$pkcs12" ]; then
    echo "Signed with $pkcs12${VELMORA_SIGN_TIMESTAMP_URL:+, time-stamped by $VELMORA_SIGN_TIMESTAMP_URL}"
else
    echo "Not signed: VELMORA_SIGN_PKCS12 names no certificate"
fi
cmake -D "RELEASE_DIR=$out" -D "CPACK_CONFIG=$scratch/win64/CPackConfig.cmake" \
    -D "URL_BASE=${VELMORA_RELEASE_URL:-}" -D "COMMIT=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || true)" \
    -P "$root/cmake/ReleaseManifests.cmake"
