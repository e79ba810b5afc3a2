# Velmora's startup task where the sizes are shares of memory or the task
# repeats: applies the file cache limits as SYSTEM from %ProgramFiles%\Velmora,
# reading them first and setting them only where they differ, so that limits
# changed by anything else are put back. A share of memory becomes whole
# megabytes of this machine's memory at each run. Writes one event to the
# Application log (source Velmora) and appends to startup.log in
# %ProgramData%\Velmora; ends with Velmora's exit code (0 where the limits were
# in place). Register-VelmoraStartupTask writes the line below.
$Wanted = @{ minimumMB = 256; maximumMB = 2048 }

$program = Join-Path $PSScriptRoot 'Velmora.exe'
$data = Join-Path $env:ProgramData 'Velmora'

# One event and one line in startup.log: ID 1 changed, 2 the system refused, 3
# Velmora refused its command line, 4 Velmora did not run, 5 in place.
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

# The sizes in whole megabytes on this machine now.
$sizes = @{}
foreach ($limit in 'minimum', 'maximum') {
    if ($Wanted.ContainsKey("${limit}Percent")) {
        if (-not (Test-Path Variable:memory)) {
            $memory = (Get-CimInstance -ClassName Win32_ComputerSystem).TotalPhysicalMemory
        }
        $sizes[$limit] = [uint64][math]::Truncate([decimal]$memory * $Wanted["${limit}Percent"] / 100 / 1MB)
    } else {
        $sizes[$limit] = [uint64]$Wanted["${limit}MB"]
    }
}
$set = "-S $($sizes.minimum) $($sizes.maximum)"
$shares = if ($Wanted.ContainsKey('minimumPercent') -or $Wanted.ContainsKey('maximumPercent')) { " (from $memory bytes of memory)" } else { '' }

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
