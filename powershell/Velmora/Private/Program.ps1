# The programs the cmdlets run, and running them: Velmora.exe or
# VelmoraState.exe as a child process, its input written, both of its streams
# read at once, ended when it overruns its time limit.

# The program the cmdlets run: the one VELMORA_EXE (or, for VelmoraState,
# VELMORA_STATE_EXE) names, or the module's own, 64-bit on any 64-bit Windows
# (ARM64 included, through emulation).
function Get-VelmoraProgram {
    param([ValidateSet('Velmora', 'VelmoraState')] [string] $Name = 'Velmora')
    $named = $env:VELMORA_EXE
    if ($Name -eq 'VelmoraState') {
        $named = $env:VELMORA_STATE_EXE
    }
    if ($named) {
        return $named
    }
    $architecture = 'x86'
    if ([Environment]::Is64BitOperatingSystem) {
        $architecture = 'x64'
    }
    return (Join-Path $PSScriptRoot "bin\$architecture\$Name.exe")
}

# How long a program may run, in seconds: VELMORA_TIMEOUT, a whole number from
# 1 to the longest that Process.WaitForExit takes (int milliseconds: 2147483 s),
# or 30 where it is unset. Its work is one or two system calls; a run that takes
# longer is stuck. Seconds and where they come from; or Error,
# Velmora.TimeoutNotValid, for any other value.
$script:DefaultTimeLimit = 30
$script:LargestTimeLimit = 2147483
function Get-VelmoraTimeLimit {
    $text = $env:VELMORA_TIMEOUT
    if (-not $text) {
        return [pscustomobject]@{ Seconds = $script:DefaultTimeLimit; From = 'the default'; Error = $null }
    }
    $seconds = 0
    if ($text -cmatch '^[0-9]{1,7}$' -and [int]::TryParse($text, [ref]$seconds) -and $seconds -ge 1 -and
        $seconds -le $script:LargestTimeLimit) {
        return [pscustomobject]@{ Seconds = $seconds; From = 'from VELMORA_TIMEOUT'; Error = $null }
    }
    $exception = New-Object System.ArgumentException(
        "VELMORA_TIMEOUT is '$text': it is the time limit of Velmora's programs, a whole number of seconds from 1 to $($script:LargestTimeLimit), or unset for $($script:DefaultTimeLimit).")
    $record = New-VelmoraError $exception 'Velmora.TimeoutNotValid' InvalidArgument $text "Set VELMORA_TIMEOUT to a whole number of seconds from 1 to $($script:LargestTimeLimit), or remove it."
    return [pscustomobject]@{ Seconds = $null; From = $null; Error = $record }
}

function Test-VelmoraWindows {
    return $env:OS -eq 'Windows_NT'
}

# The code page Velmora writes its message text in: the console's output code
# page when it has a console (this process's, which it shares), else the OEM
# code page. Off Windows, the simulated system writes ASCII.
function Get-VelmoraOutputCodePage {
    if (-not (Test-VelmoraWindows)) {
        return 65001
    }
    if (-not ('Velmora.CodePages' -as [type])) {
        Add-Type -Namespace Velmora -Name CodePages -MemberDefinition @'
[System.Runtime.InteropServices.DllImport("kernel32.dll")] public static extern uint GetConsoleOutputCP();
[System.Runtime.InteropServices.DllImport("kernel32.dll")] public static extern uint GetOEMCP();
'@
    }
    $codePage = [Velmora.CodePages]::GetConsoleOutputCP()
    if ($codePage -eq 0) {
        $codePage = [Velmora.CodePages]::GetOEMCP()
    }
    return [int]$codePage
}

# Runs the program (Velmora, or VelmoraState with InputText on its standard
# input) with the arguments. Gives its exit code and its output, decoded, and
# its error stream; or, when it cannot be run or overruns its time limit, an
# error record (Velmora.ProgramNotFound, Velmora.ProgramTimedOut).
function Invoke-VelmoraProgram {
    param([string[]] $Arguments, [string] $Name = 'Velmora', [string] $InputText)
    $program = Get-VelmoraProgram -Name $Name
    $commandLine = "$Name $($Arguments -join ' ')"
    if (-not (Test-Path -LiteralPath $program -PathType Leaf)) {
        $variable = 'VELMORA_EXE'
        if ($Name -eq 'VelmoraState') {
            $variable = 'VELMORA_STATE_EXE'
        }
        $exception = New-Object System.IO.FileNotFoundException(
            "$Name.exe was not found at '$program'. The module runs the program in its bin folder, or the one that the environment variable $variable names.", $program)
        return [pscustomobject]@{ Error = (New-VelmoraError $exception 'Velmora.ProgramNotFound' ObjectNotFound $program) }
    }
    $limit = Get-VelmoraTimeLimit
    if ($limit.Error) {
        return [pscustomobject]@{ Error = $limit.Error }
    }
    $start = New-Object System.Diagnostics.ProcessStartInfo
    $start.FileName = $program
    $start.Arguments = $Arguments -join ' '
    $start.UseShellExecute = $false
    $start.CreateNoWindow = $true
    $start.RedirectStandardOutput = $true
    $start.RedirectStandardError = $true
    $start.RedirectStandardInput = $PSBoundParameters.ContainsKey('InputText')
    # VelmoraState writes JSON, in UTF-8; Velmora writes in its reader's code page.
    $encoding = [System.Text.Encoding]::UTF8
    if ($Name -eq 'Velmora') {
        $encoding = [System.Text.Encoding]::GetEncoding((Get-VelmoraOutputCodePage))
    }
    $start.StandardErrorEncoding = $encoding
    Write-Verbose "Running $program $($start.Arguments), time limit: $($limit.Seconds) s, $($limit.From)"
    try {
        $process = [System.Diagnostics.Process]::Start($start)
    } catch {
        $exception = New-Object System.InvalidOperationException(
            "$Name.exe at '$program' could not be started: $($_.Exception.InnerException.Message)", $_.Exception)
        return [pscustomobject]@{ Error = (New-VelmoraError $exception 'Velmora.ProgramNotFound' ObjectNotFound $program) }
    }
    # Both streams are read while the program runs, so that neither pipe can fill
    # up and stop it.
    $bytes = New-Object System.IO.MemoryStream
    $output = $process.StandardOutput.BaseStream.CopyToAsync($bytes)
    $errorText = $process.StandardError.ReadToEndAsync()
    if ($start.RedirectStandardInput) {
        # A wanted state is one short line, far less than a pipe holds.
        $process.StandardInput.Write($InputText)
        $process.StandardInput.Close()
    }
    # The program must end, and its output close, within the limit: a child it
    # left running may hold the output open after it ended.
    $clock = [System.Diagnostics.Stopwatch]::StartNew()
    $milliseconds = [int]($limit.Seconds * 1000)
    $ended = $process.WaitForExit($milliseconds)
    $left = [Math]::Max(0, $milliseconds - [int][Math]::Min($clock.ElapsedMilliseconds, [int]::MaxValue))
    if (-not $ended -or -not [System.Threading.Tasks.Task]::WaitAll(@($output, $errorText), $left)) {
        $what = 'did not end'
        if ($ended) {
            $what = 'ended, but its output stayed open (a program it started holds it),'
        } else {
            try { $process.Kill() } catch { Write-Verbose "Ending $($Name): $($_.Exception.Message)" }
            $process.WaitForExit(1000) | Out-Null
        }
        $exception = New-Object System.TimeoutException(
            "$commandLine $what within $($limit.Seconds) s and was given up; it may or may not have changed the limits. VELMORA_TIMEOUT sets the limit in seconds.")
        return [pscustomobject]@{ Error = (New-VelmoraError $exception 'Velmora.ProgramTimedOut' OperationTimeout $commandLine) }
    }
    $answer = [pscustomobject]@{
        ExitCode = $process.ExitCode
        Output   = $encoding.GetString($bytes.ToArray())
        Error    = $null
        Stderr   = $errorText.Result
    }
    Write-Verbose "$Name answered with exit code $($answer.ExitCode): $($answer.Output.Trim()) $($answer.Stderr.Trim())"
    return $answer
}
