# The startup task's definition, the records folder, and running a cmdlet's
# steps all or nothing.

# The definition that ships beside the programs (VelmoraStartupTask.xml), with
# the program and its arguments as its action and, where it repeats, a second
# trigger from now on at that interval, as XML text.
function New-VelmoraTaskDefinition {
    param([string] $Program, [string] $Arguments, [object] $RepeatEvery)
    $definition = New-Object System.Xml.XmlDocument
    $definition.Load((Join-Path $PSScriptRoot 'VelmoraStartupTask.xml'))
    $namespace = $definition.DocumentElement.NamespaceURI
    $names = New-Object System.Xml.XmlNamespaceManager($definition.NameTable)
    $names.AddNamespace('t', $namespace)
    $exec = $definition.SelectSingleNode('/t:Task/t:Actions/t:Exec', $names)
    $exec.SelectSingleNode('t:Command', $names).InnerText = $Program
    $exec.SelectSingleNode('t:Arguments', $names).InnerText = $Arguments
    if ($null -ne $RepeatEvery) {
        $trigger = $definition.SelectSingleNode('/t:Task/t:Triggers', $names).AppendChild(
            $definition.CreateElement('TimeTrigger', $namespace))
        $repetition = $trigger.AppendChild($definition.CreateElement('Repetition', $namespace))
        $repetition.AppendChild($definition.CreateElement('Interval', $namespace)).InnerText =
            [System.Xml.XmlConvert]::ToString([TimeSpan]$RepeatEvery)
        $trigger.AppendChild($definition.CreateElement('StartBoundary', $namespace)).InnerText =
            (Get-Date).ToString('s')
        $trigger.AppendChild($definition.CreateElement('Enabled', $namespace)).InnerText = 'true'
    }
    return $definition.OuterXml
}

# Undoes the steps done, the last first; says which were undone, and which
# could not be, with why.
function Undo-VelmoraSteps {
    param([object[]] $Done)
    $undone = @()
    $failed = @()
    for ($index = $Done.Count - 1; $index -ge 0; $index--) {
        try {
            & $Done[$index].Undo
            $undone += $Done[$index].Name
        } catch {
            $failed += "$($Done[$index].Name) ($($_.Exception.Message))"
        }
    }
    $said = "undone: $($undone -join ', ')"
    if ($failed) {
        $said += "; could not undo: $($failed -join ', ')"
    }
    return $said
}

# The steps that make the records folder, for the record of the system's own
# values and the logs of earlier startup scripts: the caller's $data, with
# Administrators its owner and only SYSTEM and Administrators allowed in. What
# they made goes in the caller's $made, for the undo. The owner and the
# permissions, once set, stay set: they are never less safe than before.
function Get-VelmoraRecordFolderSteps {
    @(
        @{ Name = 'records folder'; Target = $data; Action = 'Create the records folder'
            Do = {
                if (-not (Test-Path -LiteralPath $data)) {
                    New-Item -ItemType Directory -Path $data -ErrorAction Stop | Out-Null
                    $made.Records = $true
                }
            }
            Undo = {
                if ($made.Records) {
                    Remove-Item -LiteralPath $data -Recurse -Force -ErrorAction Stop
                }
            } }
        @{ Name = 'owner'; Target = $data; Action = 'Make Administrators the owner'
            Do = { Invoke-VelmoraTool takeown '/F', $data, '/A', '/R' }
            Undo = {} }
        @{ Name = 'permissions'; Target = $data; Action = 'Let only SYSTEM and Administrators use it'
            Do = {
                Invoke-VelmoraTool icacls $data, '/reset', '/T', '/Q'
                Invoke-VelmoraTool icacls $data, '/inheritance:r', '/grant:r', '*S-1-5-18:(OI)(CI)F', '*S-1-5-32-544:(OI)(CI)F', '/Q'
            }
            Undo = {} }
    )
}

# Runs the steps, each after ShouldProcess, all or nothing: Done is true where
# all were done. -WhatIf shows every step; a step declined at -Confirm ends the
# run, and one that fails gives Error, the record ErrorId for the cmdlet to end
# with, both with the steps before it undone. The steps see the caller's
# variables, and fail by throwing, as a cmdlet with -ErrorAction Stop does.
function Invoke-VelmoraSteps {
    param([System.Management.Automation.PSCmdlet] $Cmdlet, [object[]] $Steps, [string] $NotDone, [string] $ErrorId)
    $stepsDone = @()
    foreach ($step in $Steps) {
        $failure = $null
        if (-not $Cmdlet.ShouldProcess($step.Target, $step.Action)) {
            if ($WhatIfPreference) {
                continue
            }
        } else {
            Write-Verbose "Step $($step.Name): $($step.Action) ($($step.Target))"
            try {
                $null = & $step.Do
                $stepsDone += $step
                continue
            } catch {
                $failure = $_
            }
        }
        $undone = Undo-VelmoraSteps $stepsDone
        if (-not $failure) {
            return [pscustomobject]@{ Done = $false; Error = $null }
        }
        $said = 'no step was done before it'
        if ($stepsDone) {
            $said = "done before it: $(($stepsDone | ForEach-Object { $_.Name }) -join ', '); $undone"
        }
        $exception = New-Object System.InvalidOperationException(
            "$($NotDone): the step '$($step.Name)' ($($step.Action): $($step.Target)) failed: $($failure.Exception.Message); $said.",
            $failure.Exception)
        return [pscustomobject]@{ Done = $false; Error = (New-VelmoraError $exception $ErrorId WriteError $step.Name) }
    }
    return [pscustomobject]@{ Done = -not $WhatIfPreference; Error = $null }
}

# -RepeatEvery as the interval it is: a TimeSpan, or text that reads as one
# ('00:30:00', '1.00:00:00'); $null for anything else, digits alone among them,
# which PowerShell would read as ticks (60) or days ('60').
function ConvertTo-VelmoraRepetition {
    param([object] $Value)
    if ($Value -is [TimeSpan]) {
        return $Value
    }
    $span = [TimeSpan]::Zero
    if ($Value -is [string] -and $Value -notmatch '^\s*[0-9]+\s*$' -and
        [TimeSpan]::TryParse($Value, [System.Globalization.CultureInfo]::InvariantCulture, [ref]$span)) {
        return $span
    }
    return $null
}
