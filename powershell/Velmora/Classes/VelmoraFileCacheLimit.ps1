# The file cache limits as desired state. Present: the two sizes, both hard
# limits on. Absent: both hard limits off, the sizes as they are. Each size is
# given in MB or as a percentage of physical memory, worked out on the machine
# at each Test and Set. Test is true exactly when Get shows the desired state;
# Set changes nothing then, and refuses what could not converge instead of
# applying it.
[DscResource()]
class VelmoraFileCacheLimit {
    [DscProperty(Key)]
    [ValidateSet('Yes')]
    [string] $IsSingleInstance

    # Present, Absent; Get also gives Partial, for one hard limit alone, which
    # is neither and cannot be asked for.
    [DscProperty()]
    [string] $Ensure = 'Present'

    [DscProperty()]
    [uint64] $MinimumMB

    [DscProperty()]
    [uint64] $MaximumMB

    [DscProperty()]
    [uint32] $MinimumPercent

    [DscProperty()]
    [uint32] $MaximumPercent

    [DscProperty(NotConfigurable)]
    [uint64] $MinimumBytes

    [DscProperty(NotConfigurable)]
    [uint64] $MaximumBytes

    [DscProperty(NotConfigurable)]
    [int] $Flags

    # The sizes asked for, in MB on this machine now; $null for Absent. Throws
    # for a desired state that cannot converge.
    hidden [object] Desired() {
        $name = 'VelmoraFileCacheLimit'
        if ($this.Ensure -ne 'Present' -and $this.Ensure -ne 'Absent') {
            throw "$($name): Ensure '$($this.Ensure)' is not a state to ask for: give Present or Absent."
        }
        $given = @{}
        foreach ($limit in 'Minimum', 'Maximum') {
            $mb = $this."${limit}MB"
            $percent = $this."${limit}Percent"
            if ($mb -and $percent) {
                throw "$($name): give ${limit}MB or ${limit}Percent, not both."
            }
            if ($percent -gt 100) {
                throw "$($name): ${limit}Percent is $percent; a share of memory is 1 to 100."
            }
            if ($mb) {
                $given["${limit}Bytes"] = (ConvertTo-VelmoraBytes $mb)
            } elseif ($percent) {
                $given["${limit}Percent"] = $percent
            }
        }
        if ($this.Ensure -eq 'Absent') {
            if ($given.Count) {
                throw "$($name): Absent switches both hard limits off and keeps the sizes in force; it takes no sizes."
            }
            return $null
        }
        if ($given.Count -ne 2) {
            throw "$($name): Present needs both sizes, each as MB or Percent and not 0; a size of 0 keeps whatever is in force, which no configuration can test."
        }
        $sizes = Resolve-VelmoraSizes -Given $given
        if ($sizes.Error) {
            throw $sizes.Error
        }
        $refused = Test-VelmoraHardSizes -MinimumMB $sizes.MinimumMB -MaximumMB $sizes.MaximumMB
        if ($refused) {
            throw $refused
        }
        return $sizes
    }

    hidden [bool] Holds([object] $Limit, [object] $Sizes) {
        if ($null -eq $Sizes) {
            return $Limit.Flags -eq 0
        }
        return $Limit.Flags -eq $script:BothHardFlags -and
            $Limit.MinimumBytes -eq (ConvertTo-VelmoraBytes $Sizes.MinimumMB) -and
            $Limit.MaximumBytes -eq (ConvertTo-VelmoraBytes $Sizes.MaximumMB)
    }

    [VelmoraFileCacheLimit] Get() {
        $limit = Get-VelmoraFileCacheLimit -ErrorAction Stop
        $state = [VelmoraFileCacheLimit]::new()
        $state.IsSingleInstance = 'Yes'
        $state.MinimumBytes = $limit.MinimumBytes
        $state.MaximumBytes = $limit.MaximumBytes
        $state.Flags = $limit.Flags
        $state.Ensure = 'Partial'
        if ($limit.Flags -eq $script:BothHardFlags) {
            $state.Ensure = 'Present'
        } elseif ($limit.Flags -eq 0) {
            $state.Ensure = 'Absent'
        }
        if ($state.Ensure -ne 'Absent') {
            $state.MinimumMB = $limit.MinimumMB
            $state.MaximumMB = $limit.MaximumMB
            # A share of memory shows as asked where the size in force is what it gives here now.
            $memory = $null
            foreach ($limitName in 'Minimum', 'Maximum') {
                $percent = $this."${limitName}Percent"
                if ($percent -ge 1 -and $percent -le 100) {
                    if ($null -eq $memory) {
                        $memory = Get-VelmoraPhysicalMemory
                    }
                    if ($limit."${limitName}Bytes" -eq (ConvertTo-VelmoraBytes (ConvertFrom-VelmoraPercent -Memory $memory -Percent $percent))) {
                        $state."${limitName}Percent" = $percent
                        $state."${limitName}MB" = 0
                    }
                }
            }
        }
        return $state
    }

    [bool] Test() {
        $sizes = $this.Desired()
        $limit = Get-VelmoraFileCacheLimit -ErrorAction Stop
        return $this.Holds($limit, $sizes)
    }

    [void] Set() {
        $sizes = $this.Desired()
        $limit = Get-VelmoraFileCacheLimit -ErrorAction Stop
        Write-Verbose "Found $($limit.MinimumBytes) and $($limit.MaximumBytes) bytes, flags $($limit.Flags)"
        if ($this.Holds($limit, $sizes)) {
            Write-Verbose 'The limits are as desired: nothing to change'
            return
        }
        if ($null -eq $sizes) {
            Write-Verbose 'Switching both hard limits off, keeping the sizes'
            Clear-VelmoraFileCacheLimit -Confirm:$false -ErrorAction Stop
        } else {
            Write-Verbose "Applying $($sizes.MinimumMB) MB and $($sizes.MaximumMB) MB with both hard limits on"
            Set-VelmoraFileCacheLimit -MinimumBytes (ConvertTo-VelmoraBytes $sizes.MinimumMB) -MaximumBytes (ConvertTo-VelmoraBytes $sizes.MaximumMB) -Force `
                -Confirm:$false -ErrorAction Stop
        }
        $after = Get-VelmoraFileCacheLimit -ErrorAction Stop
        Write-Verbose "Now $($after.MinimumBytes) and $($after.MaximumBytes) bytes, flags $($after.Flags)"
        if (-not $this.Holds($after, $sizes)) {
            throw "VelmoraFileCacheLimit: the system took the change but kept $($after.MinimumBytes) and $($after.MaximumBytes) bytes, flags $($after.Flags), not what was asked: a size above the largest it takes is lowered. Ask for sizes it keeps."
        }
    }
}
