#!/bin/sh
# The release checks of the Windows build:
#   reproducible SOURCE_DIR   two builds of the win32 preset in two folders give
#                             the same Velmora.exe, byte for byte, with no build
#                             path inside
#   archive BUILD_DIR VERSION the release archive holds exactly Velmora.exe,
#                             README.md and LICENSE
set -eu

case $1 in
reproducible)
    source_dir=$2
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-repro-XXXXXX")
    trap 'rm -rf "$scratch"' EXIT
    for folder in first "second folder"; do
        cmake --preset win32 -S "$source_dir" -B "$scratch/$folder" -DVELMORA_BUILD_TESTS=OFF >/dev/null
        cmake --build "$scratch/$folder" --target Velmora >/dev/null
    done
    if ! cmp "$scratch/first/Velmora.exe" "$scratch/second folder/Velmora.exe"; then
        echo "FAILED: two builds of the same source differ"
        exit 1
    fi
    for path in "$scratch" "$source_dir"; do
        if grep -q -F -- "$path" "$scratch/first/Velmora.exe"; then
            echo "FAILED: Velmora.exe holds the path $path"
            exit 1
        fi
    done
    echo "ok: both builds are $(sha256sum <"$scratch/first/Velmora.exe" | cut -c1-64)"
    ;;
archive)
    build_dir=$2 version=$3
    rm -rf "$build_dir/package"
    (cd "$build_dir" && cpack -G ZIP >/dev/null)
    archive="$build_dir/package/Velmora-$version-win32.zip"
    listed=$(unzip -Z1 "$archive" | sort | tr '\n' ' ')
    if [ "$listed" != "LICENSE README.md Velmora.exe " ]; then
        echo "FAILED: $archive holds: $listed"
        exit 1
    fi
    if ! unzip -p "$archive" Velmora.exe | cmp - "$build_dir/Velmora.exe"; then
        echo "FAILED: the archived Velmora.exe is not the one built"
        exit 1
    fi
    echo "ok: $archive holds $listed"
    ;;
*)
    echo "usage: $0 reproducible SOURCE_DIR | archive BUILD_DIR VERSION" >&2
    exit 2
    ;;
esac
