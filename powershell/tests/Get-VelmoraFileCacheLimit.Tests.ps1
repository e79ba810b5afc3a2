# Get-VelmoraFileCacheLimit: the limits as an object.
# The module on the simulated system, with the parameters every suite of it
# takes (ModuleSuite.ps1 says how).
param([string] $Module, [string] $Velmora, [string] $StateExe, [string] $Table, [int] $Bits, [string] $Version)

BeforeAll { . (Join-Path $PSScriptRoot 'ModuleSuite.ps1') }
AfterAll { Remove-ModuleSuite }

Describe 'Get-VelmoraFileCacheLimit' {
    It 'reads <State> as <Min> and <Max> bytes, flags <Flags>' -ForEach @(
        @{ State = 'min=1048576`nmax=1073741824`nflags=0'; Min = 1048576; Max = 1073741824; Flags = 0 }
        @{ State = 'min=104857600`nmax=209715200`nflags=5'; Min = 104857600; Max = 209715200; Flags = 5 }
        @{ State = 'min=2097152`nmax=4294963200`nflags=1'; Min = 2097152; Max = 4294963200; Flags = 1 }
        @{ State = 'min=2097152`nmax=67108864`nflags=4'; Min = 2097152; Max = 67108864; Flags = 4 }
    ) {
        Set-SimulatedSystem $State.Replace('`n', "`n")
        $limit = Get-VelmoraFileCacheLimit
        $limit.PSObject.TypeNames[0] | Should -Be 'Velmora.FileCacheLimit'
        $limit.MinimumBytes | Should -BeOfType [uint64]
        $limit.MinimumBytes | Should -Be $Min
        $limit.MaximumBytes | Should -Be $Max
        $limit.Flags | Should -BeOfType [int]
        $limit.Flags | Should -Be $Flags
        $limit.MaximumHard | Should -Be ([bool]($Flags -band 1))
        $limit.MinimumHard | Should -Be ([bool]($Flags -band 4))
        $limit.MinimumMB | Should -Be ([uint64]($Min / 1MB))
        $limit.MaximumMB | Should -Be ([uint64][math]::Floor($Max / 1MB))
        Get-CacheCall | Should -Be @('GetSystemFileCacheSize')
    }

    It 'reads a maximum past 4 GiB whole in the 64-bit program' -Skip:($Bits -ne 64) {
        Set-SimulatedSystem ''
        (Get-VelmoraFileCacheLimit).MaximumBytes | Should -Be ([uint64]17592186044416)
    }

    It 'shows the sizes in MB by default' {
        Set-SimulatedSystem "min=268435456`nmax=2147483648`nflags=5"
        $table = Get-VelmoraFileCacheLimit | Format-Table | Out-String
        $table | Should -Match 'MinimumMB\s+MaximumMB'
        $table | Should -Match '\s256\s+2048\s+True\s+True'
    }
}
