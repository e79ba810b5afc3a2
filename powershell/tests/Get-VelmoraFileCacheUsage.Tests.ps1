# Get-VelmoraFileCacheUsage.
# The module on the simulated system (ModuleSuite.ps1 says how).
param(
    [Parameter(Mandatory = $true)] [string] $Module,
    [Parameter(Mandatory = $true)] [string] $Velmora,
    [Parameter(Mandatory = $true)] [string] $StateExe,
    [Parameter(Mandatory = $true)] [string] $Table,
    [Parameter(Mandatory = $true)] [int] $Bits,
    [Parameter(Mandatory = $true)] [string] $Version
)

BeforeAll {
    . (Join-Path $PSScriptRoot 'ModuleSuite.ps1')
}

AfterAll {
    Remove-ModuleSuite
}

Describe 'Get-VelmoraFileCacheUsage' {
    BeforeAll { Install-WindowsDoubles }
    AfterAll { Remove-WindowsDoubles }

    BeforeEach {
        Reset-WindowsDoubles
        Mock -ModuleName Velmora Test-VelmoraWindows { $true }
    }

    It 'gives the cache size now, its peak and what is resident, in bytes' {
        $global:VelmoraCountersFail = $false
        $usage = Get-VelmoraFileCacheUsage
        $global:VelmoraClasses | Should -Be @('Win32_PerfFormattedData_PerfOS_Memory')
        $usage.PSObject.TypeNames[0] | Should -Be 'Velmora.FileCacheUsage'
        $usage.CacheBytes | Should -BeOfType [uint64]
        $usage.CacheBytes | Should -Be 123456789
        $usage.CacheBytesPeak | Should -Be 987654321
        $usage.SystemCacheResidentBytes | Should -Be 12345
    }

    It 'says so when the counters cannot be read' {
        $global:VelmoraCountersFail = $true
        $record = Get-OneError { Get-VelmoraFileCacheUsage }
        $record.FullyQualifiedErrorId | Should -Be 'Velmora.CountersUnavailable,Get-VelmoraFileCacheUsage'
    }
}
