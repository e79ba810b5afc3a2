# Set-VelmoraFileCacheLimit and Clear-VelmoraFileCacheLimit: the wanted state's
# table, records given to Set-, and refusals before the system sees the sizes.
# The module on the simulated system, with the parameters every suite of it
# takes (ModuleSuite.ps1 says how).
param([string] $Module, [string] $Velmora, [string] $StateExe, [string] $Table, [int] $Bits, [string] $Version)

BeforeAll { . (Join-Path $PSScriptRoot 'ModuleSuite.ps1') }
AfterAll { Remove-ModuleSuite }

BeforeDiscovery {
    . (Join-Path $env:VELMORA_TEST_SUPPORT 'WantedStates.ps1')
    $script:WantedStates = @(Get-WantedStateCase $Table $Bits)
}

Describe 'Set-VelmoraFileCacheLimit and Clear-VelmoraFileCacheLimit' {
    It 'Set applies both sizes with both hard limits on, and -PassThru reads them back' {
        Set-SimulatedSystem ''
        $limit = Set-VelmoraFileCacheLimit -MinimumBytes 256MB -MaximumBytes 2GB -PassThru
        # VelmoraState reads, writes and reads back; then -PassThru reads.
        Get-CacheCall | Should -Be @('GetSystemFileCacheSize', 'SetSystemFileCacheSize 268435456 2147483648 5',
                                     'GetSystemFileCacheSize', 'GetSystemFileCacheSize')
        $limit.MinimumBytes | Should -Be 268435456
        $limit.MaximumMB | Should -Be 2048
        $limit.Flags | Should -Be 5
    }

    It 'Set without -PassThru returns nothing' {
        Set-SimulatedSystem ''
        Set-VelmoraFileCacheLimit 256MB 2GB | Should -BeNullOrEmpty
        Get-StateValue 'flags' | Should -Be '5'
    }

    It 'sizes as PowerShell writes them: <Sizes> on 256 MB and 2 GB calls <Calls>' -ForEach @(
        @{ Sizes = '256MB 2GB'; Calls = @('GetSystemFileCacheSize') }
        # 0 keeps a size: the limits in force stand in for it while VelmoraState
        # judges, 0 goes to Velmora -S, and VelmoraState reads what the system holds.
        @{ Sizes = '0 1GB'; Calls = @('GetSystemFileCacheSize', 'SetSystemFileCacheSize 0 1073741824 5', 'GetSystemFileCacheSize') }
        @{ Sizes = '1MB 16MB'; Calls = @('GetSystemFileCacheSize', 'SetSystemFileCacheSize 1048576 16777216 5', 'GetSystemFileCacheSize') }
        @{ Sizes = '1MB 16MB -Force'; Calls = @('GetSystemFileCacheSize', 'SetSystemFileCacheSize 1048576 16777216 5', 'GetSystemFileCacheSize') }
    ) {
        Set-SimulatedSystem "min=268435456`nmax=2147483648`nflags=5"
        Invoke-Expression "Set-VelmoraFileCacheLimit $Sizes -ErrorAction Stop"
        Get-CacheCall | Should -Be $Calls
    }

    It 'a size of <Bytes> bytes is not whole megabytes: refused before Velmora runs, "did you mean <Meant>?"' -ForEach @(
        @{ Bytes = 256; Meant = '256MB' }
        @{ Bytes = 2048; Meant = '2048MB' }
        @{ Bytes = 1000000000; Meant = '953MB' }
    ) {
        Set-SimulatedSystem ''
        $record = Get-OneError { Set-VelmoraFileCacheLimit 1MB $Bytes -Force }
        $record.FullyQualifiedErrorId | Should -Be 'Velmora.SizeNotWholeMegabytes,Set-VelmoraFileCacheLimit'
        $record.CategoryInfo.Category | Should -Be 'InvalidArgument'
        $record.Exception.Message | Should -BeLike "*did you mean $($Meant)?"
        Test-Path -LiteralPath $env:VELMORA_SIM_LOG | Should -BeFalse -Because 'Velmora did not run'
    }

    Context 'the table of wanted states' {
        # Each case that Set-VelmoraFileCacheLimit can be given: both sizes in MB
        # (not 0, which keeps a limit), or both as shares, with hard limits on.
        It '<Rule>' -ForEach @($script:WantedStates | Where-Object {
                $given = ConvertFrom-WantedStateJson $_.Wanted
                $given -and $given.Hard -ne $false -and
                    (($given.Contains('minimumMB') -and $given.Contains('maximumMB') -and $given.minimumMB -and $given.maximumMB -and
                      $given.maximumMB -lt 17592186044416 -and $given.Count -eq 3) -or
                     ($given.Contains('minimumPercent') -and $given.Contains('maximumPercent') -and $given.Count -eq 3))
            }) {
            $given = ConvertFrom-WantedStateJson $Wanted
            $parameters = @{}
            if ($given.Contains('minimumMB')) {
                $parameters.MinimumBytes = [uint64]$given.minimumMB * 1MB
                $parameters.MaximumBytes = [uint64]$given.maximumMB * 1MB
            } else {
                $parameters.MinimumPercent = $given.minimumPercent
                $parameters.MaximumPercent = $given.maximumPercent
            }
            Set-SimulatedSystem $State
            $errors = @(); $warnings = @()
            Set-VelmoraFileCacheLimit @parameters -ErrorAction SilentlyContinue -ErrorVariable errors -WarningAction SilentlyContinue -WarningVariable warnings
            if ($Set.Does -eq 'refused') {
                $errors.Count | Should -Be 1
                $errors[0].FullyQualifiedErrorId | Should -BeIn @($script:SetRefusals[$Set.Refusal] | ForEach-Object { "$_,Set-VelmoraFileCacheLimit" })
                if ($Set.Refusal -ne 'system') {
                    Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' } | Should -BeNullOrEmpty
                }
                Get-Content -Raw -LiteralPath $env:VELMORA_SIM_STATE | Should -Be $State
                return
            }
            $errors | Should -BeNullOrEmpty
            @($warnings).Count | Should -Be ([int][bool]$Set.Warning)
            if ($Set.Does -eq 'keeps') {
                Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' } | Should -BeNullOrEmpty
                return
            }
            Get-StateValue 'min' | Should -Be "$($Set.MinimumMB * 1MB)"
            Get-StateValue 'flags' | Should -Be '5'
            if ($Set.Warning -ne 'lowered') {
                Get-StateValue 'max' | Should -Be "$($Set.MaximumMB * 1MB)"
            }
        }
    }

    It 'a maximum above physical memory caps nothing: refused, unless -Force' {
        Set-SimulatedSystem 'memory=2147483648'
        $record = Get-OneError { Set-VelmoraFileCacheLimit 256MB 2049MB }
        $record.FullyQualifiedErrorId | Should -Be 'Velmora.SizesRefused,Set-VelmoraFileCacheLimit'
        $record.Exception.Message | Should -BeLike '*2049 MB*2048 MB of physical memory*'
        Get-CacheCall | Should -BeNullOrEmpty
        Set-VelmoraFileCacheLimit 256MB 2049MB -Force -ErrorAction Stop
        Get-StateValue 'max' | Should -Be '2148532224'
    }

    It 'a share is a decimal, in any culture: 12.5 % of 8 GiB is 1024 MB' {
        Set-SimulatedSystem 'memory=8589934592'
        $culture = [System.Threading.Thread]::CurrentThread.CurrentCulture
        [System.Threading.Thread]::CurrentThread.CurrentCulture = 'de-DE'
        try {
            Set-VelmoraFileCacheLimit -MinimumPercent 1.5625 -MaximumPercent 12.5 -ErrorAction Stop
        } finally {
            [System.Threading.Thread]::CurrentThread.CurrentCulture = $culture
        }
        Get-StateValue 'min' | Should -Be '134217728'
        Get-StateValue 'max' | Should -Be '1073741824'
    }

    It 'the change applied and its read-back failed: Velmora.ReadBackFailed says it was applied' {
        # VelmoraState applies the change; the read-back, Velmora -G, is a stand-in refused with 5.
        Set-SimulatedSystem ''
        $saved = $env:VELMORA_EXE
        $env:VELMORA_EXE = Join-Path $script:Scratch 'refused-read'
        Set-Content -LiteralPath $env:VELMORA_EXE -NoNewline -Value "#!/bin/sh`nprintf 'main.cpp:80: GetSystemFileCacheSize(5): Access is denied.\r\n\r\n'`nexit 1`n"
        chmod +x $env:VELMORA_EXE
        try {
            $record = Get-OneError { Set-VelmoraFileCacheLimit 256MB 2GB -PassThru }
        } finally {
            $env:VELMORA_EXE = $saved
        }
        $record.FullyQualifiedErrorId | Should -Be 'Velmora.ReadBackFailed,Set-VelmoraFileCacheLimit'
        $record.Exception.Message | Should -BeLike 'The file cache limits were set to 256 MB and 2048 MB*could not be read back*(5)*'
        Get-StateValue 'min' | Should -Be '268435456'
    }

    It 'Clear keeps both sizes and switches both hard limits off' {
        Set-SimulatedSystem "min=268435456`nmax=2147483648`nflags=5"
        $limit = Clear-VelmoraFileCacheLimit -PassThru
        Get-CacheCall | Should -Be @('GetSystemFileCacheSize', 'SetSystemFileCacheSize 268435456 2147483648 10',
                                     'GetSystemFileCacheSize')
        $limit.MaximumBytes | Should -Be 2147483648
        $limit.Flags | Should -Be 0
    }

    It 'Clear takes nothing from the pipeline, and so never clears once per object' {
        Set-SimulatedSystem "min=268435456`nmax=2147483648`nflags=5"
        { 1, 2, 3 | Clear-VelmoraFileCacheLimit -ErrorAction Stop } | Should -Throw -ErrorId 'InputObjectNotBound,Clear-VelmoraFileCacheLimit'
        Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' } | Should -BeNullOrEmpty
    }

    It '<Command> touches no limit' -ForEach @(
        @{ Command = 'Set-VelmoraFileCacheLimit 256MB 2GB -WhatIf' }
        @{ Command = 'Clear-VelmoraFileCacheLimit -WhatIf' }
        @{ Command = 'Set-VelmoraFileCacheLimit 256MB 2GB -WhatIf -PassThru' }
    ) {
        Set-SimulatedSystem ''
        $null = Invoke-Expression $Command
        Get-CacheCall | Should -BeNullOrEmpty -Because 'the limits were neither read nor changed'
        Get-Content -Raw -LiteralPath $env:VELMORA_SIM_STATE | Should -BeNullOrEmpty
    }
}

Describe 'Records put back, and sizes refused before the system sees them' {
    It '<Why>, piped into <Cmdlet>: Velmora.RecordNotRestorable, and nothing applied' -ForEach @(
        foreach ($cmdlet in 'Set-VelmoraFileCacheLimit', 'Restore-VelmoraFileCacheLimit') {
            @{ Cmdlet = $cmdlet; Why = 'a CSV row whose Flags is empty'; Record = { 'MinimumBytes,MaximumBytes,Flags', '268435456,2147483648,' | ConvertFrom-Csv } }
            @{ Cmdlet = $cmdlet; Why = 'an object whose Flags is $null'; Record = { [pscustomobject]@{ MinimumBytes = 256MB; MaximumBytes = 2GB; Flags = $null } } }
            @{ Cmdlet = $cmdlet; Why = 'Flags that are text'; Record = { [pscustomobject]@{ MinimumBytes = 256MB; MaximumBytes = 2GB; Flags = 'five' } } }
            @{ Cmdlet = $cmdlet; Why = 'one hard limit alone'; Record = { [pscustomobject]@{ MinimumBytes = 256MB; MaximumBytes = 2GB; Flags = 4 } } }
            @{ Cmdlet = $cmdlet; Why = 'flags no read gives'; Record = { [pscustomobject]@{ MinimumBytes = 256MB; MaximumBytes = 2GB; Flags = 7 } } }
        }
    ) {
        Set-SimulatedSystem ''
        $record = Get-OneError { & $Record | & $Cmdlet 3>$null }
        $record.FullyQualifiedErrorId | Should -Be "Velmora.RecordNotRestorable,$Cmdlet"
        $record.CategoryInfo.Category | Should -Be 'InvalidData'
        Get-CacheCall | Should -BeNullOrEmpty
    }

    It 'a record in a CSV file with Flags <Flags> is put back: <Calls>' -ForEach @(
        @{ Flags = '0'; Calls = @('SetSystemFileCacheSize 268435456 2147483648 5', 'GetSystemFileCacheSize', 'SetSystemFileCacheSize 268435456 2147483648 10') }
        @{ Flags = '5'; Calls = @('SetSystemFileCacheSize 268435456 2147483648 5') }
    ) {
        Set-SimulatedSystem ''
        'MinimumBytes,MaximumBytes,Flags', "268435456,2147483648,$Flags" | ConvertFrom-Csv | Restore-VelmoraFileCacheLimit -ErrorAction Stop
        Get-CacheCall | Should -Be $Calls
    }

    It 'Set given a record still puts it back, with a warning that names Restore-VelmoraFileCacheLimit' {
        Set-SimulatedSystem ''
        $warnings = [pscustomobject]@{ MinimumBytes = 256MB; MaximumBytes = 2GB; Flags = 5 } | Set-VelmoraFileCacheLimit -ErrorAction Stop 3>&1
        "$warnings" | Should -BeLike '*Restore-VelmoraFileCacheLimit*'
        Get-StateValue 'flags' | Should -Be '5'
    }

    It '<Cmdlet> given <Count> objects from the pipeline applies none, and says how many came' -ForEach @(
        @{ Cmdlet = 'Set-VelmoraFileCacheLimit'; Count = 2 }
        @{ Cmdlet = 'Restore-VelmoraFileCacheLimit'; Count = 3 }
    ) {
        Set-SimulatedSystem ''
        $rows = foreach ($index in 1..$Count) { [pscustomobject]@{ MinimumBytes = 256MB * $index; MaximumBytes = 4GB; Flags = 5 } }
        $record = Get-OneError { $rows | & $Cmdlet 3>$null }
        $record.FullyQualifiedErrorId | Should -Be "Velmora.OneObjectExpected,$Cmdlet"
        $record.Exception.Message | Should -BeLike "*$Count objects*one wanted state is one object*"
        Get-CacheCall | Should -BeNullOrEmpty
    }

    It 'Set <Sizes>: Velmora.SizesRefused before the system sees them' -ForEach @(
        @{ Sizes = '-MinimumPercent 100 -MaximumPercent 100' }
        @{ Sizes = '-MinimumPercent 50 -MaximumPercent 10' }
        @{ Sizes = '256MB 1MB' }
        @{ Sizes = '1MB 15MB -Force' }
        @{ Sizes = '0 128MB' }
        @{ Sizes = '3000MB 0 -Force' }
    ) {
        # 256 MB and 2 GB in force: a 0 keeps one of them, which VelmoraState judges in its place.
        Set-SimulatedSystem "memory=8589934592`nmin=268435456`nmax=2147483648`nflags=5"
        $record = Get-OneError { Invoke-Expression "Set-VelmoraFileCacheLimit $Sizes" }
        $record.FullyQualifiedErrorId | Should -Be 'Velmora.SizesRefused,Set-VelmoraFileCacheLimit'
        Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' } | Should -BeNullOrEmpty
    }

    It 'Set <Sizes> on a system that lowers the maximum: a warning with what was asked and what it holds, and -PassThru shows it' -ForEach @(
        @{ Sizes = '256MB 2GB' }
        @{ Sizes = '0 2GB' }
    ) {
        Set-SimulatedSystem "memory=8589934592`nmin=268435456`nlargest=1073741824"
        $answers = Invoke-Expression "Set-VelmoraFileCacheLimit $Sizes -PassThru -ErrorAction Stop 3>&1"
        $warning = @($answers | Where-Object { $_ -is [System.Management.Automation.WarningRecord] })
        $warning.Count | Should -Be 1
        $warning[0].Message | Should -BeLike '*asked for 268435456 and 2147483648 bytes*holds 268435456 and 1073741824 bytes*'
        $limit = @($answers | Where-Object { $_ -isnot [System.Management.Automation.WarningRecord] })
        $limit.MaximumBytes | Should -Be 1073741824
    }

    It 'Set <Sizes>: a size in bytes and a share together' -ForEach @(
        @{ Sizes = '-MinimumBytes 256MB -MaximumPercent 25'; Call = 'SetSystemFileCacheSize 268435456 2147483648 5' }
        @{ Sizes = '-MaximumBytes 2GB -MinimumPercent 1'; Call = 'SetSystemFileCacheSize 84934656 2147483648 5' }
    ) {
        Set-SimulatedSystem 'memory=8589934592'
        Invoke-Expression "Set-VelmoraFileCacheLimit $Sizes -ErrorAction Stop"
        Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' } | Should -Be $Call
    }
}
