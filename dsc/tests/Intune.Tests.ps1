# The Intune remediation pair, as Intune runs it: the one script under its two
# names, each a PowerShell process of its own, with the limits wanted written at
# its top, and VelmoraState.exe where the MSI installs it, in the 64-bit Program
# Files. Intune's default PowerShell is 32-bit, where ProgramFiles names the
# 32-bit folder and ProgramW6432 the 64-bit one: so it is here. Every case of the
# table of wanted states, on the simulated system.
param(
    [Parameter(Mandatory = $true)] [string] $Script,
    [Parameter(Mandatory = $true)] [string] $State,
    [Parameter(Mandatory = $true)] [string] $Table,
    [Parameter(Mandatory = $true)] [int] $Bits,
    [Parameter(Mandatory = $true)] [string] $Pwsh
)

BeforeDiscovery {
    . (Join-Path $env:VELMORA_TEST_SUPPORT 'WantedStates.ps1')
    $cases = @(Get-WantedStateCase $Table $Bits)
}

BeforeAll {
    $script:Scratch = Join-Path ([IO.Path]::GetTempPath()) ('velmora-intune-' + [guid]::NewGuid())
    $installed = Join-Path $script:Scratch 'Program Files/Velmora'
    New-Item -ItemType Directory $installed, (Join-Path $script:Scratch 'Program Files (x86)') | Out-Null
    Copy-Item -LiteralPath $State (Join-Path $installed 'VelmoraState.exe')
    $env:ProgramW6432 = Join-Path $script:Scratch 'Program Files'
    $env:ProgramFiles = Join-Path $script:Scratch 'Program Files (x86)'
    $env:VELMORA_SIM_STATE = Join-Path $script:Scratch 'state'

    # The pair with these limits wanted, as an administrator edits its line.
    function New-Pair([string] $Wanted) {
        $line = "`$Wanted = '$($Wanted -replace "'", "''")'"
        $text = (Get-Content -Raw $Script) -replace '(?m)^\$Wanted = .*$', $line.Replace('$', '$$')
        foreach ($name in 'Detect', 'Remediate') {
            Set-Content -LiteralPath (Join-Path $script:Scratch "$name-VelmoraFileCacheLimit.ps1") -Value $text
        }
    }
    # One script, as Intune runs it: its exit code, its lines on each stream.
    function Invoke-Script([string] $Name) {
        $errors = Join-Path $script:Scratch 'stderr'
        $out = & $Pwsh -NoLogo -NoProfile -NonInteractive -File (Join-Path $script:Scratch "$Name-VelmoraFileCacheLimit.ps1") 2>$errors
        [pscustomobject]@{ Exit = $LASTEXITCODE; Lines = @($out); Errors = (Get-Content -Raw -LiteralPath $errors) }
    }
    function Set-State([string] $Text) {
        Set-Content -LiteralPath $env:VELMORA_SIM_STATE -Value $Text -NoNewline
    }
    # One line on standard output, of at most 2048 characters; nothing on standard error.
    function Assert-OneLine($Answer) {
        $Answer.Lines.Count | Should -Be 1
        $Answer.Lines[0].Length | Should -BeGreaterThan 0
        $Answer.Lines[0].Length | Should -BeLessOrEqual 2048
        $Answer.Errors | Should -BeNullOrEmpty
    }
}

AfterAll {
    Remove-Item -Recurse -Force $script:Scratch -ErrorAction SilentlyContinue
    Remove-Item Env:VELMORA_SIM_STATE, Env:ProgramW6432 -ErrorAction SilentlyContinue
}

Describe 'The Intune remediation pair' {
    It '<Rule>: detect, remediate, detect' -ForEach $cases {
        New-Pair $Wanted
        Set-State $State
        $detect = Invoke-Script Detect
        Assert-OneLine $detect
        if ($Test.Does -eq 'refused') {
            $detect.Exit | Should -Be 1
            $detect.Lines[0] | Should -BeLike "Velmora could not check the limits (exit code *"
        } elseif ($Test.Does -eq 'true') {
            $detect.Exit | Should -Be 0
            $detect.Lines[0] | Should -BeLike 'In place: *'
        } else {
            $detect.Exit | Should -Be 1
            $detect.Lines[0] | Should -BeLike 'Not in place: *'
        }
        if ($Test.Warning) { $detect.Lines[0] | Should -BeLike '*(warning: *' }

        $remediate = Invoke-Script Remediate
        Assert-OneLine $remediate
        if ($Set.Does -eq 'refused') {
            $remediate.Exit | Should -Be 1
            $remediate.Lines[0] | Should -BeLike 'Velmora could not apply the limits (exit code *'
            Get-Content -Raw -LiteralPath $env:VELMORA_SIM_STATE | Should -Be $State
        } elseif ($Set.Warning -eq 'lowered') {
            $remediate.Exit | Should -Be 1
            $remediate.Lines[0] | Should -BeLike 'Velmora applied the limits, but they do not hold: *'
        } else {
            $remediate.Exit | Should -Be 0 -Because $remediate.Lines[0]
            $remediate.Lines[0] | Should -BeLike 'Velmora applied the limits: *'
            (Invoke-Script Detect).Exit | Should -Be 0 -Because 'what remediation applied, detection finds in place'
        }
        if ($Set.Does -eq 'applies') {
            $held = Get-Content -LiteralPath $env:VELMORA_SIM_STATE
            $held | Should -Contain "min=$($Set.MinimumMB * 1MB)"
            $held | Should -Contain 'flags=5'
        }
    }

    It 'without Velmora in the 64-bit Program Files: exit 1, and says so' {
        New-Pair '{"minimumMB": 256, "maximumMB": 2048}'
        $saved = $env:ProgramW6432
        $env:ProgramW6432 = Join-Path $script:Scratch 'nowhere'
        try {
            $answer = Invoke-Script Detect
        } finally {
            $env:ProgramW6432 = $saved
        }
        Assert-OneLine $answer
        $answer.Exit | Should -Be 1
        $answer.Lines[0] | Should -BeLike 'Velmora is not installed: no *nowhere*VelmoraState.exe'
    }

    It 'a message too long for Intune is cut to 2048 characters' {
        New-Pair ('{"' + ('x' * 3000) + '": 1}')
        $answer = Invoke-Script Detect
        Assert-OneLine $answer
        $answer.Exit | Should -Be 1
        $answer.Lines[0].Length | Should -Be 2048
    }

    It 'is ASCII, and uses no syntax newer than Windows PowerShell 5.1' {
        [IO.File]::ReadAllBytes($Script) | Where-Object { $_ -gt 127 } | Should -BeNullOrEmpty
        . (Join-Path $env:VELMORA_TEST_SUPPORT 'WindowsPowerShellSyntax.ps1')
        Get-SyntaxNewerThan51 $Script | Should -BeNullOrEmpty
    }
}
