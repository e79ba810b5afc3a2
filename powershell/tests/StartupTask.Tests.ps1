# Register-, Get- and Unregister-VelmoraStartupTask, and Initialize-VelmoraRecordFolder.
# The module on the simulated system, with the parameters every suite of it
# takes (ModuleSuite.ps1 says how).
param([string] $Module, [string] $Velmora, [string] $StateExe, [string] $Table, [int] $Bits, [string] $Version)

BeforeAll { . (Join-Path $PSScriptRoot 'ModuleSuite.ps1') }
AfterAll { Remove-ModuleSuite }

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
        Enter-SimulatedWindows
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
