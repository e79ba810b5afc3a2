function Unregister-VelmoraStartupTask {
    <#
    .SYNOPSIS
    Removes the startup task, and what Register-VelmoraStartupTask put on this machine for it; the limits in force
    stay until the next restart.
    .DESCRIPTION
    Unregisters the task 'Velmora file cache limits', then removes what Register-VelmoraStartupTask recorded that
    it put there: VelmoraState.exe in $env:ProgramFiles\Velmora where it was not there before, that folder where
    it made it and it is empty, and the event source Velmora. Where the MSI installed Velmora, Register put
    nothing there, so the MSI's files and its event source stay. The events of earlier runs, and startup.log or
    startup.cmd of an earlier Velmora, stay too. Needs an elevated PowerShell on Windows; -WhatIf previews it
    without elevation.
    .INPUTS
    None.
    .OUTPUTS
    None.
    .EXAMPLE
    Unregister-VelmoraStartupTask; Clear-VelmoraFileCacheLimit

    Stops applying the limits at start-up, and switches the hard limits in force off now.
    .LINK
    Register-VelmoraStartupTask
    .LINK
    about_Velmora
    #>
    [CmdletBinding(SupportsShouldProcess = $true)]
    [OutputType([void])]
    param()
    $platform = Get-VelmoraPlatformRefusal -Command $MyInvocation.MyCommand.Name -Elevated:(-not $WhatIfPreference)
    if ($platform.Error) {
        $PSCmdlet.ThrowTerminatingError($platform.Error)
    }
    if (-not $PSCmdlet.ShouldProcess("task '$script:TaskName'", 'Unregister, and remove what Register-VelmoraStartupTask put on this machine')) {
        return
    }
    if (Get-ScheduledTask -TaskName $script:TaskName -ErrorAction SilentlyContinue) {
        Unregister-ScheduledTask -TaskName $script:TaskName -Confirm:$false -ErrorAction Stop
    }
    $record = Get-VelmoraRegistryKey $script:StartupTaskKey
    if (-not $record) {
        return
    }
    $folder = Join-Path $env:ProgramFiles 'Velmora'
    if ($record['Files']) {
        foreach ($file in @($record['Files'].Value)) {
            $path = Join-Path $folder $file
            if (Test-Path -LiteralPath $path) {
                Remove-Item -LiteralPath $path -Force -ErrorAction Stop
            }
        }
    }
    if ($record['EventSource'] -and $record['EventSource'].Value -eq 1) {
        Set-VelmoraRegistryKey $script:EventSourceKey $null
    }
    if ($record['Folder'] -and $record['Folder'].Value -eq 1 -and (Test-Path -LiteralPath $folder) -and
        -not (Get-ChildItem -LiteralPath $folder -Force)) {
        Remove-Item -LiteralPath $folder -ErrorAction Stop
    }
    Set-VelmoraRegistryKey $script:StartupTaskKey $null
}
