# The module Velmora on the simulated system: each cmdlet runs the simulated
# system's Velmora (VELMORA_EXE), whose state file and call log say what the
# system holds and was asked. The task scheduler, the ACL tools, elevation and
# the performance counters, which this machine has not, are test doubles that
# record what they are asked.
param(
    [Parameter(Mandatory = $true)] [string] $Module,
    [Parameter(Mandatory = $true)] [string] $Velmora,
    [Parameter(Mandatory = $true)] [int] $Bits,
    [Parameter(Mandatory = $true)] [string] $Version
)

BeforeAll {
    Import-Module $Module -Force
    $script:Scratch = Join-Path ([IO.Path]::GetTempPath()) ("velmora-pester-" + [guid]::NewGuid())
    New-Item -ItemType Directory $script:Scratch | Out-Null
    $env:VELMORA_EXE = $Velmora
    $env:VELMORA_SIM_STATE = Join-Path $script:Scratch 'state'
    $env:VELMORA_SIM_LOG = Join-Path $script:Scratch 'log'

    # A system in this state, with an empty call log.
    function Set-SimulatedSystem([string] $State) {
        Set-Content -LiteralPath $env:VELMORA_SIM_STATE -Value $State -NoNewline
        Remove-Item -LiteralPath $env:VELMORA_SIM_LOG -ErrorAction SilentlyContinue
    }
    # The cache calls the system saw.
    function Get-CacheCall {
        if (-not (Test-Path -LiteralPath $env:VELMORA_SIM_LOG)) { return @() }
        @(Get-Content -LiteralPath $env:VELMORA_SIM_LOG | Where-Object { $_ -like '*SystemFileCacheSize*' })
    }
    function Get-StateValue([string] $Key) {
        $line = Get-Content -LiteralPath $env:VELMORA_SIM_STATE | Where-Object { $_ -like "$Key=*" }
        if ($line) { $line.Substring($Key.Length + 1) }
    }
    # Runs a command whose cmdlets write their errors as they would for any caller,
    # and gives back the one error it wrote.
    function Get-OneError([scriptblock] $Command) {
        $PSDefaultParameterValues = @{ '*:ErrorAction' = 'Continue' }
        $records = @(& $Command 2>&1 | Where-Object { $_ -is [System.Management.Automation.ErrorRecord] })
        $records.Count | Should -Be 1 -Because 'one answer of Velmora is one error'
        $records[0]
    }
    $script:MaxMB = if ($Bits -eq 64) { '17592186044415' } else { '4095' }
}

AfterAll {
    Remove-Module Velmora -Force -ErrorAction SilentlyContinue
    Remove-Item -Recurse -Force $script:Scratch -ErrorAction SilentlyContinue
    Remove-Item Env:VELMORA_EXE, Env:VELMORA_SIM_STATE, Env:VELMORA_SIM_LOG -ErrorAction SilentlyContinue
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
           Id = 'Velmora.SystemCallFailed,Get-VelmoraFileCacheLimit'; Category = 'PermissionDenied'; Code = 5 }
        @{ Why = 'no quota privilege'; State = 'privilege=missing'; Command = { Set-VelmoraFileCacheLimit 256 2048 }
           Id = 'Velmora.SystemCallFailed,Set-VelmoraFileCacheLimit'; Category = 'PermissionDenied'; Code = 1300 }
        @{ Why = 'equal sizes with hard limits'; State = ''; Command = { Set-VelmoraFileCacheLimit 100 100 }
           Id = 'Velmora.SystemCallFailed,Set-VelmoraFileCacheLimit'; Category = 'InvalidArgument'; Code = 87 }
        @{ Why = 'more than the system can spare'; State = 'available=1073741824'
           Command = { Set-VelmoraFileCacheLimit 2000 4000 }
           Id = 'Velmora.SystemCallFailed,Set-VelmoraFileCacheLimit'; Category = 'ResourceUnavailable'; Code = 1450 }
        @{ Why = 'Clear refused'; State = 'fail.SetSystemFileCacheSize=4242'; Command = { Clear-VelmoraFileCacheLimit }
           Id = 'Velmora.SystemCallFailed,Clear-VelmoraFileCacheLimit'; Category = 'NotSpecified'; Code = 4242 }
        @{ Why = 'the token cannot be opened'; State = 'fail.OpenProcessToken=5'; Command = { Clear-VelmoraFileCacheLimit }
           Id = 'Velmora.SystemCallFailed,Clear-VelmoraFileCacheLimit'; Category = 'PermissionDenied'; Code = 5 }
    ) {
        Set-SimulatedSystem $State
        $before = Get-Content -Raw -LiteralPath $env:VELMORA_SIM_STATE
        $record = Get-OneError $Command
        $record.FullyQualifiedErrorId | Should -Be $Id
        $record.CategoryInfo.Category | Should -Be $Category
        $record.Exception | Should -BeOfType [System.ComponentModel.Win32Exception]
        $record.Exception.NativeErrorCode | Should -Be $Code
        $record.Exception.Message | Should -Match "^[A-Za-z]+\.cpp:\d+: [A-Za-z]+\($Code\): "
        Get-Content -Raw -LiteralPath $env:VELMORA_SIM_STATE | Should -Be $before
    }

    It 'a size out of range is the refused command line, InvalidArgument' {
        Set-SimulatedSystem ''
        $past = if ($Bits -eq 64) { '17592186044416' } else { '4096' }
        $record = Get-OneError { Set-VelmoraFileCacheLimit 1 $past }
        $record.FullyQualifiedErrorId | Should -Be 'Velmora.CommandLineRefused,Set-VelmoraFileCacheLimit'
        $record.CategoryInfo.Category | Should -Be 'InvalidArgument'
        $record.Exception.Message | Should -BeLike "*Invalid size: ``[$past``] (0 to $script:MaxMB MB)*"
        Get-CacheCall | Should -BeNullOrEmpty
    }

    It 'the errors are non-terminating unless the caller asks' {
        Set-SimulatedSystem 'fail.GetSystemFileCacheSize=5'
        { Get-VelmoraFileCacheLimit -ErrorAction SilentlyContinue } | Should -Not -Throw
        { Get-VelmoraFileCacheLimit -ErrorAction Stop } | Should -Throw -ExceptionType ([System.ComponentModel.Win32Exception])
    }

    Context 'a program that answers otherwise' {
        BeforeEach { $saved = $env:VELMORA_EXE }
        AfterEach { $env:VELMORA_EXE = $saved }

        It 'exit code <Exit> and <Output>: an error that quotes it' -ForEach @(
            @{ Exit = 3; Output = 'something else' }
            @{ Exit = 0; Output = 'Success: SetSystemFileCacheSize(Min:[1], Max:[2], Flags: 5)' }
            @{ Exit = 1; Output = 'no report line' }
        ) {
            $fake = Join-Path $script:Scratch 'fake-velmora'
            Set-Content -LiteralPath $fake -Value "#!/bin/sh`nprintf '%s\r\n' '$Output'`nexit $Exit`n" -NoNewline
            chmod +x $fake
            $env:VELMORA_EXE = $fake
            $record = Get-OneError { Get-VelmoraFileCacheLimit }
            $record.FullyQualifiedErrorId | Should -Be 'Velmora.UnexpectedAnswer,Get-VelmoraFileCacheLimit'
            $record.CategoryInfo.Category | Should -Be 'NotSpecified'
            $record.Exception.Message | Should -BeLike "*exit code $Exit*$([WildcardPattern]::Escape($Output))*"
        }

        It 'no program at all: ObjectNotFound' {
            $env:VELMORA_EXE = Join-Path $script:Scratch 'no-such-program'
            $record = Get-OneError { Get-VelmoraFileCacheLimit }
            $record.FullyQualifiedErrorId | Should -Be 'Velmora.ProgramNotStarted,Get-VelmoraFileCacheLimit'
            $record.CategoryInfo.Category | Should -Be 'ObjectNotFound'
        }

        It 'the message text is decoded in the code page it was written in' {
            $fake = Join-Path $script:Scratch 'french-velmora'
            # "Appel non implémenté." in code page 850, as Velmora writes it without a console on a French system.
            Set-Content -LiteralPath $fake -NoNewline -Value ("#!/bin/sh`nprintf 'main.cpp:61: GetSystemFileCacheSize(120): Appel non impl\202ment\202.\r\r\n\r\n'`nexit 1`n")
            chmod +x $fake
            $env:VELMORA_EXE = $fake
            Mock -ModuleName Velmora Get-VelmoraOutputCodePage { 850 }
            $record = Get-OneError { Get-VelmoraFileCacheLimit }
            $record.Exception.Message | Should -BeExactly 'main.cpp:61: GetSystemFileCacheSize(120): Appel non implémenté.'
        }
    }
}

Describe 'Set-VelmoraFileCacheLimit and Clear-VelmoraFileCacheLimit' {
    It 'Set applies both sizes with both hard limits on, and -PassThru reads them back' {
        Set-SimulatedSystem ''
        $limit = Set-VelmoraFileCacheLimit -MinimumMB 256 -MaximumMB 2048 -PassThru
        Get-CacheCall | Should -Be @('SetSystemFileCacheSize 268435456 2147483648 5', 'GetSystemFileCacheSize')
        $limit.MinimumBytes | Should -Be 268435456
        $limit.Flags | Should -Be 5
    }

    It 'Set without -PassThru returns nothing' {
        Set-SimulatedSystem ''
        Set-VelmoraFileCacheLimit 256 2048 | Should -BeNullOrEmpty
        Get-StateValue 'flags' | Should -Be '5'
    }

    It 'Clear keeps both sizes and switches both hard limits off' {
        Set-SimulatedSystem "min=268435456`nmax=2147483648`nflags=5"
        $limit = Clear-VelmoraFileCacheLimit -PassThru
        Get-CacheCall | Should -Be @('GetSystemFileCacheSize', 'SetSystemFileCacheSize 268435456 2147483648 10',
                                     'GetSystemFileCacheSize')
        $limit.MaximumBytes | Should -Be 2147483648
        $limit.Flags | Should -Be 0
    }

    It '<Command> makes no call at all' -ForEach @(
        @{ Command = 'Set-VelmoraFileCacheLimit 256 2048 -WhatIf' }
        @{ Command = 'Clear-VelmoraFileCacheLimit -WhatIf' }
        @{ Command = 'Set-VelmoraFileCacheLimit 256 2048 -WhatIf -PassThru' }
    ) {
        Set-SimulatedSystem ''
        $null = Invoke-Expression $Command
        Test-Path -LiteralPath $env:VELMORA_SIM_LOG | Should -BeFalse -Because 'nothing was run'
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
        function New-Resource([string] $Ensure, [uint64] $Min = 0, [uint64] $Max = 0) {
            $resource = & (Get-Module Velmora) { [VelmoraFileCacheLimit]::new() }
            $resource.IsSingleInstance = 'Yes'
            $resource.Ensure = $Ensure
            $resource.MinimumMB = $Min
            $resource.MaximumMB = $Max
            $resource
        }
    }

    It 'Present: Test is false, Set applies, then Test is true and a second Set changes nothing' {
        Set-SimulatedSystem ''
        $resource = New-Resource Present 256 2048
        $resource.Test() | Should -BeFalse
        $resource.Set()
        $resource.Test() | Should -BeTrue
        Remove-Item -LiteralPath $env:VELMORA_SIM_LOG
        $resource.Set()
        Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' } | Should -BeNullOrEmpty
        $state = $resource.Get()
        $state.Ensure | Should -Be 'Present'
        $state.MinimumMB | Should -Be 256
        $state.MaximumMB | Should -Be 2048
    }

    It 'Present is not met by the right sizes without both hard limits (flags <Flags>)' -ForEach @(
        @{ Flags = 0 }, @{ Flags = 1 }, @{ Flags = 4 }
    ) {
        Set-SimulatedSystem "min=268435456`nmax=2147483648`nflags=$Flags"
        (New-Resource Present 256 2048).Test() | Should -BeFalse
    }

    It 'Absent: both hard limits off, sizes kept' {
        Set-SimulatedSystem "min=268435456`nmax=2147483648`nflags=5"
        $resource = New-Resource Absent
        $resource.Test() | Should -BeFalse
        $resource.Set()
        $resource.Test() | Should -BeTrue
        Get-StateValue 'flags' | Should -Be '0'
        Get-StateValue 'max' | Should -Be '2147483648'
        $resource.Get().Ensure | Should -Be 'Absent'
    }

    It 'a refusal of the system makes Set throw' {
        Set-SimulatedSystem 'privilege=missing'
        { (New-Resource Present 256 2048).Set() } | Should -Throw
    }
}

Describe 'The startup task' {
    BeforeAll {
        $global:VelmoraAsked = [System.Collections.Generic.List[string]]::new()
        # The task scheduler and the ACL tools, as test doubles that record what they are asked.
        function global:New-ScheduledTaskAction { param($Execute) $global:VelmoraAsked.Add("action $Execute"); "action" }
        function global:New-ScheduledTaskTrigger { param([switch] $AtStartup) $global:VelmoraAsked.Add("trigger AtStartup=$AtStartup"); "trigger" }
        function global:New-ScheduledTaskPrincipal { param($UserId, $LogonType, $RunLevel) $global:VelmoraAsked.Add("principal $UserId $LogonType $RunLevel"); "principal" }
        function global:New-ScheduledTaskSettingsSet {
            param([switch] $AllowStartIfOnBatteries, [switch] $DontStopIfGoingOnBatteries, $ExecutionTimeLimit)
            $global:VelmoraAsked.Add("settings battery=$AllowStartIfOnBatteries/$DontStopIfGoingOnBatteries limit=$ExecutionTimeLimit"); "settings"
        }
        function global:Register-ScheduledTask {
            param($TaskName, $Action, $Trigger, $Principal, $Settings, [switch] $Force)
            $global:VelmoraAsked.Add("register $TaskName $Action $Trigger $Principal $Settings Force=$Force")
        }
        function global:Get-ScheduledTask {
            param($TaskName)
            if ($global:VelmoraAsked -like 'register*') {
                [pscustomobject]@{ State = 'Ready'; Actions = @([pscustomobject]@{ Execute = 'startup.cmd' }) }
            }
        }
        function global:Get-ScheduledTaskInfo { param($TaskName) [pscustomobject]@{ LastRunTime = $null; LastTaskResult = 267011 } }
        function global:Unregister-ScheduledTask { param($TaskName, [switch] $Confirm) $global:VelmoraAsked.Add("unregister $TaskName") }
        function global:takeown { $global:VelmoraAsked.Add("takeown $args") }
        function global:icacls { $global:VelmoraAsked.Add("icacls $args") }
        $script:Commands = 'New-ScheduledTaskAction', 'New-ScheduledTaskTrigger', 'New-ScheduledTaskPrincipal',
            'New-ScheduledTaskSettingsSet', 'Register-ScheduledTask', 'Get-ScheduledTask', 'Get-ScheduledTaskInfo',
            'Unregister-ScheduledTask', 'takeown', 'icacls'
    }
    AfterAll {
        foreach ($command in $script:Commands) { Remove-Item "Function:\$command" -ErrorAction SilentlyContinue }
        Remove-Variable -Scope Global VelmoraAsked -ErrorAction SilentlyContinue
    }
    BeforeEach {
        $global:VelmoraAsked.Clear()
        Remove-Item -LiteralPath $env:VELMORA_SIM_LOG -ErrorAction SilentlyContinue
        $root = Join-Path $script:Scratch ([guid]::NewGuid())
        $env:ProgramFiles = Join-Path $root 'Program Files'
        $env:ProgramData = Join-Path $root 'ProgramData'
        $program = Join-Path $env:ProgramFiles 'Velmora'
    }

    It 'registers the task as SYSTEM at start-up with the program and its script in Program Files' {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        $task = Register-VelmoraStartupTask -MinimumMB 300 -MaximumMB 3000
        $startup = Join-Path $program 'startup.cmd'
        (Get-FileHash (Join-Path $program 'Velmora.exe')).Hash | Should -Be (Get-FileHash $Velmora).Hash
        $shipped = Get-Content -Raw (Join-Path (Split-Path $Module) 'startup.cmd')
        Get-Content -Raw $startup | Should -BeExactly ($shipped -replace 'set "ARGS=-S 256 2048"', 'set "ARGS=-S 300 3000"')
        $data = Join-Path $env:ProgramData 'Velmora'
        $global:VelmoraAsked | Should -Contain "takeown /F $data /A /R"
        $global:VelmoraAsked | Should -Contain "icacls $data /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F /Q"
        $global:VelmoraAsked | Should -Contain "action $startup"
        $global:VelmoraAsked | Should -Contain 'trigger AtStartup=True'
        $global:VelmoraAsked | Should -Contain 'principal SYSTEM ServiceAccount Highest'
        $global:VelmoraAsked | Should -Contain 'settings battery=True/True limit=00:05:00'
        $global:VelmoraAsked | Should -Contain 'register Velmora file cache limits action trigger principal settings Force=True'
        $task.MinimumMB | Should -Be 300
        $task.MaximumMB | Should -Be 3000
        $task.LastTaskResult | Should -Be 267011
        Test-Path -LiteralPath $env:VELMORA_SIM_LOG | Should -BeFalse -Because 'registering applies nothing'
    }

    It '<Why>: refused before anything is changed' -ForEach @(
        @{ Why = 'without elevation'; Elevated = $false; Min = 256; Max = 2048; Id = 'Velmora.NotElevated,Register-VelmoraStartupTask' }
        @{ Why = 'a minimum not below the maximum'; Elevated = $true; Min = 2048; Max = 2048; Id = 'Velmora.SizesRefused,Register-VelmoraStartupTask' }
        @{ Why = 'a maximum below 16 MB'; Elevated = $true; Min = 1; Max = 15; Id = 'Velmora.SizesRefused,Register-VelmoraStartupTask' }
    ) {
        Mock -ModuleName Velmora Test-VelmoraElevated { $Elevated }
        { Register-VelmoraStartupTask -MinimumMB $Min -MaximumMB $Max } | Should -Throw -ErrorId $Id
        Test-Path -LiteralPath $env:ProgramFiles | Should -BeFalse
        $global:VelmoraAsked | Should -BeNullOrEmpty
    }

    It '-WhatIf changes nothing' {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        Register-VelmoraStartupTask -MinimumMB 256 -MaximumMB 2048 -WhatIf
        Test-Path -LiteralPath $env:ProgramFiles | Should -BeFalse
        $global:VelmoraAsked | Should -BeNullOrEmpty
    }

    It 'Get-VelmoraStartupTask gives nothing where there is no task' {
        Get-VelmoraStartupTask | Should -BeNullOrEmpty
    }

    It 'Unregister removes the task and its script' {
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        Register-VelmoraStartupTask -MinimumMB 256 -MaximumMB 2048 | Out-Null
        Unregister-VelmoraStartupTask -Confirm:$false
        $global:VelmoraAsked | Should -Contain 'unregister Velmora file cache limits'
        Test-Path -LiteralPath (Join-Path $program 'startup.cmd') | Should -BeFalse
    }
}

Describe 'Get-VelmoraFileCacheUsage' {
    BeforeAll {
        $global:VelmoraClasses = [System.Collections.Generic.List[string]]::new()
        # The performance counters' WMI class, as a test double that records what it is asked.
        function global:Get-CimInstance {
            param($ClassName)
            $global:VelmoraClasses.Add($ClassName)
            if ($global:VelmoraCountersFail) { throw 'Invalid class' }
            [pscustomobject]@{ CacheBytes = 123456789; CacheBytesPeak = 987654321; SystemCacheResidentBytes = 12345 }
        }
    }
    AfterAll { Remove-Item Function:\Get-CimInstance -ErrorAction SilentlyContinue }

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
        $root = Split-Path $Module
        foreach ($file in Get-ChildItem $root -Recurse -Include *.psm1, *.psd1, *.ps1) {
            $tokens = $null
            $errors = $null
            $ast = [System.Management.Automation.Language.Parser]::ParseFile($file.FullName, [ref]$tokens, [ref]$errors)
            $errors | Should -BeNullOrEmpty
            $newer = @($ast.FindAll({
                param($node)
                $node -is [System.Management.Automation.Language.TernaryExpressionAst] -or
                $node -is [System.Management.Automation.Language.PipelineChainAst] -or
                ($node -is [System.Management.Automation.Language.MemberExpressionAst] -and $node.NullConditional) -or
                ($node -is [System.Management.Automation.Language.IndexExpressionAst] -and $node.NullConditional) -or
                ($node -is [System.Management.Automation.Language.NamedBlockAst] -and $node.BlockKind -eq 'Clean')
            }, $true))
            $newer += @($tokens | Where-Object { $_.Kind -in 'QuestionQuestion', 'QuestionQuestionEquals', 'Clean' })
            $newer | ForEach-Object { "$($file.Name):$($_.Extent.StartLineNumber): $($_.Extent.Text)" } |
                Should -BeNullOrEmpty
        }
    }
}
