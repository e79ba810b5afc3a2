# Velmora in PowerShell: the limits of the system file cache as objects. Every
# cmdlet runs Velmora.exe and reads its answer (its lines and its exit code);
# none calls the cache functions itself. Written for Windows PowerShell 5.1 and
# PowerShell 7 alike.

Set-StrictMode -Version 2.0

$script:TaskName = 'Velmora file cache limits'
$script:SuccessLine = '^Success: (Get|Set)SystemFileCacheSize\(Min:\[(\d+)\], Max:\[(\d+)\], Flags: (-?\d+)\)$'
$script:ReportLine = '^[A-Za-z]+\.cpp:\d+: [A-Za-z]+\((-?\d+)\): .*$'
$script:UsageLines = @('Usage: Velmora [-G|-C|-S minMB maxMB ]', 'Call [GS]etVelmora()', '-G: Get, -C: Clear, -S: Set')

# --- the program and its answers -------------------------------------------------

# The Velmora.exe the cmdlets run: the one VELMORA_EXE names, or the module's own,
# 64-bit on any 64-bit Windows (ARM64 included, through emulation).
function Get-VelmoraProgram {
    if ($env:VELMORA_EXE) {
        return $env:VELMORA_EXE
    }
    $architecture = 'x86'
    if ([Environment]::Is64BitOperatingSystem) {
        $architecture = 'x64'
    }
    return (Join-Path $PSScriptRoot "bin\$architecture\Velmora.exe")
}

function Test-VelmoraWindows {
    return $env:OS -eq 'Windows_NT'
}

# The code page Velmora writes its message text in: the console's output code
# page when it has a console (this process's, which it shares), else the OEM
# code page. Off Windows, the simulated system writes ASCII.
function Get-VelmoraOutputCodePage {
    if (-not (Test-VelmoraWindows)) {
        return 65001
    }
    if (-not ('Velmora.CodePages' -as [type])) {
        Add-Type -Namespace Velmora -Name CodePages -MemberDefinition @'
[System.Runtime.InteropServices.DllImport("kernel32.dll")] public static extern uint GetConsoleOutputCP();
[System.Runtime.InteropServices.DllImport("kernel32.dll")] public static extern uint GetOEMCP();
'@
    }
    $codePage = [Velmora.CodePages]::GetConsoleOutputCP()
    if ($codePage -eq 0) {
        $codePage = [Velmora.CodePages]::GetOEMCP()
    }
    return [int]$codePage
}

# Runs Velmora.exe with the arguments: its exit code and its output, decoded.
function Invoke-VelmoraProgram {
    param([string[]] $Arguments)
    $start = New-Object System.Diagnostics.ProcessStartInfo
    $start.FileName = Get-VelmoraProgram
    $start.Arguments = $Arguments -join ' '
    $start.UseShellExecute = $false
    $start.RedirectStandardOutput = $true
    $start.RedirectStandardError = $true
    $process = [System.Diagnostics.Process]::Start($start)
    $bytes = New-Object System.IO.MemoryStream
    $process.StandardOutput.BaseStream.CopyTo($bytes)
    $errorText = $process.StandardError.ReadToEnd()
    $process.WaitForExit()
    $encoding = [System.Text.Encoding]::GetEncoding((Get-VelmoraOutputCodePage))
    return [pscustomobject]@{
        ExitCode = $process.ExitCode
        Output   = $encoding.GetString($bytes.ToArray())
        Error    = $errorText
    }
}

function New-VelmoraError {
    param([System.Exception] $Exception, [string] $Id, [System.Management.Automation.ErrorCategory] $Category,
          [object] $Target)
    return New-Object System.Management.Automation.ErrorRecord($Exception, $Id, $Category, $Target)
}

# The error category of a system error code Velmora reported.
function Get-VelmoraErrorCategory {
    param([int] $Code)
    switch ($Code) {
        5 { return [System.Management.Automation.ErrorCategory]::PermissionDenied }
        1300 { return [System.Management.Automation.ErrorCategory]::PermissionDenied }
        87 { return [System.Management.Automation.ErrorCategory]::InvalidArgument }
        1450 { return [System.Management.Automation.ErrorCategory]::ResourceUnavailable }
    }
    return [System.Management.Automation.ErrorCategory]::NotSpecified
}

# Runs Velmora.exe for the cmdlet and reads its answer: on success the limits of
# its line (Minimum, Maximum, Flags); otherwise the cmdlet's error is written and
# nothing is returned.
function Invoke-Velmora {
    param([System.Management.Automation.PSCmdlet] $Cmdlet, [string[]] $Arguments, [string] $Call)
    $command = 'Velmora ' + ($Arguments -join ' ')
    try {
        $answer = Invoke-VelmoraProgram -Arguments $Arguments
    } catch {
        $Cmdlet.WriteError((New-VelmoraError $_.Exception 'Velmora.ProgramNotStarted' ObjectNotFound (Get-VelmoraProgram)))
        return
    }
    $lines = @($answer.Output -split "`r`n|`r|`n" | Where-Object { $_ -ne '' })
    if ($answer.ExitCode -eq 0 -and $lines.Count -eq 1 -and $lines[0] -cmatch $script:SuccessLine -and
        $Matches[1] -ceq $Call) {
        return [pscustomobject]@{ Minimum = [uint64]$Matches[2]; Maximum = [uint64]$Matches[3]; Flags = [int]$Matches[4] }
    }
    if ($answer.ExitCode -eq 1 -and $lines.Count -eq 1 -and $lines[0] -cmatch $script:ReportLine) {
        $code = [int]$Matches[1]
        $exception = New-Object System.ComponentModel.Win32Exception($code, $lines[0])
        $Cmdlet.WriteError((New-VelmoraError $exception 'Velmora.SystemCallFailed' (Get-VelmoraErrorCategory $code) $command))
        return
    }
    $usage = $lines.Count -ge 3 -and
        [string]::Join("`n", $lines[($lines.Count - 3)..($lines.Count - 1)]) -ceq [string]::Join("`n", $script:UsageLines)
    if ($answer.ExitCode -eq 255 -and $usage -and $lines.Count -le 4) {
        $exception = New-Object System.ArgumentException("$command was refused: $($lines[0])")
        $Cmdlet.WriteError((New-VelmoraError $exception 'Velmora.CommandLineRefused' InvalidArgument $command))
        return
    }
    $said = ($answer.Output + $answer.Error).Trim()
    $exception = New-Object System.InvalidOperationException(
        "$command gave exit code $($answer.ExitCode), which is none of its answers, and printed: $said")
    $Cmdlet.WriteError((New-VelmoraError $exception 'Velmora.UnexpectedAnswer' NotSpecified $command))
}

function New-VelmoraFileCacheLimit {
    param($Limits)
    return [pscustomobject]@{
        PSTypeName   = 'Velmora.FileCacheLimit'
        MinimumBytes = [uint64]$Limits.Minimum
        MaximumBytes = [uint64]$Limits.Maximum
        MinimumHard  = [bool]($Limits.Flags -band 4)
        MaximumHard  = [bool]($Limits.Flags -band 1)
        Flags        = [int]$Limits.Flags
    }
}

function Get-VelmoraComputerName {
    return [Environment]::MachineName
}

# --- the limits --------------------------------------------------------------------

function Get-VelmoraFileCacheLimit {
    <#
    .SYNOPSIS
    Gets the limits of the system file cache: the minimum and maximum in bytes and which are hard limits.
    .DESCRIPTION
    Runs Velmora -G. Flags are the system's bits: 1 the maximum is a hard limit, 4 the minimum is.
    .EXAMPLE
    $limit = Get-VelmoraFileCacheLimit -ErrorAction Stop; $limit | Export-Clixml "$env:ProgramData\Velmora\before.xml"
    #>
    [CmdletBinding()]
    [OutputType('Velmora.FileCacheLimit')]
    param()
    $limits = Invoke-Velmora -Cmdlet $PSCmdlet -Arguments '-G' -Call Get
    if ($limits) {
        New-VelmoraFileCacheLimit $limits
    }
}

function Set-VelmoraFileCacheLimit {
    <#
    .SYNOPSIS
    Sets the minimum and maximum of the system file cache, in MB, with both hard limits on; or puts back recorded limits.
    .DESCRIPTION
    Runs Velmora -S. A size of 0 keeps that limit. Given a recorded Velmora.FileCacheLimit from the pipeline
    (Import-Clixml before.xml | Set-VelmoraFileCacheLimit), it puts it back: sizes in whole megabytes with the
    minimum below the maximum, set hard, then both hard limits switched off (Velmora -C) where the record's flags
    are 0. A record whose flags hold one hard limit alone (1 or 4), or that is not whole megabytes, only a restart
    restores: it is refused.
    .EXAMPLE
    Set-VelmoraFileCacheLimit -MinimumMB 256 -MaximumMB 2048 -PassThru
    .EXAMPLE
    Import-Clixml "$env:ProgramData\Velmora\before.xml" | Set-VelmoraFileCacheLimit
    #>
    [CmdletBinding(SupportsShouldProcess = $true, DefaultParameterSetName = 'Size')]
    [OutputType('Velmora.FileCacheLimit')]
    param(
        [Parameter(Mandatory = $true, Position = 0, ParameterSetName = 'Size')]
        [uint64] $MinimumMB,
        [Parameter(Mandatory = $true, Position = 1, ParameterSetName = 'Size')]
        [uint64] $MaximumMB,
        [Parameter(Mandatory = $true, ValueFromPipelineByPropertyName = $true, ParameterSetName = 'Record')]
        [uint64] $MinimumBytes,
        [Parameter(Mandatory = $true, ValueFromPipelineByPropertyName = $true, ParameterSetName = 'Record')]
        [uint64] $MaximumBytes,
        [Parameter(Mandatory = $true, ValueFromPipelineByPropertyName = $true, ParameterSetName = 'Record')]
        [int] $Flags,
        [switch] $PassThru
    )
    process {
        $clear = $false
        if ($PSCmdlet.ParameterSetName -eq 'Record') {
            $record = "Min:[$MinimumBytes], Max:[$MaximumBytes], Flags: $Flags"
            $why = $null
            if ($MinimumBytes % 1MB -or $MaximumBytes % 1MB) {
                $why = 'its sizes are not whole megabytes'
            } elseif ($MinimumBytes -ge $MaximumBytes) {
                $why = 'its minimum is not below its maximum'
            } elseif ($Flags -eq 1 -or $Flags -eq 4) {
                $why = 'it holds one hard limit alone'
            } elseif ($Flags -ne 0 -and $Flags -ne 5) {
                $why = "its flags $Flags are none that Get-VelmoraFileCacheLimit gives"
            }
            if ($why) {
                $exception = New-Object System.ArgumentException("The recorded limits $record cannot be put back, as $($why): only a restart restores them")
                $PSCmdlet.WriteError((New-VelmoraError $exception 'Velmora.RecordNotRestorable' InvalidData $record))
                return
            }
            $MinimumMB = [uint64]($MinimumBytes / 1MB)
            $MaximumMB = [uint64]($MaximumBytes / 1MB)
            $clear = $Flags -eq 0
        }
        $action = "Set the file cache limits to $MinimumMB MB and $MaximumMB MB, both hard"
        if ($clear) {
            $action += ', then switch both hard limits off'
        }
        if (-not $PSCmdlet.ShouldProcess((Get-VelmoraComputerName), $action)) {
            return
        }
        if (-not (Invoke-Velmora -Cmdlet $PSCmdlet -Arguments '-S', "$MinimumMB", "$MaximumMB" -Call Set)) {
            return
        }
        if ($clear -and -not (Invoke-Velmora -Cmdlet $PSCmdlet -Arguments '-C' -Call Set)) {
            return
        }
        if ($PassThru) {
            Get-VelmoraFileCacheLimit
        }
    }
}

function Clear-VelmoraFileCacheLimit {
    <#
    .SYNOPSIS
    Keeps both sizes of the system file cache and switches both hard limits off.
    .DESCRIPTION
    Runs Velmora -C: the sizes go back to being targets that the system may cross.
    #>
    [CmdletBinding(SupportsShouldProcess = $true)]
    [OutputType('Velmora.FileCacheLimit')]
    param([switch] $PassThru)
    if (-not $PSCmdlet.ShouldProcess((Get-VelmoraComputerName), 'Switch both hard limits of the file cache off')) {
        return
    }
    if ((Invoke-Velmora -Cmdlet $PSCmdlet -Arguments '-C' -Call Set) -and $PassThru) {
        Get-VelmoraFileCacheLimit
    }
}

function Get-VelmoraFileCacheUsage {
    <#
    .SYNOPSIS
    Gets how much the system file cache holds now and has held at the most, in bytes.
    .DESCRIPTION
    Reads the performance counters \Memory\Cache Bytes, \Memory\Cache Bytes Peak and
    \Memory\System Cache Resident Bytes, through their WMI class (whose names are the same in every language).
    #>
    [CmdletBinding()]
    [OutputType('Velmora.FileCacheUsage')]
    param()
    try {
        $memory = Get-CimInstance -ClassName Win32_PerfFormattedData_PerfOS_Memory -ErrorAction Stop
    } catch {
        $PSCmdlet.WriteError((New-VelmoraError $_.Exception 'Velmora.CountersUnavailable' ReadError 'Memory'))
        return
    }
    [pscustomobject]@{
        PSTypeName               = 'Velmora.FileCacheUsage'
        CacheBytes               = [uint64]$memory.CacheBytes
        CacheBytesPeak           = [uint64]$memory.CacheBytesPeak
        SystemCacheResidentBytes = [uint64]$memory.SystemCacheResidentBytes
    }
}

# --- the startup task ------------------------------------------------------------

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
        $Cmdlet.ThrowTerminatingError((New-VelmoraError $exception 'Velmora.NotElevated' PermissionDenied $null))
    }
}

# The places of the startup task: the program and its script, where only
# administrators and SYSTEM may write; the log, in a folder only they may read.
function Get-VelmoraFolder {
    $program = Join-Path $env:ProgramFiles 'Velmora'
    return [pscustomobject]@{
        Program = $program
        Startup = Join-Path $program 'startup.cmd'
        Data    = Join-Path $env:ProgramData 'Velmora'
    }
}

function Register-VelmoraStartupTask {
    <#
    .SYNOPSIS
    Applies file cache limits at every start of Windows, from a task that runs as SYSTEM.
    .DESCRIPTION
    Copies the module's Velmora.exe and the startup script into $env:ProgramFiles\Velmora (where only
    administrators and SYSTEM may write, so that the task survives an update or removal of the module and
    runs nothing that another user can change), makes $env:ProgramData\Velmora for its log readable and
    writable by administrators and SYSTEM alone, and registers the task 'Velmora file cache limits' to run
    the script as SYSTEM at start-up, on battery too, for 5 minutes at the most, replacing an older one.
    Each run writes one event to the Application log (source Velmora). Needs an elevated PowerShell.
    #>
    [CmdletBinding(SupportsShouldProcess = $true)]
    param(
        [Parameter(Mandatory = $true)] [uint64] $MinimumMB,
        [Parameter(Mandatory = $true)] [uint64] $MaximumMB
    )
    Assert-VelmoraElevated $PSCmdlet
    if ($MinimumMB -ge $MaximumMB -or $MaximumMB -lt 16) {
        $exception = New-Object System.ArgumentException(
            "With both hard limits on, the minimum must be below the maximum and the maximum at least 16 MB: $MinimumMB MB and $MaximumMB MB would fail at every start")
        $PSCmdlet.ThrowTerminatingError((New-VelmoraError $exception 'Velmora.SizesRefused' InvalidArgument "$MinimumMB $MaximumMB"))
    }
    $folder = Get-VelmoraFolder
    $startup = $folder.Startup
    if (-not $PSCmdlet.ShouldProcess("task '$script:TaskName'",
            "Register to run $startup as SYSTEM at start-up, applying $MinimumMB MB and $MaximumMB MB")) {
        return
    }
    New-Item -ItemType Directory -Force -Path $folder.Program, $folder.Data | Out-Null
    # Administrators own the records folder, and only they and SYSTEM may use it.
    takeown /F $folder.Data /A /R | Out-Null
    icacls $folder.Data /reset /T /Q | Out-Null
    icacls $folder.Data /inheritance:r /grant:r '*S-1-5-18:(OI)(CI)F' '*S-1-5-32-544:(OI)(CI)F' /Q | Out-Null
    Copy-Item -LiteralPath (Get-VelmoraProgram) -Destination (Join-Path $folder.Program 'Velmora.exe') -Force
    $text = [System.IO.File]::ReadAllText((Join-Path $PSScriptRoot 'startup.cmd'))
    $text = $text -replace '(?m)^set "ARGS=-S \d+ \d+"', "set `"ARGS=-S $MinimumMB $MaximumMB`""
    [System.IO.File]::WriteAllText($startup, $text, (New-Object System.Text.ASCIIEncoding))

    $action = New-ScheduledTaskAction -Execute $startup
    $trigger = New-ScheduledTaskTrigger -AtStartup
    $principal = New-ScheduledTaskPrincipal -UserId 'SYSTEM' -LogonType ServiceAccount -RunLevel Highest
    $settings = New-ScheduledTaskSettingsSet -AllowStartIfOnBatteries -DontStopIfGoingOnBatteries `
        -ExecutionTimeLimit (New-TimeSpan -Minutes 5)
    Register-ScheduledTask -TaskName $script:TaskName -Action $action -Trigger $trigger -Principal $principal `
        -Settings $settings -Force | Out-Null
    Get-VelmoraStartupTask
}

function Get-VelmoraStartupTask {
    <#
    .SYNOPSIS
    Gets the startup task that applies the file cache limits, with the sizes its script applies and its last result.
    .DESCRIPTION
    LastTaskResult is Velmora's exit code once the task has run (0, 1 or 255), 267011 before it has run.
    #>
    [CmdletBinding()]
    [OutputType('Velmora.StartupTask')]
    param()
    $task = Get-ScheduledTask -TaskName $script:TaskName -ErrorAction SilentlyContinue
    if (-not $task) {
        return
    }
    $info = Get-ScheduledTaskInfo -TaskName $script:TaskName
    $minimum = $null
    $maximum = $null
    $startup = (Get-VelmoraFolder).Startup
    if (Test-Path -LiteralPath $startup) {
        $line = Select-String -LiteralPath $startup -Pattern '^set "ARGS=-S (\d+) (\d+)"' | Select-Object -First 1
        if ($line) {
            $minimum = [uint64]$line.Matches[0].Groups[1].Value
            $maximum = [uint64]$line.Matches[0].Groups[2].Value
        }
    }
    [pscustomobject]@{
        PSTypeName     = 'Velmora.StartupTask'
        TaskName       = $script:TaskName
        State          = $task.State
        Execute        = @($task.Actions)[0].Execute
        MinimumMB      = $minimum
        MaximumMB      = $maximum
        LastRunTime    = $info.LastRunTime
        LastTaskResult = $info.LastTaskResult
    }
}

function Unregister-VelmoraStartupTask {
    <#
    .SYNOPSIS
    Removes the startup task and its script; the limits in force stay until the next restart.
    #>
    [CmdletBinding(SupportsShouldProcess = $true)]
    param()
    Assert-VelmoraElevated $PSCmdlet
    $startup = (Get-VelmoraFolder).Startup
    if (-not $PSCmdlet.ShouldProcess("task '$script:TaskName'", "Unregister, and remove $startup")) {
        return
    }
    if (Get-ScheduledTask -TaskName $script:TaskName -ErrorAction SilentlyContinue) {
        Unregister-ScheduledTask -TaskName $script:TaskName -Confirm:$false
    }
    if (Test-Path -LiteralPath $startup) {
        Remove-Item -LiteralPath $startup -Force
    }
}

# --- desired state -----------------------------------------------------------------

# The file cache limits as desired state: Present, the two sizes as hard limits;
# Absent, both hard limits off. Test is true exactly when Velmora -G shows what
# is asked, and Set changes nothing then.
[DscResource()]
class VelmoraFileCacheLimit {
    [DscProperty(Key)]
    [ValidateSet('Yes')]
    [string] $IsSingleInstance

    [DscProperty()]
    [uint64] $MinimumMB

    [DscProperty()]
    [uint64] $MaximumMB

    [DscProperty()]
    [ValidateSet('Present', 'Absent')]
    [string] $Ensure = 'Present'

    [VelmoraFileCacheLimit] Get() {
        $limit = Get-VelmoraFileCacheLimit -ErrorAction Stop
        $state = [VelmoraFileCacheLimit]::new()
        $state.IsSingleInstance = 'Yes'
        $state.MinimumMB = [uint64][math]::Floor($limit.MinimumBytes / 1MB)
        $state.MaximumMB = [uint64][math]::Floor($limit.MaximumBytes / 1MB)
        $state.Ensure = 'Absent'
        if ($limit.Flags -eq 5) {
            $state.Ensure = 'Present'
        }
        return $state
    }

    [bool] Test() {
        $limit = Get-VelmoraFileCacheLimit -ErrorAction Stop
        if ($this.Ensure -eq 'Absent') {
            return $limit.Flags -eq 0
        }
        return $limit.Flags -eq 5 -and
            [decimal]$limit.MinimumBytes -eq [decimal]$this.MinimumMB * 1MB -and
            [decimal]$limit.MaximumBytes -eq [decimal]$this.MaximumMB * 1MB
    }

    [void] Set() {
        if ($this.Test()) {
            return
        }
        if ($this.Ensure -eq 'Absent') {
            Clear-VelmoraFileCacheLimit -Confirm:$false -ErrorAction Stop
        } else {
            Set-VelmoraFileCacheLimit -MinimumMB $this.MinimumMB -MaximumMB $this.MaximumMB -Confirm:$false -ErrorAction Stop
        }
    }
}

Export-ModuleMember -Function Get-VelmoraFileCacheLimit, Set-VelmoraFileCacheLimit, Clear-VelmoraFileCacheLimit,
    Get-VelmoraFileCacheUsage, Register-VelmoraStartupTask, Get-VelmoraStartupTask, Unregister-VelmoraStartupTask
