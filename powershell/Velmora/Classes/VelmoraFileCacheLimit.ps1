# The file cache limits as desired state. Present: the two sizes, both hard
# limits on. Absent: both hard limits off, the sizes as they are. Each size is
# given in MB or as a percentage of physical memory (up to four places after the
# point), worked out on the machine at each Test and Set. Get, Test and Set ask
# VelmoraState, whose rules the DSC 3 resource, the Intune pair and
# Set-VelmoraFileCacheLimit share: Test is true exactly when the state in force
# is the desired one; Set changes nothing then, and throws for what could not
# hold instead of applying it.
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
    [double] $MinimumPercent

    [DscProperty()]
    [double] $MaximumPercent

    [DscProperty(NotConfigurable)]
    [uint64] $MinimumBytes

    [DscProperty(NotConfigurable)]
    [uint64] $MaximumBytes

    [DscProperty(NotConfigurable)]
    [int] $Flags

    # The desired state as VelmoraState's JSON: a property of 0 is not given.
    hidden [string] Wanted() {
        if ($this.Ensure -ne 'Present' -and $this.Ensure -ne 'Absent') {
            throw "VelmoraFileCacheLimit: Ensure '$($this.Ensure)' is not a state to ask for: give Present or Absent."
        }
        $invariant = [System.Globalization.CultureInfo]::InvariantCulture
        $properties = @()
        if ($this.Ensure -eq 'Absent') {
            $properties += '"hardLimits":false'
        }
        foreach ($limit in 'Minimum', 'Maximum') {
            $name = $limit.ToLower()
            if ($this."${limit}MB") {
                $properties += "`"${name}MB`":$($this."${limit}MB")"
            }
            if ($this."${limit}Percent") {
                # The share as written, for the program to read as a decimal.
                $properties += "`"${name}Percent`":$($this."${limit}Percent".ToString('R', $invariant))"
            }
        }
        return '{' + ($properties -join ',') + '}'
    }

    # Runs VelmoraState's method; its warnings become warnings, its refusal an exception.
    hidden [object] Ask([string] $Method) {
        $answer = Invoke-VelmoraState -Method $Method -Wanted $this.Wanted()
        foreach ($warning in $answer.Warnings) {
            Write-Warning "VelmoraFileCacheLimit: $warning"
        }
        if ($answer.Error) {
            throw $answer.Error
        }
        return $answer.State
    }

    [VelmoraFileCacheLimit] Get() {
        $found = $this.Ask('get')
        $state = [VelmoraFileCacheLimit]::new()
        $state.IsSingleInstance = 'Yes'
        $state.MinimumBytes = $found.minimumBytes
        $state.MaximumBytes = $found.maximumBytes
        $state.Flags = $found.flags
        $state.Ensure = 'Partial'
        if ($found.hardLimits -eq $true) {
            $state.Ensure = 'Present'
        } elseif ($found.hardLimits -eq $false) {
            $state.Ensure = 'Absent'
        }
        # The sizes as the program shows them: a share as asked where the size in
        # force is what it gives here now, else MB.
        foreach ($name in 'minimumMB', 'maximumMB', 'minimumPercent', 'maximumPercent') {
            if ($found.PSObject.Properties[$name]) {
                $state.$name = $found.$name
            }
        }
        return $state
    }

    [bool] Test() {
        return [bool]$this.Ask('test')._inDesiredState
    }

    [void] Set() {
        $after = $this.Ask('set')
        Write-Verbose "VelmoraFileCacheLimit: in force now: $($after.minimumBytes) and $($after.maximumBytes) bytes, flags $($after.flags)"
    }
}
