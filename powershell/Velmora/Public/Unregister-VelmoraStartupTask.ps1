function Unregister-VelmoraStartupTask {
    <#
    .SYNOPSIS
    Removes the startup task and its script; the limits in force stay until the next restart.
    .DESCRIPTION
    Unregisters the task 'Velmora file cache limits' and removes its script from $env:ProgramFiles\Velmora. The
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
    $folder = Get-VelmoraFolder
    if (-not $PSCmdlet.ShouldProcess("task '$script:TaskName'", "Unregister, and remove its startup script")) {
        return
    }
    if (Get-ScheduledTask -TaskName $script:TaskName -ErrorAction SilentlyContinue) {
        Unregister-ScheduledTask -TaskName $script:TaskName -Confirm:$false -ErrorAction Stop
    }
    foreach ($file in $folder.Startup, $folder.StartupScript) {
        if (Test-Path -LiteralPath $file) {
            Remove-Item -LiteralPath $file -Force -ErrorAction Stop
        }
    }
}
