# Velmora/FileCacheLimit, a DSC 3 command resource: reads the desired state as
# one line of JSON on standard input, runs the Velmora.exe beside it (or the one
# VELMORA_EXE names), writes the state as JSON on standard output and its log as
# JSON Lines on standard error, and ends with one of the codes that
# velmora.dsc.resource.json lists. Written for Windows PowerShell 5.1 and
# PowerShell 7 alike.
#
# Usage: velmora-dsc.ps1 get|test|set   (the desired state on standard input)
#
# The desired state: hardLimits true (the default) asks for both hard limits on
# at two sizes, each in MB (minimumMB, maximumMB) or as a share of physical
# memory (minimumPercent, maximumPercent), worked out on this machine at each
# run and rounded down to whole MB; hardLimits false asks for both hard limits
# off, the sizes as they are. test is true exactly when get shows the desired
# state; set changes nothing then, and refuses what could not converge.
param([string] $Operation)

Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'

$ExitInvalidInput = 1
$ExitCannotConverge = 2
$ExitSystemRefused = 3
$ExitProgramMissing = 4
$MaximumHardFlag = 1
$MinimumHardFlag = 4
$Configurable = 'hardLimits', 'minimumMB', 'maximumMB', 'minimumPercent', 'maximumPercent'
$ReadOnly = 'minimumBytes', 'maximumBytes', 'flags', '_inDesiredState'
$Title = @{ minimum = 'Minimum'; maximum = 'Maximum' }

function Write-Log([string] $Level, [string] $Message) {
    [Console]::Error.WriteLine((ConvertTo-Json -Compress @{ level = $Level; message = $Message }))
}

function Exit-Resource([int] $Code, [string] $Message) {
    Write-Log error $Message
    exit $Code
}

# The machine's physical memory in bytes: GlobalMemoryStatusEx on Windows; .NET's
# view of it elsewhere (the simulated system). A caller that has its own
# Get-PhysicalMemory (the tests' double) keeps it.
if (-not (Get-Command Get-PhysicalMemory -CommandType Function -ErrorAction SilentlyContinue)) {
function Get-PhysicalMemory {
    if ($env:OS -ne 'Windows_NT') {
        return [uint64][System.GC]::GetGCMemoryInfo().TotalAvailableMemoryBytes
    }
    Add-Type -Namespace VelmoraDsc -Name Memory -MemberDefinition @'
[System.Runtime.InteropServices.StructLayout(System.Runtime.InteropServices.LayoutKind.Sequential)]
public class Status {
    public uint Length = 64; public uint MemoryLoad; public ulong TotalPhys; public ulong AvailPhys;
    public ulong TotalPageFile; public ulong AvailPageFile; public ulong TotalVirtual; public ulong AvailVirtual;
    public ulong AvailExtendedVirtual;
}
[System.Runtime.InteropServices.DllImport("kernel32.dll", SetLastError = true)]
public static extern bool GlobalMemoryStatusEx([System.Runtime.InteropServices.In, System.Runtime.InteropServices.Out] Status status);
'@
    $status = New-Object VelmoraDsc.Memory+Status
    if (-not [VelmoraDsc.Memory]::GlobalMemoryStatusEx($status)) {
        Exit-Resource $ExitSystemRefused "GlobalMemoryStatusEx failed: $((New-Object System.ComponentModel.Win32Exception).Message)"
    }
    return [uint64]$status.TotalPhys
}
}

# Runs Velmora with the arguments: Minimum, Maximum and Flags of its success
# line; any other answer ends the run with its line in the log.
function Invoke-Velmora([string[]] $Arguments, [string] $Call) {
    $program = $env:VELMORA_EXE
    if (-not $program) {
        $program = Join-Path $PSScriptRoot 'Velmora.exe'
    }
    if (-not (Test-Path -LiteralPath $program -PathType Leaf)) {
        Exit-Resource $ExitProgramMissing "Velmora.exe was not found at '$program' (beside the resource, or where VELMORA_EXE says)"
    }
    $line = "Velmora $($Arguments -join ' ')"
    Write-Log information "Running $line"
    $output = @(& $program @Arguments 2>&1 | ForEach-Object { "$_" } | Where-Object { $_ -ne '' })
    $code = $LASTEXITCODE
    $said = ($output -join ' ').Trim()
    Write-Log information "$line answered with exit code $($code): $said"
    if ($code -eq 0 -and $output.Count -eq 1 -and
        $output[0] -cmatch "^Success: ${Call}SystemFileCacheSize\(Min:\[(\d+)\], Max:\[(\d+)\], Flags: (\d+)\)$") {
        return [pscustomobject]@{ Minimum = [uint64]$Matches[1]; Maximum = [uint64]$Matches[2]; Flags = [int]$Matches[3] }
    }
    if ($code -eq 255) {
        Exit-Resource $ExitCannotConverge "$line was refused: $said"
    }
    Exit-Resource $ExitSystemRefused "$line failed (exit code $code): $said"
}

function ConvertTo-WholeMB([uint64] $Bytes) {
    return [uint64][math]::Truncate([decimal]$Bytes / 1MB)
}

function ConvertTo-Bytes([uint64] $MB) {
    return [uint64]([decimal]$MB * 1MB)
}

# The desired state from standard input, checked: Hard, and for Hard the two
# sizes in MB on this machine now, with Memory for the shares.
function Read-Desired {
    $text = [Console]::In.ReadToEnd().Trim()
    if (-not $text) {
        $text = '{}'
    }
    try {
        $json = ConvertFrom-Json -InputObject $text
    } catch {
        Exit-Resource $ExitInvalidInput "the desired state is not JSON: $text"
    }
    if ($json -isnot [System.Management.Automation.PSCustomObject]) {
        Exit-Resource $ExitInvalidInput "the desired state is not a JSON object: $text"
    }
    $given = @{}
    foreach ($property in $json.PSObject.Properties) {
        if ($property.Name -in $ReadOnly) {
            continue
        }
        if ($property.Name -notin $Configurable) {
            Exit-Resource $ExitInvalidInput "unknown property '$($property.Name)': the resource takes $($Configurable -join ', ')"
        }
        $value = $property.Value
        if ($property.Name -eq 'hardLimits') {
            if ($value -isnot [bool]) {
                Exit-Resource $ExitInvalidInput "hardLimits is true or false, not $value"
            }
        } elseif ($value -isnot [int] -and $value -isnot [long] -or $value -lt 0) {
            Exit-Resource $ExitInvalidInput "$($property.Name) is a whole number of 0 or more, not $value"
        }
        $given[$property.Name] = $value
    }
    $desired = @{ Hard = $true; MinimumMB = $null; MaximumMB = $null; Given = $given; Memory = $null }
    if ($given.ContainsKey('hardLimits')) {
        $desired.Hard = $given.hardLimits
    }
    $sizes = @($given.Keys | Where-Object { $_ -ne 'hardLimits' })
    if (-not $desired.Hard) {
        if ($sizes.Count) {
            Exit-Resource $ExitCannotConverge "hardLimits false switches both hard limits off and keeps the sizes in force; it takes no sizes ($($sizes -join ', '))"
        }
        return $desired
    }
    foreach ($limit in 'minimum', 'maximum') {
        $mb = $given["${limit}MB"]
        $percent = $given["${limit}Percent"]
        if ($null -ne $mb -and $null -ne $percent) {
            Exit-Resource $ExitCannotConverge "give ${limit}MB or ${limit}Percent, not both"
        }
        if ($null -ne $percent) {
            if ($percent -lt 1 -or $percent -gt 100) {
                Exit-Resource $ExitCannotConverge "${limit}Percent is $percent; a share of memory is 1 to 100"
            }
            if ($null -eq $desired.Memory) {
                $desired.Memory = Get-PhysicalMemory
            }
            $mb = [uint64][math]::Truncate([decimal]$desired.Memory * $percent / 100 / 1MB)
            Write-Log information "$limit of $percent % of $($desired.Memory) bytes of physical memory: $mb MB"
        }
        if (-not $mb) {
            Exit-Resource $ExitCannotConverge "hard limits need both sizes, each in MB or percent and not 0: a size of 0 keeps whatever is in force, which no configuration can test"
        }
        $desired["$($Title[$limit])MB"] = [uint64]$mb
    }
    if ($null -eq $desired.Memory) {
        $desired.Memory = Get-PhysicalMemory
    }
    $why = $null
    if ($desired.MinimumMB -ge $desired.MaximumMB) {
        $why = 'the minimum must be below the maximum'
    } elseif ($desired.MaximumMB -lt 16) {
        $why = 'with both hard limits on, the maximum must be at least 16 MB'
    } elseif ($desired.MaximumMB -gt (ConvertTo-WholeMB $desired.Memory)) {
        $why = "a maximum above this machine's $(ConvertTo-WholeMB $desired.Memory) MB of physical memory caps nothing"
    }
    if ($why) {
        Exit-Resource $ExitCannotConverge "$($desired.MinimumMB) MB and $($desired.MaximumMB) MB cannot be held as hard limits: $why"
    }
    return $desired
}

function Test-Holds($Limits, $Desired) {
    if (-not $Desired.Hard) {
        return $Limits.Flags -eq 0
    }
    return $Limits.Flags -eq ($MaximumHardFlag -bor $MinimumHardFlag) -and
        $Limits.Minimum -eq (ConvertTo-Bytes $Desired.MinimumMB) -and
        $Limits.Maximum -eq (ConvertTo-Bytes $Desired.MaximumMB)
}

# The state in force, in the shape of the desired state: a share of memory shows
# as asked where the size in force is what it gives here now, a size in MB where
# it is whole; hardLimits is null for one hard limit alone.
function Get-State($Limits, $Desired) {
    $state = [ordered]@{}
    $both = $MaximumHardFlag -bor $MinimumHardFlag
    $state.hardLimits = if ($Limits.Flags -eq $both) { $true } elseif ($Limits.Flags -eq 0) { $false } else { $null }
    if ($state.hardLimits -ne $false) {
        foreach ($limit in 'minimum', 'maximum') {
            $bytes = $Limits.($Title[$limit])
            $percent = $Desired.Given["${limit}Percent"]
            if ($null -ne $percent -and $null -ne $Desired.Memory -and
                $bytes -eq (ConvertTo-Bytes ([math]::Truncate([decimal]$Desired.Memory * $percent / 100 / 1MB)))) {
                $state["${limit}Percent"] = $percent
            } elseif ($bytes % 1MB -eq 0) {
                $state["${limit}MB"] = ConvertTo-WholeMB $bytes
            }
        }
    }
    $state.minimumBytes = $Limits.Minimum
    $state.maximumBytes = $Limits.Maximum
    $state.flags = $Limits.Flags
    return $state
}

function Write-State($State) {
    [Console]::Out.WriteLine((ConvertTo-Json -Compress -InputObject $State))
}

if ($Operation -notin 'get', 'test', 'set') {
    Exit-Resource $ExitInvalidInput "usage: velmora-dsc.ps1 get|test|set, with the desired state on standard input"
}
$desired = Read-Desired
$limits = Invoke-Velmora '-G' 'Get'
switch ($Operation) {
    'get' {
        Write-State (Get-State $limits $desired)
    }
    'test' {
        $state = Get-State $limits $desired
        $state._inDesiredState = Test-Holds $limits $desired
        Write-State $state
    }
    'set' {
        if (Test-Holds $limits $desired) {
            Write-Log information 'The limits are as desired: nothing to change'
        } else {
            Write-Log information "Found $($limits.Minimum) and $($limits.Maximum) bytes, flags $($limits.Flags)"
            if ($desired.Hard) {
                $null = Invoke-Velmora '-S', "$($desired.MinimumMB)", "$($desired.MaximumMB)" 'Set'
            } else {
                $null = Invoke-Velmora '-C' 'Set'
            }
            $limits = Invoke-Velmora '-G' 'Get'
            Write-Log information "Now $($limits.Minimum) and $($limits.Maximum) bytes, flags $($limits.Flags)"
            if (-not (Test-Holds $limits $desired)) {
                Exit-Resource $ExitSystemRefused "the system took the change but kept $($limits.Minimum) and $($limits.Maximum) bytes, flags $($limits.Flags): a size above the largest it takes is lowered"
            }
        }
        Write-State (Get-State $limits $desired)
    }
}
exit 0
