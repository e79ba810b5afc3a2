function Get-VelmoraFileCacheLimit {
    <#
    .SYNOPSIS
    Gets the limits of the system file cache: its minimum and maximum size and which of them are hard limits.
    .DESCRIPTION
    Runs Velmora -G and gives its answer as a Velmora.FileCacheLimit: the sizes in bytes (MinimumBytes,
    MaximumBytes) and in whole megabytes rounded down (MinimumMB, MaximumMB), whether each is a hard limit
    (MinimumHard, MaximumHard), and the system's flag bits (Flags: 1 the maximum is hard, 4 the minimum is).
    Reading needs no elevation. The object can be saved with Export-Clixml (or Export-Csv) and piped into
    Restore-VelmoraFileCacheLimit to put the limits back.
    .INPUTS
    None.
    .OUTPUTS
    Velmora.FileCacheLimit
    .EXAMPLE
    Get-VelmoraFileCacheLimit

    Shows the limits in force, in MB and in bytes.
    .EXAMPLE
    Get-VelmoraFileCacheLimit -ErrorAction Stop | Export-Clixml (Join-Path (Initialize-VelmoraRecordFolder) 'before.xml')

    Records the limits before changing them, in the records folder, which Initialize-VelmoraRecordFolder makes
    for SYSTEM and administrators only. With -ErrorAction Stop, a failed read ends the line before
    Export-Clixml creates an empty record.
    .LINK
    Restore-VelmoraFileCacheLimit
    .LINK
    about_Velmora
    #>
    [CmdletBinding()]
    [OutputType('Velmora.FileCacheLimit')]
    param()
    $read = Read-VelmoraLimits
    if ($read.Error) {
        $PSCmdlet.WriteError($read.Error)
        return
    }
    $read.Limit
}
