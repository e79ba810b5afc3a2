# What the startup task and the counters need of Windows: the machine and an
# elevated token.

$script:TaskName = 'Velmora file cache limits'

function Get-VelmoraComputerName {
    return [Environment]::MachineName
}

function Test-VelmoraElevated {
    if (-not (Test-VelmoraWindows)) {
        return $false
    }
    $principal = New-Object Security.Principal.WindowsPrincipal([Security.Principal.WindowsIdentity]::GetCurrent())
    return $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)
}

# Whether the cmdlet Command can run here: Error is Velmora.NotWindows where
# Windows is not (the task scheduler, the ACL tools and the performance counters
# are Windows' own), or, with Elevated, Velmora.NotElevated without an elevated
# token; else $null.
function Get-VelmoraPlatformRefusal {
    param([string] $Command, [switch] $Elevated)
    $record = $null
    if (-not (Test-VelmoraWindows)) {
        $exception = New-Object System.PlatformNotSupportedException(
            "$Command needs Windows: it uses the task scheduler, the ACL tools or the performance counters, which this system has not.")
        $record = New-VelmoraError $exception 'Velmora.NotWindows' NotImplemented $null
    } elseif ($Elevated -and -not (Test-VelmoraElevated)) {
        $exception = New-Object System.UnauthorizedAccessException(
            "$Command changes Program Files and the task scheduler: run it in an elevated PowerShell")
        $record = New-VelmoraError $exception 'Velmora.NotElevated' PermissionDenied $null 'Run it in an elevated PowerShell (Run as administrator), or preview it with -WhatIf.'
    }
    return [pscustomobject]@{ Error = $record }
}

# Runs a Windows tool (takeown, icacls) in a step, and fails the step as a
# cmdlet with -ErrorAction Stop would: it throws unless the tool ends with 0.
function Invoke-VelmoraTool {
    param([string] $Tool, [string[]] $Arguments)
    Write-Verbose "Running $Tool $($Arguments -join ' ')"
    $said = & $Tool @Arguments 2>&1 | Out-String
    if ($LASTEXITCODE -ne 0) {
        throw "$Tool $($Arguments -join ' ') ended with exit code $($LASTEXITCODE): $($said.Trim())"
    }
}
