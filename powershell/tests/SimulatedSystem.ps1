# The simulated system as the Pester suites drive it: its Velmora (VELMORA_EXE)
# and VelmoraState (VELMORA_STATE_EXE), its state file and its log of calls in a
# scratch folder of the suite's own. Dot-sourced by the suites that run the
# programs on it.

# Makes the scratch folder and points the simulated system at it; gives its path.
function New-SimulatedSystem([string] $Velmora, [string] $Prefix, [string] $State) {
    $scratch = Join-Path ([IO.Path]::GetTempPath()) ("$Prefix-" + [guid]::NewGuid())
    New-Item -ItemType Directory $scratch | Out-Null
    $env:VELMORA_EXE = $Velmora
    $env:VELMORA_STATE_EXE = $State
    $env:VELMORA_SIM_STATE = Join-Path $scratch 'state'
    $env:VELMORA_SIM_LOG = Join-Path $scratch 'log'
    $scratch
}

function Remove-SimulatedSystem([string] $Scratch) {
    Remove-Item -Recurse -Force $Scratch -ErrorAction SilentlyContinue
    Remove-Item Env:VELMORA_EXE, Env:VELMORA_STATE_EXE, Env:VELMORA_SIM_STATE, Env:VELMORA_SIM_LOG -ErrorAction SilentlyContinue
}

# A system in this state, with an empty call log.
function Set-SimulatedSystem([string] $State) {
    Set-Content -LiteralPath $env:VELMORA_SIM_STATE -Value $State -NoNewline
    Remove-Item -LiteralPath $env:VELMORA_SIM_LOG -ErrorAction SilentlyContinue
}

# The cache calls the system saw.
function Get-CacheCall {
    if (-not (Test-Path -LiteralPath $env:VELMORA_SIM_LOG)) { return @() }
    @(Get-Content -LiteralPath $env:VELMORA_SIM_LOG | Where-Object { $_ -like '*SystemFileCacheSize*' })
}

# A key's value in the state file.
function Get-StateValue([string] $Key) {
    $line = Get-Content -LiteralPath $env:VELMORA_SIM_STATE | Where-Object { $_ -like "$Key=*" }
    if ($line) { $line.Substring($Key.Length + 1) }
}
