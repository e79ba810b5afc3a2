#!/bin/sh
# Tests of how Velmora is released, for a Windows build (ARCH: win32 or win64).
#
# Usage:
#   test_release.sh reproducible SOURCE_DIR ARCH
#       two release builds of ARCH in two folders give the same Velmora.exe and
#       VelmoraState.exe, byte for byte, with no build path inside
#   test_release.sh archive BUILD_DIR ARCH
#       the release archive that the build packs (its target VelmoraArchive)
#       holds exactly the two programs, README.md, LICENSE
#       and the administrator's files (and for win64 the DSC 3 resource's
#       manifest), each with the one time and the permissions a release gives them
#   test_release.sh script SOURCE_DIR VERSION HOMEPAGE
#       packaging/release.sh refuses URLs that never resolve, makes a trial release
#       with them when told to, makes the same bytes from two clones at two times,
#       signs with a throwaway certificate time-stamped by a service on loopback;
#       packaging/check-release.sh recognises each archive, the MSI and the Chocolatey
#       package, signed or not, and no changed one
set -eu

fail() {
    echo "FAILED: $*"
    exit 1
}

# expect_signed WHAT FILE [UNSIGNED]: the Authenticode signature of FILE verifies
# against the throwaway certificate, is SHA-256, and carries a valid time stamp
# of the service on loopback; given UNSIGNED, FILE less its signature is that file.
expect_signed() {
    what=$1 file=$2
    osslsigncode verify -CAfile "$scratch/cert.pem" -TSA-CAfile "$scratch/tsa/tsa.pem" -in "$file" \
        >"$scratch/verify.log" 2>&1 || { cat "$scratch/verify.log"; fail "the signature of $what does not verify"; }
    grep -q 'Message digest algorithm *: SHA256' "$scratch/verify.log" ||
        { cat "$scratch/verify.log"; fail "the signature of $what is not SHA-256"; }
    grep -q 'Timestamp Server Signature verification: ok' "$scratch/verify.log" ||
        { cat "$scratch/verify.log"; fail "the signature of $what carries no valid time stamp"; }
    if [ -n "${3:-}" ]; then
        rm -f "$scratch/stripped"
        osslsigncode remove-signature -in "$file" -out "$scratch/stripped" >/dev/null &&
            cmp -s "$scratch/stripped" "$3" || fail "$what less its signature is not the unsigned one"
    fi
}

case ${1:-} in
reproducible)
    source_dir=$2 arch=$3
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-repro-XXXXXX")
    trap 'rm -rf "$scratch"' EXIT
    for folder in first "second folder"; do
        sh "$source_dir/packaging/build-release.sh" "$arch" "$scratch/$folder" >/dev/null ||
            fail "build-release.sh $arch"
    done
    for program in Velmora.exe VelmoraState.exe; do
        cmp "$scratch/first/$program" "$scratch/second folder/$program" ||
            fail "two builds of the same source give two $program"
        for path in "$scratch" "$source_dir"; do
            if grep -q -F -- "$path" "$scratch/first/$program"; then
                fail "$program holds the path $path"
            fi
        done
        echo "ok: both builds of $program are $(sha256sum <"$scratch/first/$program" | cut -c1-64)"
    done
    ;;
archive)
    build_dir=$2 arch=$3
    rm -rf "$build_dir/package"
    # The commit's time, as a release takes it where SOURCE_DATE_EPOCH is not set.
    epoch=$(git -C "$(dirname "$0")" log -1 --format=%ct)
    env -u SOURCE_DATE_EPOCH cmake --build "$build_dir" --target VelmoraArchive >/dev/null ||
        fail "cmake --build --target VelmoraArchive"
    archive=$(. "$build_dir/release.env" && echo "$ARCHIVE")
    listed=$(unzip -Z1 "$archive" | LC_ALL=C sort | tr '\n' ' ')
    # No startup.cmd: unpacked over a folder where an earlier task runs its own,
    # the archive leaves that script and its sizes as they are.
    expected="LICENSE README.md Velmora.exe VelmoraStartupTask.xml VelmoraState.exe record.ps1 restore.ps1 "
    # The 64-bit VelmoraState.exe has the DSC 3 resource's manifest beside it.
    [ "$arch" = win32 ] || expected="${expected}velmora.dsc.resource.json "
    [ "$listed" = "$expected" ] || fail "$archive holds: $listed"
    for program in Velmora.exe VelmoraState.exe; do
        unzip -p "$archive" "$program" | cmp - "$build_dir/$program" || fail "the archived $program is not the one built"
    done
    # Every entry: the commit's time, and the same permissions wherever it is packed.
    expected_time=$(TZ=UTC date -d "@$epoch" '+%y-%b-%d %H:%M')
    TZ=UTC unzip -Zs "$archive" | awk -v time="$expected_time" -v count="$(echo $expected | wc -w)" '
        NF >= 9 && $1 ~ /^-/ {
            entries++
            if ($7 " " $8 != time) { print "FAILED: " $NF " carries the time " $7 " " $8 ", not " time; bad = 1 }
            mode = ($NF ~ /\.exe$/) ? "-rwxr-xr-x" : "-rw-r--r--"
            if ($1 != mode) { print "FAILED: " $NF " has the permissions " $1 ", not " mode; bad = 1 }
        }
        END { if (entries != count) { print "FAILED: " entries " entries listed"; bad = 1 } exit bad }' ||
        exit 1
    echo "ok: $archive holds $listed at $expected_time UTC"
    ;;
script)
    source_dir=$2 version=$3 homepage=$4
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-release-test-XXXXXX")
    tsa_pid=""
    trap '[ -z "$tsa_pid" ] || kill "$tsa_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
    python=/usr/bin/python3
    # check_manifests.py RELEASE_DIR ...: the release's sums and manifests, with the
    # shared test helpers on Python's path.
    check_manifests() {
        PYTHONPATH="$source_dir/tests/support" "$python" "$source_dir/packaging/tests/check_manifests.py" "$@"
    }
    # The day the changelog gives the release, whatever the commit's time.
    release_date=$(sed -n "s/^## \[$version\] - \([0-9-]*\)$/\1/p" "$source_dir/CHANGELOG.md")
    [ -n "$release_date" ] || fail "CHANGELOG.md has no dated entry of $version"
    unset VELMORA_RELEASE_URL VELMORA_HOMEPAGE_URL VELMORA_SIGN_PKCS12 SOURCE_DATE_EPOCH

    # The project's homepage is on a .invalid host: without --trial, nothing is made.
    if sh "$source_dir/packaging/release.sh" "$scratch/refused" >"$scratch/refused.log" 2>&1; then
        cat "$scratch/refused.log"
        fail "release.sh made a release whose URLs never resolve"
    fi
    grep -q '^release.sh: VELMORA_HOMEPAGE_URL (.*) is on the host .*invalid, which never resolves' \
        "$scratch/refused.log" || { cat "$scratch/refused.log"; fail "release.sh did not say why it refused"; }
    [ ! -e "$scratch/refused" ] || fail "release.sh wrote $(ls "$scratch/refused") before refusing"

    # A trial release with those URLs, said to be for trying only, of a commit
    # made on another day than its release's.
    SOURCE_DATE_EPOCH=$(date -d 2026-01-15T12:00:00Z +%s) sh "$source_dir/packaging/release.sh" --trial \
        "$scratch/trial" >"$scratch/trial.log" 2>&1 || { cat "$scratch/trial.log"; fail "release.sh --trial"; }
    grep -q "^TRIAL: CHANGELOG.md is not checked" "$scratch/trial.log" ||
        { cat "$scratch/trial.log"; fail "release.sh --trial did not say it skipped the changelog's check"; }
    grep -q '^TRIAL: these manifests are for trying only' "$scratch/trial.log" ||
        { cat "$scratch/trial.log"; fail "release.sh --trial did not say the release is for trying only"; }
    grep -q 'git tag' "$scratch/trial.log" && fail "release.sh --trial asked for the commit to be tagged"
    check_manifests "$scratch/trial" "$version" \
        "$homepage/releases/download/v$version" "$homepage" "$release_date" || fail "the trial release's manifests"

    export VELMORA_RELEASE_URL="https://downloads.velmora.example.org/v$version/"
    export VELMORA_HOMEPAGE_URL="https://velmora.example.org/"
    url=https://downloads.velmora.example.org/v$version

    # A release whose changelog does not say what it is, as its undated entry or
    # changes listed as unreleased leave it, is refused, and nothing is made.
    git clone -q "$source_dir" "$scratch/undated clone" || fail "git clone"
    changelog="$scratch/undated clone/CHANGELOG.md"
    cp "$changelog" "$scratch/CHANGELOG.md"
    for case in "no date" "unreleased changes"; do
        cp "$scratch/CHANGELOG.md" "$changelog"
        if [ "$case" = "no date" ]; then
            sed -i "s/^## \[$version\] - .*/## [$version]/" "$changelog"
            why="CHANGELOG.md gives $version no date"
        else
            sed -i 's/^## \[Unreleased\]$/&\n\n### Fixed\n- Something not yet released./' "$changelog"
            why="CHANGELOG.md lists changes under \[Unreleased\]"
        fi
        cmp -s "$changelog" "$scratch/CHANGELOG.md" && fail "the changelog with $case is the one released"
        if sh "$scratch/undated clone/packaging/release.sh" "$scratch/undated" >"$scratch/undated.log" 2>&1; then
            cat "$scratch/undated.log"
            fail "release.sh made a release whose changelog has $case"
        fi
        grep -q "^release.sh: $why" "$scratch/undated.log" ||
            { cat "$scratch/undated.log"; fail "release.sh did not say why it refused a changelog with $case"; }
        [ ! -e "$scratch/undated" ] || fail "release.sh wrote $(ls "$scratch/undated") before refusing"
    done

    # A real release, from two clones of the commit a few seconds apart: the same bytes.
    git clone -q "$source_dir" "$scratch/first clone" || fail "git clone"
    sleep 2
    git clone -q "$source_dir" "$scratch/second clone" || fail "git clone"
    # What an earlier release left in the output folder does not stay.
    mkdir "$scratch/first"
    : >"$scratch/first/Velmora-0.9.0-win64.zip"
    for clone in first second; do
        sh "$scratch/$clone clone/packaging/release.sh" "$scratch/$clone" >"$scratch/$clone.log" 2>&1 ||
            { cat "$scratch/$clone.log"; fail "release.sh in the $clone clone"; }
        grep -q '^Not signed' "$scratch/$clone.log" || fail "release.sh did not say that nothing was signed"
        sleep 1
    done
    [ ! -e "$scratch/first/Velmora-0.9.0-win64.zip" ] || fail "release.sh left an earlier release's file"
    diff -r "$scratch/first" "$scratch/second" || fail "two releases of one commit differ"
    check_manifests "$scratch/first" "$version" "$url" \
        "https://velmora.example.org" "$release_date" || fail "the release's manifests"
    (cd "$scratch/first" && sha256sum --quiet -c SHA256SUMS) || fail "sha256sum -c SHA256SUMS"
    for file in "Velmora-$version-win32.zip" "Velmora-$version-win64.zip" "Velmora-$version-x64.msi" \
        "velmora.$version.nupkg"; do
        # Named as a file of the folder it runs in.
        (cd "$scratch/first" && sh "$scratch/first clone/packaging/check-release.sh" "$file") >"$scratch/check.log" 2>&1 ||
            { cat "$scratch/check.log"; fail "check-release.sh does not recognise $file"; }
        grep -q '^SAME' "$scratch/check.log" || { cat "$scratch/check.log"; fail "check-release.sh said no SAME"; }
    done

    # One byte changed in the program, and in the archive only: the check says so.
    mkdir "$scratch/tampered"
    (cd "$scratch/tampered" && unzip -q "$scratch/first/Velmora-$version-win64.zip" &&
        printf 'X' | dd of=Velmora.exe bs=1 seek=2000 conv=notrunc 2>/dev/null &&
        zip -q -X "../Velmora-$version-win64.zip" Velmora.exe README.md LICENSE)
    cp "$scratch/first/Velmora-$version-win64.zip" "$scratch/tampered/"
    printf 'X' | dd of="$scratch/tampered/Velmora-$version-win64.zip" bs=1 seek=40 conv=notrunc 2>/dev/null
    # An MSI with one property changed.
    cp "$scratch/first/Velmora-$version-x64.msi" "$scratch/tampered/"
    msibuild "$scratch/tampered/Velmora-$version-x64.msi" -q \
        "UPDATE \`Property\` SET \`Value\` = '0' WHERE \`Property\` = 'ARPNOMODIFY'" || fail "msibuild"
    for changed in "$scratch/Velmora-$version-win64.zip" "$scratch/tampered/Velmora-$version-win64.zip" \
        "$scratch/tampered/Velmora-$version-x64.msi"; do
        if sh "$scratch/first clone/packaging/check-release.sh" "$changed" >"$scratch/check.log" 2>&1; then
            cat "$scratch/check.log"
            fail "check-release.sh took a changed file for the build: $changed"
        fi
        grep -q '^DIFFERENT' "$scratch/check.log" || { cat "$scratch/check.log"; fail "check-release.sh said no DIFFERENT"; }
    done

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
    "$python" "$source_dir/packaging/tests/tsa.py" "$scratch/tsa" 600 &
    tsa_pid=$!
    for _ in 1 2 3 4 5 6 7 8 9 10; do [ -e "$scratch/tsa/port" ] || sleep 1; done
    [ -e "$scratch/tsa/port" ] || fail "the time-stamping service did not start"
    VELMORA_SIGN_PKCS12="$scratch/signer.p12" VELMORA_SIGN_PASSWORD=throwaway \
        VELMORA_SIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat "$scratch/tsa/port")/" \
        sh "$scratch/first clone/packaging/release.sh" "$scratch/signed" >"$scratch/signed.log" 2>&1 ||
        { cat "$scratch/signed.log"; fail "release.sh, signed"; }
    grep -q "^Signed with $scratch/signer.p12" "$scratch/signed.log" || fail "release.sh did not say it signed"
    check_manifests "$scratch/signed" "$version" "$url" \
        "https://velmora.example.org" "$release_date" || fail "the signed release's sums or manifests"
    for arch in win32 win64; do
        zip="$scratch/signed/Velmora-$version-$arch.zip"
        # The programs, and the administrator's scripts, signed as the module's are.
        for file in Velmora.exe VelmoraState.exe record.ps1 restore.ps1; do
            unzip -p "$zip" "$file" >"$scratch/signed-$file"
            unzip -p "$scratch/first/Velmora-$version-$arch.zip" "$file" >"$scratch/unsigned-$file"
            expect_signed "$arch's $file" "$scratch/signed-$file" "$scratch/unsigned-$file"
        done
        sh "$scratch/first clone/packaging/check-release.sh" "$zip" >"$scratch/check.log" 2>&1 ||
            { cat "$scratch/check.log"; fail "check-release.sh does not recognise $zip"; }
        for program in Velmora.exe VelmoraState.exe; do
            grep -q "^The published $program is signed" "$scratch/check.log" ||
                { cat "$scratch/check.log"; fail "check-release.sh did not say it took the signature off $program"; }
        done
    done
    # The MSI, signed as the programs are; the Chocolatey package carries it so.
    # The check rebuilds both and compares them without signatures.
    msi="$scratch/signed/Velmora-$version-x64.msi"
    expect_signed "the MSI" "$msi"
    unzip -p "$scratch/signed/velmora.$version.nupkg" "tools/Velmora-$version-x64.msi" | cmp - "$msi" ||
        fail "the Chocolatey package does not carry the signed MSI"
    for file in "$msi" "$scratch/signed/velmora.$version.nupkg"; do
        sh "$scratch/first clone/packaging/check-release.sh" "$file" >"$scratch/check.log" 2>&1 ||
            { cat "$scratch/check.log"; fail "check-release.sh does not recognise the signed $file"; }
        for said in "The published Velmora.exe is signed" "The published MSI is signed" "SAME"; do
            grep -q "^$said" "$scratch/check.log" || { cat "$scratch/check.log"; fail "check-release.sh on $file said no '$said'"; }
        done
    done
    # The module's script, manifest and view, signed as the programs are; its
    # help text is not a file PowerShell checks.
    for file in Velmora.psm1 Velmora.psd1 Velmora.Format.ps1xml; do
        unzip -p "$scratch/signed/Velmora-$version-powershell.zip" "Velmora/$file" >"$scratch/$file"
        expect_signed "the module's $file" "$scratch/$file"
    done
    echo "ok: release.sh refused, made a trial, made the same bytes twice, and signed with a time stamp"
    ;;
*)
    sh "$(dirname "$0")/../../scripts/usage.sh" "$0" >&2
    exit 2
    ;;
esac
