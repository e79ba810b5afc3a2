# Puts back the file cache limits that record.ps1 wrote to
# %ProgramData%\Velmora\before.txt, without a restart, or says why only a
# restart can. Run it elevated from where it ships, beside Velmora.exe:
#   powershell -NoProfile -File "$env:ProgramFiles\Velmora\restore.ps1"
# A record comes back exactly only where both sizes are whole megabytes, the
# minimum is below the maximum and the flags are 0 or 5: -S with the sizes in
# megabytes, then -C where the flags were 0. Anything else, a missing record or
# a failed step stops the script with an error (exit code 1); at the end it
# shows what is in force. -Record and -Velmora name another record and another
# program.
param(
    [string] $Record = (Join-Path $env:ProgramData 'Velmora\before.txt'),
    [string] $Velmora = (Join-Path $PSScriptRoot 'Velmora.exe')
)
$ErrorActionPreference = 'Stop'
$line = Get-Content -LiteralPath $Record -TotalCount 1
if ($line -notmatch '^Success: GetSystemFileCacheSize\(Min:\[(\d{1,20})\], Max:\[(\d{1,20})\], Flags: (\d)\)$') {
    throw "$Record holds no line of Velmora -G: $line"
}
$min = [decimal]$Matches[1]; $max = [decimal]$Matches[2]; $flags = [int]$Matches[3]
if ($min % 1MB -or $max % 1MB) { throw "The recorded sizes are not whole megabytes: only a restart restores them" }
if ($min -ge $max) { throw "The recorded minimum is not below the maximum: only a restart restores it" }
if ($flags -ne 0 -and $flags -ne 5) { throw "The recorded flags $flags are one hard limit: only a restart restores them" }
$out = & $Velmora -S ($min / 1MB) ($max / 1MB)
if ($LASTEXITCODE -ne 0) { throw "Velmora -S failed with exit code ${LASTEXITCODE}: $out" }
if ($flags -eq 0) {
    $out = & $Velmora -C
    if ($LASTEXITCODE -ne 0) { throw "Velmora -C failed with exit code ${LASTEXITCODE}: $out" }
}
& $Velmora -G
