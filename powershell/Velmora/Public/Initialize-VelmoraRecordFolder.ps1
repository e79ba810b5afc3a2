function Initialize-VelmoraRecordFolder {
    <#
    .SYNOPSIS
    Makes the records folder, $env:ProgramData\Velmora, for SYSTEM and administrators only, and gives it.
    .DESCRIPTION
    The folder where a record of the system's own limits is kept (Get-VelmoraFileCacheLimit | Export-Clixml),
    and where earlier startup scripts logged their runs. Under $env:ProgramData any user may create a folder and
    would own it, so this makes it where it is missing, then makes Administrators its owner (takeown) and lets
    only SYSTEM and Administrators use it (icacls), as Register-VelmoraStartupTask does. A step that fails
    undoes the folder where this made it (Velmora.RecordFolderStepFailed). Needs an elevated PowerShell on
    Windows; -WhatIf previews it without elevation.
    .INPUTS
    None.
    .OUTPUTS
    System.IO.DirectoryInfo
    .EXAMPLE
    Get-VelmoraFileCacheLimit -ErrorAction Stop | Export-Clixml (Join-Path (Initialize-VelmoraRecordFolder) 'before.xml')

    Records the limits in force in the records folder, made first where it is missing.
    .LINK
    Restore-VelmoraFileCacheLimit
    .LINK
    about_Velmora
    #>
    [CmdletBinding(SupportsShouldProcess = $true)]
    [OutputType([System.IO.DirectoryInfo])]
    param()
    $platform = Get-VelmoraPlatformRefusal -Command $MyInvocation.MyCommand.Name -Elevated:(-not $WhatIfPreference)
    if ($platform.Error) {
        $PSCmdlet.ThrowTerminatingError($platform.Error)
    }
    $data = Join-Path $env:ProgramData 'Velmora'
    $made = @{ Records = $false }
    $run = Invoke-VelmoraSteps -Cmdlet $PSCmdlet -Steps @(Get-VelmoraRecordFolderSteps) -NotDone 'The records folder was not made safe' `
        -ErrorId 'Velmora.RecordFolderStepFailed'
    if ($run.Error) {
        $PSCmdlet.ThrowTerminatingError($run.Error)
    }
    if ($run.Done) {
        Get-Item -LiteralPath $data
    }
}
