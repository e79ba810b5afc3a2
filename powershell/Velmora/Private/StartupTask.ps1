# The startup task's definition and its registration's steps.

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
