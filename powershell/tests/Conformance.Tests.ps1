# The facts of tests/cli/CommandFacts.txt, what any Windows answers Velmora's
# command line: run here on the simulated system, and on a live Windows when
# VELMORA_CONFORMANCE is 'live' (elevated, in a virtual machine, never on a
# server in use). Live, the limits are recorded first and put back at the end,
# or the suite says that only a restart can; a fact that needs a simulated
# state is skipped, and the others run in the file's order, each on the limits
# the one before it left. A fact that fails live means the simulated kernel is
# wrong there: the fact, the Windows version and the answer are what a bug
# report needs.
#
# Velmora is the program under test and Bits its width. Velmora32, for a live
# run, is a 32-bit program for the facts of that width; on the simulated system
# they run when Bits is 32.
param(
    [Parameter(Mandatory = $true)] [string] $Velmora,
    [Parameter(Mandatory = $true)] [ValidateSet(32, 64)] [int] $Bits,
    [string] $Velmora32
)

BeforeDiscovery {
    $live = $env:VELMORA_CONFORMANCE -eq 'live'
    $factsFile = Join-Path $PSScriptRoot '../../tests/cli/CommandFacts.txt'
    $script:Facts = foreach ($line in Get-Content -LiteralPath $factsFile) {
        if ($line -eq '' -or $line.StartsWith('#')) { continue }
        $rule, $width, $state, $command, $exit, $answer, $after = $line -split ' \| '
        $program = if ($width -eq 'any' -or [int]$width -eq $Bits) { $Velmora } elseif ($live -and [int]$width -eq 32) { $Velmora32 }
        $skip = if (-not $program) { "no $width-bit program here" } elseif ($live -and $state -ne '-') { 'it needs a simulated state' }
        @{
            Rule = $rule; Program = $program; Why = "$skip"
            State = if ($state -eq '-') { '' } else { (($state -split ';' | ForEach-Object Trim) -join "`n") + "`n" }
            Arguments = $command -split ' '; Exit = [int]$exit; Answer = $answer
            After = if ($after -eq 'unchanged') { $null } else { $after -split ' ' }
        }
    }
}

BeforeAll {
    # The usage lines as the README's usage block gives them, and the success
    # line as the README documents it: the call, the minimum and maximum in
    # bytes, and the flags.
    . (Join-Path $PSScriptRoot '../../tests/support/Documents.ps1')
    $script:UsageLines = @((Get-DocumentBlock 'README.md' 'Usage: Velmora [-G|-C|-S minMB maxMB ]') -split "`n" |
        Where-Object { $_ -ne '' })
    $script:SuccessLine = '^Success: ([GS]etSystemFileCacheSize)\(Min:\[(\d+)\], Max:\[(\d+)\], Flags: (\d+)\)$'
    $script:Live = $env:VELMORA_CONFORMANCE -eq 'live'
    if (-not $script:Live) {
        $script:Scratch = Join-Path ([IO.Path]::GetTempPath()) ("velmora-conformance-" + [guid]::NewGuid())
        New-Item -ItemType Directory $script:Scratch | Out-Null
        $env:VELMORA_SIM_STATE = Join-Path $script:Scratch 'state'
    }

    function Invoke-Program([string] $Program, [string[]] $Arguments) {
        $lines = @(& $Program @Arguments)
        [pscustomobject]@{ Exit = $LASTEXITCODE; Lines = $lines; Line = ($lines -join ' ').Trim() }
    }
    # The limits as -G reads them, as "min max flags"; $null where -G fails.
    function Get-Limits {
        $answer = Invoke-Program $Velmora '-G'
        if ($answer.Exit -ne 0 -or $answer.Line -notmatch $script:SuccessLine) { return $null }
        @($Matches[2], $Matches[3], $Matches[4])
    }
    function Get-SystemState {
        if ($script:Live) { return $null }
        Get-Content -Raw -LiteralPath $env:VELMORA_SIM_STATE
    }

    if ($script:Live) {
        $script:RecordedLine = & $Velmora -G
        if ($LASTEXITCODE -ne 0) { throw "$Velmora -G failed: the live system's limits cannot be recorded: $script:RecordedLine" }
        Write-Host "Live system: $([Environment]::OSVersion.VersionString); limits before: $script:RecordedLine"
    }
}

AfterAll {
    if ($script:Live) {
        # The limits before go back as admin/restore.ps1 puts back a record, or it says why only a restart can.
        $record = Join-Path ([IO.Path]::GetTempPath()) ("velmora-conformance-" + [guid]::NewGuid())
        Set-Content -LiteralPath $record -Value $script:RecordedLine -Encoding Ascii
        try {
            & (Join-Path $PSScriptRoot '../../admin/restore.ps1') -Record $record -Velmora $Velmora | Out-Null
        } catch {
            Write-Warning "The limits before ($script:RecordedLine) are not back: $_"
        } finally {
            Remove-Item -LiteralPath $record
        }
    } else {
        Remove-Item -Recurse -Force $script:Scratch -ErrorAction SilentlyContinue
        Remove-Item Env:VELMORA_SIM_STATE -ErrorAction SilentlyContinue
    }
}

Describe 'Velmora <Arguments>: <Rule>' -ForEach $script:Facts {
    It 'is answered as any Windows answers it' -Skip:($Why -ne '') {
        if (-not $script:Live) { Set-Content -LiteralPath $env:VELMORA_SIM_STATE -Value $State -NoNewline }
        $before = Get-Limits
        $stateBefore = Get-SystemState
        $run = Invoke-Program $Program $Arguments
        $run.Exit | Should -Be $Exit -Because "Velmora answered: $($run.Line)"
        if ($Exit -eq 0) {
            $before | Should -Not -BeNullOrEmpty -Because '-G read the limits before it'
            $line = $Answer.Replace('{min}', $before[0]).Replace('{max}', $before[1])
            $run.Lines | Should -BeExactly @($line)
            $expected = for ($i = 0; $i -lt 3; $i++) { if ($After[$i] -eq '=') { $before[$i] } else { $After[$i] } }
            (Get-Limits) -join ' ' | Should -BeExactly ($expected -join ' ') -Because 'min, max and flags that -G reads after it'
        } else {
            if ($Exit -eq 1) {
                $run.Lines[0] | Should -BeLike "main.cpp:*: $Answer*"
            } else {
                $run.Lines | Should -BeExactly (@($Answer) + $script:UsageLines)
            }
            (Get-Limits) -join ' ' | Should -BeExactly ($before -join ' ') -Because 'a refused command line changes nothing'
            Get-SystemState | Should -BeExactly $stateBefore
        }
    }
}
