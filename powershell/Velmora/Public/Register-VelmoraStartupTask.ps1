function Register-VelmoraStartupTask {
    <#
    .SYNOPSIS
    Applies file cache limits at every start of Windows, from a task that runs VelmoraState.exe as SYSTEM.
    .DESCRIPTION
    Registers the task 'Velmora file cache limits' from VelmoraStartupTask.xml, the definition that ships with
    Velmora.exe (as SYSTEM at start-up, on battery too, for 5 minutes at the most), replacing an older one. The
    task runs VelmoraState.exe with the wanted state in its own arguments, for example
    'set --minimum 256MB --maximum 12.5% --event-log': the task definition is where the wanted state is kept, so
    no file is written with it, every shipped file stays as signed, and an upgrade of Velmora by any path keeps it.
    At each run VelmoraState reads the limits, sets them only where they differ, and writes one event to the
    Application log (source Velmora; about_Velmora lists the IDs).

    VelmoraState judges the wanted state first, by the rules of the DSC 3 resource (whole megabytes, the minimum
    below the maximum, the maximum at least 16 MB and, unless -Force, not above physical memory;
    Velmora.SizesRefused, Velmora.WantedStateNotValid); nothing is changed where it refuses.

    Where the MSI installed Velmora, the task runs the MSI's VelmoraState.exe and nothing is copied: the MSI owns
    $env:ProgramFiles\Velmora and the event source. The steps are, one after the other:
    records folder, owner, permissions: makes $env:ProgramData\Velmora, the folder for records such as the
    system's own values, with Administrators its owner and only SYSTEM and Administrators allowed in (takeown,
    icacls); then, where the MSI did not install Velmora:
    folder: makes $env:ProgramFiles\Velmora, where only administrators and SYSTEM may write;
    program: puts the module's VelmoraState.exe there (copied beside it first, then swapped in);
    event source: registers the source Velmora with the program's message table, in place of a key that
    eventcreate made for an earlier startup script;
    record: records what it put there, which Unregister-VelmoraStartupTask removes;
    task: registers the task, last.
    A step that fails undoes the steps before it, so that the task and the files that were there before work as
    they did (the records folder keeps the owner and permissions it was given); Velmora.StartupTaskStepFailed names the step, and what was done and undone. Needs an elevated
    PowerShell on Windows; -WhatIf previews every step without elevation.
    .PARAMETER MinimumBytes
    The minimum size of the file cache in bytes, a whole number of megabytes (256MB).
    .PARAMETER MaximumBytes
    The maximum size of the file cache in bytes, a whole number of megabytes (2GB).
    .PARAMETER MinimumPercent
    The minimum as a share of the machine's physical memory in percent, above 0 and at most 100, with up to
    four places after the point, worked out in whole megabytes at each run of the task, so that a resized
    virtual machine gets its new share at its next start.
    .PARAMETER MaximumPercent
    The maximum as a share of the machine's physical memory in percent, above 0 and at most 100, with up to
    four places after the point, worked out at each run. A size in bytes and a share may be given together
    (-MinimumBytes 256MB -MaximumPercent 25).
    .PARAMETER RepeatEvery
    Runs the task again at this interval, a TimeSpan from one minute to 31 days ((New-TimeSpan -Minutes 30),
    or '00:30:00'), as well as at start-up, so that limits changed by anything else are put back (event ID 1
    says from what to what; ID 5 that they were in place). Digits alone are refused. Off by default.
    .PARAMETER Force
    Accepts a maximum above the machine's physical memory, which caps nothing; the task's arguments then carry
    --allow-above-memory.
    .INPUTS
    None.
    .OUTPUTS
    Velmora.StartupTask
    .EXAMPLE
    Register-VelmoraStartupTask 256MB 2GB

    From the next start on, caps the file cache at 2 GB with at least 256 MB, as SYSTEM.
    .EXAMPLE
    Register-VelmoraStartupTask -MinimumPercent 2 -MaximumPercent 25 -RepeatEvery (New-TimeSpan -Hours 1)

    Holds the limits at 2 % and 25 % of this machine's memory: at every start, and every hour puts them back
    where something else has changed them.
    .EXAMPLE
    Register-VelmoraStartupTask 256MB 2GB -WhatIf

    Shows every step that would be taken, and changes nothing; needs no elevation.
    .LINK
    Get-VelmoraStartupTask
    .LINK
    about_Velmora
    #>
    [CmdletBinding(SupportsShouldProcess = $true, DefaultParameterSetName = 'Bytes')]
    [OutputType('Velmora.StartupTask')]
    param(
        [Parameter(Mandatory = $true, Position = 0, ParameterSetName = 'Bytes')]
        [Parameter(Mandatory = $true, ParameterSetName = 'MinimumBytesMaximumPercent')]
        [uint64] $MinimumBytes,
        [Parameter(Mandatory = $true, Position = 1, ParameterSetName = 'Bytes')]
        [Parameter(Mandatory = $true, ParameterSetName = 'MinimumPercentMaximumBytes')]
        [uint64] $MaximumBytes,
        [Parameter(Mandatory = $true, ParameterSetName = 'Percent')]
        [Parameter(Mandatory = $true, ParameterSetName = 'MinimumPercentMaximumBytes')]
        [decimal] $MinimumPercent,
        [Parameter(Mandatory = $true, ParameterSetName = 'Percent')]
        [Parameter(Mandatory = $true, ParameterSetName = 'MinimumBytesMaximumPercent')]
        [decimal] $MaximumPercent,
        [object] $RepeatEvery,
        [switch] $Force
    )
    $platform = Get-VelmoraPlatformRefusal -Command $MyInvocation.MyCommand.Name -Elevated:(-not $WhatIfPreference)
    if ($platform.Error) {
        $PSCmdlet.ThrowTerminatingError($platform.Error)
    }
    $repeats = $PSBoundParameters.ContainsKey('RepeatEvery')
    $interval = $null
    if ($repeats) {
        $interval = ConvertTo-VelmoraRepetition $RepeatEvery
        $why = $null
        if ($null -eq $interval) {
            $why = "is no interval: write a TimeSpan, such as (New-TimeSpan -Minutes 30) or '00:30:00' (digits alone would be read as ticks or days)"
        } elseif ($interval -lt [TimeSpan]::FromMinutes(1) -or $interval -gt [TimeSpan]::FromDays(31)) {
            $why = "is $($interval): the task scheduler repeats a task from once a minute to once in 31 days"
        }
        if ($why) {
            $exception = New-Object System.ArgumentException("-RepeatEvery '$RepeatEvery' $why")
            $PSCmdlet.ThrowTerminatingError((New-VelmoraError $exception 'Velmora.RepetitionRefused' InvalidArgument $RepeatEvery))
        }
    }

    # The wanted state as the task's flags, judged by VelmoraState as the task's
    # runs will judge it (shares of memory as this machine's memory gives them now).
    $wanted = ConvertTo-VelmoraWantedState -Given $PSBoundParameters
    if ($wanted.Error) {
        $PSCmdlet.ThrowTerminatingError($wanted.Error)
    }
    $flags = ConvertTo-VelmoraStateFlags -Given $PSBoundParameters
    if ($Force) {
        $flags += '--allow-above-memory'
    }
    $judged = Invoke-VelmoraState -Method resolve -Arguments $flags
    if ($judged.Error) {
        $PSCmdlet.ThrowTerminatingError($judged.Error)
    }
    $arguments = (@('set') + $flags + @('--event-log')) -join ' '

    # Whose folder: the MSI's, where it installed Velmora; else the module's.
    $installed = Get-VelmoraInstalledFolder
    $folder = Join-Path $env:ProgramFiles 'Velmora'
    if ($installed) {
        $folder = $installed
    }
    $program = Join-Path $folder 'VelmoraState.exe'
    $definition = New-VelmoraTaskDefinition -Program $program -Arguments $arguments -RepeatEvery $interval

    $made = @{ Folder = $false; Replaced = $false; Program = $false; Records = $false }
    $data = Join-Path $env:ProgramData 'Velmora'
    $steps = @(Get-VelmoraRecordFolderSteps)
    if (-not $installed) {
        $steps += @{ Name = 'folder'; Target = $folder; Action = 'Create the folder'
            Do = {
                if (-not (Test-Path -LiteralPath $folder)) {
                    New-Item -ItemType Directory -Path $folder -ErrorAction Stop | Out-Null
                    $made.Folder = $true
                }
            }
            Undo = {
                if ($made.Folder -and -not (Get-ChildItem -LiteralPath $folder -Force)) {
                    Remove-Item -LiteralPath $folder -ErrorAction Stop
                }
            } }
        $steps += @{ Name = 'program'; Target = $program; Action = "Put $(Get-VelmoraProgram -Name VelmoraState) there"
            Do = {
                Copy-Item -LiteralPath (Get-VelmoraProgram -Name VelmoraState) -Destination "$program.new" -Force -ErrorAction Stop
                if (Test-Path -LiteralPath $program) {
                    Move-Item -LiteralPath $program -Destination "$program.old" -Force -ErrorAction Stop
                    $made.Replaced = $true
                }
                Move-Item -LiteralPath "$program.new" -Destination $program -ErrorAction Stop
                $made.Program = $true
            }
            Undo = {
                if ($made.Program) {
                    Remove-Item -LiteralPath $program -Force -ErrorAction Stop
                }
                if ($made.Replaced) {
                    Move-Item -LiteralPath "$program.old" -Destination $program -ErrorAction Stop
                }
                if (Test-Path -LiteralPath "$program.new") {
                    Remove-Item -LiteralPath "$program.new" -Force -ErrorAction Stop
                }
            } }
        $steps += @{ Name = 'event source'; Target = $script:EventSourceKey; Action = "Register the source Velmora, with the messages of $program"
            Do = {
                $made.EventSource = Get-VelmoraRegistryKey $script:EventSourceKey
                Set-VelmoraRegistryKey $script:EventSourceKey @{
                    EventMessageFile = [pscustomobject]@{ Value = $program; Kind = 'ExpandString' }
                    TypesSupported   = [pscustomobject]@{ Value = 7; Kind = 'DWord' }
                }
            }
            Undo = { Set-VelmoraRegistryKey $script:EventSourceKey $made.EventSource } }
        $steps += @{ Name = 'record'; Target = $script:StartupTaskKey; Action = 'Record what was put on this machine, for Unregister-VelmoraStartupTask'
            Do = {
                $made.Record = Get-VelmoraRegistryKey $script:StartupTaskKey
                $files = @()
                $createdFolder = 0
                if ($made.Record) {
                    if ($made.Record['Files']) { $files = @($made.Record['Files'].Value) }
                    if ($made.Record['Folder']) { $createdFolder = [int]$made.Record['Folder'].Value }
                }
                if (-not $made.Replaced -and $files -notcontains 'VelmoraState.exe') {
                    $files += 'VelmoraState.exe'
                }
                if ($made.Folder) {
                    $createdFolder = 1
                }
                Set-VelmoraRegistryKey $script:StartupTaskKey @{
                    Files       = [pscustomobject]@{ Value = [string[]]$files; Kind = 'MultiString' }
                    Folder      = [pscustomobject]@{ Value = $createdFolder; Kind = 'DWord' }
                    EventSource = [pscustomobject]@{ Value = 1; Kind = 'DWord' }
                }
            }
            Undo = { Set-VelmoraRegistryKey $script:StartupTaskKey $made.Record } }
    }
    $steps += @{ Name = 'task'; Target = "task '$script:TaskName'"; Action = "Register to run $program $arguments as SYSTEM at start-up"
        Do = { Register-ScheduledTask -TaskName $script:TaskName -Xml $definition -Force -ErrorAction Stop | Out-Null }
        Undo = {} }

    $run = Invoke-VelmoraSteps -Cmdlet $PSCmdlet -Steps $steps -NotDone 'The startup task was not registered' `
        -ErrorId 'Velmora.StartupTaskStepFailed'
    if ($run.Error) {
        $PSCmdlet.ThrowTerminatingError($run.Error)
    }
    if (-not $run.Done) {
        return
    }
    if (-not $installed -and (Test-Path -LiteralPath "$program.old")) {
        Remove-Item -LiteralPath "$program.old" -Force -ErrorAction SilentlyContinue
        if (Test-Path -LiteralPath "$program.old") {
            Write-Warning "The task is registered; the program it replaced is left as $program.old, which could not be removed."
        }
    }
    Get-VelmoraStartupTask
}
