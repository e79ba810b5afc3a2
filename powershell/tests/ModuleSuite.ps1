# What every suite of the module shares, dot-sourced in each suite's BeforeAll
# with the suite's parameters ($Module, $Velmora, $StateExe, $Bits) in scope:
# the module imported, the table's reader, the simulated system in a scratch
# folder of the suite's own, and the test doubles of Windows. Each cmdlet runs
# the simulated system's Velmora (VELMORA_EXE), whose state file and call log
# say what the system holds and was asked; the task scheduler, the registry,
# elevation and the performance counters, which this machine has not, are test
# doubles that record what they are asked.

foreach ($name in 'Module', 'Velmora', 'StateExe', 'Table', 'Bits', 'Version') {
    if (-not (Get-Variable $name -ValueOnly -ErrorAction SilentlyContinue)) { throw "The suite was given no -$name." }
}
Import-Module $Module -Force
. (Join-Path $env:VELMORA_TEST_SUPPORT 'WantedStates.ps1')
. (Join-Path $PSScriptRoot 'SimulatedSystem.ps1')
. (Join-Path $PSScriptRoot 'WindowsDoubles.ps1')
$script:Scratch = New-SimulatedSystem $Velmora 'velmora-pester' $StateExe

# Runs a command whose cmdlets write their errors as they would for any caller,
# and gives back the one error it wrote.
function Get-OneError([scriptblock] $Command) {
    $PSDefaultParameterValues = @{ '*:ErrorAction' = 'Continue' }
    $records = @(& $Command 2>&1 | Where-Object { $_ -is [System.Management.Automation.ErrorRecord] })
    $records.Count | Should -Be 1 -Because 'one answer of Velmora is one error'
    $records[0]
}
$script:MaxMB = if ($Bits -eq 64) { '17592186044415' } else { '4095' }
# Each refusal of the table of wanted states, as the module's error IDs.
$script:SetRefusals = @{
    'input'       = @('Velmora.WantedStateNotValid', 'Velmora.SizeNotWholeMegabytes')
    'cannot-hold' = @('Velmora.SizesRefused')
    'memory'      = @('Velmora.MemoryUnreadable')
    'system'      = @('Velmora.SystemCallFailed')
}

# For a BeforeEach of the cmdlets that need Windows: Windows, as far as the
# module can tell (its code page a test double too), memory 8 GiB, and Program
# Files and ProgramData folders of the test's own.
function Enter-SimulatedWindows {
    Mock -ModuleName Velmora Test-VelmoraWindows { $true }
    Mock -ModuleName Velmora Get-VelmoraOutputCodePage { 65001 }
    Set-SimulatedSystem 'memory=8589934592'
    $root = Join-Path $script:Scratch ([guid]::NewGuid())
    $env:ProgramFiles = Join-Path $root 'Program Files'
    $env:ProgramData = Join-Path $root 'ProgramData'
}

# For the suite's AfterAll: the module and the simulated system go.
function Remove-ModuleSuite {
    Remove-Module Velmora -Force -ErrorAction SilentlyContinue
    Remove-SimulatedSystem $script:Scratch
}
