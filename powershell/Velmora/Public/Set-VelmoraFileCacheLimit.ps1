function Set-VelmoraFileCacheLimit {
    <#
    .SYNOPSIS
    Sets the minimum and maximum size of the system file cache with both hard limits on.
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
    (Velmora.SizeNotWholeMegabytes). A size of 0 keeps that limit as it is: VelmoraState judges the sizes with
    the limit in force in its place, and the 0 goes to Velmora -S as it is. A size in bytes and a share may be
    given together (-MinimumBytes with -MaximumPercent, or -MinimumPercent with -MaximumBytes). -Force takes a
    maximum above physical memory, which caps nothing, and skips only that check.

    One wanted state is one object: given more than one from the pipeline, it applies none, and says how many
    came (Velmora.OneObjectExpected). Records of limits are Restore-VelmoraFileCacheLimit's to put back. For
    this release, an object with a Flags property is still put back as a record, with a warning that names
    Restore-VelmoraFileCacheLimit, and with its refusals (Velmora.RecordNotRestorable).

    Needs an elevated PowerShell (or SYSTEM): changing the limits needs SeIncreaseQuotaPrivilege.
    .PARAMETER MinimumBytes
    The minimum size of the file cache in bytes, a whole number of megabytes (256MB); 0 keeps the minimum in
    force. Binds by property name from the pipeline.
    .PARAMETER MaximumBytes
    The maximum size of the file cache in bytes, a whole number of megabytes (2GB); 0 keeps the maximum in
    force. Binds by property name from the pipeline.
    .PARAMETER Flags
    The flags of a recorded Velmora.FileCacheLimit: 0 or 5. Given (usually by property name from the pipeline),
    the sizes are a record to put back, as Restore-VelmoraFileCacheLimit does, with a warning that names it.
    .PARAMETER MinimumPercent
    The minimum as a share of this machine's physical memory in percent, above 0 and at most 100, with up to
    four places after the point (12.5, 1.5625), rounded down to whole megabytes.
    .PARAMETER MaximumPercent
    The maximum as a share of this machine's physical memory in percent, above 0 and at most 100, with up to
    four places after the point, rounded down to whole megabytes.
    .PARAMETER Force
    Applies a maximum above the machine's physical memory, which caps nothing; every other check stays.
    .PARAMETER PassThru
    Gives the limits in force afterwards, read back with Velmora -G. If that read fails after the change was
    applied, the error is Velmora.ReadBackFailed, and the change stands.
    .INPUTS
    One object with MinimumBytes and MaximumBytes.
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
    Set-VelmoraFileCacheLimit -MinimumBytes 256MB -MaximumPercent 25 -WhatIf

    Shows what capping the cache at a quarter of this machine's memory, with at least 256 MB, would do.
    .LINK
    Restore-VelmoraFileCacheLimit
    .LINK
    about_Velmora
    #>
    [CmdletBinding(SupportsShouldProcess = $true, DefaultParameterSetName = 'Bytes')]
    [OutputType('Velmora.FileCacheLimit')]
    param(
        [Parameter(Mandatory = $true, Position = 0, ValueFromPipelineByPropertyName = $true, ParameterSetName = 'Bytes')]
        [Parameter(Mandatory = $true, ParameterSetName = 'MinimumBytesMaximumPercent')]
        [uint64] $MinimumBytes,
        [Parameter(Mandatory = $true, Position = 1, ValueFromPipelineByPropertyName = $true, ParameterSetName = 'Bytes')]
        [Parameter(Mandatory = $true, ParameterSetName = 'MinimumPercentMaximumBytes')]
        [uint64] $MaximumBytes,
        [Parameter(ValueFromPipelineByPropertyName = $true, ParameterSetName = 'Bytes')]
        [AllowNull()] [AllowEmptyString()] [object] $Flags,
        [Parameter(Mandatory = $true, ParameterSetName = 'Percent')]
        [Parameter(Mandatory = $true, ParameterSetName = 'MinimumPercentMaximumBytes')]
        [decimal] $MinimumPercent,
        [Parameter(Mandatory = $true, ParameterSetName = 'Percent')]
        [Parameter(Mandatory = $true, ParameterSetName = 'MinimumBytesMaximumPercent')]
        [decimal] $MaximumPercent,
        [switch] $Force,
        [switch] $PassThru
    )
    begin {
        $given = New-Object System.Collections.Generic.List[hashtable]
    }
    process {
        $given.Add(@{} + $PSBoundParameters)
    }
    end {
        if ($given.Count -gt 1) {
            $PSCmdlet.WriteError((New-VelmoraTooManyObjectsError $given.Count $MyInvocation.MyCommand.Name))
            return
        }
        $sizes = $given[0]
        if ($sizes.ContainsKey('Flags')) {
            Write-Warning ('Set-VelmoraFileCacheLimit puts a record back when it is given Flags, as here; ' +
                'Restore-VelmoraFileCacheLimit is the cmdlet for that, and Set will stop doing it in a later release.')
            $restore = Invoke-VelmoraRestore -Cmdlet $PSCmdlet -MinimumBytes $sizes['MinimumBytes'] -MaximumBytes $sizes['MaximumBytes'] `
                -Flags $sizes['Flags'] -PassThru:$PassThru
            if ($restore.Error) {
                $PSCmdlet.WriteError($restore.Error)
            } elseif ($restore.Limit) {
                $restore.Limit
            }
            return
        }
        # Sizes in whole megabytes first; then, where one is 0 (keep it), the
        # limit in force stands in for it while VelmoraState judges them.
        $wanted = ConvertTo-VelmoraWantedState -Given $sizes
        if ($wanted.Error) {
            $PSCmdlet.WriteError($wanted.Error)
            return
        }
        $keeps = ($sizes.ContainsKey('MinimumBytes') -and $sizes['MinimumBytes'] -eq 0) -or
            ($sizes.ContainsKey('MaximumBytes') -and $sizes['MaximumBytes'] -eq 0)
        $judged = $sizes
        if ($keeps) {
            $inForce = Read-VelmoraLimits
            if ($inForce.Error) {
                $PSCmdlet.WriteError($inForce.Error)
                return
            }
            $judged = @{} + $sizes
            foreach ($limit in 'Minimum', 'Maximum') {
                if ($judged.ContainsKey("${limit}Bytes") -and $judged["${limit}Bytes"] -eq 0) {
                    $judged["${limit}Bytes"] = ConvertTo-VelmoraBytes (ConvertTo-VelmoraWholeMB $inForce.Limit."${limit}Bytes")
                }
            }
        }
        $resolved = Resolve-VelmoraSizes -Given $judged -Force:$Force
        if ($resolved.Error) {
            $PSCmdlet.WriteError($resolved.Error)
            return
        }
        $minimum = $resolved.MinimumMB
        $maximum = $resolved.MaximumMB
        $state = "{`"minimumMB`":$minimum,`"maximumMB`":$maximum}"
        $above = @()
        if ($Force) {
            $above = @('--allow-above-memory')
        }
        if ($keeps) {
            $shown = "$(ConvertTo-VelmoraWholeMB $sizes['MinimumBytes']) MB and $(ConvertTo-VelmoraWholeMB $sizes['MaximumBytes']) MB (0 keeps a size)"
        } else {
            $shown = "$minimum MB and $maximum MB"
        }
        if (-not $PSCmdlet.ShouldProcess((Get-VelmoraComputerName), "Set the file cache limits to $shown, both hard")) {
            return
        }
        if ($keeps) {
            # 0 goes to Velmora -S as it is, which keeps that size; VelmoraState
            # then says whether the system holds what was asked.
            $set = Invoke-Velmora -Arguments '-S', "$(ConvertTo-VelmoraWholeMB $sizes['MinimumBytes'])", "$(ConvertTo-VelmoraWholeMB $sizes['MaximumBytes'])" -Call Set
            if (-not $set.Error) {
                $test = Invoke-VelmoraState -Method test -Wanted $state -Arguments $above
                foreach ($warning in $test.Warnings) {
                    Write-Warning $warning
                }
            }
        } else {
            $set = Invoke-VelmoraState -Method set -Wanted $state -Arguments $above
            foreach ($warning in $set.Warnings) {
                Write-Warning $warning
            }
        }
        if ($set.Error) {
            $PSCmdlet.WriteError($set.Error)
            return
        }
        if ($PassThru) {
            $back = Get-VelmoraReadBack -Done "The file cache limits were set to $shown with both hard limits on"
            if ($back.Error) {
                $PSCmdlet.WriteError($back.Error)
            } else {
                $back.Limit
            }
        }
    }
}
