#!/bin/sh
# The release checks of a Windows build (ARCH: win32 or win64):
#   reproducible SOURCE_DIR ARCH       two builds of the ARCH preset in two folders
#                                      give the same Velmora.exe, byte for byte,
#                                      with no build path inside
#   archive BUILD_DIR VERSION ARCH     the release archive holds exactly
#                                      Velmora.exe, README.md and LICENSE
#   script SOURCE_DIR VERSION HOMEPAGE scripts/release.sh makes both archives,
#                                      their sums and manifests, unsigned and
#                                      signed with a throwaway certificate and
#                                      time-stamped by a service on loopback, and
#                                      scripts/check-release.sh recognises them
set -eu

fail() {
    echo "FAILED: $*"
    exit 1
}

case ${1:-} in
reproducible)
    source_dir=$2 arch=$3
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-repro-XXXXXX")
    trap 'rm -rf "$scratch"' EXIT
    for folder in first "second folder"; do
        cmake --preset "$arch" -S "$source_dir" -B "$scratch/$folder" -DVELMORA_BUILD_TESTS=OFF >/dev/null
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
    build_dir=$2 version=$3 arch=$4
    rm -rf "$build_dir/package"
    (cd "$build_dir" && cpack -G ZIP >/dev/null)
    archive="$build_dir/package/Velmora-$version-$arch.zip"
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
script)
    source_dir=$2 version=$3 homepage=$4
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-release-test-XXXXXX")
    tsa_pid=""
    trap '[ -z "$tsa_pid" ] || kill "$tsa_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
    python=/usr/bin/python3

    # Unsigned, to be published at a URL of the caller's (its closing slash is dropped).
    url=https://downloads.example.invalid/velmora
    VELMORA_RELEASE_URL="$url/" sh "$source_dir/scripts/release.sh" "$scratch/unsigned" >"$scratch/unsigned.log" 2>&1 ||
        { cat "$scratch/unsigned.log"; fail "release.sh, unsigned"; }
    grep -q '^Not signed' "$scratch/unsigned.log" || fail "release.sh did not say that nothing was signed"
    "$python" "$source_dir/tests/check_manifests.py" "$scratch/unsigned" "$version" "$url" "$homepage" ||
        fail "the unsigned release's sums or manifests"
    (cd "$scratch/unsigned" && sha256sum --quiet -c SHA256SUMS) || fail "sha256sum -c SHA256SUMS"
    for arch in win32 win64; do
        zip="$scratch/unsigned/Velmora-$version-$arch.zip"
        sh "$source_dir/scripts/check-release.sh" "$zip" >"$scratch/check.log" 2>&1 ||
            { cat "$scratch/check.log"; fail "check-release.sh does not recognise $zip"; }
    done

    # One byte changed in the program, and the check says so.
    mkdir "$scratch/tampered"
    (cd "$scratch/tampered" && unzip -q "$scratch/unsigned/Velmora-$version-win64.zip" &&
        printf 'X' | dd of=Velmora.exe bs=1 seek=2000 conv=notrunc 2>/dev/null &&
        zip -q -X "../Velmora-$version-win64.zip" Velmora.exe README.md LICENSE)
    if sh "$source_dir/scripts/check-release.sh" "$scratch/Velmora-$version-win64.zip" >"$scratch/check.log" 2>&1; then
        cat "$scratch/check.log"
        fail "check-release.sh took a changed program for the build"
    fi
    grep -q '^DIFFERENT' "$scratch/check.log" || { cat "$scratch/check.log"; fail "check-release.sh said no DIFFERENT"; }

    # Signed with a throwaway self-signed certificate, time-stamped by a
    # throwaway time-stamping service.
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Velmora test signer" \
        -addext "extendedKeyUsage=codeSigning" -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null ||
        fail "openssl req"
    openssl pkcs12 -export -inkey "$scratch/key.pem" -in "$scratch/cert.pem" -passout pass:throwaway \
        -out "$scratch/signer.p12" || fail "openssl pkcs12"
    mkdir "$scratch/tsa"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Velmora test time stamps" \
        -addext "extendedKeyUsage=critical,timeStamping" -keyout "$scratch/tsa/tsa.key" \
        -out "$scratch/tsa/tsa.pem" 2>/dev/null || fail "openssl req, time stamps"
    echo 01 >"$scratch/tsa/serial"
    printf '%s\n' '[ tsa ]' 'default_tsa = tsa_config' '[ tsa_config ]' 'serial = ./serial' \
        'crypto_device = builtin' 'signer_digest = sha256' 'default_policy = 1.2.3.4.1' \
        'digests = sha256, sha384, sha512' 'accuracy = secs:1' 'ordering = yes' 'tsa_name = yes' \
        'ess_cert_id_chain = no' 'ess_cert_id_alg = sha256' >"$scratch/tsa/tsa.cnf"
    "$python" "$source_dir/tests/tsa.py" "$scratch/tsa" 600 &
    tsa_pid=$!
    for _ in 1 2 3 4 5 6 7 8 9 10; do [ -e "$scratch/tsa/port" ] || sleep 1; done
    [ -e "$scratch/tsa/port" ] || fail "the time-stamping service did not start"
    VELMORA_SIGN_PKCS12="$scratch/signer.p12" VELMORA_SIGN_PASSWORD=throwaway \
        VELMORA_SIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat "$scratch/tsa/port")/" \
        sh "$source_dir/scripts/release.sh" "$scratch/signed" >"$scratch/signed.log" 2>&1 ||
        { cat "$scratch/signed.log"; fail "release.sh, signed"; }
    grep -q "^Signed with $scratch/signer.p12" "$scratch/signed.log" || fail "release.sh did not say it signed"
    "$python" "$source_dir/tests/check_manifests.py" "$scratch/signed" "$version" \
        "$homepage/releases/download/v$version" "$homepage" || fail "the signed release's sums or manifests"
    for arch in win32 win64; do
        zip="$scratch/signed/Velmora-$version-$arch.zip"
        unzip -p "$zip" Velmora.exe >"$scratch/signed.exe"
        osslsigncode verify -CAfile "$scratch/cert.pem" -TSA-CAfile "$scratch/tsa/tsa.pem" \
            -in "$scratch/signed.exe" >"$scratch/verify.log" 2>&1 ||
            { cat "$scratch/verify.log"; fail "the signature of $arch's Velmora.exe does not verify"; }
        grep -q 'Message digest algorithm *: SHA256' "$scratch/verify.log" ||
            { cat "$scratch/verify.log"; fail "$arch's signature is not SHA-256"; }
        grep -q 'Timestamp Server Signature verification: ok' "$scratch/verify.log" ||
            { cat "$scratch/verify.log"; fail "$arch's signature carries no valid time stamp"; }
        osslsigncode remove-signature -in "$scratch/signed.exe" -out "$scratch/stripped.exe" >/dev/null ||
            fail "osslsigncode remove-signature"
        unzip -p "$scratch/unsigned/Velmora-$version-$arch.zip" Velmora.exe | cmp - "$scratch/stripped.exe" ||
            fail "$arch: the signed Velmora.exe less its signature is not the unsigned build"
        sh "$source_dir/scripts/check-release.sh" "$zip" >"$scratch/check.log" 2>&1 ||
            { cat "$scratch/check.log"; fail "check-release.sh does not recognise $zip"; }
        rm -f "$scratch/stripped.exe"
    done
    echo "ok: release.sh made both archives, sums and manifests, unsigned and signed with a time stamp"
    ;;
*)
    echo "usage: $0 reproducible SOURCE_DIR ARCH | archive BUILD_DIR VERSION ARCH | script SOURCE_DIR VERSION HOMEPAGE" >&2
    exit 2
    ;;
esac
