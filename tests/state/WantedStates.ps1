# The cases of WantedStates.txt for the Pester suites, dot-sourced by each: the
# Intune pair, Set-VelmoraFileCacheLimit and the class resource run them all.

# One answer of the table ("applies 256 2048, warns lowered"): Does (true,
# false, keeps, applies, clears, refused), Refusal, MinimumMB, MaximumMB, Warning.
function ConvertFrom-WantedStateAnswer([string] $Text) {
    $parts = $Text -split ', warns '
    $words = $parts[0] -split ' '
    [pscustomobject]@{
        Does      = $words[0]
        Refusal   = if ($words[0] -eq 'refused') { $words[1] } else { $null }
        MinimumMB = if ($words[0] -eq 'applies') { [uint64]$words[1] } else { $null }
        MaximumMB = if ($words[0] -eq 'applies') { [uint64]$words[2] } else { $null }
        Warning   = if ($parts.Count -eq 2) { $parts[1] } else { $null }
    }
}

# The cases for a program of Bits (32 or 64), each a hashtable, as Pester's
# -ForEach takes them: Rule, State (the simulated system's state file, memory
# included), Wanted (JSON), Test and Set.
function Get-WantedStateCase([string] $Path, [int] $Bits) {
    foreach ($line in Get-Content -LiteralPath $Path) {
        if (-not $line -or $line.StartsWith('#')) { continue }
        $rule, $width, $memory, $inForce, $wanted, $test, $set = $line -split ' \| '
        if ($width -ne 'any' -and $width -ne "$Bits") { continue }
        $state = if ($memory -eq 'unreadable') { "fail.GlobalMemoryStatusEx=5`n" } else { "memory=$memory`n" }
        if ($inForce -ne '-') {
            $state += (($inForce -split ';' | ForEach-Object { $_.Trim() }) -join "`n") + "`n"
        }
        @{
            Rule   = $rule
            State  = $state
            Wanted = $wanted
            Test   = ConvertFrom-WantedStateAnswer $test
            Set    = ConvertFrom-WantedStateAnswer $set
        }
    }
}
