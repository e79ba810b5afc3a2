# What the startup task and the counters need of Windows: the machine and an
# elevated token.

$script:TaskName = 'Velmora file cache limits'

function Get-VelmoraComputerName {
    return [Environment]::MachineName
}

# Ends the cmdlet with Velmora.NotWindows where Windows is not: the task
# scheduler, the ACL tools and the performance counters are Windows' own.
function Assert-VelmoraWindows {
    param([System.Management.Automation.PSCmdlet] $Cmdlet)
    if (-not (Test-VelmoraWindows)) {
        $exception = New-Object System.PlatformNotSupportedException(
            "$($Cmdlet.MyInvocation.MyCommand.Name) needs Windows: it uses the task scheduler, the ACL tools or the performance counters, which this system has not.")
        $Cmdlet.ThrowTerminatingError((New-VelmoraError $exception 'Velmora.NotWindows' NotImplemented $null))
    }
}

function Test-VelmoraElevated {
    if (-not (Test-VelmoraWindows)) {
        return $false
    }
    $principal = New-Object Security.Principal.WindowsPrincipal([Security.Principal.WindowsIdentity]::GetCurrent())
    return $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)
}

function Assert-VelmoraElevated {
    param([System.Management.Automation.PSCmdlet] $Cmdlet)
    if (-not (Test-VelmoraElevated)) {
        $exception = New-Object System.UnauthorizedAccessException(
            "$($Cmdlet.MyInvocation.MyCommand.Name) changes Program Files and the task scheduler: run it in an elevated PowerShell")
        $record = New-VelmoraError $exception 'Velmora.NotElevated' PermissionDenied $null 'Run it in an elevated PowerShell (Run as administrator), or preview it with -WhatIf.'
        $Cmdlet.ThrowTerminatingError($record)
    }
}

# Runs a Windows tool (takeown, icacls) and throws unless it ends with 0.
function Invoke-VelmoraTool {
    param([string] $Tool, [string[]] $Arguments)
    Write-Verbose "Running $Tool $($Arguments -join ' ')"
    $said = & $Tool @Arguments 2>&1 | Out-String
    if ($LASTEXITCODE -ne 0) {
        throw "$Tool $($Arguments -join ' ') ended with exit code $($LASTEXITCODE): $($said.Trim())"
    }
}
