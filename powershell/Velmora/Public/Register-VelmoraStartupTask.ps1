function Register-VelmoraStartupTask {
    <#
    .SYNOPSIS
    Applies file cache limits at every start of Windows, from a task that runs as SYSTEM.
    .DESCRIPTION
    Has VelmoraState judge the sizes first, by the rules the DSC 3 resource and Set-VelmoraFileCacheLimit share
    (whole megabytes, within the program's range, the minimum below the maximum, the maximum at least 16 MB and,
    unless -Force, not above physical memory; Velmora.SizesRefused, Velmora.WantedStateNotValid), then, one
    step after the other:
    folder: makes $env:ProgramFiles\Velmora and $env:ProgramData\Velmora;
    owner: makes Administrators the owner of the records folder (takeown);
    permissions: lets only SYSTEM and Administrators use it (icacls);
    program: copies the module's Velmora.exe into $env:ProgramFiles\Velmora, where only administrators and SYSTEM
    may write, so that the task runs nothing another user can change and survives an update of the module;
    state program: copies VelmoraState.exe beside it, which startup.ps1 asks what shares of memory come to;
    script: writes the startup script beside it, with the sizes: startup.cmd for fixed sizes applied at
    start-up, startup.ps1 (run by Windows PowerShell) for shares of memory or a task that repeats;
    task: registers the task 'Velmora file cache limits' from VelmoraStartupTask.xml, the definition that ships
    with Velmora.exe (as SYSTEM at start-up, on battery too, for 5 minutes at the most), with the script as its
    command, replacing an older one.
    It stops at the first step that fails, with Velmora.StartupTaskStepFailed naming the step and the steps
    done before it. Each run of the
    task writes one event to the Application log (source Velmora). Needs an elevated PowerShell on Windows;
    -WhatIf previews every step without elevation.
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
    four places after the point, worked out at each run.
    .PARAMETER RepeatEvery
    Runs the task again at this interval (one minute at the least) as well as at start-up. Each run reads the
    limits first and sets them only where they differ, so that limits changed by anything else are put back;
    its event says which (ID 5 in place, ID 1 changed from what to what). Off by default.
    .PARAMETER Force
    Accepts a maximum above the machine's physical memory, which caps nothing.
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
    about_Velmora
    #>
    [CmdletBinding(SupportsShouldProcess = $true, DefaultParameterSetName = 'Bytes')]
    [OutputType('Velmora.StartupTask')]
    param(
        [Parameter(Mandatory = $true, Position = 0, ParameterSetName = 'Bytes')] [uint64] $MinimumBytes,
        [Parameter(Mandatory = $true, Position = 1, ParameterSetName = 'Bytes')] [uint64] $MaximumBytes,
        [Parameter(Mandatory = $true, ParameterSetName = 'Percent')] [decimal] $MinimumPercent,
        [Parameter(Mandatory = $true, ParameterSetName = 'Percent')] [decimal] $MaximumPercent,
        [TimeSpan] $RepeatEvery,
        [switch] $Force
    )
    Assert-VelmoraWindows $PSCmdlet
    if (-not $WhatIfPreference) {
        Assert-VelmoraElevated $PSCmdlet
    }
    # Shares of memory are checked as this machine's memory gives them now; the
    # task works them out again at each run.
    $sizes = Resolve-VelmoraSizes -Given $PSBoundParameters -Force:$Force
    if ($sizes.Error) {
        $PSCmdlet.ThrowTerminatingError($sizes.Error)
    }
    $repeats = $PSBoundParameters.ContainsKey('RepeatEvery')
    if ($repeats -and $RepeatEvery -lt [TimeSpan]::FromMinutes(1)) {
        $exception = New-Object System.ArgumentException("-RepeatEvery is $($RepeatEvery): the task scheduler repeats a task once a minute at the most often")
        $PSCmdlet.ThrowTerminatingError((New-VelmoraError $exception 'Velmora.RepetitionRefused' InvalidArgument $RepeatEvery))
    }
    # Fixed sizes applied once at start-up: startup.cmd. Shares of memory, or a
    # task that repeats and so must set only what differs: startup.ps1.
    $powershell = $PSCmdlet.ParameterSetName -eq 'Percent' -or $repeats
    if ($PSCmdlet.ParameterSetName -eq 'Percent') {
        $minimumShare = ConvertTo-VelmoraJsonNumber $MinimumPercent
        $maximumShare = ConvertTo-VelmoraJsonNumber $MaximumPercent
        $wanted = "@{ minimumPercent = $minimumShare; maximumPercent = $maximumShare }"
        $applies = "$minimumShare % and $maximumShare % of memory"
    } else {
        $wanted = "@{ minimumMB = $($sizes.MinimumMB); maximumMB = $($sizes.MaximumMB) }"
        $applies = "$($sizes.MinimumMB) MB and $($sizes.MaximumMB) MB"
    }
    $arguments = "-S $($sizes.MinimumMB) $($sizes.MaximumMB)"
    $folder = Get-VelmoraFolder
    $data = $folder.Data
    $startup = $folder.Startup
    if ($powershell) {
        $startup = $folder.StartupScript
    }
    $steps = @(
        @{ Name = 'folder'; Target = "$($folder.Program), $data"; Action = 'Create the folders'
           Do = { New-Item -ItemType Directory -Force -Path $folder.Program, $data -ErrorAction Stop | Out-Null } }
        @{ Name = 'owner'; Target = $data; Action = 'Make Administrators the owner'
           Do = { Invoke-VelmoraTool takeown '/F', $data, '/A', '/R' } }
        @{ Name = 'permissions'; Target = $data; Action = 'Let only SYSTEM and Administrators use it'
           Do = {
               Invoke-VelmoraTool icacls $data, '/reset', '/T', '/Q'
               Invoke-VelmoraTool icacls $data, '/inheritance:r', '/grant:r', '*S-1-5-18:(OI)(CI)F', '*S-1-5-32-544:(OI)(CI)F', '/Q'
           } }
        @{ Name = 'program'; Target = (Join-Path $folder.Program 'Velmora.exe'); Action = "Copy $(Get-VelmoraProgram)"
           Do = { Copy-Item -LiteralPath (Get-VelmoraProgram) -Destination (Join-Path $folder.Program 'Velmora.exe') -Force -ErrorAction Stop } }
        @{ Name = 'state program'; Target = (Join-Path $folder.Program 'VelmoraState.exe'); Action = "Copy $(Get-VelmoraProgram -Name VelmoraState)"
           Do = { Copy-Item -LiteralPath (Get-VelmoraProgram -Name VelmoraState) -Destination (Join-Path $folder.Program 'VelmoraState.exe') -Force -ErrorAction Stop } }
        @{ Name = 'script'; Target = $startup; Action = "Write the startup script, applying $applies"
           Do = {
               if ($powershell) {
                   $text = [System.IO.File]::ReadAllText((Join-Path $PSScriptRoot 'startup.ps1'))
                   $text = $text -replace $script:StartupWantedLine, "`$Wanted = $wanted"
               } else {
                   $text = [System.IO.File]::ReadAllText((Join-Path $PSScriptRoot 'startup.cmd'))
                   $text = $text -replace $script:StartupArgsLine, "set `"ARGS=$arguments`""
               }
               [System.IO.File]::WriteAllText($startup, $text, (New-Object System.Text.ASCIIEncoding))
               # The other script, from a task registered the other way before, goes.
               foreach ($other in $folder.Startup, $folder.StartupScript) {
                   if ($other -ne $startup -and (Test-Path -LiteralPath $other)) {
                       Remove-Item -LiteralPath $other -Force -ErrorAction Stop
                   }
               }
           } }
        @{ Name = 'task'; Target = "task '$script:TaskName'"; Action = "Register to run $startup as SYSTEM at start-up"
           Do = {
               # The definition that ships beside startup.cmd, with this script as its command.
               $definition = New-Object System.Xml.XmlDocument
               $definition.Load((Join-Path $PSScriptRoot 'VelmoraStartupTask.xml'))
               $namespace = $definition.DocumentElement.NamespaceURI
               $names = New-Object System.Xml.XmlNamespaceManager($definition.NameTable)
               $names.AddNamespace('t', $namespace)
               $exec = $definition.SelectSingleNode('/t:Task/t:Actions/t:Exec', $names)
               if ($powershell) {
                   $exec.SelectSingleNode('t:Command', $names).InnerText = 'powershell.exe'
                   $argument = $exec.AppendChild($definition.CreateElement('Arguments', $namespace))
                   $argument.InnerText = "-NoLogo -NoProfile -NonInteractive -ExecutionPolicy Bypass -File `"$startup`""
               } else {
                   $exec.SelectSingleNode('t:Command', $names).InnerText = $startup
               }
               if ($repeats) {
                   # A second trigger from now on, at the interval, for as long as the task exists.
                   $trigger = $definition.SelectSingleNode('/t:Task/t:Triggers', $names).AppendChild(
                       $definition.CreateElement('TimeTrigger', $namespace))
                   $repetition = $trigger.AppendChild($definition.CreateElement('Repetition', $namespace))
                   $repetition.AppendChild($definition.CreateElement('Interval', $namespace)).InnerText =
                       [System.Xml.XmlConvert]::ToString($RepeatEvery)
                   $trigger.AppendChild($definition.CreateElement('StartBoundary', $namespace)).InnerText =
                       (Get-Date).ToString('s')
                   $trigger.AppendChild($definition.CreateElement('Enabled', $namespace)).InnerText = 'true'
               }
               Register-ScheduledTask -TaskName $script:TaskName -Xml $definition.OuterXml -Force -ErrorAction Stop |
                   Out-Null
           } }
    )
    $done = @()
    foreach ($step in $steps) {
        if (-not $PSCmdlet.ShouldProcess($step.Target, $step.Action)) {
            # -WhatIf goes on to show every step; a step declined at -Confirm ends the run.
            if ($WhatIfPreference) {
                continue
            }
            return
        }
        Write-Verbose "Step $($step.Name): $($step.Action) ($($step.Target))"
        try {
            & $step.Do
        } catch {
            $before = 'no step was done before it'
            if ($done) {
                $before = "steps done before it: $($done -join ', ')"
            }
            $exception = New-Object System.InvalidOperationException(
                "The startup task was not registered: the step '$($step.Name)' ($($step.Action): $($step.Target)) failed: $($_.Exception.Message); $before.",
                $_.Exception)
            $PSCmdlet.ThrowTerminatingError((New-VelmoraError $exception 'Velmora.StartupTaskStepFailed' WriteError $step.Name))
        }
        $done += $step.Name
    }
    if (-not $WhatIfPreference) {
        Get-VelmoraStartupTask
    }
}
