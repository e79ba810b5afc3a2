# Velmora's Intune remediation pair, one script under two names: uploaded as
# Detect-VelmoraFileCacheLimit.ps1 it is the detection script (exit 0 when the
# file cache limits in force are those wanted, 1 otherwise); uploaded as
# Remediate-VelmoraFileCacheLimit.ps1 it applies them (exit 0, or 1 with the
# reason). Either prints one line for the Intune console. Run it as SYSTEM, in
# 64-bit PowerShell, on machines with Velmora installed by its MSI: it runs the
# DSC 3 resource in %ProgramFiles%\Velmora, whose rules decide what is in place.
#
# The limits wanted, the same in both scripts: both hard limits on at two sizes,
# each in MB (minimumMB, maximumMB) or in percent of the machine's memory
# (minimumPercent, maximumPercent), or @{ hardLimits = $false } for both off.
$Wanted = @{ minimumPercent = 2; maximumPercent = 25 }

$ErrorActionPreference = 'Stop'
$remediate = $MyInvocation.MyCommand.Name -like 'Remediate-*'
$resource = Join-Path $env:ProgramFiles 'Velmora\velmora-dsc.ps1'
if (-not (Test-Path -LiteralPath $resource)) {
    Write-Output "Velmora is not installed: no $resource"
    exit 1
}
$shell = @('powershell.exe', 'pwsh.exe', 'pwsh') | ForEach-Object { Join-Path $PSHOME $_ } |
    Where-Object { Test-Path -LiteralPath $_ } | Select-Object -First 1

# Runs the resource's method with the limits wanted: its exit code, the state it
# printed and the last line of its log.
function Invoke-Resource([string] $Method) {
    $start = New-Object System.Diagnostics.ProcessStartInfo
    $start.FileName = $shell
    $start.Arguments = "-NoLogo -NoProfile -NonInteractive -ExecutionPolicy Bypass -File `"$resource`" $Method"
    $start.UseShellExecute = $false
    $start.RedirectStandardInput = $true
    $start.RedirectStandardOutput = $true
    $start.RedirectStandardError = $true
    $process = [System.Diagnostics.Process]::Start($start)
    $process.StandardInput.WriteLine((ConvertTo-Json -Compress -InputObject $Wanted))
    $process.StandardInput.Close()
    $log = $process.StandardError.ReadToEndAsync()
    $out = $process.StandardOutput.ReadToEnd()
    $process.WaitForExit()
    $lines = @($log.Result -split "`r?`n" | Where-Object { $_ })
    $last = if ($lines) { ($lines[-1] | ConvertFrom-Json).message } else { '' }
    $state = $null
    if ($process.ExitCode -eq 0 -and $out.Trim()) {
        $state = ($out -split "`r?`n" | Where-Object { $_ } | Select-Object -First 1) | ConvertFrom-Json
    }
    [pscustomobject]@{ Exit = $process.ExitCode; State = $state; Last = $last }
}

function Format-State($State) {
    "$($State.minimumBytes) and $($State.maximumBytes) bytes, flags $($State.flags)"
}

if ($remediate) {
    $set = Invoke-Resource set
    if ($set.Exit -ne 0) {
        Write-Output "Velmora could not apply the limits: $($set.Last)"
        exit 1
    }
    Write-Output "Velmora applied the limits: $(Format-State $set.State)"
    exit 0
}
$test = Invoke-Resource test
if ($test.Exit -ne 0) {
    Write-Output "Velmora could not check the limits: $($test.Last)"
    exit 1
}
if ($test.State._inDesiredState) {
    Write-Output "In place: $(Format-State $test.State)"
    exit 0
}
Write-Output "Not in place: $(Format-State $test.State)"
exit 1
