function Get-VelmoraStartupTask {
    <#
    .SYNOPSIS
    Gets the startup task that applies the file cache limits, with the sizes its script applies and its last result.
    .DESCRIPTION
    Reads the task 'Velmora file cache limits' from the task scheduler and the sizes from its script,
    $env:ProgramFiles\Velmora\startup.cmd. LastTaskResult is Velmora's exit code once the task has run (0, 1 or
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
    $minimum = $null
    $maximum = $null
    $startup = (Get-VelmoraFolder).Startup
    if (Test-Path -LiteralPath $startup) {
        $line = Select-String -LiteralPath $startup -Pattern '^set "ARGS=-S (\d+) (\d+)"' | Select-Object -First 1
        if ($line) {
            $minimum = [uint64]$line.Matches[0].Groups[1].Value
            $maximum = [uint64]$line.Matches[0].Groups[2].Value
        }
    }
    [pscustomobject]@{
        PSTypeName     = 'Velmora.StartupTask'
        TaskName       = $script:TaskName
        State          = $task.State
        Execute        = @($task.Actions)[0].Execute
        MinimumMB      = $minimum
        MaximumMB      = $maximum
        LastRunTime    = $info.LastRunTime
        LastTaskResult = $info.LastTaskResult
    }
}
