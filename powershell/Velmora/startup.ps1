# Velmora's startup task where the sizes are shares of memory or the task
# repeats: applies the file cache limits as SYSTEM from %ProgramFiles%\Velmora,
# reading them first and setting them only where they differ, so that limits
# changed by anything else are put back. VelmoraState.exe beside it says what
# the wanted state comes to in whole megabytes on this machine at each run (a
# share of memory included), by the rules the DSC 3 resource and the module
# share. Writes one event to the
# Application log (source Velmora) and appends to startup.log in
# %ProgramData%\Velmora; ends with Velmora's exit code (0 where the limits were
# in place). Register-VelmoraStartupTask writes the line below.
$Wanted = @{ minimumMB = 256; maximumMB = 2048 }

$program = Join-Path $PSScriptRoot 'Velmora.exe'
$stateProgram = Join-Path $PSScriptRoot 'VelmoraState.exe'
$data = Join-Path $env:ProgramData 'Velmora'

# One event and one line in startup.log: ID 1 changed, 2 the system refused, 3
# Velmora refused its command line or VelmoraState the wanted state, 4 a program
# did not run, 5 in place.
function Write-Run([int] $Id, [string] $Text, [int] $Code) {
    $type = if ($Id -eq 1 -or $Id -eq 5) { 'INFORMATION' } else { 'ERROR' }
    & eventcreate /L APPLICATION /SO Velmora /T $type /ID $Id /D ($Text -replace '"', "'") | Out-Null
    if (Test-Path -LiteralPath $data) {
        Add-Content -LiteralPath (Join-Path $data 'startup.log') -Value "$(Get-Date -Format s) $Text" -Encoding ASCII
    }
    exit $Code
}

# Velmora with the arguments: its exit code and its first line.
function Invoke-Velmora([string[]] $Arguments) {
    if (-not (Test-Path -LiteralPath $program)) {
        Write-Run 4 "Velmora $($Arguments -join ' ') did not run: no $program" 3
    }
    $lines = @(& $program @Arguments 2>&1 | ForEach-Object { "$_" } | Where-Object { $_ })
    $first = if ($lines) { $lines[0] } else { 'no output' }
    [pscustomobject]@{ Code = $LASTEXITCODE; Line = $first }
}

# The wanted state in whole megabytes on this machine now, as VelmoraState
# resolves it: its state line, told from its messages by the sizes it holds. A
# maximum above memory was taken when the task was registered (-Force).
$json = ConvertTo-Json -Compress -InputObject $Wanted
if (-not (Test-Path -LiteralPath $stateProgram)) {
    Write-Run 4 "VelmoraState resolve $json did not run: no $stateProgram" 3
}
$answers = @($json | & $stateProgram resolve --allow-above-memory 2>&1 | ForEach-Object { "$_" } | Where-Object { $_ } |
    ForEach-Object { try { ConvertFrom-Json -InputObject $_ } catch { [pscustomobject]@{ error = $_.Exception.Message } } })
$resolved = $LASTEXITCODE
$state = @($answers | Where-Object { $_.PSObject.Properties['minimumMB'] })
if ($resolved -ne 0 -or $state.Count -ne 1) {
    $why = @($answers | Where-Object { $_.PSObject.Properties['error'] } | ForEach-Object { $_.error }) -join '; '
    if ($resolved -eq 0) { $resolved = 1 }
    Write-Run 3 "VelmoraState resolve $($json): exit code $($resolved): $why" $resolved
}
$sizes = @{ minimum = [uint64]$state[0].minimumMB; maximum = [uint64]$state[0].maximumMB }
$set = "-S $($sizes.minimum) $($sizes.maximum)"
$shares = if ($Wanted.ContainsKey('minimumPercent') -or $Wanted.ContainsKey('maximumPercent')) { " (from $json)" } else { '' }

$get = Invoke-Velmora '-G'
$wantedLine = "Min:[$([decimal]$sizes.minimum * 1MB)], Max:[$([decimal]$sizes.maximum * 1MB)], Flags: 5)"
if ($get.Code -eq 0 -and $get.Line.EndsWith($wantedLine)) {
    Write-Run 5 "Velmora $($set)$($shares): in place: $($get.Line)" 0
}
$applied = Invoke-Velmora '-S', "$($sizes.minimum)", "$($sizes.maximum)"
switch ($applied.Code) {
    0 { Write-Run 1 "Velmora $($set)$($shares): changed from $($get.Line) to $($applied.Line)" 0 }
    1 { Write-Run 2 "Velmora $($set)$($shares): exit code 1: $($applied.Line)" 1 }
    255 { Write-Run 3 "Velmora $($set)$($shares): exit code 255: $($applied.Line)" 255 }
    default { Write-Run 4 "Velmora $($set)$($shares): exit code $($applied.Code): $($applied.Line)" $applied.Code }
}
