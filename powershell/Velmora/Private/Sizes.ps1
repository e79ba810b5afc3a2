# Sizes as the cmdlets take them (bytes, or a share of this machine's physical
# memory) and as the programs take them (whole megabytes, or a share in the
# wanted state's JSON). What a share comes to, and which sizes can hold, is
# VelmoraState's to say (State.ps1).

# Bytes in whole megabytes, rounded down; exact for every 64-bit size.
function ConvertTo-VelmoraWholeMB {
    param([uint64] $Bytes)
    return [uint64][math]::Truncate([decimal]$Bytes / 1MB)
}

# Whole megabytes in bytes, exact for every size Velmora takes.
function ConvertTo-VelmoraBytes {
    param([uint64] $MB)
    return [uint64]([decimal]$MB * 1MB)
}

# A number as JSON writes it: invariant digits, no exponent, no trailing zeros.
function ConvertTo-VelmoraJsonNumber {
    param([decimal] $Number)
    return $Number.ToString('0.############################', [System.Globalization.CultureInfo]::InvariantCulture)
}

# The wanted state of a cmdlet's bound MinimumBytes, MaximumBytes,
# MinimumPercent and MaximumPercent, as VelmoraState's JSON: Json, or Error
# (Velmora.SizeNotWholeMegabytes for bytes that are not whole megabytes, which
# is all the programs apply).
function ConvertTo-VelmoraWantedState {
    param([System.Collections.IDictionary] $Given)
    $properties = @()
    foreach ($limit in 'Minimum', 'Maximum') {
        $name = $limit.ToLower()
        if ($Given.ContainsKey("${limit}Percent")) {
            $properties += "`"${name}Percent`":$(ConvertTo-VelmoraJsonNumber $Given["${limit}Percent"])"
            continue
        }
        $bytes = [uint64]$Given["${limit}Bytes"]
        if ($bytes % 1MB) {
            $guess = ConvertTo-VelmoraWholeMB $bytes
            if ($bytes -lt 1MB) {
                $guess = $bytes
            }
            $exception = New-Object System.ArgumentException(
                "The $name of $bytes bytes is not a whole number of megabytes, which is what Velmora applies: did you mean $($guess)MB?")
            return [pscustomobject]@{ Json = $null; Error = (New-VelmoraError $exception 'Velmora.SizeNotWholeMegabytes' InvalidArgument $bytes) }
        }
        $properties += "`"${name}MB`":$(ConvertTo-VelmoraWholeMB $bytes)"
    }
    return [pscustomobject]@{ Json = '{' + ($properties -join ',') + '}'; Error = $null }
}

# The sizes a cmdlet was given, as this machine holds them now in whole MB,
# judged by VelmoraState: MinimumMB and MaximumMB, or Error (the error record of
# a refusal). -Force takes a maximum above physical memory.
function Resolve-VelmoraSizes {
    param([System.Collections.IDictionary] $Given, [switch] $Force)
    $wanted = ConvertTo-VelmoraWantedState -Given $Given
    if ($wanted.Error) {
        return [pscustomobject]@{ MinimumMB = $null; MaximumMB = $null; Error = $wanted.Error }
    }
    $arguments = @()
    if ($Force) {
        $arguments = @('--allow-above-memory')
    }
    $resolved = Invoke-VelmoraState -Method resolve -Wanted $wanted.Json -Arguments $arguments
    if ($resolved.Error) {
        return [pscustomobject]@{ MinimumMB = $null; MaximumMB = $null; Error = $resolved.Error }
    }
    Write-Verbose "$($wanted.Json) is $($resolved.State.minimumMB) MB and $($resolved.State.maximumMB) MB here"
    return [pscustomobject]@{
        MinimumMB = [uint64]$resolved.State.minimumMB
        MaximumMB = [uint64]$resolved.State.maximumMB
        Error     = $null
    }
}

# The wanted state of a cmdlet's bound sizes as VelmoraState's flags, as the
# startup task passes them: --minimum 256MB --maximum 12.5%. Bytes that are not
# whole megabytes are ConvertTo-VelmoraWantedState's to refuse first.
function ConvertTo-VelmoraStateFlags {
    param([System.Collections.IDictionary] $Given)
    $flags = @()
    foreach ($limit in 'Minimum', 'Maximum') {
        if ($Given.ContainsKey("${limit}Percent")) {
            $flags += "--$($limit.ToLower())", "$(ConvertTo-VelmoraJsonNumber $Given["${limit}Percent"])%"
        } else {
            $flags += "--$($limit.ToLower())", "$(ConvertTo-VelmoraWholeMB $Given["${limit}Bytes"])MB"
        }
    }
    return $flags
}
