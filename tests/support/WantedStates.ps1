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

# A case's wanted state as properties that a cmdlet or a class can be given:
# Hard ($true, $false, or $null where not given) and each size given, in MB or
# as a [decimal] share; $null where the JSON holds what no parameter can (not
# one object, a name unknown or in another case or given twice, a value not of
# its kind, a number with an exponent).
function ConvertFrom-WantedStateJson([string] $Wanted) {
    if ($Wanted -match '\d[eE]') { return $null }
    try {
        $object = ConvertFrom-Json -InputObject $Wanted -AsHashtable -NoEnumerate -ErrorAction Stop
    } catch {
        return $null
    }
    if ($object -isnot [System.Collections.IDictionary]) { return $null }
    $names = @([regex]::Matches($Wanted, '"(\w+)"\s*:') | ForEach-Object { $_.Groups[1].Value })
    if ($names.Count -ne $object.Count) { return $null }
    $properties = @{ Hard = $null }
    foreach ($name in $names) {
        $value = $object[$name]
        if ($name -ceq 'hardLimits' -and $value -is [bool]) {
            $properties.Hard = $value
        } elseif ($name -cin 'minimumMB', 'maximumMB' -and ($value -is [long] -or $value -is [int])) {
            $properties[$name] = [long]$value
        } elseif ($name -cin 'minimumPercent', 'maximumPercent' -and ($value -is [long] -or $value -is [int] -or $value -is [double])) {
            $properties[$name] = [decimal]$value
        } else {
            return $null
        }
    }
    return $properties
}
