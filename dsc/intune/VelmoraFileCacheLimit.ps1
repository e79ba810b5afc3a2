# Velmora's Intune remediation pair, one script under two names: uploaded as
# Detect-VelmoraFileCacheLimit.ps1 it is the detection script (exit 0 when the
# file cache limits in force are those wanted, 1 otherwise); uploaded as
# Remediate-VelmoraFileCacheLimit.ps1 it applies them (exit 0, or 1 with the
# reason). Either prints one line for the Intune console, and nothing else.
#
# Run it as SYSTEM on machines with Velmora installed by its MSI. It runs the
# 64-bit VelmoraState.exe in %ProgramFiles%\Velmora, whose rules decide what is
# in place, also from Intune's default 32-bit PowerShell.
#
# The limits wanted, the same in both scripts, as the DSC 3 resource takes them:
# both hard limits on at two sizes, each in MB ("minimumMB", "maximumMB") or as a
# share of the machine's memory in percent ("minimumPercent", "maximumPercent",
# up to four places after the point), or {"hardLimits": false} for both off.
$Wanted = '{"minimumPercent": 2, "maximumPercent": 25}'

# Intune shows at most 2048 characters of one line.
$LongestLine = 2048

# The one line for the Intune console, then the exit code.
function Exit-Line([string] $Line, [int] $Code) {
    $Line = ($Line -replace '[\r\n]+', ' ').Trim()
    if (-not $Line) {
        $Line = 'Velmora: no answer'
    }
    if ($Line.Length -gt $LongestLine) {
        $Line = $Line.Substring(0, $LongestLine - 3) + '...'
    }
    [Console]::Out.WriteLine($Line)
    exit $Code
}

# The text of the program's messages of one level, one JSON object a line.
function Get-Message([string[]] $Lines, [string] $Level) {
    $texts = @()
    foreach ($line in $Lines) {
        try {
            $message = ConvertFrom-Json -InputObject $line
        } catch {
            continue
        }
        if ($message -and $message.PSObject.Properties[$Level]) {
            $texts += [string]$message.$Level
        }
    }
    return ($texts -join '; ')
}

# Runs the program's method with the limits wanted: its exit code, the state it
# printed, and its errors and warnings.
function Invoke-State([string] $Program, [string] $Method) {
    $start = New-Object System.Diagnostics.ProcessStartInfo
    $start.FileName = $Program
    $start.Arguments = $Method
    $start.UseShellExecute = $false
    $start.CreateNoWindow = $true
    $start.RedirectStandardInput = $true
    $start.RedirectStandardOutput = $true
    $start.RedirectStandardError = $true
    $process = [System.Diagnostics.Process]::Start($start)
    $errors = $process.StandardError.ReadToEndAsync()
    $output = $process.StandardOutput.ReadToEndAsync()
    $process.StandardInput.WriteLine($Wanted)
    $process.StandardInput.Close()
    if (-not $process.WaitForExit(60000)) {
        $process.Kill()
        Exit-Line "Velmora: VelmoraState.exe $Method did not end within 60 s and was stopped" 1
    }
    $process.WaitForExit()
    $log = @($errors.Result -split "`r?`n" | Where-Object { $_ })
    $lines = @($output.Result -split "`r?`n" | Where-Object { $_ })
    $state = $null
    if ($process.ExitCode -eq 0 -and $lines.Count -eq 1) {
        $state = ConvertFrom-Json -InputObject $lines[0]
    }
    New-Object PSObject -Property @{
        Exit  = $process.ExitCode
        State = $state
        Error = Get-Message $log 'error'
        Warn  = Get-Message $log 'warn'
    }
}

function Format-State($State) {
    "$($State.minimumBytes) and $($State.maximumBytes) bytes, flags $($State.flags)"
}

try {
    $ErrorActionPreference = 'Stop'
    $remediate = $MyInvocation.MyCommand.Name -like 'Remediate-*'
    # The 64-bit Program Files, also from a 32-bit PowerShell, whose ProgramFiles
    # names the 32-bit one.
    $programFiles = $env:ProgramW6432
    if (-not $programFiles) {
        $programFiles = $env:ProgramFiles
    }
    $program = Join-Path $programFiles 'Velmora\VelmoraState.exe'
    if (-not (Test-Path -LiteralPath $program -PathType Leaf)) {
        Exit-Line "Velmora is not installed: no $program" 1
    }

    if ($remediate) {
        $set = Invoke-State $program 'set'
        if ($set.Exit -ne 0 -or -not $set.State) {
            Exit-Line "Velmora could not apply the limits (exit code $($set.Exit)): $($set.Error)" 1
        }
        # Applied is not yet in place: the system may hold less than was asked.
        $test = Invoke-State $program 'test'
        if ($test.Exit -ne 0 -or -not $test.State -or $test.State._inDesiredState -ne $true) {
            Exit-Line "Velmora applied the limits, but they do not hold: $(Format-State $set.State): $($set.Warn)" 1
        }
        $line = "Velmora applied the limits: $(Format-State $set.State)"
        if ($set.Warn) {
            $line += " (warning: $($set.Warn))"
        }
        Exit-Line $line 0
    }

    $test = Invoke-State $program 'test'
    if ($test.Exit -ne 0 -or -not $test.State) {
        Exit-Line "Velmora could not check the limits (exit code $($test.Exit)): $($test.Error)" 1
    }
    $warning = ''
    if ($test.Warn) {
        $warning = " (warning: $($test.Warn))"
    }
    if ($test.State._inDesiredState -eq $true) {
        Exit-Line "In place: $(Format-State $test.State)$warning" 0
    }
    Exit-Line "Not in place: $(Format-State $test.State)$warning" 1
} catch {
    Exit-Line "Velmora: $($_.Exception.Message)" 1
}
