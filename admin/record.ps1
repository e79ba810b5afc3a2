# Records the system file cache limits in force, once, before Velmora first
# changes them: Velmora -G's line goes to %ProgramData%\Velmora\before.txt,
# which restore.ps1 reads. Run it elevated from where it ships, beside
# Velmora.exe:
#   powershell -NoProfile -File "$env:ProgramFiles\Velmora\record.ps1"
# An earlier record is kept, so running it again after a change keeps the
# values of before. When -G fails (the 32-bit program on 64-bit Windows: 534),
# nothing is written and the script stops with an error (exit code 1).
$ErrorActionPreference = 'Stop'
$Velmora = Join-Path $PSScriptRoot 'Velmora.exe'
$Record = Join-Path $env:ProgramData 'Velmora\before.txt'
if (Test-Path -LiteralPath $Record) {
    "Kept the earlier record: $(Get-Content -LiteralPath $Record)"
} else {
    $line = & $Velmora -G
    if ($LASTEXITCODE -ne 0) { throw "Velmora -G failed with exit code ${LASTEXITCODE}: $line" }
    Set-Content -LiteralPath $Record -Value $line -Encoding Ascii
    "Recorded: $line"
}
