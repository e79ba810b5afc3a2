# What the simulated kernel predicts for any Windows, as cases of Velmora's
# command line: run here on the simulated system, and on a live Windows when
# VELMORA_CONFORMANCE is 'live' (elevated, in a virtual machine, never on a
# server in use). Live, the limits are recorded first and put back at the end,
# or the suite says that only a restart can. A case that fails live means the
# model is wrong there: the case, the Windows version and the answer are what a
# bug report needs.
#
# The cases run in order on one system, each judged against the limits before it.
param(
    [Parameter(Mandatory = $true)] [string] $Module,
    [Parameter(Mandatory = $true)] [string] $Velmora,
    [Parameter(Mandatory = $true)] [int] $Bits,
    [Parameter(Mandatory = $true)] [string] $Version
)

BeforeDiscovery {
    $script:Live = $env:VELMORA_CONFORMANCE -eq 'live'
    # The 32-bit program, for the case of its own: the build's, or the one a live run names.
    $script:X86 = if ($script:Live) { $env:VELMORA_CONFORMANCE_EXE_X86 } elseif ($Bits -eq 32) { $Velmora } else { $null }
}

BeforeAll {
    $script:Live = $env:VELMORA_CONFORMANCE -eq 'live'
    $script:Program = if ($script:Live -and $env:VELMORA_CONFORMANCE_EXE) { $env:VELMORA_CONFORMANCE_EXE } else { $Velmora }
    $script:X86 = if ($script:Live) { $env:VELMORA_CONFORMANCE_EXE_X86 } elseif ($Bits -eq 32) { $Velmora } else { $null }
    if (-not $script:Live) {
        $script:Scratch = Join-Path ([IO.Path]::GetTempPath()) ("velmora-conformance-" + [guid]::NewGuid())
        New-Item -ItemType Directory $script:Scratch | Out-Null
        $env:VELMORA_SIM_STATE = Join-Path $script:Scratch 'state'
        $env:VELMORA_SIM_LOG = Join-Path $script:Scratch 'log'
    }

    function Invoke-Program([string] $Program, [string[]] $Arguments) {
        if (-not $script:Live) { Remove-Item -LiteralPath $env:VELMORA_SIM_LOG -ErrorAction SilentlyContinue }
        $lines = @(& $Program @Arguments)
        [pscustomobject]@{ Exit = $LASTEXITCODE; Line = ($lines -join ' ').Trim() }
    }
    function Get-Limits {
        $answer = Invoke-Program $script:Program '-G'
        $answer.Exit | Should -Be 0 -Because "-G answered: $($answer.Line)"
        if ($answer.Line -notmatch '^Success: GetSystemFileCacheSize\(Min:\[(\d+)\], Max:\[(\d+)\], Flags: (\d+)\)$') {
            throw "-G printed $($answer.Line)"
        }
        [pscustomobject]@{ Min = [decimal]$Matches[1]; Max = [decimal]$Matches[2]; Flags = [int]$Matches[3] }
    }
    function Get-CacheCallCount {
        if ($script:Live -or -not (Test-Path -LiteralPath $env:VELMORA_SIM_LOG)) { return 0 }
        @(Get-Content -LiteralPath $env:VELMORA_SIM_LOG | Where-Object { $_ -like '*SystemFileCacheSize*' }).Count
    }

    $script:Recorded = Get-Limits
    if ($script:Live) {
        Write-Host "Live system: $([Environment]::OSVersion.VersionString); limits before: Min $($script:Recorded.Min), Max $($script:Recorded.Max), Flags $($script:Recorded.Flags)"
    }
}

AfterAll {
    if ($script:Live) {
        $r = $script:Recorded
        if ($r.Min % 1MB -or $r.Max % 1MB -or $r.Min -ge $r.Max -or ($r.Flags -ne 0 -and $r.Flags -ne 5)) {
            Write-Warning "The limits before (Min $($r.Min), Max $($r.Max), Flags $($r.Flags)) cannot be put back: only a restart restores them"
        } else {
            & $script:Program -S ($r.Min / 1MB) ($r.Max / 1MB) | Out-Null
            if ($LASTEXITCODE -eq 0 -and $r.Flags -eq 0) { & $script:Program -C | Out-Null }
            if ($LASTEXITCODE -ne 0) { Write-Warning "Putting back the limits before failed: restart to restore them" }
        }
    } else {
        Remove-Item -Recurse -Force $script:Scratch -ErrorAction SilentlyContinue
        Remove-Item Env:VELMORA_SIM_STATE, Env:VELMORA_SIM_LOG -ErrorAction SilentlyContinue
    }
}

Describe 'What any Windows answers Velmora' {
    It 'Velmora <Arguments>: <Rule>' -ForEach @(
        @{ Arguments = @('-S', '100', '100'); Rule = 'equal sizes with hard limits are 87'; Exit = 1; Code = 87 }
        @{ Arguments = @('-S', '1', '15'); Rule = 'a hard maximum below 16 MB is 87'; Exit = 1; Code = 87 }
        @{ Arguments = @('-S', '1', '16'); Rule = 'a hard maximum of 16 MB is taken'; Exit = 0
           After = { param($before) @{ Min = 1MB; Max = 16MB; Flags = 5 } } }
        @{ Arguments = @('-S', '0', '2048'); Rule = 'a size of 0 keeps the minimum'; Exit = 0
           After = { param($before) @{ Min = $before.Min; Max = 2048MB; Flags = 5 } } }
        @{ Arguments = @('-S', '0', '0'); Rule = '0 0 keeps both sizes, hard'; Exit = 0
           After = { param($before) @{ Min = $before.Min; Max = $before.Max; Flags = 5 } } }
        @{ Arguments = @('-C'); Rule = 'Clear keeps both sizes and leaves flags 0'; Exit = 0
           After = { param($before) @{ Min = $before.Min; Max = $before.Max; Flags = 0 } } }
    ) {
        $before = Get-Limits
        $answer = Invoke-Program $script:Program $Arguments
        $answer.Exit | Should -Be $Exit -Because "Velmora answered: $($answer.Line)"
        if ($Exit -eq 1) {
            $answer.Line | Should -Match "^main\.cpp:\d+: SetSystemFileCacheSize\($Code\): "
            $expected = @{ Min = $before.Min; Max = $before.Max; Flags = $before.Flags }
        } else {
            $expected = & $After $before
        }
        $after = Get-Limits
        "Min $($after.Min), Max $($after.Max), Flags $($after.Flags)" |
            Should -Be "Min $($expected.Min), Max $($expected.Max), Flags $($expected.Flags)"
    }

    It 'the 32-bit program refuses a size of 4096 MB before any call' -Skip:(-not $script:X86) {
        $before = Get-Limits
        $answer = Invoke-Program $script:X86 @('-S', '1', '4096')
        $answer.Exit | Should -Be 255
        $answer.Line | Should -BeLike 'Invalid size: `[4096`] (0 to 4095 MB) Usage: Velmora*'
        Get-CacheCallCount | Should -Be 0
        $after = Get-Limits
        "$($after.Min) $($after.Max) $($after.Flags)" | Should -Be "$($before.Min) $($before.Max) $($before.Flags)"
    }
}
