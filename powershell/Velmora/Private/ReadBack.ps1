# -PassThru after a change that was applied: Limit, the limits read back; or,
# when the read fails, Error, Velmora.ReadBackFailed, which says that the change
# stands.
function Get-VelmoraReadBack {
    param([string] $Done)
    $read = Read-VelmoraLimits
    if ($read.Limit) {
        return [pscustomobject]@{ Limit = $read.Limit; Error = $null }
    }
    $exception = New-Object System.InvalidOperationException(
        "$Done, but the limits could not be read back: $($read.Error.Exception.Message)", $read.Error.Exception)
    return [pscustomobject]@{ Limit = $null; Error = (New-VelmoraError $exception 'Velmora.ReadBackFailed' ReadError 'Velmora -G') }
}
