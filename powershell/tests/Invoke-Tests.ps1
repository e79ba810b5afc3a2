# Runs a Pester suite of the module and fails unless it ran tests and all passed:
#   pwsh -File Invoke-Tests.ps1 -Path SUITE.Tests.ps1 -Data '{"Name": "value"}'
# The suite's data (the module, the program, its width) comes as -Data, a JSON
# object, so that ctest can pass it on the command line.
param(
    [Parameter(Mandatory = $true)] [string] $Path,
    [Parameter(Mandatory = $true)] [string] $Data,
    [string] $PesterVersion = '5.7.1'
)
$ErrorActionPreference = 'Stop'
Import-Module Pester -RequiredVersion $PesterVersion
$configuration = New-PesterConfiguration
$configuration.Run.Container = New-PesterContainer -Path $Path -Data ($Data | ConvertFrom-Json -AsHashtable)
$configuration.Run.PassThru = $true
$configuration.Output.Verbosity = 'Detailed'
$result = Invoke-Pester -Configuration $configuration
"$($result.PassedCount) passed, $($result.FailedCount) failed, $($result.SkippedCount) skipped"
if ($result.Result -ne 'Passed' -or $result.PassedCount -eq 0 -or $result.FailedCount -ne 0) {
    exit 1
}
