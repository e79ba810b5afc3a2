function Set-VelmoraFileCacheLimit {
    <#
    .SYNOPSIS
    Sets the minimum and maximum size of the system file cache with both hard limits on, or puts recorded limits back.
    .DESCRIPTION
    Applies the sizes in whole megabytes with both hard limits on. Sizes are given in bytes, as PowerShell
    writes them (256MB, 2GB), or as a share of this machine's physical memory, worked out by VelmoraState when
    the cmdlet runs and rounded down to whole megabytes.

    VelmoraState judges the sizes first, by the rules the DSC 3 resource, the class resource and the Intune
    pair share, and sets them only where they are not in force already: sizes that cannot hold as hard limits
    (the minimum not below the maximum, a maximum under 16 MB or above the machine's physical memory, a share
    of less than 1 MB, a size past the program's range) are refused before anything changes
    (Velmora.SizesRefused), as is a share that is not a number above 0 and at most 100 with up to four places
    (Velmora.WantedStateNotValid) or a share where the memory cannot be read (Velmora.MemoryUnreadable). Where
    the system keeps a lower maximum than was asked, a warning says what it holds.

    A size that is not a whole number of megabytes is refused before anything runs
    (Velmora.SizeNotWholeMegabytes). A size of 0 keeps that limit as it is: the sizes then go to Velmora -S as
    they are, and the system judges them. -Force takes a maximum above physical memory, and also hands the
    sizes to Velmora -S.

    Given a Velmora.FileCacheLimit with its Flags (from Get-VelmoraFileCacheLimit, or Import-Clixml of a
    record), it puts those limits back: the sizes with both hard limits on, then both hard limits off (Velmora
    -C) where the record's flags are 0. A record whose flags hold one hard limit alone (1 or 4), whose sizes
    are not whole megabytes, or whose minimum is not below its maximum, only a restart restores: it is refused
    (Velmora.RecordNotRestorable). When the sizes were applied and switching the hard limits off failed, the
    error is Velmora.RestorePartlyApplied, which says what is in force.

    Needs an elevated PowerShell (or SYSTEM): changing the limits needs SeIncreaseQuotaPrivilege.
    .PARAMETER MinimumBytes
    The minimum size of the file cache in bytes, a whole number of megabytes (256MB); 0 keeps the minimum in
    force. Binds by property name from the pipeline.
    .PARAMETER MaximumBytes
    The maximum size of the file cache in bytes, a whole number of megabytes (2GB); 0 keeps the maximum in
    force. Binds by property name from the pipeline.
    .PARAMETER Flags
    The flags of a recorded Velmora.FileCacheLimit: 0 or 5. Given (usually by property name from the pipeline),
    the sizes are a record to put back, with both hard limits switched off again where it is 0.
    .PARAMETER MinimumPercent
    The minimum as a share of this machine's physical memory in percent, above 0 and at most 100, with up to
    four places after the point (12.5, 1.5625), rounded down to whole megabytes.
    .PARAMETER MaximumPercent
    The maximum as a share of this machine's physical memory in percent, above 0 and at most 100, with up to
    four places after the point, rounded down to whole megabytes.
    .PARAMETER Force
    Applies a maximum above the machine's physical memory, which caps nothing, with Velmora -S.
    .PARAMETER PassThru
    Gives the limits in force afterwards, read back with Velmora -G. If that read fails after the change was
    applied, the error is Velmora.ReadBackFailed, and the change stands.
    .INPUTS
    Velmora.FileCacheLimit, or any object with MinimumBytes and MaximumBytes (and Flags, for a restore).
    .OUTPUTS
    None, or Velmora.FileCacheLimit with -PassThru.
    .EXAMPLE
    Set-VelmoraFileCacheLimit 256MB 2GB

    Caps the file cache at 2 GB and keeps at least 256 MB for it, both as hard limits.
    .EXAMPLE
    Set-VelmoraFileCacheLimit -MinimumPercent 1.5625 -MaximumPercent 12.5 -PassThru

    Sizes both limits from this machine's memory, 1/64 and 1/8 of it (on 64 GB: 1024 MB and 8192 MB), and
    shows them afterwards.
    .EXAMPLE
    Import-Clixml "$env:ProgramData\Velmora\before.xml" | Set-VelmoraFileCacheLimit -ErrorAction Stop

    Puts back limits recorded with Get-VelmoraFileCacheLimit | Export-Clixml.
    .LINK
    about_Velmora
    #>
    [CmdletBinding(SupportsShouldProcess = $true, DefaultParameterSetName = 'Bytes')]
    [OutputType('Velmora.FileCacheLimit')]
    param(
        [Parameter(Mandatory = $true, Position = 0, ValueFromPipelineByPropertyName = $true, ParameterSetName = 'Bytes')]
        [uint64] $MinimumBytes,
        [Parameter(Mandatory = $true, Position = 1, ValueFromPipelineByPropertyName = $true, ParameterSetName = 'Bytes')]
        [uint64] $MaximumBytes,
        [Parameter(ValueFromPipelineByPropertyName = $true, ParameterSetName = 'Bytes')]
        [int] $Flags,
        [Parameter(Mandatory = $true, ParameterSetName = 'Percent')]
        [decimal] $MinimumPercent,
        [Parameter(Mandatory = $true, ParameterSetName = 'Percent')]
        [decimal] $MaximumPercent,
        [switch] $Force,
        [switch] $PassThru
    )
    process {
        $restore = $PSBoundParameters.ContainsKey('Flags')
        $clear = $false
        # A wanted state, which VelmoraState resolves: sizes that are not 0, not a
        # record to put back. It also judges and sets them, unless forced.
        $wantedState = -not $restore -and
            ($PSCmdlet.ParameterSetName -eq 'Percent' -or ($MinimumBytes -ne 0 -and $MaximumBytes -ne 0))
        $judged = $wantedState -and -not $Force
        if ($restore) {
            $record = "Min:[$MinimumBytes], Max:[$MaximumBytes], Flags: $Flags"
            $why = $null
            if ($MinimumBytes % 1MB -or $MaximumBytes % 1MB) {
                $why = 'its sizes are not whole megabytes'
            } elseif ($MinimumBytes -ge $MaximumBytes) {
                $why = 'its minimum is not below its maximum'
            } elseif ($Flags -eq $script:MaximumHardFlag -or $Flags -eq $script:MinimumHardFlag) {
                $why = 'it holds one hard limit alone'
            } elseif ($Flags -ne 0 -and $Flags -ne $script:BothHardFlags) {
                $why = "its flags $Flags are none that Get-VelmoraFileCacheLimit gives"
            }
            if ($why) {
                $exception = New-Object System.ArgumentException("The recorded limits $record cannot be put back, as $($why): only a restart restores them")
                $PSCmdlet.WriteError((New-VelmoraError $exception 'Velmora.RecordNotRestorable' InvalidData $record))
                return
            }
            $sizes = [pscustomobject]@{ MinimumMB = ConvertTo-VelmoraWholeMB $MinimumBytes; MaximumMB = ConvertTo-VelmoraWholeMB $MaximumBytes }
            $clear = $Flags -eq 0
        } elseif ($wantedState) {
            $sizes = Resolve-VelmoraSizes -Given $PSBoundParameters -Force:$Force
            if ($sizes.Error) {
                $PSCmdlet.WriteError($sizes.Error)
                return
            }
        } else {
            # A size of 0 keeps that limit: no wanted state, the system judges.
            $wanted = ConvertTo-VelmoraWantedState -Given $PSBoundParameters
            if ($wanted.Error) {
                $PSCmdlet.WriteError($wanted.Error)
                return
            }
            $sizes = [pscustomobject]@{ MinimumMB = ConvertTo-VelmoraWholeMB $MinimumBytes; MaximumMB = ConvertTo-VelmoraWholeMB $MaximumBytes }
        }
        $minimum = $sizes.MinimumMB
        $maximum = $sizes.MaximumMB
        $action = "Set the file cache limits to $minimum MB and $maximum MB, both hard"
        if ($clear) {
            $action += ', then switch both hard limits off'
        }
        if (-not $PSCmdlet.ShouldProcess((Get-VelmoraComputerName), $action)) {
            return
        }
        if ($judged) {
            $set = Invoke-VelmoraState -Method set -Wanted "{`"minimumMB`":$minimum,`"maximumMB`":$maximum}"
            foreach ($warning in $set.Warnings) {
                Write-Warning $warning
            }
        } else {
            $set = Invoke-Velmora -Arguments '-S', "$minimum", "$maximum" -Call Set
        }
        if ($set.Error) {
            $PSCmdlet.WriteError($set.Error)
            return
        }
        $done = "The file cache limits were set to $minimum MB and $maximum MB with both hard limits on"
        if ($clear) {
            $off = Invoke-Velmora -Arguments '-C' -Call Set
            if ($off.Error) {
                $inForce = (Read-VelmoraLimits).Limit
                $now = 'the limits in force could not be read back'
                if ($inForce) {
                    $now = "in force now: $($inForce.MinimumBytes) and $($inForce.MaximumBytes) bytes, flags $($inForce.Flags)"
                }
                $exception = New-Object System.InvalidOperationException(
                    "The restore was applied in part. $done (Velmora -S $minimum $maximum), but switching them off (Velmora -C) failed: $($off.Error.Exception.Message); $now.",
                    $off.Error.Exception)
                $PSCmdlet.WriteError((New-VelmoraError $exception 'Velmora.RestorePartlyApplied' InvalidResult $record 'Run Clear-VelmoraFileCacheLimit once what made Velmora -C fail is mended, or restart to go back to the system''s own limits.'))
                return
            }
            $done = "The recorded limits were put back: $minimum MB and $maximum MB, both hard limits off"
        }
        if ($PassThru) {
            Write-VelmoraReadBack -Cmdlet $PSCmdlet -Done $done
        }
    }
}
