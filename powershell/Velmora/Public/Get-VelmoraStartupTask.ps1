function Get-VelmoraStartupTask {
    <#
    .SYNOPSIS
    Gets the startup task that applies the file cache limits, with the sizes its script applies and its last result.
    .DESCRIPTION
    Reads the task 'Velmora file cache limits' from the task scheduler and the sizes from its script in
    $env:ProgramFiles\Velmora (startup.cmd, or startup.ps1 for shares of memory or a repeating task). LastTaskResult is Velmora's exit code once the task has run (0, 1 or
    255), 267011 before it has run. Gives nothing where there is no such task. Needs Windows, not elevation.
    .INPUTS
    None.
    .OUTPUTS
    Velmora.StartupTask
    .EXAMPLE
    Get-VelmoraStartupTask

    Shows whether the task is there, the sizes it applies, and how its last run ended.
    .LINK
    about_Velmora
    #>
    [CmdletBinding()]
    [OutputType('Velmora.StartupTask')]
    param()
    Assert-VelmoraWindows $PSCmdlet
    $task = Get-ScheduledTask -TaskName $script:TaskName -ErrorAction SilentlyContinue
    if (-not $task) {
        return
    }
    $info = Get-ScheduledTaskInfo -TaskName $script:TaskName
    # The sizes its script applies: startup.cmd's ARGS, or startup.ps1's $Wanted.
    $sizes = @{ MinimumMB = $null; MaximumMB = $null; MinimumPercent = $null; MaximumPercent = $null }
    $folder = Get-VelmoraFolder
    if (Test-Path -LiteralPath $folder.StartupScript) {
        $line = Select-String -LiteralPath $folder.StartupScript -Pattern $script:StartupWantedLine | Select-Object -First 1
        if ($line) {
            foreach ($found in [regex]::Matches($line.Matches[0].Groups[1].Value, '(\w+) = (\d+(?:\.\d+)?)')) {
                $value = [decimal]::Parse($found.Groups[2].Value, [System.Globalization.CultureInfo]::InvariantCulture)
                if ($found.Groups[1].Value -like '*MB') {
                    $value = [uint64]$value
                }
                $sizes[$found.Groups[1].Value] = $value
            }
        }
    } elseif (Test-Path -LiteralPath $folder.Startup) {
        $line = Select-String -LiteralPath $folder.Startup -Pattern $script:StartupArgsLine | Select-Object -First 1
        if ($line) {
            $sizes.MinimumMB = [uint64]$line.Matches[0].Groups[1].Value
            $sizes.MaximumMB = [uint64]$line.Matches[0].Groups[2].Value
        }
    }
    [pscustomobject]@{
        PSTypeName     = 'Velmora.StartupTask'
        TaskName       = $script:TaskName
        State          = $task.State
        Execute        = @($task.Actions)[0].Execute
        MinimumMB      = $sizes.MinimumMB
        MaximumMB      = $sizes.MaximumMB
        MinimumPercent = $sizes.MinimumPercent
        MaximumPercent = $sizes.MaximumPercent
        LastRunTime    = $info.LastRunTime
        LastTaskResult = $info.LastTaskResult
    }
}
