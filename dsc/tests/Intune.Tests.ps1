# The Intune remediation pair, as Intune runs it: the one script under its two
# names, each a PowerShell process of its own, with the limits wanted written at
# its top; on the simulated system (VELMORA_EXE), with Velmora's DSC 3 resource in
# a Program Files of its own.
param(
    [Parameter(Mandatory = $true)] [string] $Script,
    [Parameter(Mandatory = $true)] [string] $Resource,
    [Parameter(Mandatory = $true)] [string] $Velmora,
    [Parameter(Mandatory = $true)] [string] $Pwsh
)

BeforeAll {
    . (Join-Path $PSScriptRoot '../../powershell/tests/SimulatedSystem.ps1')
    $script:Scratch = New-SimulatedSystem $Velmora 'velmora-intune'
    $installed = Join-Path $script:Scratch 'Program Files/Velmora'
    New-Item -ItemType Directory $installed | Out-Null
    Copy-Item (Join-Path $Resource '*') $installed
    $env:ProgramFiles = Join-Path $script:Scratch 'Program Files'
    # The pair with these limits wanted, as an administrator edits its top line.
    function New-Pair([string] $Wanted) {
        $text = (Get-Content -Raw $Script) -replace '(?m)^\$Wanted = .*$', "`$Wanted = $Wanted"
        foreach ($name in 'Detect', 'Remediate') {
            Set-Content -LiteralPath (Join-Path $script:Scratch "$name-VelmoraFileCacheLimit.ps1") -Value $text
        }
    }
    function Invoke-Script([string] $Name) {
        $out = & $Pwsh -NoLogo -NoProfile -NonInteractive -File (Join-Path $script:Scratch "$Name-VelmoraFileCacheLimit.ps1")
        [pscustomobject]@{ Exit = $LASTEXITCODE; Lines = @($out) }
    }
}

AfterAll {
    Remove-SimulatedSystem $script:Scratch
}

Describe 'The Intune remediation pair' {
    It 'detect, remediate, detect: <Wanted> on <State>' -ForEach @(
        @{ Wanted = '@{ minimumMB = 256; maximumMB = 2048 }'; State = "min=1048576`nmax=1073741824`nflags=0"; Flags = 'flags=5' }
        @{ Wanted = '@{ hardLimits = $false }'; State = "min=268435456`nmax=2147483648`nflags=5"; Flags = 'flags=0' }
    ) {
        New-Pair $Wanted
        Set-SimulatedSystem $State
        $first = Invoke-Script Detect
        $first.Exit | Should -Be 1
        $first.Lines.Count | Should -Be 1
        $first.Lines[0] | Should -BeLike 'Not in place: *'
        $fix = Invoke-Script Remediate
        $fix.Exit | Should -Be 0 -Because ($fix.Lines -join ' ')
        $fix.Lines.Count | Should -Be 1
        Get-Content -LiteralPath $env:VELMORA_SIM_STATE | Should -Contain $Flags
        $again = Invoke-Script Detect
        $again.Exit | Should -Be 0
        $again.Lines | Should -BeLike 'In place: *'
    }

    It 'a size that cannot be held: both exit 1 with the reason, and nothing is applied' {
        New-Pair '@{ minimumMB = 2048; maximumMB = 2048 }'
        Set-SimulatedSystem "min=1048576`nmax=1073741824`nflags=0"
        foreach ($name in 'Detect', 'Remediate') {
            $answer = Invoke-Script $name
            $answer.Exit | Should -Be 1
            $answer.Lines.Count | Should -Be 1
            $answer.Lines[0] | Should -BeLike '*minimum must be below the maximum*'
        }
        Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' } | Should -BeNullOrEmpty
    }

    It 'without Velmora installed: exit 1, and says so' {
        New-Pair '@{ minimumMB = 256; maximumMB = 2048 }'
        $saved = $env:ProgramFiles
        $env:ProgramFiles = Join-Path $script:Scratch 'nowhere'
        try {
            $answer = Invoke-Script Detect
        } finally {
            $env:ProgramFiles = $saved
        }
        $answer.Exit | Should -Be 1
        $answer.Lines[0] | Should -BeLike 'Velmora is not installed*'
    }
}
