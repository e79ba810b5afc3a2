#!/bin/sh
# The per-machine MSI under Wine, in the 64-bit prefix WINEPREFIX names: built
# twice to the same bytes; its tables; installed silently (the files in
# C:\Program Files\Velmora, the folder on the system PATH, the entry in Programs
# and Features, the event source Velmora with VelmoraState.exe's message table in
# place of the key eventcreate made); Velmora -G run by name from a new process,
# which finds it on that PATH; a newer version installed over it (one entry, the
# new files); an older one refused with nothing changed; and removed with
# nothing left. Then an earlier package whose startup.cmd holds a machine's
# sizes, upgraded by this one and a newer one: this release's startup.cmd finds
# the sizes the earlier one logged.
#
# Usage: test_msi.sh FACTS STAGE VERSION WINE_SH
#   FACTS is the build's release facts, STAGE its staged tree, whose files the
#   packages hold, and VERSION the build's version
set -eu
export LC_ALL=C

fail() {
    echo "FAILED: $*"
    exit 1
}

[ $# -eq 4 ] || { sh "$(dirname "$0")/../../scripts/usage.sh" "$0" >&2; exit 2; }
facts=$1 stage=$2 version=$3 wine=$4
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
: "${WINEPREFIX:?WINEPREFIX names the Wine prefix}"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-msi-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
exe="$stage/Velmora.exe"
program_dir="$WINEPREFIX/drive_c/Program Files/Velmora"
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
environment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
event_source='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Velmora'
major=${version%%.*}
newer="$((major + 1)).0.0"

# package VERSION NAME [README_LINE [HOMEPAGE]]: builds Velmora-VERSION-x64.msi as
# NAME from the build's staged tree, its README with one more line (to tell two
# packages' files apart), for the project's homepage or another.
package() {
    files="$scratch/files-$2"
    rm -rf "$files"
    cp -R "$stage" "$files"
    printf '%s\n' "${3:-}" >>"$files/README.md"
    # Files of another time, as another clone has them.
    [ "$2" != second.msi ] || touch -d 2001-01-01 "$files"/*
    # The facts of a release of that version.
    sed "s/^set(VERSION .*/set(VERSION [==[$1]==])/" "$facts" >"$scratch/facts-$2.cmake"
    SOURCE_DATE_EPOCH=1765238400 cmake -D "FACTS=$scratch/facts-$2.cmake" -D "STAGE=$files" \
        -D "HOMEPAGE=${4:-https://velmora.example.org}" -D "MSI=$scratch/$2" -P "$source_dir/packaging/ReleaseMsi.cmake" \
        >"$scratch/build.log" 2>&1 || { cat "$scratch/build.log"; fail "ReleaseMsi.cmake $1"; }
}

# property MSI NAME: a value of the package's Property table.
property() {
    msiinfo export "$1" Property | tr -d '\r' | awk -F '\t' -v name="$2" '$1 == name { print $2 }'
}

# entries: the product codes in Programs and Features that are Velmora's.
entries() {
    "$wine" reg query "$uninstall" /s 2>/dev/null | tr -d '\r' |
        awk '/^HKEY/ { key = $0 } /DisplayName +REG_SZ +Velmora$/ { print key }' | sed 's/.*\\//'
}

value() {
    "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

msiexec() {
    (cd "$scratch" && "$wine" msiexec "$@" </dev/null >"$scratch/msiexec.log" 2>&1) && echo 0 || echo $?
}

# refused WHY [PROPERTY...]: msiexec /i first.msi with the properties is refused
# (1603, of which Linux sees the low 8 bits).
refused() {
    why=$1
    shift
    code=$(msiexec /i first.msi /qn "$@")
    [ "$code" = $((1603 & 255)) ] || { cat "$scratch/msiexec.log"; fail "$why was not refused: exit code $code"; }
}

# eventcreate_source: the key eventcreate makes for a source of its own, as an
# earlier startup script left it.
eventcreate_source() {
    "$wine" reg add "$event_source" /v CustomSource /t REG_DWORD /d 1 /f >/dev/null 2>&1
    "$wine" reg add "$event_source" /v EventMessageFile /t REG_EXPAND_SZ /d '%SystemRoot%\System32\EventCreate.exe' \
        /f >/dev/null 2>&1
}

# expect_event_source WHEN: the source Velmora is the package's: its message file
# VelmoraState.exe (REG_EXPAND_SZ), its three types, and nothing of eventcreate's.
expect_event_source() {
    values=$("$wine" reg query "$event_source" 2>/dev/null | tr -d '\r' | sed -n 's/^    //p' | tr -s ' ' | sort | tr '\n' ';')
    [ "$values" = "EventMessageFile REG_EXPAND_SZ C:\Program Files\Velmora\VelmoraState.exe;TypesSupported REG_DWORD 0x7;" ] ||
        fail "$1: the event source holds: $values"
}

package "$version" first.msi
package "$version" second.msi
cmp "$scratch/first.msi" "$scratch/second.msi" || fail "two builds of the same files, copied at two times, differ"
package "$newer" newer.msi "Newer."
# The same files with another homepage: another package, with a code of its own.
package "$version" other-url.msi "" https://elsewhere.example.org

# The tables, as msiinfo reads them.
[ "$(property "$scratch/first.msi" ALLUSERS)" = 1 ] || fail "ALLUSERS is not 1"
[ "$(property "$scratch/first.msi" ProductVersion)" = "$version" ] || fail "ProductVersion is not $version"
[ "$(property "$scratch/first.msi" ARPNOMODIFY)" = 1 ] || fail "ARPNOMODIFY is not 1"
upgrade=$(property "$scratch/first.msi" UpgradeCode)
[ "$upgrade" = "$(property "$scratch/newer.msi" UpgradeCode)" ] || fail "the UpgradeCode changes with the version"
package_code() {
    msiinfo suminfo "$1" | sed -n 's/^Revision number (UUID): //p'
}
[ "$(package_code "$scratch/first.msi")" != "$(package_code "$scratch/other-url.msi")" ] ||
    fail "two packages that differ in their homepage share the package code $(package_code "$scratch/first.msi")"
[ "$(package_code "$scratch/first.msi")" = "$(package_code "$scratch/second.msi")" ] ||
    fail "one tree built twice gives two package codes"
product=$(property "$scratch/first.msi" ProductCode)
newer_product=$(property "$scratch/newer.msi" ProductCode)
[ "$product" != "$newer_product" ] || fail "the ProductCode does not change with the version"
msiinfo export "$scratch/first.msi" Environment | tr -d '\r' | grep -q "^PATH	=-\*PATH	\[~\];\[INSTALLDIR\]	Velmora.exe$" ||
    fail "no Environment row that puts the folder on the system PATH"
# A removal, and not an upgrade, deletes the startup task, whose program goes: a
# deferred action that runs schtasks as SYSTEM and ignores its failure. (Wine's
# task scheduler service writes and removes tasks in its own time, too late for
# a check here to see; the rows are what Windows Installer runs.)
task_name=$(sed -n "s/^\$script:TaskName = '\(.*\)'$/\1/p" "$source_dir/powershell/Velmora/Private/Windows.ps1")
[ "$(msiinfo export "$scratch/first.msi" CustomAction | tr -d '\r' | awk -F '\t' '$1 == "RemoveStartupTask" { print $2 "|" $3 "|" $4 }')" = \
  "3170|TARGETDIR|\"[System64Folder]schtasks.exe\" /Delete /TN \"$task_name\" /F" ] ||
    fail "no deferred, unimpersonated action that deletes the task '$task_name' and ignores its failure"
msiinfo export "$scratch/first.msi" InstallExecuteSequence | tr -d '\r' | awk -F '\t' '
    $1 == "InstallInitialize" { first = $3 } $1 == "InstallFinalize" { last = $3 }
    $1 == "RemoveStartupTask" { condition = $2; at = $3 }
    END { exit !(condition == "REMOVE=\"ALL\" AND NOT UPGRADINGPRODUCTCODE" && at > first && at < last) }' ||
    fail "the task's deletion is not sequenced for a removal alone, inside the script"
# A folder outside Program Files is locked as Program Files is, when the folder
# is made (Wine applies no permissions: the rows are what Windows Installer
# runs): SYSTEM and Administrators full control, Users read and run, nothing
# inherited from the drive, which lets every user write.
msiinfo export "$scratch/first.msi" CreateFolder | tr -d '\r' | grep -q "^INSTALLDIR	Velmora.exe$" ||
    fail "the install folder is not a folder the package creates, which its lock needs"
[ "$(msiinfo export "$scratch/first.msi" MsiLockPermissionsEx | tr -d '\r' | awk -F '\t' '$2 == "INSTALLDIR" { print $3 "|" $4 "|" $5 }')" = \
  "CreateFolder|D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)|NOT (INSTALLDIR ~<< ProgramFiles64Folder)" ] ||
    fail "the install folder outside Program Files is not locked to SYSTEM and Administrators"
msiinfo export "$scratch/first.msi" InstallExecuteSequence | tr -d '\r' | grep -q "^CreateFolders		3700$" ||
    fail "CreateFolders, which applies the lock, is not sequenced"
# Each program with its version and language, and no hash row: versioned files.
for program in Velmora.exe VelmoraState.exe; do
    row=$(msiinfo export "$scratch/first.msi" File | tr -d '\r' | awk -F '\t' -v file="$program" '$1 == file { print $5 " " $6 }')
    [ "$row" = "$version.0 1033" ] || fail "the File table gives $program the version and language '$row', not '$version.0 1033'"
    if msiinfo export "$scratch/first.msi" MsiFileHash | tr -d '\r' | grep -q "^$program	"; then
        fail "$program, a versioned file, has a row in MsiFileHash"
    fi
done
[ "$(msiinfo export "$scratch/first.msi" Feature | tr -d '\r' | awk -F '\t' '$1 == "Velmora" { print $8 }')" = 24 ] ||
    fail "the feature's attributes are not 24 (never advertised, never absent)"
msiinfo export "$scratch/first.msi" LaunchCondition | tr -d '\r' | grep -q "^ALLUSERS=1 AND NOT MSIINSTALLPERUSER=1	" ||
    fail "no launch condition that refuses a per-user install"
# A run that failed half-way may have left a Velmora installed in the prefix.
for left in $(entries); do
    msiexec /x "$left" /qn >/dev/null
done
[ -z "$(entries)" ] || fail "Velmora is still installed before the test: $(entries)"
rm -rf "$program_dir"

# A per-user install is refused (1603), and nothing is installed. msiexec reads
# ALLUSERS="" as the property made empty.
refused_per_user() {
    refused "msiexec /i first.msi $*" "$@"
    [ -z "$(entries)" ] && [ ! -e "$program_dir" ] || fail "msiexec /i first.msi $* left Velmora installed"
}
refused_per_user ALLUSERS=2 MSIINSTALLPERUSER=1
refused_per_user 'ALLUSERS=""'

# Over a folder that an archive filled, the package is refused (1603), and the
# folder stays as it was: one owner for %ProgramFiles%\Velmora.
mkdir -p "$program_dir"
cp "$exe" "$(dirname "$exe")/VelmoraState.exe" "$program_dir/"
refused "msiexec /i over an archive's Velmora.exe"
[ -z "$(entries)" ] || fail "the package refused over an archive's files left an entry: $(entries)"
[ "$(ls "$program_dir" | tr '\n' ' ')" = "Velmora.exe VelmoraState.exe " ] || fail "the refused package changed the archive's folder"
rm -rf "$program_dir"

# Installed silently, on a machine where an earlier startup script made the
# event source with eventcreate.
eventcreate_source
[ "$(msiexec /i first.msi /qn)" = 0 ] || { cat "$scratch/msiexec.log"; fail "msiexec /i first.msi /qn"; }
[ "$(ls "$program_dir" | tr '\n' ' ')" = "LICENSE README.md Velmora.exe VelmoraStartupTask.xml VelmoraState.exe record.ps1 restore.ps1 startup.cmd velmora.dsc.resource.json " ] ||
    fail "C:\\Program Files\\Velmora holds: $(ls "$program_dir" | tr '\n' ' ')"
cmp "$exe" "$program_dir/Velmora.exe" || fail "the installed Velmora.exe is not the one packed"
value "$environment" PATH | grep -q -i -F 'C:\Program Files\Velmora' || fail "the folder is not on the system PATH"
expect_event_source "installed"
[ "$(value 'HKLM\SOFTWARE\Velmora\Installer' Folder)" = "C:\\Program Files\\Velmora\\" ] ||
    fail "HKLM\SOFTWARE\Velmora\Installer: Folder is '$(value 'HKLM\SOFTWARE\Velmora\Installer' Folder)'"
[ "$(entries)" = "$product" ] || fail "Programs and Features: expected $product, got $(entries)"
key="$uninstall\\$product"
for expected in "DisplayName=Velmora" "DisplayVersion=$version" "Publisher=The Velmora developers" \
    "URLInfoAbout=https://velmora.example.org" "HelpLink=https://velmora.example.org" "NoModify=0x1" \
    "InstallLocation=C:\\Program Files\\Velmora\\" "Contact=The Velmora developers"; do
    [ "$(value "$key" "${expected%%=*}")" = "${expected#*=}" ] ||
        fail "Programs and Features: ${expected%%=*} is '$(value "$key" "${expected%%=*}")', not '${expected#*=}'"
done

# A new process finds Velmora by name on the system PATH. Wine has no file cache
# limits: its GetSystemFileCacheSize fails with 120, and Velmora says so in its
# report line. Wine's start runs it: Wine's cmd /c ran a program found in
# "C:\Program Files\Velmora" with no output and exit code 0 when tried here.
(cd "$scratch" && "$wine" start /wait /b Velmora -G </dev/null >"$scratch/get.out" 2>&1) && code=0 || code=$?
grep -q '^main\.cpp:[0-9]*: GetSystemFileCacheSize(120): ' "$scratch/get.out" ||
    { cat "$scratch/get.out"; fail "Velmora -G by name did not run the installed program"; }
[ "$code" = 1 ] || fail "Velmora -G by name: exit code $code"

# A repair, as the guide runs it for a second build of one version, goes by the
# file-version rule: a Velmora.exe of a higher version in the folder is kept, one
# of a lower version is replaced by the package's.
for case in 9.0.0.0:kept 0.9.0.0:replaced; do
    /usr/bin/python3 - "$exe" "$scratch/other-version.exe" "${case%:*}" <<'PY'
import sys
source, target, version = sys.argv[1], sys.argv[2], [int(part) for part in sys.argv[3].split(".")]
image = bytearray(open(source, "rb").read())
# VS_FIXEDFILEINFO: its signature, its structure version, then the file version's two DWORDs.
at = image.index(bytes.fromhex("bd04effe"))
image[at + 8:at + 16] = ((version[0] << 16) | version[1]).to_bytes(4, "little") + \
    ((version[2] << 16) | version[3]).to_bytes(4, "little")
open(target, "wb").write(image)
PY
    cp "$scratch/other-version.exe" "$program_dir/Velmora.exe"
    [ "$(msiexec /i first.msi /qn REINSTALL=ALL REINSTALLMODE=vomus)" = 0 ] ||
        { cat "$scratch/msiexec.log"; fail "the repair over a Velmora.exe of version ${case%:*}"; }
    if cmp -s "$scratch/other-version.exe" "$program_dir/Velmora.exe"; then got=kept; else got=replaced; fi
    [ "$got" = "${case#*:}" ] || fail "the repair $got a Velmora.exe of version ${case%:*}, not ${case#*:}"
done
cmp "$exe" "$program_dir/Velmora.exe" || fail "after the repairs, the installed Velmora.exe is not the one packed"

# A newer version replaces it: one entry, the new files.
[ "$(msiexec /i newer.msi /qn)" = 0 ] || { cat "$scratch/msiexec.log"; fail "msiexec /i newer.msi /qn"; }
[ "$(entries)" = "$newer_product" ] || fail "after the upgrade, Programs and Features holds: $(entries)"
tail -n 1 "$program_dir/README.md" | grep -q '^Newer\.$' || fail "the upgrade left the older files"

# An older one is refused, and nothing changes.
refused "the older package"
[ "$(entries)" = "$newer_product" ] || fail "after the refused downgrade, Programs and Features holds: $(entries)"
tail -n 1 "$program_dir/README.md" | grep -q '^Newer\.$' || fail "the refused downgrade changed the files"

# Removed: no file, no entry, no PATH entry.
[ "$(msiexec /x "$newer_product" /qn)" = 0 ] || { cat "$scratch/msiexec.log"; fail "msiexec /x $newer_product /qn"; }
[ ! -e "$program_dir" ] || fail "files are left: $(ls "$program_dir")"
[ -z "$(entries)" ] || fail "Programs and Features still holds $(entries)"
if value "$environment" PATH | grep -q -i -F 'Velmora'; then
    fail "the PATH still names Velmora: $(value "$environment" PATH)"
fi
"$wine" reg query "$event_source" >/dev/null 2>&1 && fail "the event source is left after removal"
"$wine" reg query 'HKLM\SOFTWARE\Velmora' >/dev/null 2>&1 && fail "HKLM\SOFTWARE\Velmora is left after removal"

# An earlier package, whose startup.cmd an earlier task runs with the sizes its
# Register-VelmoraStartupTask wrote there, and which logged each run in
# %ProgramData%\Velmora\startup.log: upgraded by this one and then by a newer
# one, the folder holds this release's startup.cmd, beside this release's
# programs. Run there, it finds the logged sizes: VelmoraState then meets Wine's
# cache calls, which fail (exit code 4), where a log without sizes gives 1.
mkdir -p "$scratch/files-earlier"
cp "$exe" "$source_dir/admin/tests/earlier/startup.cmd" "$scratch/files-earlier/"
(cd "$scratch/files-earlier" && wixl -a x64 -o "$scratch/earlier.msi" "$source_dir/packaging/tests/earlier/Velmora.wxs") \
    >"$scratch/build.log" 2>&1 || { cat "$scratch/build.log"; fail "wixl: the earlier package"; }
eventcreate_source
[ "$(msiexec /i earlier.msi /qn)" = 0 ] || { cat "$scratch/msiexec.log"; fail "msiexec /i earlier.msi /qn"; }
sed -i 's/-S 512 4096/-S 300 3000/' "$program_dir/startup.cmd"
log="$WINEPREFIX/drive_c/ProgramData/Velmora/startup.log"
mkdir -p "$(dirname "$log")"
printf 'Wed 12/09/2026  6:00:01.25 Velmora -S 300 3000: exit code 0\r\n' >"$log"
for upgrade in first.msi newer.msi; do
    [ "$(msiexec /i $upgrade /qn)" = 0 ] || { cat "$scratch/msiexec.log"; fail "msiexec /i $upgrade /qn over the earlier one"; }
    cmp "$source_dir/admin/startup.cmd" "$program_dir/startup.cmd" ||
        fail "$upgrade over the earlier package: startup.cmd is not this release's"
    for program in Velmora.exe VelmoraState.exe; do
        [ -f "$program_dir/$program" ] || fail "$upgrade over the earlier package: no $program beside startup.cmd"
    done
    expect_event_source "$upgrade over the earlier package"
done
[ "$(entries)" = "$newer_product" ] || fail "after the upgrades from the earlier package, Programs and Features holds: $(entries)"
printf '@"C:\\Program Files\\Velmora\\startup.cmd"\r\n' >"$scratch/task.cmd"
run_task() {
    (cd "$scratch" && "$wine" cmd /c task.cmd </dev/null >"$scratch/task.log" 2>&1) && echo 0 || echo $?
}
[ "$(run_task)" = 4 ] || { cat "$scratch/task.log"; fail "the upgraded startup.cmd did not find the logged sizes"; }
rm "$log"
[ "$(run_task)" = 1 ] || { cat "$scratch/task.log"; fail "the upgraded startup.cmd with no log did not refuse"; }
[ "$(msiexec /x "$newer_product" /qn)" = 0 ] || { cat "$scratch/msiexec.log"; fail "msiexec /x $newer_product /qn"; }
[ -z "$(entries)" ] || fail "Programs and Features still holds $(entries)"
[ ! -e "$program_dir" ] || fail "files are left: $(ls "$program_dir")"
# INSTALLDIR given once is kept: an upgrade without it goes to the same folder,
# which Programs and Features shows.
tools_dir="$WINEPREFIX/drive_c/Tools/Velmora"
rm -rf "$tools_dir"
[ "$(msiexec /i first.msi /qn 'INSTALLDIR=C:\Tools\Velmora')" = 0 ] ||
    { cat "$scratch/msiexec.log"; fail "msiexec /i first.msi INSTALLDIR=C:\Tools\Velmora"; }
[ "$(msiexec /i newer.msi /qn)" = 0 ] || { cat "$scratch/msiexec.log"; fail "msiexec /i newer.msi over a custom folder"; }
tail -n 1 "$tools_dir/README.md" 2>/dev/null | grep -q '^Newer\.$' || fail "the upgrade did not go to the folder given at first"
[ ! -e "$program_dir" ] || fail "the upgrade installed into Program Files too: $(ls "$program_dir")"
[ "$(value "$uninstall\\$newer_product" InstallLocation)" = 'C:\Tools\Velmora\' ] ||
    fail "Programs and Features gives the install location '$(value "$uninstall\\$newer_product" InstallLocation)'"
[ "$(msiexec /x "$newer_product" /qn)" = 0 ] || { cat "$scratch/msiexec.log"; fail "msiexec /x $newer_product /qn"; }
[ ! -e "$tools_dir" ] || fail "files are left in the custom folder: $(ls "$tools_dir")"

echo "ok: built twice alike; installed, found on PATH, upgraded, refused a downgrade and removed; an earlier package upgraded twice, its task's sizes found; a custom folder kept by an upgrade"
