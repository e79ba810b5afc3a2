function Register-VelmoraStartupTask {
    <#
    .SYNOPSIS
    Applies file cache limits at every start of Windows, from a task that runs as SYSTEM.
    .DESCRIPTION
    Checks the sizes as Velmora would judge them at every start (whole megabytes, within its range, the minimum
    below the maximum, the maximum at least 16 MB and, unless -Force, not above physical memory), then, one step
    after the other:
    folder: makes $env:ProgramFiles\Velmora and $env:ProgramData\Velmora;
    owner: makes Administrators the owner of the records folder (takeown);
    permissions: lets only SYSTEM and Administrators use it (icacls);
    program: copies the module's Velmora.exe into $env:ProgramFiles\Velmora, where only administrators and SYSTEM
    may write, so that the task runs nothing another user can change and survives an update of the module;
    script: writes startup.cmd beside it, with the sizes;
    task: registers the task 'Velmora file cache limits' to run the script as SYSTEM at start-up, on battery
    too, for 5 minutes at the most, replacing an older one.
    It stops at the first step that fails, with Velmora.StartupTaskStepFailed naming the step. Each run of the
    task writes one event to the Application log (source Velmora). Needs an elevated PowerShell on Windows;
    -WhatIf previews every step without elevation.
    .PARAMETER MinimumBytes
    The minimum size of the file cache in bytes, a whole number of megabytes (256MB).
    .PARAMETER MaximumBytes
    The maximum size of the file cache in bytes, a whole number of megabytes (2GB).
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
    Register-VelmoraStartupTask 256MB 2GB -WhatIf

    Shows every step that would be taken, and changes nothing; needs no elevation.
    .LINK
    about_Velmora
    #>
    [CmdletBinding(SupportsShouldProcess = $true)]
    [OutputType('Velmora.StartupTask')]
    param(
        [Parameter(Mandatory = $true, Position = 0)] [uint64] $MinimumBytes,
        [Parameter(Mandatory = $true, Position = 1)] [uint64] $MaximumBytes,
        [switch] $Force
    )
    Assert-VelmoraWindows $PSCmdlet
    if (-not $WhatIfPreference) {
        Assert-VelmoraElevated $PSCmdlet
    }
    $sizes = Resolve-VelmoraSizes -Given @{ MinimumBytes = $MinimumBytes; MaximumBytes = $MaximumBytes } -Force:$Force
    if ($sizes.Error) {
        $PSCmdlet.ThrowTerminatingError($sizes.Error)
    }
    $refused = Test-VelmoraHardSizes -MinimumMB $sizes.MinimumMB -MaximumMB $sizes.MaximumMB
    if ($refused) {
        $PSCmdlet.ThrowTerminatingError($refused)
    }
    $arguments = "-S $($sizes.MinimumMB) $($sizes.MaximumMB)"
    $folder = Get-VelmoraFolder
    $data = $folder.Data
    $startup = $folder.Startup
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
        @{ Name = 'script'; Target = $startup; Action = "Write the startup script, applying Velmora $arguments"
           Do = {
               $text = [System.IO.File]::ReadAllText((Join-Path $PSScriptRoot 'startup.cmd'))
               $text = $text -replace '(?m)^set "ARGS=-S \d+ \d+"', "set `"ARGS=$arguments`""
               [System.IO.File]::WriteAllText($startup, $text, (New-Object System.Text.ASCIIEncoding))
           } }
        @{ Name = 'task'; Target = "task '$script:TaskName'"; Action = "Register to run $startup as SYSTEM at start-up"
           Do = {
               $action = New-ScheduledTaskAction -Execute $startup
               $trigger = New-ScheduledTaskTrigger -AtStartup
               $principal = New-ScheduledTaskPrincipal -UserId 'SYSTEM' -LogonType ServiceAccount -RunLevel Highest
               $settings = New-ScheduledTaskSettingsSet -AllowStartIfOnBatteries -DontStopIfGoingOnBatteries `
                   -ExecutionTimeLimit (New-TimeSpan -Minutes 5)
               Register-ScheduledTask -TaskName $script:TaskName -Action $action -Trigger $trigger -Principal $principal `
                   -Settings $settings -Force -ErrorAction Stop | Out-Null
           } }
    )
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
            $exception = New-Object System.InvalidOperationException(
                "The startup task was not registered: the step '$($step.Name)' ($($step.Action): $($step.Target)) failed: $($_.Exception.Message)",
                $_.Exception)
            $PSCmdlet.ThrowTerminatingError((New-VelmoraError $exception 'Velmora.StartupTaskStepFailed' WriteError $step.Name))
        }
    }
    if (-not $WhatIfPreference) {
        Get-VelmoraStartupTask
    }
}
