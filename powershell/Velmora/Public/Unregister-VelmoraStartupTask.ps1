function Unregister-VelmoraStartupTask {
    <#
    .SYNOPSIS
    Removes the startup task and its script; the limits in force stay until the next restart.
    .DESCRIPTION
    Unregisters the task 'Velmora file cache limits' and removes $env:ProgramFiles\Velmora\startup.cmd. The
    program beside it and the records in $env:ProgramData\Velmora stay. Needs an elevated PowerShell on Windows;
    -WhatIf previews it without elevation.
    .INPUTS
    None.
    .OUTPUTS
    None.
    .EXAMPLE
    Unregister-VelmoraStartupTask; Clear-VelmoraFileCacheLimit

    Stops applying the limits at start-up, and switches the hard limits in force off now.
    .LINK
    about_Velmora
    #>
    [CmdletBinding(SupportsShouldProcess = $true)]
    [OutputType([void])]
    param()
    Assert-VelmoraWindows $PSCmdlet
    if (-not $WhatIfPreference) {
        Assert-VelmoraElevated $PSCmdlet
    }
    $startup = (Get-VelmoraFolder).Startup
    if (-not $PSCmdlet.ShouldProcess("task '$script:TaskName'", "Unregister, and remove $startup")) {
        return
    }
    if (Get-ScheduledTask -TaskName $script:TaskName -ErrorAction SilentlyContinue) {
        Unregister-ScheduledTask -TaskName $script:TaskName -Confirm:$false -ErrorAction Stop
    }
    if (Test-Path -LiteralPath $startup) {
        Remove-Item -LiteralPath $startup -Force -ErrorAction Stop
    }
}
