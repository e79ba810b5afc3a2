# The DSC resource VelmoraFileCacheLimit.
# The module on the simulated system, with the parameters every suite of it
# takes (ModuleSuite.ps1 says how).
param([string] $Module, [string] $Velmora, [string] $StateExe, [string] $Table, [int] $Bits, [string] $Version)

BeforeAll { . (Join-Path $PSScriptRoot 'ModuleSuite.ps1') }
AfterAll { Remove-ModuleSuite }

BeforeDiscovery {
    . (Join-Path $env:VELMORA_TEST_SUPPORT 'WantedStates.ps1')
    $script:WantedStates = @(Get-WantedStateCase $Table $Bits)
}

Describe 'The DSC resource VelmoraFileCacheLimit' {
    BeforeAll {
        function New-Resource([string] $Ensure, [uint64] $Min = 0, [uint64] $Max = 0, [double] $MinPercent = 0, [double] $MaxPercent = 0) {
            $resource = & (Get-Module Velmora) { [VelmoraFileCacheLimit]::new() }
            $resource.IsSingleInstance = 'Yes'
            $resource.Ensure = $Ensure
            $resource.MinimumMB = $Min
            $resource.MaximumMB = $Max
            $resource.MinimumPercent = $MinPercent
            $resource.MaximumPercent = $MaxPercent
            $resource
        }
        # Whether Get shows what the resource asks for, property by property.
        function Test-Shows($State, $Resource) {
            foreach ($name in 'Ensure', 'MinimumMB', 'MaximumMB', 'MinimumPercent', 'MaximumPercent') {
                if ($State.$name -ne $Resource.$name) { return $false }
            }
            return $true
        }
    }

    # Each case whose wanted state the class's properties can hold: sizes in MB
    # of 1 or more, and shares that a [double] writes back as the case does.
    It '<Rule>: Test, Set, and Test again' -ForEach @($script:WantedStates | Where-Object {
            $given = ConvertFrom-WantedStateJson $_.Wanted
            $fits = [bool]$given
            foreach ($name in 'minimumMB', 'maximumMB') {
                if ($fits -and $given.Contains($name) -and $given[$name] -lt 1) { $fits = $false }
            }
            foreach ($name in 'minimumPercent', 'maximumPercent') {
                if ($fits -and $given.Contains($name) -and
                    ([double]$given[$name]).ToString('R', [cultureinfo]::InvariantCulture) -cne ([regex]::Match($_.Wanted, "`"$name`":([^,}]+)").Groups[1].Value)) {
                    $fits = $false
                }
            }
            $fits
        }) {
        $given = ConvertFrom-WantedStateJson $Wanted
        $ensure = if ($given.Hard -eq $false) { 'Absent' } else { 'Present' }
        $resource = New-Resource $ensure ([uint64]$given['minimumMB']) ([uint64]$given['maximumMB']) ([double]$given['minimumPercent']) ([double]$given['maximumPercent'])
        Set-SimulatedSystem $State
        if ($Test.Does -eq 'refused') {
            { $resource.Test() } | Should -Throw
        } else {
            $resource.Test() 3>$null | Should -Be ($Test.Does -eq 'true')
            @($resource.Test() 3>&1 | Where-Object { $_ -is [System.Management.Automation.WarningRecord] }).Count | Should -Be ([int][bool]$Test.Warning)
        }
        Set-SimulatedSystem $State
        if ($Set.Does -eq 'refused') {
            { $resource.Set() } | Should -Throw
            Get-Content -Raw -LiteralPath $env:VELMORA_SIM_STATE | Should -Be $State
            return
        }
        @($resource.Set() 3>&1).Count | Should -Be ([int][bool]$Set.Warning)
        switch ($Set.Does) {
            'keeps' { Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' } | Should -BeNullOrEmpty }
            'clears' { Get-StateValue 'flags' | Should -Be '0' }
            'applies' {
                Get-StateValue 'min' | Should -Be "$($Set.MinimumMB * 1MB)"
                Get-StateValue 'flags' | Should -Be '5'
            }
        }
        $resource.Test() 3>$null | Should -Be ($Set.Warning -ne 'lowered')
    }

    It 'Get shows the state as the resource asks for it: <Ensure> on flags <Flags>' -ForEach @(
        @{ Flags = 5; Ensure = 'Present' }, @{ Flags = 0; Ensure = 'Absent' }, @{ Flags = 1; Ensure = 'Partial' }, @{ Flags = 4; Ensure = 'Partial' }
    ) {
        Set-SimulatedSystem "memory=8589934592`nmin=134217728`nmax=1073741824`nflags=$Flags"
        $state = (New-Resource Present -MinPercent 1.5625 -MaxPercent 12.5).Get()
        $state.Ensure | Should -Be $Ensure
        $state.MinimumBytes | Should -Be 134217728
        $state.Flags | Should -Be $Flags
        if ($Flags -ne 0) {
            $state.MinimumPercent | Should -Be 1.5625
            $state.MaximumPercent | Should -Be 12.5
        }
    }

    It 'Ensure <Ensure> is no state to ask for' -ForEach @(@{ Ensure = 'Partial' }, @{ Ensure = 'present ' }) {
        Set-SimulatedSystem ''
        { (New-Resource $Ensure).Test() } | Should -Throw '*Present or Absent*'
    }

    It 'Set says what it found and what it changed' {
        Set-SimulatedSystem "min=268435456`nmax=2147483648`nflags=0"
        # A class's methods see the global preference, as the configuration manager sets it.
        $saved = $global:VerbosePreference
        $global:VerbosePreference = 'Continue'
        try {
            $text = (@((New-Resource Present 256 1024).Set() 4>&1) | ForEach-Object { $_.Message }) -join "`n"
        } finally {
            $global:VerbosePreference = $saved
        }
        $text | Should -BeLike '*in force now: 268435456 and 1073741824 bytes, flags 5*'
    }

    It 'converges from any state: <Count> seeded states and desired states from seed <Seed>' -ForEach @(
        @{ Seed = 20261209; Count = 200 }
    ) {
        $random = New-Object System.Random($Seed)
        function Pick([object[]] $From) { $From[$random.Next($From.Count)] }
        $pages = '16384', '81920', '1048576', '16777216', '268435456', '268439552', '1073741824', '2147483648', '4294963200'
        for ($case = 0; $case -lt $Count; $case++) {
            $state = "min=$(Pick $pages)`nmax=$(Pick $pages)`nflags=$(Pick 0, 1, 4, 5)`n"
            if ($random.Next(4) -eq 0) { $state += "largest=$(Pick '1073741824', '2147483648')`n" }
            if ($random.Next(4) -eq 0) { $state += "available=$(Pick '0', '268435456')`n" }
            $ensure = Pick 'Present', 'Present', 'Present', 'Absent'
            $sizes = @(0, 0, 0, 0)
            if ($ensure -eq 'Present' -or $random.Next(8) -eq 0) {
                foreach ($i in 0, 1) {
                    if ($random.Next(3) -eq 0) { $sizes[$i + 2] = Pick 0, 1, 10, 25, 50, 100 }
                    else { $sizes[$i] = Pick 0, 1, 16, 256, 257, 1024, 2048, 4095, 8192, 9000 }
                }
            }
            $resource = New-Resource $ensure $sizes[0] $sizes[1] $sizes[2] $sizes[3]
            $because = "seed $Seed case $($case): $ensure $($sizes -join ' ') on $($state -replace "`n", ' ')"
            Set-SimulatedSystem $state
            $tested = $null
            try { $tested = $resource.Test() } catch { $tested = $null }
            if ($null -ne $tested) {
                $tested | Should -Be (Test-Shows $resource.Get() $resource) -Because $because
            }
            $set = $true
            $warned = $false
            try { $warned = @($resource.Set() 3>&1).Count -gt 0 } catch { $set = $false }
            if ($null -eq $tested) {
                $set | Should -BeFalse -Because "$because; Test refused it"
                Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' } | Should -BeNullOrEmpty -Because $because
            }
            if ($set -and -not $warned) {
                $resource.Test() | Should -BeTrue -Because "$because; Set returned"
                Test-Shows $resource.Get() $resource | Should -BeTrue -Because "$because; Set returned"
                Remove-Item -LiteralPath $env:VELMORA_SIM_LOG -ErrorAction SilentlyContinue
                $resource.Set()
                Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' } | Should -BeNullOrEmpty -Because "$because; second Set"
            }
        }
    }
}
