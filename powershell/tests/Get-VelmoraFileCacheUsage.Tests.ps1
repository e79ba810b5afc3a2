# Get-VelmoraFileCacheUsage.
# The module on the simulated system, with the parameters every suite of it
# takes (ModuleSuite.ps1 says how).
param([string] $Module, [string] $Velmora, [string] $StateExe, [string] $Table, [int] $Bits, [string] $Version)

BeforeAll { . (Join-Path $PSScriptRoot 'ModuleSuite.ps1') }
AfterAll { Remove-ModuleSuite }

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
