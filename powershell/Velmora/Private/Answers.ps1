# Velmora's answers, read by the contract of its command line: one success
# line and exit code 0, one report line and exit code 1, or its usage text and
# exit code 255. Each is named here once.

$script:SuccessLine = '^Success: (Get|Set)SystemFileCacheSize\(Min:\[(\d+)\], Max:\[(\d+)\], Flags: (-?\d+)\)$'
$script:ReportLine = '^[A-Za-z]+\.cpp:\d+: [A-Za-z]+\((-?\d+)\): .*$'
$script:UsageLines = @('Usage: Velmora [-G|-C|-S minMB maxMB ]', 'Call [GS]etVelmora()', '-G: Get, -C: Clear, -S: Set')
# The line above the usage lines for a size out of range: the largest size in MB.
$script:InvalidSizeLine = '^Invalid size: \[.*\] \(0 to (\d+) MB\)$'

# The cache's flag bits, as GetSystemFileCacheSize gives them.
$script:MaximumHardFlag = 1
$script:MinimumHardFlag = 4
$script:BothHardFlags = 5

# System error codes that the module gives advice for.
$script:AccessDenied = 5
$script:InvalidParameter = 87
$script:ArithmeticOverflow = 534
$script:NotAllAssigned = 1300
$script:NoSystemResources = 1450

function New-VelmoraError {
    param([System.Exception] $Exception, [string] $Id, [System.Management.Automation.ErrorCategory] $Category,
          [object] $Target, [string] $RecommendedAction)
    $record = New-Object System.Management.Automation.ErrorRecord($Exception, $Id, $Category, $Target)
    if ($RecommendedAction) {
        $record.ErrorDetails = New-Object System.Management.Automation.ErrorDetails($Exception.Message)
        $record.ErrorDetails.RecommendedAction = $RecommendedAction
    }
    return $record
}

# The error record of a report line: its category, and the advice for its code
# in what was being done, a read of the limits or a change (Change).
function New-VelmoraSystemCallError {
    param([int] $Code, [string] $Line, [string] $CommandLine, [switch] $Change)
    $category = [System.Management.Automation.ErrorCategory]::NotSpecified
    $advice = $null
    $elevated = 'Run it in an elevated PowerShell, or as SYSTEM'
    switch ($Code) {
        $script:AccessDenied {
            $category = 'PermissionDenied'
            $advice = "${elevated}: reading the limits was refused to this token, as it is in a sandbox or a restricted session."
            if ($Change) {
                $advice = "${elevated}: changing the limits needs an administrator's token, with SeIncreaseQuotaPrivilege enabled."
            }
        }
        $script:NotAllAssigned {
            $category = 'PermissionDenied'
            $advice = "${elevated}: the token lacks SeIncreaseQuotaPrivilege, which administrators hold once elevated."
        }
        $script:InvalidParameter {
            $category = 'InvalidArgument'
            $advice = 'The system refused the call as it was made: use the Velmora.exe of this Windows''s width (VELMORA_EXE).'
            if ($Change) {
                $advice = 'The system refused these sizes: make the minimum well below the maximum, and the maximum at least 16 MB.'
            }
        }
        $script:ArithmeticOverflow {
            $category = 'InvalidResult'
            $advice = 'The limits do not fit the 32-bit Velmora.exe: use the 64-bit one (bin\x64 in the module, or VELMORA_EXE).'
        }
        $script:NoSystemResources {
            $category = 'ResourceUnavailable'
            $advice = 'The system lacks the resources for the call now: try again later.'
            if ($Change) {
                $advice = 'The system cannot spare that much memory for the minimum now: choose a smaller minimum, or try again when more memory is free.'
            }
        }
    }
    $exception = New-Object System.ComponentModel.Win32Exception($Code, $Line)
    return New-VelmoraError $exception 'Velmora.SystemCallFailed' $category $CommandLine $advice
}

# Runs Velmora with the arguments and reads its answer: Limits (Minimum,
# Maximum, Flags) on success, else Error, an error record for the caller to
# write or to wrap. Call is Get or Set, the success line expected.
function Invoke-Velmora {
    param([string[]] $Arguments, [string] $Call)
    $commandLine = 'Velmora ' + ($Arguments -join ' ')
    $answer = Invoke-VelmoraProgram -Arguments $Arguments
    if ($answer.Error) {
        return [pscustomobject]@{ Limits = $null; Error = $answer.Error }
    }
    $lines = @($answer.Output -split "`r`n|`r|`n" | Where-Object { $_ -ne '' })
    if ($answer.ExitCode -eq 0 -and $lines.Count -eq 1 -and $lines[0] -cmatch $script:SuccessLine -and
        $Matches[1] -ceq $Call) {
        $limits = [pscustomobject]@{ Minimum = [uint64]$Matches[2]; Maximum = [uint64]$Matches[3]; Flags = [int]$Matches[4] }
        return [pscustomobject]@{ Limits = $limits; Error = $null }
    }
    if ($answer.ExitCode -eq 1 -and $lines.Count -eq 1 -and $lines[0] -cmatch $script:ReportLine) {
        $record = New-VelmoraSystemCallError -Code ([int]$Matches[1]) -Line $lines[0] -CommandLine $commandLine -Change:($Call -eq 'Set')
        return [pscustomobject]@{ Limits = $null; Error = $record }
    }
    $usage = $lines.Count -ge 3 -and
        [string]::Join("`n", $lines[($lines.Count - 3)..($lines.Count - 1)]) -ceq [string]::Join("`n", $script:UsageLines)
    if ($answer.ExitCode -eq 255 -and $usage -and $lines.Count -le 4) {
        $exception = New-Object System.ArgumentException("$commandLine was refused: $($lines[0])")
        $record = New-VelmoraError $exception 'Velmora.CommandLineRefused' InvalidArgument $commandLine
        return [pscustomobject]@{ Limits = $null; Error = $record }
    }
    $said = ($answer.Output + $answer.Stderr).Trim()
    $exception = New-Object System.InvalidOperationException(
        "$commandLine gave exit code $($answer.ExitCode), which is none of its answers, and printed: $said")
    return [pscustomobject]@{ Limits = $null; Error = (New-VelmoraError $exception 'Velmora.UnexpectedAnswer' NotSpecified $commandLine) }
}

# A record of limits as the cmdlets give them.
function New-VelmoraFileCacheLimit {
    param($Limits)
    return [pscustomobject]@{
        PSTypeName   = 'Velmora.FileCacheLimit'
        MinimumMB    = ConvertTo-VelmoraWholeMB $Limits.Minimum
        MaximumMB    = ConvertTo-VelmoraWholeMB $Limits.Maximum
        MinimumHard  = [bool]($Limits.Flags -band $script:MinimumHardFlag)
        MaximumHard  = [bool]($Limits.Flags -band $script:MaximumHardFlag)
        MinimumBytes = [uint64]$Limits.Minimum
        MaximumBytes = [uint64]$Limits.Maximum
        Flags        = [int]$Limits.Flags
    }
}

# Reads the limits in force with Velmora -G: Limit, a Velmora.FileCacheLimit,
# or Error, the error record of the read.
function Read-VelmoraLimits {
    $read = Invoke-Velmora -Arguments '-G' -Call Get
    $limit = $null
    if ($read.Limits) {
        $limit = New-VelmoraFileCacheLimit $read.Limits
    }
    return [pscustomobject]@{ Limit = $limit; Error = $read.Error }
}
