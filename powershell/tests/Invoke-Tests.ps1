# Runs a Pester suite of the project and fails unless it ran tests and all passed:
#   pwsh -File Invoke-Tests.ps1 -Path SUITE.Tests.ps1 -Data '{"Name": "value"}'
# The suite's data (the program, its width, the module) comes as -Data, a JSON
# object, so that ctest can pass it on the command line. The Pester version is
# the one scripts/tools.env names; -InstallPester first installs it from the
# PowerShell Gallery, for a Windows machine (scripts/test-all.sh installs it
# from NuGet).
param(
    [Parameter(Mandatory = $true)] [string] $Path,
    [Parameter(Mandatory = $true)] [string] $Data,
    [switch] $InstallPester
)
$PesterVersion = Get-Content (Join-Path $PSScriptRoot '../../scripts/tools.env') |
    Where-Object { $_ -match '^PESTER_VERSION=(.+)$' } | ForEach-Object { $Matches[1] }
if (-not $PesterVersion) { throw 'scripts/tools.env names no PESTER_VERSION' }
$ErrorActionPreference = 'Stop'
if ($InstallPester -and -not (Get-Module -ListAvailable Pester | Where-Object Version -eq $PesterVersion)) {
    Install-Module Pester -RequiredVersion $PesterVersion -Scope CurrentUser -SkipPublisherCheck -Force
}
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
