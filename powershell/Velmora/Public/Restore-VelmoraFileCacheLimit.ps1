function Restore-VelmoraFileCacheLimit {
    <#
    .SYNOPSIS
    Puts recorded limits of the system file cache back: a record from Get-VelmoraFileCacheLimit, Import-Clixml or
    a CSV file.
    .DESCRIPTION
    Applies the record's sizes with both hard limits on (Velmora -S), then switches both hard limits off again
    (Velmora -C) where the record's Flags is 0, as the system's own limits are after a start. A record is
    restored only as it was recorded: its Flags is 0 or 5, its sizes are whole megabytes, and its minimum is
    below its maximum. Anything else only a restart restores, and is refused with nothing applied
    (Velmora.RecordNotRestorable): a Flags of 1 or 4 (one hard limit alone), and an empty or missing Flags, as a
    CSV file with an empty column gives it. When the sizes were applied and switching the hard limits off
    failed, the error is Velmora.RestorePartlyApplied, which says what is in force.

    One record is one object: given more than one from the pipeline, it applies none, and says how many came
    (Velmora.OneObjectExpected). Needs an elevated PowerShell (or SYSTEM).
    .PARAMETER MinimumBytes
    The recorded minimum in bytes. Binds by property name from the pipeline.
    .PARAMETER MaximumBytes
    The recorded maximum in bytes. Binds by property name from the pipeline.
    .PARAMETER Flags
    The recorded flags, 0 (both hard limits off) or 5 (both on). Binds by property name from the pipeline.
    .PARAMETER PassThru
    Gives the limits in force afterwards, read back with Velmora -G.
    .INPUTS
    Velmora.FileCacheLimit, or any object with MinimumBytes, MaximumBytes and Flags.
    .OUTPUTS
    None, or Velmora.FileCacheLimit with -PassThru.
    .EXAMPLE
    $Record = Get-VelmoraFileCacheLimit -ErrorAction Stop; Set-VelmoraFileCacheLimit 256MB 2GB; $Record | Restore-VelmoraFileCacheLimit -PassThru

    Records the limits, caps the cache, and puts the recorded limits back, showing them.
    .EXAMPLE
    Get-VelmoraFileCacheLimit -ErrorAction Stop | Export-Csv before.csv; Import-Csv before.csv | Restore-VelmoraFileCacheLimit -WhatIf

    Records the limits in a CSV file, and shows what putting them back would do.
    .LINK
    Get-VelmoraFileCacheLimit
    .LINK
    about_Velmora
    #>
    [CmdletBinding(SupportsShouldProcess = $true)]
    [OutputType('Velmora.FileCacheLimit')]
    param(
        [Parameter(Mandatory = $true, ValueFromPipelineByPropertyName = $true)] [uint64] $MinimumBytes,
        [Parameter(Mandatory = $true, ValueFromPipelineByPropertyName = $true)] [uint64] $MaximumBytes,
        [Parameter(Mandatory = $true, ValueFromPipelineByPropertyName = $true)] [AllowNull()] [AllowEmptyString()] [object] $Flags,
        [switch] $PassThru
    )
    begin {
        $records = New-Object System.Collections.Generic.List[object]
    }
    process {
        $records.Add([pscustomobject]@{ MinimumBytes = $MinimumBytes; MaximumBytes = $MaximumBytes; Flags = $Flags })
    }
    end {
        if ($records.Count -gt 1) {
            $PSCmdlet.WriteError((New-VelmoraTooManyObjectsError $records.Count $MyInvocation.MyCommand.Name))
            return
        }
        $restore = Invoke-VelmoraRestore -Cmdlet $PSCmdlet -MinimumBytes $records[0].MinimumBytes -MaximumBytes $records[0].MaximumBytes `
            -Flags $records[0].Flags -PassThru:$PassThru
        if ($restore.Error) {
            $PSCmdlet.WriteError($restore.Error)
        } elseif ($restore.Limit) {
            $restore.Limit
        }
    }
}
