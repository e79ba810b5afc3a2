# Sizes as the cmdlets take them (bytes, or a share of this machine's physical
# memory) and as Velmora takes them (whole megabytes).

# Bytes in whole megabytes, rounded down; exact for every 64-bit size.
function ConvertTo-VelmoraWholeMB {
    param([uint64] $Bytes)
    return [uint64][math]::Truncate([decimal]$Bytes / 1MB)
}

# Whole megabytes in bytes, exact for every size Velmora takes.
function ConvertTo-VelmoraBytes {
    param([uint64] $MB)
    return [uint64]([decimal]$MB * 1MB)
}

# The machine's physical memory in bytes, read when asked: on Windows from
# GlobalMemoryStatusEx, elsewhere (the simulated system) from .NET's view of it.
function Get-VelmoraPhysicalMemory {
    if (Test-VelmoraWindows) {
        if (-not ('Velmora.Memory' -as [type])) {
            Add-Type -Namespace Velmora -Name Memory -MemberDefinition @'
[System.Runtime.InteropServices.StructLayout(System.Runtime.InteropServices.LayoutKind.Sequential)]
public class Status {
    public uint Length = 64; public uint MemoryLoad; public ulong TotalPhys; public ulong AvailPhys;
    public ulong TotalPageFile; public ulong AvailPageFile; public ulong TotalVirtual; public ulong AvailVirtual;
    public ulong AvailExtendedVirtual;
}
[System.Runtime.InteropServices.DllImport("kernel32.dll", SetLastError = true)]
public static extern bool GlobalMemoryStatusEx([System.Runtime.InteropServices.In, System.Runtime.InteropServices.Out] Status status);
'@
        }
        $status = New-Object Velmora.Memory+Status
        if (-not [Velmora.Memory]::GlobalMemoryStatusEx($status)) {
            throw (New-Object System.ComponentModel.Win32Exception)
        }
        return [uint64]$status.TotalPhys
    }
    return [uint64][System.GC]::GetGCMemoryInfo().TotalAvailableMemoryBytes
}

# A share of physical memory in whole megabytes, rounded down.
function ConvertFrom-VelmoraPercent {
    param([uint64] $Memory, [int] $Percent)
    return [uint64][math]::Truncate([decimal]$Memory * $Percent / 100 / 1MB)
}

# The sizes a cmdlet was given (its bound MinimumBytes, MaximumBytes,
# MinimumPercent, MaximumPercent), as Velmora takes them: MinimumMB and MaximumMB.
# Bytes must be whole megabytes; a percentage is turned into megabytes of this
# machine's memory now. What Velmora should not be asked gives Error instead
# (Velmora.SizeNotWholeMegabytes, Velmora.MaximumAbovePhysicalMemory); 0
# passes, for Velmora to keep that limit.
function Resolve-VelmoraSizes {
    param([System.Collections.IDictionary] $Given, [switch] $Force)
    $memory = $null
    $sizes = @{}
    foreach ($limit in 'Minimum', 'Maximum') {
        if ($Given.ContainsKey("${limit}Percent")) {
            if ($null -eq $memory) {
                $memory = Get-VelmoraPhysicalMemory
            }
            $percent = [int]$Given["${limit}Percent"]
            $mb = ConvertFrom-VelmoraPercent -Memory $memory -Percent $percent
            Write-Verbose "$limit of $percent % of $memory bytes of physical memory: $mb MB"
            $sizes["${limit}MB"] = $mb
        } else {
            $bytes = [uint64]$Given["${limit}Bytes"]
            if ($bytes % 1MB) {
                $guess = ConvertTo-VelmoraWholeMB $bytes
                if ($bytes -lt 1MB) {
                    $guess = $bytes
                }
                $exception = New-Object System.ArgumentException(
                    "The $($limit.ToLower()) of $bytes bytes is not a whole number of megabytes, which is what Velmora applies: did you mean $($guess)MB?")
                return [pscustomobject]@{ Error = (New-VelmoraError $exception 'Velmora.SizeNotWholeMegabytes' InvalidArgument $bytes) }
            }
            $sizes["${limit}MB"] = ConvertTo-VelmoraWholeMB $bytes
        }
    }
    if (-not $Force -and $sizes.MaximumMB -ne 0) {
        if ($null -eq $memory) {
            $memory = Get-VelmoraPhysicalMemory
        }
        $memoryMB = ConvertTo-VelmoraWholeMB $memory
        if ($sizes.MaximumMB -gt $memoryMB) {
            $exception = New-Object System.ArgumentException(
                "A maximum of $($sizes.MaximumMB) MB is more than this machine's $memoryMB MB of physical memory, so it caps nothing. Give a smaller one, or -Force to apply it all the same.")
            return [pscustomobject]@{ Error = (New-VelmoraError $exception 'Velmora.MaximumAbovePhysicalMemory' InvalidArgument $sizes.MaximumMB) }
        }
    }
    return [pscustomobject]@{ MinimumMB = [uint64]$sizes.MinimumMB; MaximumMB = [uint64]$sizes.MaximumMB; Error = $null }
}

# The largest size in MB that the program takes, asked of the program itself: a
# size it cannot take is refused before any call, with its range. Gives Largest,
# or Error.
function Get-VelmoraSizeRange {
    $answer = Invoke-VelmoraProgram -Arguments '-S', 'x', '0'
    if ($answer.Error) {
        return [pscustomobject]@{ Largest = $null; Error = $answer.Error }
    }
    $first = ($answer.Output -split "`r`n|`r|`n")[0]
    if ($answer.ExitCode -eq 255 -and $first -cmatch $script:InvalidSizeLine) {
        return [pscustomobject]@{ Largest = [uint64]$Matches[1]; Error = $null }
    }
    $exception = New-Object System.InvalidOperationException("Velmora did not say which sizes it takes: $($answer.Output.Trim())")
    return [pscustomobject]@{ Largest = $null; Error = (New-VelmoraError $exception 'Velmora.UnexpectedAnswer' NotSpecified 'Velmora -S x 0') }
}

# Whether the sizes can be applied with both hard limits on, as Velmora would
# judge them at every start: within its range, not 0, the minimum below the
# maximum, the maximum at least 16 MB. Gives $null, or the error record
# (Velmora.SizesRefused).
function Test-VelmoraHardSizes {
    param([uint64] $MinimumMB, [uint64] $MaximumMB)
    $range = Get-VelmoraSizeRange
    if ($range.Error) {
        return $range.Error
    }
    $largest = $range.Largest
    $why = $null
    if ($MinimumMB -gt $largest -or $MaximumMB -gt $largest) {
        $why = "Velmora takes sizes from 0 to $largest MB"
    } elseif ($MinimumMB -eq 0 -or $MaximumMB -eq 0) {
        $why = 'a size of 0 keeps whatever limit is in force, which is no fixed size'
    } elseif ($MinimumMB -ge $MaximumMB) {
        $why = 'the minimum must be below the maximum'
    } elseif ($MaximumMB -lt 16) {
        $why = 'with both hard limits on, the maximum must be at least 16 MB'
    }
    if ($why) {
        $exception = New-Object System.ArgumentException("$MinimumMB MB and $MaximumMB MB cannot be applied as hard limits: $why.")
        return New-VelmoraError $exception 'Velmora.SizesRefused' InvalidArgument "$MinimumMB $MaximumMB"
    }
    return $null
}
