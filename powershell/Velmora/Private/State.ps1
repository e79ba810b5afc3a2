# VelmoraState's answers, read by the contract of its command line: one line of
# JSON on standard output and exit code 0; messages for dsc on standard error,
# one JSON object a line; and an exit code for each refusal. The wanted state's
# rules are the program's: nothing of them is written here.

# Each exit code of a refusal, with the error record's ID and category.
$script:StateRefusals = @{
    1 = @('Velmora.WantedStateNotValid', 'InvalidArgument')
    2 = @('Velmora.SizesRefused', 'InvalidArgument')
    3 = @('Velmora.MemoryUnreadable', 'ResourceUnavailable')
}
$script:StateSystemRefused = 4

# The texts of the messages of one level.
function Get-VelmoraStateMessage {
    param([string] $Stderr, [string] $Level)
    $texts = @()
    foreach ($line in ($Stderr -split "`r?`n")) {
        if (-not $line) { continue }
        try {
            $message = ConvertFrom-Json -InputObject $line
        } catch {
            continue
        }
        if ($message -and $message.PSObject.Properties[$Level]) {
            $texts += [string]$message.$Level
        }
    }
    return $texts
}

# Runs VelmoraState's method (get, test, set, resolve) with the wanted state's
# JSON: State, the state it printed, and Warnings; or Error, the error record of
# its refusal, for the caller to write or to throw.
function Invoke-VelmoraState {
    param([string] $Method, [string] $Wanted, [string[]] $Arguments = @())
    $commandLine = "VelmoraState $(@($Method) + $Arguments -join ' ') $Wanted"
    $answer = Invoke-VelmoraProgram -Name VelmoraState -Arguments (@($Method) + $Arguments) -InputText $Wanted
    if ($answer.Error) {
        return [pscustomobject]@{ State = $null; Warnings = @(); Error = $answer.Error }
    }
    $warnings = @(Get-VelmoraStateMessage $answer.Stderr 'warn')
    $errors = @(Get-VelmoraStateMessage $answer.Stderr 'error') -join '; '
    $lines = @($answer.Output -split "`r?`n" | Where-Object { $_ })
    if ($answer.ExitCode -eq 0 -and $lines.Count -eq 1) {
        $state = $null
        try { $state = ConvertFrom-Json -InputObject $lines[0] } catch { $state = $null }
        if ($state) {
            return [pscustomobject]@{ State = $state; Warnings = $warnings; Error = $null }
        }
    }
    $record = $null
    if ($errors -and $script:StateRefusals.ContainsKey($answer.ExitCode)) {
        $id, $category = $script:StateRefusals[$answer.ExitCode]
        $record = New-VelmoraError (New-Object System.ArgumentException("$($commandLine): $errors")) $id $category $Wanted
    } elseif ($errors -and $answer.ExitCode -eq $script:StateSystemRefused) {
        # The system's refusal: its report line, with the code, is in the message.
        # The report line within it is the error's message, as for Velmora's own;
        # its call says whether a read or a change failed.
        $code = 0
        $change = $Method -eq 'set'
        if ($errors -match '[A-Za-z]+\.cpp:\d+: ([A-Za-z]+)\((-?\d+)\): .*$') {
            $code = [int]$Matches[2]
            $change = $change -and $Matches[1] -notin 'GetSystemFileCacheSize', 'GlobalMemoryStatusEx'
            $errors = $Matches[0]
        }
        $record = New-VelmoraSystemCallError -Code $code -Line $errors -CommandLine $commandLine -Change:$change
    } else {
        $exception = New-Object System.InvalidOperationException(
            "$commandLine gave exit code $($answer.ExitCode), which is none of its answers, and printed: $(($answer.Output + $answer.Stderr).Trim())")
        $record = New-VelmoraError $exception 'Velmora.UnexpectedAnswer' NotSpecified $commandLine
    }
    return [pscustomobject]@{ State = $null; Warnings = $warnings; Error = $record }
}
