function Get-VelmoraStartupTask {
    <#
    .SYNOPSIS
    Gets the startup task that applies the file cache limits: what it runs, its wanted state, how often it repeats,
    and its last result.
    .DESCRIPTION
    Reads the task 'Velmora file cache limits' from the task scheduler. Its wanted state is what VelmoraState says
    the task's arguments mean (VelmoraState wanted ...), in MB or as shares of memory; AllowAboveMemory is whether
    they take a maximum above physical memory (-Force). RepeatEvery is the interval of its repetition, or empty
    where it runs only at start-up. Earlier is true for a task that an earlier Velmora registered, which runs
    startup.cmd with its sizes inside that file (about_Velmora says how to move it to the current form); its
    wanted state is then empty. LastTaskResult is VelmoraState's exit code once the task has run (0 done, 1 to 4
    refused: about_Velmora lists them), 267011 before it has run. Gives nothing where there is no such task.
    Needs Windows, not elevation.
    .INPUTS
    None.
    .OUTPUTS
    Velmora.StartupTask
    .EXAMPLE
    Get-VelmoraStartupTask

    Shows whether the task is there, the wanted state it holds, and how its last run ended.
    .EXAMPLE
    Get-VelmoraStartupTask | Format-List *

    Shows every property, the program and the arguments the task runs among them.
    .LINK
    Register-VelmoraStartupTask
    .LINK
    about_Velmora
    #>
    [CmdletBinding()]
    [OutputType('Velmora.StartupTask')]
    param()
    $platform = Get-VelmoraPlatformRefusal -Command $MyInvocation.MyCommand.Name
    if ($platform.Error) {
        $PSCmdlet.ThrowTerminatingError($platform.Error)
    }
    $task = Get-ScheduledTask -TaskName $script:TaskName -ErrorAction SilentlyContinue
    if (-not $task) {
        return
    }
    $info = Get-ScheduledTaskInfo -TaskName $script:TaskName
    $action = @($task.Actions)[0]
    $words = @("$($action.Arguments)" -split '\s+' | Where-Object { $_ })
    $current = (([string]$action.Execute).Trim('"') -split '[\\/]')[-1] -eq 'VelmoraState.exe' -and $words.Count -gt 0 -and
        $words[0] -eq 'set'
    $wanted = $null
    if ($current) {
        # What the arguments mean is VelmoraState's to say.
        $answer = Invoke-VelmoraState -Method wanted -Arguments @($words | Select-Object -Skip 1)
        if ($answer.Error) {
            Write-Warning "The task's arguments '$($action.Arguments)' are no wanted state VelmoraState takes: $($answer.Error.Exception.Message)"
        } else {
            $wanted = $answer.State
        }
    }
    $sizes = @{}
    foreach ($name in 'minimumMB', 'maximumMB', 'minimumPercent', 'maximumPercent') {
        $sizes[$name] = $null
        if ($wanted -and $wanted.PSObject.Properties[$name]) {
            if ($name -like '*MB') {
                $sizes[$name] = [uint64]$wanted.$name
            } else {
                $sizes[$name] = [decimal]$wanted.$name
            }
        }
    }
    $repeat = $null
    foreach ($trigger in @($task.Triggers)) {
        if ($trigger.Repetition -and $trigger.Repetition.Interval) {
            $repeat = [System.Xml.XmlConvert]::ToTimeSpan($trigger.Repetition.Interval)
        }
    }
    [pscustomobject]@{
        PSTypeName       = 'Velmora.StartupTask'
        TaskName         = $script:TaskName
        State            = $task.State
        Execute          = $action.Execute
        Arguments        = $action.Arguments
        Earlier          = -not $current
        MinimumMB        = $sizes.minimumMB
        MaximumMB        = $sizes.maximumMB
        MinimumPercent   = $sizes.minimumPercent
        MaximumPercent   = $sizes.maximumPercent
        AllowAboveMemory = $current -and $words -contains '--allow-above-memory'
        RepeatEvery      = $repeat
        LastRunTime      = $info.LastRunTime
        LastTaskResult   = $info.LastTaskResult
    }
}
