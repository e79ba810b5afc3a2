# The module itself: its manifest, its files, and every example of its help run as written.
# The module on the simulated system, with the parameters every suite of it
# takes (ModuleSuite.ps1 says how).
param([string] $Module, [string] $Velmora, [string] $StateExe, [string] $Table, [int] $Bits, [string] $Version)

BeforeAll { . (Join-Path $PSScriptRoot 'ModuleSuite.ps1') }
AfterAll { Remove-ModuleSuite }

BeforeDiscovery {
    # Every example of every cmdlet's help, as Get-Help gives it.
    $exported = Import-Module $Module -Force -PassThru
    $script:Examples = @(foreach ($name in $exported.ExportedFunctions.Keys | Sort-Object) {
            foreach ($example in (Get-Help $name -Examples).examples.example) {
                @{ Name = $name; Code = [string]$example.code }
            }
        })
    Remove-Module Velmora -Force
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

    # A script that reads $err[0] after -ErrorVariable err must find the
    # cmdlet's one error there, as for any cmdlet: an exception caught inside the
    # module on its way would be in the variable too, ahead of it.
    Context 'a failure is one error in the caller''s -ErrorVariable' {
        BeforeAll { Install-WindowsDoubles }
        AfterAll { Remove-WindowsDoubles }
        BeforeEach {
            Reset-WindowsDoubles
            Enter-SimulatedWindows
            Mock -ModuleName Velmora Test-VelmoraWindows { $true }
            Mock -ModuleName Velmora Test-VelmoraElevated { $false }
        }

        It '<Why>: <Id>' -ForEach @(
            @{ Why = 'a read refused'; State = 'fail.GetSystemFileCacheSize=5'
                Command = { Get-VelmoraFileCacheLimit -ErrorVariable caught }; Id = 'Velmora.SystemCallFailed,Get-VelmoraFileCacheLimit' }
            @{ Why = 'a clear refused'; State = 'fail.SetSystemFileCacheSize=5'
                Command = { Clear-VelmoraFileCacheLimit -ErrorVariable caught }; Id = 'Velmora.SystemCallFailed,Clear-VelmoraFileCacheLimit' }
            @{ Why = 'sizes above memory'; State = 'memory=2147483648'
                Command = { Set-VelmoraFileCacheLimit 256MB 2049MB -ErrorVariable caught }; Id = 'Velmora.SizesRefused,Set-VelmoraFileCacheLimit' }
            @{ Why = 'a record of one hard limit'; State = ''
                Command = { Restore-VelmoraFileCacheLimit 1MB 1GB 1 -ErrorVariable caught }; Id = 'Velmora.RecordNotRestorable,Restore-VelmoraFileCacheLimit' }
            @{ Why = 'a restore applied in part'; State = 'fail.GetSystemFileCacheSize=5'
                Command = { Restore-VelmoraFileCacheLimit 512MB 4000MB 0 -ErrorVariable caught }; Id = 'Velmora.RestorePartlyApplied,Restore-VelmoraFileCacheLimit' }
            @{ Why = 'a record folder made without elevation'; State = ''
                Command = { Initialize-VelmoraRecordFolder -ErrorVariable caught }; Id = 'Velmora.NotElevated,Initialize-VelmoraRecordFolder' }
            @{ Why = 'a task registered without elevation'; State = ''
                Command = { Register-VelmoraStartupTask 256MB 2GB -ErrorVariable caught }; Id = 'Velmora.NotElevated,Register-VelmoraStartupTask' }
        ) {
            Set-SimulatedSystem $State
            $caught = @()
            $thrown = $null
            $ErrorActionPreference = 'SilentlyContinue'
            try {
                . $Command
            } catch {
                $thrown = $_
            }
            $caught.Count | Should -Be 1 -Because "the variable held: $(($caught | ForEach-Object { "$_" }) -join ' | ')"
            $record = if ($thrown) { $thrown } else { $caught[0] }
            $record.FullyQualifiedErrorId | Should -Be $Id
        }
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
