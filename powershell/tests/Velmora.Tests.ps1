# The module Velmora on the simulated system: each cmdlet runs the simulated
# system's Velmora (VELMORA_EXE), whose state file and call log say what the
# system holds and was asked. The task scheduler, the registry, elevation and
# the performance counters, which this machine has not, are test doubles that
# record what they are asked.
param(
    [Parameter(Mandatory = $true)] [string] $Module,
    [Parameter(Mandatory = $true)] [string] $Velmora,
    [Parameter(Mandatory = $true)] [string] $StateExe,
    [Parameter(Mandatory = $true)] [string] $Table,
    [Parameter(Mandatory = $true)] [int] $Bits,
    [Parameter(Mandatory = $true)] [string] $Version
)

BeforeAll {
    Import-Module $Module -Force
    . (Join-Path $env:VELMORA_TEST_SUPPORT 'WantedStates.ps1')
    . (Join-Path $PSScriptRoot 'SimulatedSystem.ps1')
    . (Join-Path $PSScriptRoot 'WindowsDoubles.ps1')
    $script:Scratch = New-SimulatedSystem $Velmora 'velmora-pester' $StateExe
    # Runs a command whose cmdlets write their errors as they would for any caller,
    # and gives back the one error it wrote.
    function Get-OneError([scriptblock] $Command) {
        $PSDefaultParameterValues = @{ '*:ErrorAction' = 'Continue' }
        $records = @(& $Command 2>&1 | Where-Object { $_ -is [System.Management.Automation.ErrorRecord] })
        $records.Count | Should -Be 1 -Because 'one answer of Velmora is one error'
        $records[0]
    }
    $script:MaxMB = if ($Bits -eq 64) { '17592186044415' } else { '4095' }
    # Each refusal of the table of wanted states, as the module's error IDs.
    $script:SetRefusals = @{
        'input'       = @('Velmora.WantedStateNotValid', 'Velmora.SizeNotWholeMegabytes')
        'cannot-hold' = @('Velmora.SizesRefused')
        'memory'      = @('Velmora.MemoryUnreadable')
        'system'      = @('Velmora.SystemCallFailed')
    }
}

BeforeDiscovery {
    . (Join-Path $env:VELMORA_TEST_SUPPORT 'WantedStates.ps1')
    $script:WantedStates = @(Get-WantedStateCase $Table $Bits)
    # Every example of every cmdlet's help, as Get-Help gives it.
    $exported = Import-Module $Module -Force -PassThru
    $script:Examples = @(foreach ($name in $exported.ExportedFunctions.Keys | Sort-Object) {
            foreach ($example in (Get-Help $name -Examples).examples.example) {
                @{ Name = $name; Code = [string]$example.code }
            }
        })
    Remove-Module Velmora -Force
}

AfterAll {
    Remove-Module Velmora -Force -ErrorAction SilentlyContinue
    Remove-SimulatedSystem $script:Scratch
}

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

Describe 'Every answer of Velmora' {
    It '<Why>: <Id>, <Category>, code <Code>' -ForEach @(
        @{ Why = 'the read refused'; State = 'fail.GetSystemFileCacheSize=5'; Command = { Get-VelmoraFileCacheLimit }
           Id = 'Velmora.SystemCallFailed,Get-VelmoraFileCacheLimit'; Category = 'PermissionDenied'; Code = 5; Advice = '*elevated*SYSTEM*reading the limits*' }
        @{ Why = 'no quota privilege'; State = 'privilege=missing'; Command = { Set-VelmoraFileCacheLimit 256MB 2GB -Force }
           Id = 'Velmora.SystemCallFailed,Set-VelmoraFileCacheLimit'; Category = 'PermissionDenied'; Code = 1300; Advice = '*elevated*SYSTEM*SeIncreaseQuotaPrivilege*' }
        @{ Why = 'sizes the system refuses'; State = 'fail.SetSystemFileCacheSize=87'; Command = { Set-VelmoraFileCacheLimit 256MB 2GB }
           Id = 'Velmora.SystemCallFailed,Set-VelmoraFileCacheLimit'; Category = 'InvalidArgument'; Code = 87; Advice = '*minimum*below the maximum*16 MB*' }
        @{ Why = 'a read the system refuses as a parameter'; State = 'fail.GetSystemFileCacheSize=87'; Command = { Get-VelmoraFileCacheLimit }
           Id = 'Velmora.SystemCallFailed,Get-VelmoraFileCacheLimit'; Category = 'InvalidArgument'; Code = 87; Advice = '*Velmora.exe*width*' }
        @{ Why = 'more than the system can spare'; State = 'available=1073741824'
           Command = { Set-VelmoraFileCacheLimit 2000MB 4000MB -Force }
           Id = 'Velmora.SystemCallFailed,Set-VelmoraFileCacheLimit'; Category = 'ResourceUnavailable'; Code = 1450; Advice = '*smaller minimum*' }
        @{ Why = 'Clear refused'; State = 'fail.SetSystemFileCacheSize=4242'; Command = { Clear-VelmoraFileCacheLimit }
           Id = 'Velmora.SystemCallFailed,Clear-VelmoraFileCacheLimit'; Category = 'NotSpecified'; Code = 4242; Advice = $null }
        @{ Why = 'the token cannot be opened'; State = 'fail.OpenProcessToken=5'; Command = { Clear-VelmoraFileCacheLimit }
           Id = 'Velmora.SystemCallFailed,Clear-VelmoraFileCacheLimit'; Category = 'PermissionDenied'; Code = 5; Advice = '*elevated*SYSTEM*changing the limits*' }
        @{ Why = 'limits past 32 bits'; State = 'fail.GetSystemFileCacheSize=534'; Command = { Get-VelmoraFileCacheLimit }
           Id = 'Velmora.SystemCallFailed,Get-VelmoraFileCacheLimit'; Category = 'InvalidResult'; Code = 534; Advice = '*64-bit*' }
    ) {
        Set-SimulatedSystem $State
        $before = Get-Content -Raw -LiteralPath $env:VELMORA_SIM_STATE
        $record = Get-OneError $Command
        $record.FullyQualifiedErrorId | Should -Be $Id
        $record.CategoryInfo.Category | Should -Be $Category
        $record.Exception | Should -BeOfType [System.ComponentModel.Win32Exception]
        $record.Exception.NativeErrorCode | Should -Be $Code
        # A report line as the README documents it, "FILE.cpp:LINE: Call(CODE): text",
        # with the system's code.
        $record.Exception.Message -cmatch '^[A-Za-z]+\.cpp:\d+: [A-Za-z]+\((-?\d+)\): ' |
            Should -BeTrue -Because "the message is a report line: $($record.Exception.Message)"
        $Matches[1] | Should -Be $Code
        if ($Advice) {
            $record.ErrorDetails.RecommendedAction | Should -BeLike $Advice
        } else {
            $record.ErrorDetails | Should -BeNullOrEmpty
        }
        Get-Content -Raw -LiteralPath $env:VELMORA_SIM_STATE | Should -Be $before
    }

    It 'the 32-bit program on an untouched 64-bit system: 534, with the advice to use the 64-bit one' -Skip:($Bits -ne 32) {
        Set-SimulatedSystem 'system=x64'
        $record = Get-OneError { Get-VelmoraFileCacheLimit }
        $record.Exception.NativeErrorCode | Should -Be 534
        $record.CategoryInfo.Category | Should -Be 'InvalidResult'
        $record.ErrorDetails.RecommendedAction | Should -BeLike '*64-bit*'
    }

    It 'a size past the program''s range: Set refuses it first (Velmora.SizesRefused), and Velmora refuses a record of it' {
        Set-SimulatedSystem ''
        if ($Bits -ne 32) {
            Set-ItResult -Skipped -Because 'no whole number of megabytes in 64 bits of bytes lies past the 64-bit range'
            return
        }
        # A size of 0 keeps the minimum, which stands in for it while VelmoraState judges.
        $record = Get-OneError { Set-VelmoraFileCacheLimit 0 4GB }
        $record.FullyQualifiedErrorId | Should -Be 'Velmora.SizesRefused,Set-VelmoraFileCacheLimit'
        $record.Exception.Message | Should -BeLike "*up to $script:MaxMB MB*"
        Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' } | Should -BeNullOrEmpty
        Set-SimulatedSystem ''
        $record = Get-OneError { [pscustomobject]@{ MinimumBytes = 1MB; MaximumBytes = 4GB; Flags = 0 } | Restore-VelmoraFileCacheLimit }
        $record.FullyQualifiedErrorId | Should -Be 'Velmora.CommandLineRefused,Restore-VelmoraFileCacheLimit'
        $record.CategoryInfo.Category | Should -Be 'InvalidArgument'
        $record.Exception.Message | Should -BeLike "*Invalid size: ``[4096``] (0 to $script:MaxMB MB)*"
        Get-CacheCall | Should -BeNullOrEmpty
    }

    It 'VELMORA_TIMEOUT=<Value>: Velmora.TimeoutNotValid, before anything runs' -ForEach @(
        @{ Value = '86400000' }, @{ Value = '2147484' }, @{ Value = 'abc' }, @{ Value = '0' }, @{ Value = '-5' },
        @{ Value = '1.5' }, @{ Value = ' 30' }, @{ Value = '+30' }
    ) {
        Set-SimulatedSystem ''
        $env:VELMORA_TIMEOUT = $Value
        try {
            $record = Get-OneError { Set-VelmoraFileCacheLimit 256MB 2GB }
            $read = Get-OneError { Get-VelmoraFileCacheLimit }
        } finally {
            Remove-Item Env:VELMORA_TIMEOUT
        }
        $record.FullyQualifiedErrorId | Should -Be 'Velmora.TimeoutNotValid,Set-VelmoraFileCacheLimit'
        $record.Exception.Message | Should -BeLike "*VELMORA_TIMEOUT*'$Value'*1 to 2147483*"
        $read.FullyQualifiedErrorId | Should -Be 'Velmora.TimeoutNotValid,Get-VelmoraFileCacheLimit'
        Get-CacheCall | Should -BeNullOrEmpty
    }

    It 'VELMORA_TIMEOUT=<Value> is taken, and -Verbose says the limit in force' -ForEach @(
        @{ Value = '2147483'; Says = '2147483 s, from VELMORA_TIMEOUT' }
        @{ Value = '1'; Says = '1 s, from VELMORA_TIMEOUT' }
        @{ Value = $null; Says = '30 s, the default' }
    ) {
        Set-SimulatedSystem ''
        $env:VELMORA_TIMEOUT = $Value
        try {
            $verbose = Get-VelmoraFileCacheLimit -ErrorAction Stop -Verbose 4>&1 | Where-Object { $_ -is [System.Management.Automation.VerboseRecord] }
        } finally {
            Remove-Item Env:VELMORA_TIMEOUT -ErrorAction SilentlyContinue
        }
        ($verbose | ForEach-Object { $_.Message }) -join "`n" | Should -BeLike "*time limit: $Says*"
    }

    It 'the errors are non-terminating unless the caller asks' {
        Set-SimulatedSystem 'fail.GetSystemFileCacheSize=5'
        { Get-VelmoraFileCacheLimit -ErrorAction SilentlyContinue } | Should -Not -Throw
        { Get-VelmoraFileCacheLimit -ErrorAction Stop } | Should -Throw -ExceptionType ([System.ComponentModel.Win32Exception])
    }

    Context 'a program that answers otherwise' {
        BeforeAll {
            # A stand-in for Velmora.exe, the shell script that Body is, as the program the module runs.
            function Use-StandIn([string] $Name, [string] $Body) {
                $path = Join-Path $script:Scratch $Name
                Set-Content -LiteralPath $path -NoNewline -Value "#!/bin/sh`n$Body"
                chmod +x $path
                $env:VELMORA_EXE = $path
            }
        }
        BeforeEach { $saved = $env:VELMORA_EXE }
        AfterEach { $env:VELMORA_EXE = $saved }

        It 'exit code <Exit> and <Output>: an error that quotes it' -ForEach @(
            @{ Exit = 3; Output = 'something else' }
            @{ Exit = 0; Output = 'Success: SetSystemFileCacheSize(Min:[1], Max:[2], Flags: 5)' }
            @{ Exit = 1; Output = 'no report line' }
        ) {
            Use-StandIn 'fake-velmora' "printf '%s\r\n' '$Output'`nexit $Exit`n"
            $record = Get-OneError { Get-VelmoraFileCacheLimit }
            $record.FullyQualifiedErrorId | Should -Be 'Velmora.UnexpectedAnswer,Get-VelmoraFileCacheLimit'
            $record.CategoryInfo.Category | Should -Be 'NotSpecified'
            $record.Exception.Message | Should -BeLike "*exit code $Exit*$([WildcardPattern]::Escape($Output))*"
        }

        It 'no program at all: Velmora.ProgramNotFound, naming the path and VELMORA_EXE' {
            $env:VELMORA_EXE = Join-Path $script:Scratch 'no-such-program'
            $record = Get-OneError { Get-VelmoraFileCacheLimit }
            $record.FullyQualifiedErrorId | Should -Be 'Velmora.ProgramNotFound,Get-VelmoraFileCacheLimit'
            $record.CategoryInfo.Category | Should -Be 'ObjectNotFound'
            $record.Exception.Message | Should -BeLike "*$env:VELMORA_EXE*VELMORA_EXE*"
        }

        It 'a program <Why> is given up within its limit of <Limit> s: Velmora.ProgramTimedOut' -ForEach @(
            @{ Why = 'that runs past its time limit'; Body = "exec sleep 60`n"; Limit = '1'; Within = 20 }
            # Ended, but a child of its own keeps its output open: the limit and a second at the most.
            @{ Why = 'whose child keeps its output open'; Limit = '2'; Within = 3.5
               Body = "sleep 20 &`nprintf 'Success: GetSystemFileCacheSize(Min:[1048576], Max:[2097152], Flags: 0)\r\n'`n" }
        ) {
            Use-StandIn 'stuck-velmora' $Body
            $env:VELMORA_TIMEOUT = $Limit
            try {
                $clock = [System.Diagnostics.Stopwatch]::StartNew()
                $record = Get-OneError { Get-VelmoraFileCacheLimit }
                $clock.Elapsed.TotalSeconds | Should -BeLessThan $Within
            } finally {
                Remove-Item Env:VELMORA_TIMEOUT
            }
            $record.FullyQualifiedErrorId | Should -Be 'Velmora.ProgramTimedOut,Get-VelmoraFileCacheLimit'
            $record.CategoryInfo.Category | Should -Be 'OperationTimeout'
        }

        It 'a program that fills its error stream before it answers is read to the end' {
            # 1 MB on standard error, far more than a pipe holds, then the answer.
            Use-StandIn 'noisy-velmora' ("head -c 1048576 /dev/zero | tr '\0' x >&2`n" +
                "printf 'Success: GetSystemFileCacheSize(Min:[1048576], Max:[2097152], Flags: 0)\r\n'`n")
            $env:VELMORA_TIMEOUT = '20'
            try {
                (Get-VelmoraFileCacheLimit -ErrorAction Stop).MaximumBytes | Should -Be 2097152
            } finally {
                Remove-Item Env:VELMORA_TIMEOUT
            }
        }

        It 'the message text is decoded in the code page it was written in' {
            # "Appel non implémenté." in code page 850, as Velmora writes it without a console on a French system.
            Use-StandIn 'french-velmora' "printf 'main.cpp:61: GetSystemFileCacheSize(120): Appel non impl\202ment\202.\r\r\n\r\n'`nexit 1`n"
            Mock -ModuleName Velmora Get-VelmoraOutputCodePage { 850 }
            $record = Get-OneError { Get-VelmoraFileCacheLimit }
            $record.Exception.Message | Should -BeExactly 'main.cpp:61: GetSystemFileCacheSize(120): Appel non implémenté.'
        }
    }
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

Describe 'The startup task' {
    BeforeAll {
        Install-WindowsDoubles
        # The definition that ships with the module.
        function script:Read-ShippedDefinition {
            Read-TaskDefinition ([System.IO.File]::ReadAllText((Join-Path (Split-Path $Module) 'VelmoraStartupTask.xml')))
        }
        # The registered task's program and arguments.
        function script:Get-TaskAction {
            $task = Read-TaskDefinition $global:VelmoraTaskXml
            $exec = $task.Document.SelectSingleNode('/t:Task/t:Actions/t:Exec', $task.Names)
            [pscustomobject]@{
                Command   = $exec.SelectSingleNode('t:Command', $task.Names).InnerText
                Arguments = $exec.SelectSingleNode('t:Arguments', $task.Names).InnerText
            }
        }
        # A run of the registered task, as the task scheduler starts it: its
        # program with its arguments, no input. Its exit code, and the events it wrote.
        function script:Invoke-RegisteredTask {
            $action = Get-TaskAction
            $null | & $action.Command @($action.Arguments -split ' ') 2>$null | Out-Null
            [pscustomobject]@{
                Exit   = $LASTEXITCODE
                Events = @(Get-Content -LiteralPath $env:VELMORA_SIM_LOG | Where-Object { $_ -like 'ReportEventW *' })
            }
        }
        # Snapshots of a folder's files and the registry doubles, to compare before and after.
        function script:Get-FolderFiles([string] $Path) {
            if (-not (Test-Path -LiteralPath $Path)) { return '(none)' }
            (Get-ChildItem -LiteralPath $Path -Force | Sort-Object Name | ForEach-Object { "$($_.Name)=$((Get-FileHash $_.FullName).Hash)" }) -join ';'
        }
        function script:Get-RegistryText {
            ($global:VelmoraRegistry.Keys | Sort-Object | ForEach-Object {
                $key = $_
                "$key{" + (($global:VelmoraRegistry[$key].Keys | Sort-Object | ForEach-Object {
                    "$_=$($global:VelmoraRegistry[$key][$_].Kind):$(@($global:VelmoraRegistry[$key][$_].Value) -join ',')" }) -join ';') + '}'
            }) -join ' '
        }
        $script:EventSource = 'HKLM:\SYSTEM\CurrentControlSet\Services\EventLog\Application\Velmora'
        $script:Record = 'HKLM:\SOFTWARE\Velmora\StartupTask'
        $script:Installer = 'HKLM:\SOFTWARE\Velmora\Installer'
        # The key eventcreate makes for a source of its own, as an earlier startup script left it.
        $script:EventCreateKey = @{
            CustomSource     = [pscustomobject]@{ Value = 1; Kind = 'DWord' }
            EventMessageFile = [pscustomobject]@{ Value = '%SystemRoot%\System32\EventCreate.exe'; Kind = 'ExpandString' }
            TypesSupported   = [pscustomobject]@{ Value = 7; Kind = 'DWord' }
        }
    }
    AfterAll {
        Remove-WindowsDoubles
    }

    BeforeEach {
        Reset-WindowsDoubles
        # Windows, as far as the module can tell; its code page is a test double too, its memory 8 GiB.
        Mock -ModuleName Velmora Test-VelmoraWindows { $true }
        Mock -ModuleName Velmora Get-VelmoraOutputCodePage { 65001 }
        Set-SimulatedSystem 'memory=8589934592'
        $root = Join-Path $script:Scratch ([guid]::NewGuid())
        $env:ProgramFiles = Join-Path $root 'Program Files'
        $env:ProgramData = Join-Path $root 'ProgramData'
        $program = Join-Path $env:ProgramFiles 'Velmora'
    }

    It 'registers VelmoraState.exe with the wanted state in the task''s arguments, and writes no file with it' {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        $task = Register-VelmoraStartupTask -MinimumBytes 300MB -MaximumBytes 3000MB
        $state = Join-Path $program 'VelmoraState.exe'
        Get-FolderFiles $program | Should -BeExactly "VelmoraState.exe=$((Get-FileHash $StateExe).Hash)"
        $data = Join-Path $env:ProgramData 'Velmora'
        $global:VelmoraAsked | Should -Be @("takeown /F $data /A /R", "icacls $data /reset /T /Q",
            "icacls $data /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F /Q",
            'register Velmora file cache limits Force=True')
        # The shipped definition, with this program and these arguments as its action and nothing else changed.
        $expected = Read-ShippedDefinition
        $expected.Document.SelectSingleNode('/t:Task/t:Actions/t:Exec/t:Command', $expected.Names).InnerText = $state
        $expected.Document.SelectSingleNode('/t:Task/t:Actions/t:Exec/t:Arguments', $expected.Names).InnerText = 'set --minimum 300MB --maximum 3000MB --event-log'
        (Read-TaskDefinition $global:VelmoraTaskXml).Document.OuterXml | Should -BeExactly $expected.Document.OuterXml
        Get-RegistryText | Should -BeExactly ("HKLM:\SOFTWARE\Velmora\StartupTask{EventSource=DWord:1;Files=MultiString:VelmoraState.exe;Folder=DWord:1} " +
            "HKLM:\SYSTEM\CurrentControlSet\Services\EventLog\Application\Velmora{EventMessageFile=ExpandString:$state;TypesSupported=DWord:7}")
        $task.Execute | Should -BeExactly $state
        $task.MinimumMB | Should -Be 300
        $task.MaximumMB | Should -Be 3000
        $task.MinimumPercent | Should -BeNullOrEmpty
        $task.RepeatEvery | Should -BeNullOrEmpty
        $task.Earlier | Should -BeFalse
        $task.LastTaskResult | Should -Be 267011
        Get-CacheCall | Should -BeNullOrEmpty -Because 'registering applies nothing'
    }

    It 'shares of memory, repeated every <Every>: the task''s arguments and its repetition, as Get-VelmoraStartupTask reads them' -ForEach @(
        @{ Every = (New-TimeSpan -Hours 1); Interval = 'PT1H' }
        @{ Every = (New-TimeSpan -Minutes 1); Interval = 'PT1M' }
        @{ Every = (New-TimeSpan -Days 31); Interval = 'P31D' }
    ) {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        $task = Register-VelmoraStartupTask -MinimumPercent 2 -MaximumPercent 12.5 -RepeatEvery $Every
        (Get-TaskAction).Arguments | Should -BeExactly 'set --minimum 2% --maximum 12.5% --event-log'
        $registered = Read-TaskDefinition $global:VelmoraTaskXml
        $triggers = $registered.Document.SelectSingleNode('/t:Task/t:Triggers', $registered.Names)
        $triggers.SelectSingleNode('t:BootTrigger/t:Enabled', $registered.Names).InnerText | Should -BeExactly 'true'
        $triggers.SelectSingleNode('t:TimeTrigger/t:Repetition/t:Interval', $registered.Names).InnerText | Should -BeExactly $Interval
        $triggers.SelectSingleNode('t:TimeTrigger/t:Enabled', $registered.Names).InnerText | Should -BeExactly 'true'
        # Principal and settings as shipped.
        $shipped = Read-ShippedDefinition
        foreach ($part in 'Principals', 'Settings') {
            $registered.Document.SelectSingleNode("/t:Task/t:$part", $registered.Names).OuterXml |
                Should -BeExactly $shipped.Document.SelectSingleNode("/t:Task/t:$part", $shipped.Names).OuterXml
        }
        $task.MinimumPercent | Should -Be 2
        $task.MaximumPercent | Should -Be 12.5
        $task.MinimumMB | Should -BeNullOrEmpty
        $task.RepeatEvery | Should -Be $Every
    }

    It '<Why>: refused before anything is changed' -ForEach @(
        @{ Why = 'without elevation'; Elevated = $false; Min = 256MB; Max = 2GB; More = @{}; Id = 'Velmora.NotElevated' }
        @{ Why = 'a minimum not below the maximum'; Elevated = $true; Min = 2GB; Max = 2GB; More = @{}; Id = 'Velmora.SizesRefused' }
        @{ Why = 'a maximum below 16 MB'; Elevated = $true; Min = 1MB; Max = 15MB; More = @{}; Id = 'Velmora.SizesRefused' }
        @{ Why = 'a size of 0'; Elevated = $true; Min = 0; Max = 2GB; More = @{}; Id = 'Velmora.WantedStateNotValid' }
        @{ Why = 'a size that is not whole megabytes'; Elevated = $true; Min = 256MB; Max = 99999999999999999; More = @{}; Id = 'Velmora.SizeNotWholeMegabytes' }
        @{ Why = 'a maximum above physical memory'; Elevated = $true; Min = 256MB; Max = 9GB; More = @{}; Id = 'Velmora.SizesRefused' }
        @{ Why = 'a repetition every 59 seconds'; Elevated = $true; Min = 256MB; Max = 2GB; More = @{ RepeatEvery = (New-TimeSpan -Seconds 59) }; Id = 'Velmora.RepetitionRefused' }
        @{ Why = 'a repetition every 32 days'; Elevated = $true; Min = 256MB; Max = 2GB; More = @{ RepeatEvery = (New-TimeSpan -Days 32) }; Id = 'Velmora.RepetitionRefused' }
    ) {
        Mock -ModuleName Velmora Test-VelmoraElevated { $Elevated }
        { Register-VelmoraStartupTask -MinimumBytes $Min -MaximumBytes $Max @More } | Should -Throw -ErrorId "$Id,Register-VelmoraStartupTask"
        Test-Path -LiteralPath $env:ProgramFiles | Should -BeFalse
        $global:VelmoraAsked | Should -BeNullOrEmpty
        $global:VelmoraRegistry.Count | Should -Be 0
        Get-CacheCall | Should -BeNullOrEmpty
    }

    It 'a percent the DSC 3 resource refuses is refused the same: <Minimum> % and <Maximum> %' -ForEach @(
        @{ Minimum = 0; Maximum = 25 }
        @{ Minimum = 2; Maximum = 100.5 }
        @{ Minimum = 2; Maximum = 12.34567 }
    ) {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        { Register-VelmoraStartupTask -MinimumPercent $Minimum -MaximumPercent $Maximum } |
            Should -Throw -ErrorId 'Velmora.WantedStateNotValid,Register-VelmoraStartupTask'
        $global:VelmoraAsked | Should -BeNullOrEmpty
    }

    It '-RepeatEvery <Given>: refused, with what to write instead' -ForEach @(
        @{ Given = 60 }, @{ Given = '60' }, @{ Given = 'hourly' }
    ) {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        $thrown = { Register-VelmoraStartupTask 256MB 2GB -RepeatEvery $Given } |
            Should -Throw -ErrorId 'Velmora.RepetitionRefused,Register-VelmoraStartupTask' -PassThru
        $thrown.Exception.Message | Should -BeLike "*New-TimeSpan -Minutes 30*'00:30:00'*"
        $global:VelmoraAsked | Should -BeNullOrEmpty
    }

    It 'a size in bytes and a share together, and -RepeatEvery as text: <Arguments> every <Interval>' -ForEach @(
        @{ Sizes = @{ MinimumBytes = 256MB; MaximumPercent = 25 }; Every = '00:30:00'; Arguments = 'set --minimum 256MB --maximum 25% --event-log'; Interval = 'PT30M' }
        @{ Sizes = @{ MinimumPercent = 1; MaximumBytes = 2GB }; Every = '1.00:00:00'; Arguments = 'set --minimum 1% --maximum 2048MB --event-log'; Interval = 'P1D' }
    ) {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        Register-VelmoraStartupTask @Sizes -RepeatEvery $Every | Out-Null
        (Get-TaskAction).Arguments | Should -BeExactly $Arguments
        $registered = Read-TaskDefinition $global:VelmoraTaskXml
        $registered.Document.SelectSingleNode('/t:Task/t:Triggers/t:TimeTrigger/t:Repetition/t:Interval', $registered.Names).InnerText |
            Should -BeExactly $Interval
    }

    It '-Force takes a maximum above physical memory, and the task''s arguments say so' {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        Set-SimulatedSystem 'memory=2147483648'
        $task = Register-VelmoraStartupTask 256MB 3GB -Force
        (Get-TaskAction).Arguments | Should -BeExactly 'set --minimum 256MB --maximum 3072MB --allow-above-memory --event-log'
        $task.AllowAboveMemory | Should -BeTrue
    }

    It 'sizes past the 32-bit program''s range are refused as Velmora would refuse them' -Skip:($Bits -ne 32) {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        { Register-VelmoraStartupTask 256MB 5000MB } | Should -Throw -ErrorId 'Velmora.SizesRefused,Register-VelmoraStartupTask'
        $global:VelmoraAsked | Should -BeNullOrEmpty
    }

    It 'where the MSI installed Velmora, the task runs its VelmoraState.exe and nothing is copied or registered beside it' {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        $msi = Join-Path $env:ProgramFiles 'Velmora'
        New-Item -ItemType Directory -Force $msi | Out-Null
        Set-Content -LiteralPath (Join-Path $msi 'VelmoraState.exe') -Value 'the MSI''s program'
        $global:VelmoraRegistry[$script:Installer] = @{ Folder = [pscustomobject]@{ Value = "$msi\"; Kind = 'String' } }
        $global:VelmoraRegistry[$script:EventSource] = @{ EventMessageFile = [pscustomobject]@{ Value = "$msi\VelmoraState.exe"; Kind = 'ExpandString' } }
        $files = Get-FolderFiles $msi
        $registry = Get-RegistryText
        $task = Register-VelmoraStartupTask 256MB 2GB
        $task.Execute | Should -BeExactly (Join-Path $msi 'VelmoraState.exe')
        Get-FolderFiles $msi | Should -BeExactly $files
        Get-RegistryText | Should -BeExactly $registry
        Unregister-VelmoraStartupTask -Confirm:$false
        $global:VelmoraTaskXml | Should -BeNullOrEmpty
        Get-FolderFiles $msi | Should -BeExactly $files -Because 'the MSI''s files are the MSI''s'
        Get-RegistryText | Should -BeExactly $registry
    }

    It 'the <Step> step failing after a working task: that task, its program and the registry stay as they were, and the error says what was undone' -ForEach @(
        @{ Step = 'task'; Undone = 'done before it: records folder, owner, permissions, folder, program, event source, record; undone: record, event source, program, folder, permissions, owner, records folder' }
        @{ Step = 'record'; Undone = 'done before it: records folder, owner, permissions, folder, program, event source; undone: event source, program, folder, permissions, owner, records folder' }
        @{ Step = 'event source'; Undone = 'done before it: records folder, owner, permissions, folder, program; undone: program, folder, permissions, owner, records folder' }
    ) {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        # A task that works: an earlier registration's, with its program and
        # eventcreate's key, and a different program to put in place of it.
        Register-VelmoraStartupTask 256MB 2GB | Out-Null
        Set-Content -LiteralPath (Join-Path $program 'VelmoraState.exe') -Value 'the program the working task runs'
        $global:VelmoraRegistry[$script:EventSource] = $script:EventCreateKey.Clone()
        $task = $global:VelmoraTaskXml
        $files = Get-FolderFiles $program
        $registry = Get-RegistryText
        switch ($Step) {
            'task' { $global:VelmoraRegisterFails = $true }
            'record' { $global:VelmoraRegistryFails = $script:Record }
            'event source' { $global:VelmoraRegistryFails = $script:EventSource }
        }
        $thrown = { Register-VelmoraStartupTask 300MB 3000MB } | Should -Throw -ErrorId 'Velmora.StartupTaskStepFailed,Register-VelmoraStartupTask' -PassThru
        $thrown.Exception.Message | Should -BeLike "*step '$Step'*; $Undone."
        $global:VelmoraTaskXml | Should -BeExactly $task
        Get-FolderFiles $program | Should -BeExactly $files
        $global:VelmoraRegistryFails = $null
        Get-RegistryText | Should -BeExactly $registry
    }

    It 'a first registration failing at its task step leaves no folder, program or key behind' {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        $global:VelmoraRegisterFails = $true
        { Register-VelmoraStartupTask 256MB 2GB } | Should -Throw -ErrorId 'Velmora.StartupTaskStepFailed,Register-VelmoraStartupTask'
        Test-Path -LiteralPath $program | Should -BeFalse
        Test-Path -LiteralPath (Join-Path $env:ProgramData 'Velmora') | Should -BeFalse
        $global:VelmoraRegistry.Count | Should -Be 0
    }

    It '<Tool> ending with exit code <Exit>: stops at the step <Step>, says what was done and undone, and registers nothing' -ForEach @(
        @{ Tool = 'takeown'; Exit = 1; Step = 'owner'; Said = 'done before it: records folder; undone: records folder' }
        @{ Tool = 'icacls'; Exit = 5; Step = 'permissions'; Said = 'done before it: records folder, owner; undone: owner, records folder' }
    ) {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        $global:VelmoraToolExit[$Tool] = $Exit
        $thrown = { Register-VelmoraStartupTask 256MB 2GB } | Should -Throw -ErrorId 'Velmora.StartupTaskStepFailed,Register-VelmoraStartupTask' -PassThru
        $thrown.Exception.Message | Should -BeLike "*'$Step'*exit code $Exit*; $Said."
        $global:VelmoraAsked | Where-Object { $_ -like 'register*' } | Should -BeNullOrEmpty
        Test-Path -LiteralPath $env:ProgramFiles | Should -BeFalse
        Test-Path -LiteralPath (Join-Path $env:ProgramData 'Velmora') | Should -BeFalse
    }

    It '-WhatIf previews every step without elevation, and changes nothing' {
        Mock -ModuleName Velmora Test-VelmoraElevated { $false }
        Register-VelmoraStartupTask -MinimumBytes 256MB -MaximumBytes 2GB -WhatIf -ErrorAction Stop
        Unregister-VelmoraStartupTask -WhatIf -ErrorAction Stop
        Test-Path -LiteralPath $env:ProgramFiles | Should -BeFalse
        $global:VelmoraAsked | Should -BeNullOrEmpty
        $global:VelmoraRegistry.Count | Should -Be 0
    }

    Context 'the registered task, run as the task scheduler runs it' {
        BeforeEach {
            Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        }

        It '<Why>: <Calls> set call(s), event <Id>, exit code 0' -ForEach @(
            @{ Why = 'not yet applied'; State = "memory=8589934592"; Calls = 1; Id = '0x40000001' }
            @{ Why = 'in place'; State = "memory=8589934592`nmin=268435456`nmax=2147483648`nflags=5"; Calls = 0; Id = '0x40000005' }
            @{ Why = 'changed by something else'; State = "memory=8589934592`nmin=268435456`nmax=4294963200`nflags=0"; Calls = 1; Id = '0x40000001' }
            @{ Why = 'held lower by the system'; State = "memory=8589934592`nmin=268435456`nmax=1073741824`nflags=5`nlargest=1073741824"; Calls = 1; Id = '0x80000007' }
        ) {
            Register-VelmoraStartupTask 256MB 2GB -RepeatEvery (New-TimeSpan -Minutes 15) | Out-Null
            Set-SimulatedSystem $State
            $run = Invoke-RegisteredTask
            $run.Exit | Should -Be 0
            @(Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' }).Count | Should -Be $Calls
            $run.Events.Count | Should -Be 1
            $run.Events[0] | Should -BeLike "ReportEventW type * id $($Id): *"
            Get-StateValue 'flags' | Should -Be '5'
        }

        It 'every shipped file replaced, as an upgrade does: the next run applies the registered state, not the shipped one' {
            Register-VelmoraStartupTask 300MB 3000MB | Out-Null
            $task = $global:VelmoraTaskXml
            foreach ($file in Get-ChildItem -File (Split-Path $Module)) {
                Copy-Item -LiteralPath $file.FullName -Destination $program -Force
            }
            Copy-Item -LiteralPath $StateExe -Destination (Join-Path $program 'VelmoraState.exe') -Force
            $run = Invoke-RegisteredTask
            $run.Exit | Should -Be 0
            Get-StateValue 'min' | Should -Be ([string](300MB))
            Get-StateValue 'max' | Should -Be ([string](3000MB))
            $global:VelmoraTaskXml | Should -BeExactly $task
        }

        It 'shares of memory with no memory to read: an error event, exit code 3, and nothing set' {
            Register-VelmoraStartupTask -MinimumPercent 2 -MaximumPercent 25 | Out-Null
            Set-SimulatedSystem 'fail.GlobalMemoryStatusEx=5'
            $run = Invoke-RegisteredTask
            $run.Exit | Should -Be 3
            Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' } | Should -BeNullOrEmpty
            $run.Events | Should -BeLike 'ReportEventW type 1 * id 0xc0000004: the physical memory could not be read*'
        }

        It 'fixed sizes with no memory to read: applied, with a warning event that the memory check was skipped' {
            Register-VelmoraStartupTask 256MB 2GB | Out-Null
            Set-SimulatedSystem 'fail.GlobalMemoryStatusEx=5'
            $run = Invoke-RegisteredTask
            $run.Exit | Should -Be 0
            $run.Events[0] | Should -BeLike 'ReportEventW type 2 * id 0x80000006: *'
            $run.Events[1] | Should -BeLike 'ReportEventW type 4 * id 0x40000001: *'
            Get-StateValue 'flags' | Should -Be '5'
        }
    }

    It 'Get-VelmoraStartupTask shows as a table: its state, its wanted state, its repetition and its last result' {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        Register-VelmoraStartupTask -MinimumBytes 256MB -MaximumPercent 25 -RepeatEvery '01:00:00' | Out-Null
        $lines = @((Get-VelmoraStartupTask | Out-String -Width 200) -split "`r?`n" | Where-Object { $_.Trim() })
        $lines[0] | Should -Match '^State +MinimumMB +MaximumMB +MinimumPercent +MaximumPercent +RepeatEvery +Earlier +LastTaskResult$'
        $lines[2] | Should -Match '^Ready +256 +25 +01:00:00 +False +267011$'
    }

    It 'Get-VelmoraStartupTask gives nothing where there is no task' {
        Get-VelmoraStartupTask | Should -BeNullOrEmpty
    }

    It 'Get-VelmoraStartupTask calls a task that runs startup.cmd an earlier one, with no wanted state of its own' {
        $global:VelmoraTaskXml = (Read-ShippedDefinition).Document.OuterXml -replace '<Command>[^<]*</Command><Arguments>[^<]*</Arguments>', '<Command>%ProgramFiles%\Velmora\startup.cmd</Command>'
        $task = Get-VelmoraStartupTask
        $task.Earlier | Should -BeTrue
        $task.Execute | Should -BeExactly '%ProgramFiles%\Velmora\startup.cmd'
        $task.MinimumMB | Should -BeNullOrEmpty
    }

    It 'Unregister removes the task and what Register put there, and leaves what was there before' {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        New-Item -ItemType Directory -Force $program | Out-Null
        Set-Content -LiteralPath (Join-Path $program 'startup.cmd') -Value 'an earlier task''s script'
        New-Item -ItemType Directory -Force (Join-Path $env:ProgramData 'Velmora') | Out-Null
        Set-Content -LiteralPath (Join-Path $env:ProgramData 'Velmora\startup.log') -Value 'an earlier task''s log'
        $global:VelmoraRegistry[$script:EventSource] = $script:EventCreateKey.Clone()
        Register-VelmoraStartupTask -MinimumBytes 256MB -MaximumBytes 2GB | Out-Null
        Register-VelmoraStartupTask -MinimumPercent 2 -MaximumPercent 25 | Out-Null
        Unregister-VelmoraStartupTask -Confirm:$false
        $global:VelmoraAsked | Should -Contain 'unregister Velmora file cache limits'
        Get-VelmoraStartupTask | Should -BeNullOrEmpty
        Get-FolderFiles $program | Should -BeLike 'startup.cmd=*' -Because 'the earlier script was there before'
        Test-Path -LiteralPath (Join-Path $env:ProgramData 'Velmora\startup.log') | Should -BeTrue
        $global:VelmoraRegistry.Count | Should -Be 0
    }

    It 'Unregister after a first registration leaves no folder behind' {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        Register-VelmoraStartupTask -MinimumBytes 256MB -MaximumBytes 2GB | Out-Null
        Unregister-VelmoraStartupTask -Confirm:$false
        Test-Path -LiteralPath $program | Should -BeFalse
        $global:VelmoraRegistry.Count | Should -Be 0
    }
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

Describe 'The module itself' {
    It '<Command> off Windows: Velmora.NotWindows' -ForEach @(
        @{ Command = 'Get-VelmoraStartupTask' }
        @{ Command = 'Get-VelmoraFileCacheUsage' }
        @{ Command = 'Register-VelmoraStartupTask 256MB 2GB -WhatIf' }
        @{ Command = 'Unregister-VelmoraStartupTask -WhatIf' }
    ) {
        $name = $Command.Split(' ')[0]
        { Invoke-Expression $Command } | Should -Throw -ErrorId "Velmora.NotWindows,$name"
    }

    It '<Name> has a synopsis, a description, every parameter described and an explained example' -ForEach @(
        (Import-PowerShellDataFile $Module).FunctionsToExport | ForEach-Object { @{ Name = $_ } }
    ) {
        $help = Get-Help $Name -Full
        $help.Synopsis | Should -Not -BeLike "*$Name*[<CommonParameters>]*"
        $help.description | Should -Not -BeNullOrEmpty
        $common = [System.Management.Automation.PSCmdlet]::CommonParameters + [System.Management.Automation.PSCmdlet]::OptionalCommonParameters
        foreach ($parameter in (Get-Command $Name).Parameters.Keys | Where-Object { $_ -notin $common }) {
            (Get-Help $Name -Parameter $parameter).description | Should -Not -BeNullOrEmpty -Because "-$parameter of $Name"
        }
        $examples = @($help.examples.example | Where-Object { $_ })
        $examples.Count | Should -BeGreaterThan 0 -Because "$Name has an example"
        foreach ($example in $examples) {
            ($example.remarks | Out-String).Trim() | Should -Not -BeNullOrEmpty -Because "an example of $Name says what it does"
        }
    }

    Context 'every example of the help, run as written' {
        BeforeAll { Install-WindowsDoubles }
        AfterAll { Remove-WindowsDoubles }
        BeforeEach {
            Reset-WindowsDoubles
            Mock -ModuleName Velmora Test-VelmoraWindows { $true }
            Mock -ModuleName Velmora Test-VelmoraElevated { $true }
            Mock -ModuleName Velmora Get-VelmoraOutputCodePage { 65001 }
        }

        It '<Name>: <Code>' -ForEach $script:Examples {
            # A fresh machine each time: the simulated system untouched, with 8 GiB,
            # empty Program Files and ProgramData, and a folder of its own to work in.
            Set-SimulatedSystem 'memory=8589934592'
            $root = Join-Path $script:Scratch ([guid]::NewGuid())
            New-Item -ItemType Directory $root | Out-Null
            $env:ProgramFiles = Join-Path $root 'Program Files'
            $env:ProgramData = Join-Path $root 'ProgramData'
            Push-Location -LiteralPath $root
            try {
                $answers = Invoke-Expression $Code 2>&1 3>$null
            } finally {
                Pop-Location
            }
            @($answers | Where-Object { $_ -is [System.Management.Automation.ErrorRecord] }) | Should -BeNullOrEmpty
        }
    }

    It 'about_Velmora is there, with every error ID the module writes' {
        $about = Get-Help about_Velmora | Out-String
        $about | Should -BeLike '*VELMORA_EXE*30 seconds*'
        $root = Split-Path $Module
        $written = Select-String -LiteralPath (Join-Path $root 'Velmora.psm1') -Pattern "New-VelmoraError \S+ '(Velmora\.[A-Za-z]+)'" -AllMatches |
            ForEach-Object { $_.Matches } | ForEach-Object { $_.Groups[1].Value } | Sort-Object -Unique
        $written.Count | Should -BeGreaterThan 10
        foreach ($id in $written) {
            $about | Should -BeLike "*$id *" -Because "$id is written by the module"
        }
    }

    It 'has the project version, both editions, its exports and the gallery data' {
        $manifest = Import-PowerShellDataFile $Module
        $manifest.ModuleVersion | Should -Be $Version
        $manifest.CompatiblePSEditions | Should -Be @('Desktop', 'Core')
        $manifest.PowerShellVersion | Should -Be '5.1'
        $exported = (Get-Module Velmora).ExportedFunctions.Keys | Sort-Object
        $exported | Should -Be ($manifest.FunctionsToExport | Sort-Object)
        $manifest.DscResourcesToExport | Should -Be @('VelmoraFileCacheLimit')
        $manifest.PrivateData.PSData.LicenseUri | Should -Match '^https?://.+/LICENSE$'
        $manifest.PrivateData.PSData.ProjectUri | Should -Match '^https?://'
        $manifest.PrivateData.PSData.ReleaseNotes | Should -Not -BeNullOrEmpty
        foreach ($verb in $exported | ForEach-Object { $_.Split('-')[0] }) {
            (Get-Verb $verb) | Should -Not -BeNullOrEmpty -Because "$verb is an approved verb"
        }
    }

    It 'uses no syntax newer than Windows PowerShell 5.1' {
        . (Join-Path $env:VELMORA_TEST_SUPPORT 'WindowsPowerShellSyntax.ps1')
        foreach ($file in Get-ChildItem (Split-Path $Module) -Recurse -Include *.psm1, *.psd1, *.ps1) {
            Get-SyntaxNewerThan51 $file.FullName | Should -BeNullOrEmpty
        }
    }
}
