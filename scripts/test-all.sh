#!/bin/sh
# Installs whatever the tests need and is missing, then runs every test: the
# simulated system as a 32-bit and as a 64-bit process, the first again with
# sanitizers, and the 32-bit and 64-bit Windows builds (file format, resources,
# release archive and script, reproducibility, and their behaviour under Wine),
# the PowerShell module's Pester suites, and every command block of the README
# and the development guide.
# Any part that cannot run fails the whole.
set -eu
cd "$(dirname "$0")/.."

packages="cmake ninja-build g++ git libgtest-dev nlohmann-json3-dev python3 python3-pefile python3-yaml
python3-jsonschema hyperfine zip unzip ansible g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386
qemu-user locales osslsigncode openssl wixl msitools shellcheck"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=""
for package in $packages; do
    dpkg -s "$package" >/dev/null 2>&1 || missing="$missing $package"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
    # A mirror caught mid-sync fails one index now and then: tried three times,
    # a minute apart, then the install goes on with the lists that did arrive,
    # and fails itself if a package is missing.
    for attempt in 1 2 3; do
        as_root apt-get update -q && break
        echo "apt-get update failed in part (attempt $attempt of 3)" >&2
        [ "$attempt" -eq 3 ] || sleep 60
    done
    # shellcheck disable=SC2086 # $missing is a list of package names, one word each
    if ! as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing; then
        # Where one architecture's index of the security archive did not arrive,
        # the two architectures' libraries cannot agree on a version: the
        # release's own packages, which both have, are taken instead.
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        echo "Installing again from $codename's own packages" >&2
        # shellcheck disable=SC2086 # $missing is a list of package names, one word each
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -t "$codename" $missing
    fi
fi

# The versions of PowerShell and Pester that the tests run with.
. scripts/tools.env

# PowerShell 7, the .NET tool, for the README's PowerShell blocks and the module's tests.
pwsh="$HOME/.dotnet/tools/pwsh"
if ! "$pwsh" -Version 2>/dev/null | grep -qx "PowerShell $POWERSHELL_VERSION"; then
    export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1
    dotnet tool install --global PowerShell --version "$POWERSHELL_VERSION" ||
        dotnet tool update --global PowerShell --version "$POWERSHELL_VERSION"
fi

# Pester, from its NuGet package, where PowerShell 7 finds the current user's modules.
pester_version=$PESTER_VERSION
pester_dir="$HOME/.local/share/powershell/Modules/Pester/$pester_version"
if [ ! -f "$pester_dir/Pester.psd1" ]; then
    pester_scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-pester-XXXXXX")
    printf '%s\n' '<Project Sdk="Microsoft.NET.Sdk">' \
        '  <PropertyGroup><TargetFramework>net10.0</TargetFramework></PropertyGroup>' \
        "  <ItemGroup><PackageDownload Include=\"Pester\" Version=\"[$pester_version]\" /></ItemGroup>" \
        '</Project>' >"$pester_scratch/pester.csproj"
    DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 \
        dotnet restore "$pester_scratch/pester.csproj" --packages "$pester_scratch/packages" >/dev/null
    mkdir -p "$pester_dir"
    cp -R "$pester_scratch/packages/pester/$pester_version/tools/." "$pester_dir/"
    rm -rf "$pester_scratch"
fi

# The Wine tests read the system's messages in French and in Russian.
for locale in fr_FR ru_RU; do
    locale -a | grep -qx "$locale.utf8" || as_root localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
done

# Wine runs a 32-bit program through its 32-bit loader. Where the kernel cannot
# start 32-bit x86 programs itself, they are handed to qemu's user-mode emulator.
if ! scripts/wine.sh --can-run-32; then
    binfmt=/proc/sys/fs/binfmt_misc
    [ -e "$binfmt/register" ] || as_root mount -t binfmt_misc binfmt_misc "$binfmt"
    if [ ! -e "$binfmt/qemu-i386" ]; then
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:OC' |
            as_root tee "$binfmt/register" >/dev/null
    fi
    scripts/wine.sh --can-run-32 || {
        echo "32-bit x86 programs cannot run here, not even through qemu-i386" >&2
        exit 1
    }
    echo "32-bit x86 programs run through qemu-i386 on this machine"
fi

cmake --workflow --preset sim
cmake --workflow --preset sim64
cmake --workflow --preset sim-asan
cmake --workflow --preset win64
cmake --workflow --preset win32
