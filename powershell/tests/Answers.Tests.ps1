# Every answer of Velmora and VelmoraState, as each cmdlet reads it.
# The module on the simulated system, with the parameters every suite of it
# takes (ModuleSuite.ps1 says how).
param([string] $Module, [string] $Velmora, [string] $StateExe, [string] $Table, [int] $Bits, [string] $Version)

BeforeAll { . (Join-Path $PSScriptRoot 'ModuleSuite.ps1') }
AfterAll { Remove-ModuleSuite }

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
