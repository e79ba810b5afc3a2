# The README's quick start, whole and as written (its one copy is the README's
# block that starts with Install-Module): installed, made to last, recorded,
# capped, undone, on the simulated system with the suite's Windows doubles.
# The module on the simulated system, with the parameters every suite of it
# takes (ModuleSuite.ps1 says how).
param([string] $Module, [string] $Velmora, [string] $StateExe, [string] $Table, [int] $Bits, [string] $Version)

BeforeAll {
    . (Join-Path $PSScriptRoot 'ModuleSuite.ps1')
    Install-WindowsDoubles
    . (Join-Path $env:VELMORA_TEST_SUPPORT 'Documents.ps1')
    $script:QuickStart = [scriptblock]::Create((Get-DocumentBlock 'README.md' 'Install-Module Velmora -Scope AllUsers'))
}

AfterAll {
    Remove-WindowsDoubles
    Remove-ModuleSuite
}

Describe "The README's quick start" {
    BeforeEach {
        Reset-WindowsDoubles
        Enter-SimulatedWindows
        Mock -ModuleName Velmora Test-VelmoraElevated { $true }
        # The module is imported already: installing it is nothing more here.
        function global:Install-Module { param([string] $Name, [string] $Scope) }
    }
    AfterEach {
        Remove-Item Function:\Install-Module -ErrorAction SilentlyContinue
    }

    It 'runs as written: a task that sets 256 MB and 2048 MB, the cap shown, then all undone' {
        $untouched = Get-VelmoraFileCacheLimit
        $shown = @(& $script:QuickStart)
        # Register's task ran VelmoraState.exe in Program Files with the sizes, then went.
        $global:VelmoraAsked | Should -Contain 'register Velmora file cache limits Force=True'
        $global:VelmoraAsked | Should -Contain 'unregister Velmora file cache limits'
        @($global:VelmoraAsked | Where-Object { $_ -like 'takeown *' -or $_ -like 'icacls *' }).Count |
            Should -BeGreaterThan 0 -Because 'the records folder is locked to SYSTEM and administrators'
        $global:VelmoraTaskXml | Should -BeNullOrEmpty
        $task = Read-TaskDefinition $global:VelmoraRemovedTaskXml
        $exec = $task.Document.SelectSingleNode('/t:Task/t:Actions/t:Exec', $task.Names)
        $exec.SelectSingleNode('t:Command', $task.Names).InnerText |
            Should -Be (Join-Path $env:ProgramFiles 'Velmora\VelmoraState.exe')
        $exec.SelectSingleNode('t:Arguments', $task.Names).InnerText | Should -Be 'set --minimum 256MB --maximum 2048MB --event-log'
        # What Register put in Program Files, and its registry keys, went with the task.
        @(Get-ChildItem -LiteralPath (Join-Path $env:ProgramFiles 'Velmora') -ErrorAction SilentlyContinue) | Should -BeNullOrEmpty
        $global:VelmoraRegistry.Count | Should -Be 0
        # The cap, as Set -PassThru showed it, and the record kept.
        $cap = $shown | Where-Object { $_.PSObject.Properties.Name -contains 'MinimumHard' } | Select-Object -First 1
        $cap.MinimumMB | Should -Be 256
        $cap.MaximumMB | Should -Be 2048
        $cap.MinimumHard | Should -BeTrue
        $cap.MaximumHard | Should -BeTrue
        Join-Path $env:ProgramData 'Velmora\before.xml' | Should -Exist
        # The system's own limits back in force.
        $now = Get-VelmoraFileCacheLimit
        $now.MinimumBytes | Should -Be $untouched.MinimumBytes
        $now.MaximumBytes | Should -Be $untouched.MaximumBytes
        $now.Flags | Should -Be $untouched.Flags
    }
}
