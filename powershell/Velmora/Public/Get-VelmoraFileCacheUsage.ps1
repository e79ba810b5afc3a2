function Get-VelmoraFileCacheUsage {
    <#
    .SYNOPSIS
    Gets how much the system file cache holds now and has held at the most, in bytes.
    .DESCRIPTION
    Reads the performance counters \Memory\Cache Bytes, \Memory\Cache Bytes Peak and \Memory\System Cache
    Resident Bytes through their WMI class, Win32_PerfFormattedData_PerfOS_Memory, whose names are the same in
    every language. Needs no elevation; needs Windows (Velmora.NotWindows elsewhere).
    .INPUTS
    None.
    .OUTPUTS
    Velmora.FileCacheUsage
    .EXAMPLE
    Get-VelmoraFileCacheUsage

    Shows the cache's size now, its peak since the start, and what of it is resident.
    .EXAMPLE
    (Get-VelmoraFileCacheUsage).CacheBytesPeak / 1GB

    The peak in gigabytes: a starting point for a maximum.
    .LINK
    about_Velmora
    #>
    [CmdletBinding()]
    [OutputType('Velmora.FileCacheUsage')]
    param()
    $platform = Get-VelmoraPlatformRefusal -Command $MyInvocation.MyCommand.Name
    if ($platform.Error) {
        $PSCmdlet.ThrowTerminatingError($platform.Error)
    }
    try {
        $memory = Get-CimInstance -ClassName Win32_PerfFormattedData_PerfOS_Memory -ErrorAction Stop
    } catch {
        $PSCmdlet.WriteError((New-VelmoraError $_.Exception 'Velmora.CountersUnavailable' ReadError 'Memory'))
        return
    }
    [pscustomobject]@{
        PSTypeName               = 'Velmora.FileCacheUsage'
        CacheBytes               = [uint64]$memory.CacheBytes
        CacheBytesPeak           = [uint64]$memory.CacheBytesPeak
        SystemCacheResidentBytes = [uint64]$memory.SystemCacheResidentBytes
    }
}
