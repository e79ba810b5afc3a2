# -PassThru after a change that was applied: the limits read back, or, when the
# read fails, Velmora.ReadBackFailed, which says that the change stands.
function Write-VelmoraReadBack {
    param([System.Management.Automation.PSCmdlet] $Cmdlet, [string] $Done)
    $read = Read-VelmoraLimits
    if ($read.Limit) {
        $Cmdlet.WriteObject($read.Limit)
        return
    }
    $exception = New-Object System.InvalidOperationException(
        "$Done, but the limits could not be read back: $($read.Error.Exception.Message)", $read.Error.Exception)
    $Cmdlet.WriteError((New-VelmoraError $exception 'Velmora.ReadBackFailed' ReadError 'Velmora -G'))
}
