# Putting a record of limits back, for Restore-VelmoraFileCacheLimit (and, for
# this release, Set-VelmoraFileCacheLimit given Flags): the sizes with both hard
# limits on, then both off again where the record's flags are 0.

# A record's Flags as the number it holds, or $null where it holds none: an
# integer, or a string of digits as Import-Csv gives it. Empty and $null hold none.
function ConvertFrom-VelmoraRecordFlags {
    param([object] $Flags)
    if ($Flags -is [int] -or $Flags -is [long] -or $Flags -is [uint32] -or $Flags -is [uint64] -or
        $Flags -is [int16] -or $Flags -is [byte]) {
        return [long]$Flags
    }
    if ($Flags -is [string] -and $Flags -cmatch '^\s*[0-9]{1,10}\s*$') {
        return [long]$Flags.Trim()
    }
    return $null
}

# Puts the record back, or refuses it (Velmora.RecordNotRestorable) with
# nothing applied: Error, the record for the cmdlet to write, and, with
# PassThru, Limit, the limits in force. Cmdlet is asked ShouldProcess.
function Invoke-VelmoraRestore {
    param([System.Management.Automation.PSCmdlet] $Cmdlet, [uint64] $MinimumBytes, [uint64] $MaximumBytes,
          [object] $Flags, [switch] $PassThru)
    $number = ConvertFrom-VelmoraRecordFlags $Flags
    $record = "Min:[$MinimumBytes], Max:[$MaximumBytes], Flags: $Flags"
    $why = $null
    if ($null -eq $number) {
        $why = "its Flags '$Flags' is no number of flags, as Get-VelmoraFileCacheLimit gives them (0 or 5)"
    } elseif ($MinimumBytes % 1MB -or $MaximumBytes % 1MB) {
        $why = 'its sizes are not whole megabytes'
    } elseif ($MinimumBytes -ge $MaximumBytes) {
        $why = 'its minimum is not below its maximum'
    } elseif ($number -eq $script:MaximumHardFlag -or $number -eq $script:MinimumHardFlag) {
        $why = 'it holds one hard limit alone'
    } elseif ($number -ne 0 -and $number -ne $script:BothHardFlags) {
        $why = "its flags $number are none that Get-VelmoraFileCacheLimit gives"
    }
    if ($why) {
        $exception = New-Object System.ArgumentException("The recorded limits $record cannot be put back, as $($why): only a restart restores them")
        return [pscustomobject]@{ Limit = $null; Error = (New-VelmoraError $exception 'Velmora.RecordNotRestorable' InvalidData $record) }
    }
    $minimum = ConvertTo-VelmoraWholeMB $MinimumBytes
    $maximum = ConvertTo-VelmoraWholeMB $MaximumBytes
    $clear = $number -eq 0
    $action = "Set the file cache limits to $minimum MB and $maximum MB, both hard"
    if ($clear) {
        $action += ', then switch both hard limits off'
    }
    if (-not $Cmdlet.ShouldProcess((Get-VelmoraComputerName), $action)) {
        return [pscustomobject]@{ Limit = $null; Error = $null }
    }
    $set = Invoke-Velmora -Arguments '-S', "$minimum", "$maximum" -Call Set
    if ($set.Error) {
        return [pscustomobject]@{ Limit = $null; Error = $set.Error }
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
            $partly = New-VelmoraError $exception 'Velmora.RestorePartlyApplied' InvalidResult $record 'Run Clear-VelmoraFileCacheLimit once what made Velmora -C fail is mended, or restart to go back to the system''s own limits.'
            return [pscustomobject]@{ Limit = $null; Error = $partly }
        }
        $done = "The recorded limits were put back: $minimum MB and $maximum MB, both hard limits off"
    }
    if ($PassThru) {
        return Get-VelmoraReadBack -Done $done
    }
    return [pscustomobject]@{ Limit = $null; Error = $null }
}

# One wanted state is one object: the error for a pipeline that brought more,
# which the cmdlet writes before applying anything.
function New-VelmoraTooManyObjectsError {
    param([int] $Count, [string] $Cmdlet)
    $exception = New-Object System.ArgumentException(
        "$Cmdlet was given $Count objects from the pipeline, and applied none: one wanted state is one object. Pick the one to apply (Select-Object -First 1, or Where-Object), then pipe that.")
    return New-VelmoraError $exception 'Velmora.OneObjectExpected' InvalidArgument $Count
}
