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

# How long Velmora may run, in seconds: VELMORA_TIMEOUT, or 30. Its work is one
# or two system calls; a run that takes longer is stuck.
function Get-VelmoraTimeLimit {
    $seconds = 0
    if ($env:VELMORA_TIMEOUT -and [int]::TryParse($env:VELMORA_TIMEOUT, [ref]$seconds) -and $seconds -gt 0) {
        return $seconds
    }
    return 30
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
    Write-Verbose "Running $program $($start.Arguments)"
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
    $limit = Get-VelmoraTimeLimit
    if (-not $process.WaitForExit($limit * 1000)) {
        try { $process.Kill() } catch { Write-Verbose "Ending Velmora: $($_.Exception.Message)" }
        $process.WaitForExit()
        $exception = New-Object System.TimeoutException(
            "$commandLine did not end within $limit s and was stopped; it may or may not have changed the limits. VELMORA_TIMEOUT sets the limit in seconds.")
        return [pscustomobject]@{ Error = (New-VelmoraError $exception 'Velmora.ProgramTimedOut' OperationTimeout $commandLine) }
    }
    $output.Wait()
    $answer = [pscustomobject]@{
        ExitCode = $process.ExitCode
        Output   = $encoding.GetString($bytes.ToArray())
        Error    = $null
        Stderr   = $errorText.Result
    }
    Write-Verbose "$Name answered with exit code $($answer.ExitCode): $($answer.Output.Trim()) $($answer.Stderr.Trim())"
    return $answer
}
