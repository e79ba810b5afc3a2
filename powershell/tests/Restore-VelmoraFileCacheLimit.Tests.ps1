# Restore-VelmoraFileCacheLimit: putting back recorded limits.
# The module on the simulated system, with the parameters every suite of it
# takes (ModuleSuite.ps1 says how).
param([string] $Module, [string] $Velmora, [string] $StateExe, [string] $Table, [int] $Bits, [string] $Version)

BeforeAll { . (Join-Path $PSScriptRoot 'ModuleSuite.ps1') }
AfterAll { Remove-ModuleSuite }

Describe 'Putting back recorded limits' {
    It 'a record with flags <Flags> of <Min> and <Max> bytes: <Calls>' -ForEach @(
        @{ Min = 1048576; Max = 1073741824; Flags = 0
           Calls = @('SetSystemFileCacheSize 1048576 1073741824 5', 'GetSystemFileCacheSize',
                     'SetSystemFileCacheSize 1048576 1073741824 10') }
        @{ Min = 268435456; Max = 2147483648; Flags = 5; Calls = @('SetSystemFileCacheSize 268435456 2147483648 5') }
    ) {
        $xml = Join-Path $script:Scratch 'before.xml'
        Set-SimulatedSystem "min=$Min`nmax=$Max`nflags=$Flags"
        Get-VelmoraFileCacheLimit | Export-Clixml -LiteralPath $xml
        Set-SimulatedSystem "min=104857600`nmax=209715200`nflags=5"
        Import-Clixml -LiteralPath $xml | Set-VelmoraFileCacheLimit -ErrorAction Stop
        Get-CacheCall | Should -Be $Calls
        Get-StateValue 'min' | Should -Be "$Min"
        Get-StateValue 'max' | Should -Be "$Max"
        Get-StateValue 'flags' | Should -Be "$Flags"
    }

    It 'a plain object without Flags is a plain set' {
        Set-SimulatedSystem ''
        [pscustomobject]@{ MinimumBytes = 512MB; MaximumBytes = 4000MB } | Set-VelmoraFileCacheLimit -Force -ErrorAction Stop
        Get-CacheCall | Should -Be @('GetSystemFileCacheSize', 'SetSystemFileCacheSize 536870912 4194304000 5', 'GetSystemFileCacheSize')
    }

    It 'the sizes applied and switching the hard limits off failed: Velmora.RestorePartlyApplied, with what is in force' {
        Set-SimulatedSystem 'fail.GetSystemFileCacheSize=5'
        $recorded = [pscustomobject]@{ MinimumBytes = [uint64]512MB; MaximumBytes = [uint64]4000MB; Flags = 0 }
        $record = Get-OneError { $recorded | Set-VelmoraFileCacheLimit }
        $record.FullyQualifiedErrorId | Should -Be 'Velmora.RestorePartlyApplied,Set-VelmoraFileCacheLimit'
        $record.Exception.Message | Should -BeLike '*applied in part*512 MB and 4000 MB with both hard limits on*Velmora -C*failed*(5)*could not be read back*'
        Get-StateValue 'flags' | Should -Be '5'
    }

    It 'a record of <Why> is refused, and nothing is called' -ForEach @(
        @{ Why = 'a maximum hard limit alone'; Min = 1048576; Max = 1073741824; Flags = 1 }
        @{ Why = 'a minimum hard limit alone'; Min = 1048576; Max = 1073741824; Flags = 4 }
        @{ Why = 'sizes that are not whole megabytes'; Min = 1052672; Max = 1073741824; Flags = 0 }
        @{ Why = 'a minimum equal to the maximum'; Min = 1048576; Max = 1048576; Flags = 0 }
        @{ Why = 'flags that -G never gives'; Min = 1048576; Max = 1073741824; Flags = 10 }
    ) {
        Set-SimulatedSystem ''
        $recorded = [pscustomobject]@{ MinimumBytes = [uint64]$Min; MaximumBytes = [uint64]$Max; Flags = $Flags }
        $record = Get-OneError { $recorded | Set-VelmoraFileCacheLimit }
        $record.FullyQualifiedErrorId | Should -Be 'Velmora.RecordNotRestorable,Set-VelmoraFileCacheLimit'
        $record.CategoryInfo.Category | Should -Be 'InvalidData'
        Test-Path -LiteralPath $env:VELMORA_SIM_LOG | Should -BeFalse
    }
}

# The operations guide's record, then restore, as written: the record kept once
# in the records folder, and put back.
Describe "The operations guide's record and restore" {
    BeforeAll {
        . (Join-Path $env:VELMORA_TEST_SUPPORT 'Documents.ps1')
        $script:RecordRestore = [scriptblock]::Create((Get-DocumentBlock 'docs/operations.md' '$limit = Get-VelmoraFileCacheLimit -ErrorAction Stop'))
    }
    BeforeEach {
        Enter-SimulatedWindows
        New-Item -ItemType Directory -Path (Join-Path $env:ProgramData 'Velmora') | Out-Null
        $script:Before = Join-Path $env:ProgramData 'Velmora\before.xml'
    }

    It 'with no record: the untouched limits recorded, then put back with both hard limits off' {
        $untouched = Get-VelmoraFileCacheLimit
        $null = & $script:RecordRestore
        $script:Before | Should -Exist
        Get-StateValue 'min' | Should -Be "$($untouched.MinimumBytes)"
        Get-StateValue 'max' | Should -Be "$($untouched.MaximumBytes)"
        Get-StateValue 'flags' | Should -Be '0'
    }

    It 'with a record already: the first record is what comes back' {
        Set-SimulatedSystem "min=268435456`nmax=2147483648`nflags=5"
        $null = & $script:RecordRestore
        Set-SimulatedSystem "min=104857600`nmax=209715200`nflags=5"
        $null = & $script:RecordRestore
        Get-StateValue 'min' | Should -Be '268435456'
        Get-StateValue 'max' | Should -Be '2147483648'
        Get-StateValue 'flags' | Should -Be '5'
    }

    It 'when the read fails: it stops, and nothing is recorded' {
        Set-SimulatedSystem 'fail.GetSystemFileCacheSize=534'
        { & $script:RecordRestore } | Should -Throw -ErrorId 'Velmora.SystemCallFailed,Get-VelmoraFileCacheLimit'
        $script:Before | Should -Not -Exist
    }
}
