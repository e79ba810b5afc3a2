# The machine's registry as the startup task needs it: where the MSI installed
# Velmora (its key, which the module only reads), the event source Velmora
# (the MSI's where it installed Velmora, else the module's), and the module's
# record of what Register-VelmoraStartupTask put on the machine, so that
# Unregister-VelmoraStartupTask removes that and nothing else.

$script:InstallerKey = 'HKLM:\SOFTWARE\Velmora\Installer'
$script:StartupTaskKey = 'HKLM:\SOFTWARE\Velmora\StartupTask'
$script:EventSourceKey = 'HKLM:\SYSTEM\CurrentControlSet\Services\EventLog\Application\Velmora'

# A key's values by name, or $null where there is no such key.
function Get-VelmoraRegistryKey {
    param([string] $Path)
    $key = Get-Item -LiteralPath $Path -ErrorAction SilentlyContinue
    if (-not $key) {
        return $null
    }
    $values = @{}
    foreach ($name in $key.GetValueNames()) {
        $values[$name] = [pscustomobject]@{
            Value = $key.GetValue($name, $null, 'DoNotExpandEnvironmentNames')
            Kind  = [string]$key.GetValueKind($name)
        }
    }
    return $values
}

# Makes the key hold exactly these values (name → Value and Kind), or removes it
# where Values is $null; throws where the registry refuses.
function Set-VelmoraRegistryKey {
    param([string] $Path, [System.Collections.IDictionary] $Values)
    if ($null -eq $Values) {
        if (Test-Path -LiteralPath $Path) {
            Remove-Item -LiteralPath $Path -Recurse -Force -ErrorAction Stop
        }
        return
    }
    if (-not (Test-Path -LiteralPath $Path)) {
        New-Item -Path $Path -Force -ErrorAction Stop | Out-Null
    }
    foreach ($name in (Get-Item -LiteralPath $Path -ErrorAction Stop).GetValueNames()) {
        if (-not $Values.Contains($name)) {
            Remove-ItemProperty -LiteralPath $Path -Name $name -ErrorAction Stop
        }
    }
    foreach ($name in $Values.Keys) {
        New-ItemProperty -LiteralPath $Path -Name $name -Value $Values[$name].Value -PropertyType $Values[$name].Kind `
            -Force -ErrorAction Stop | Out-Null
    }
}

# The folder where the MSI installed VelmoraState.exe, or $null where the MSI did not.
function Get-VelmoraInstalledFolder {
    $installer = Get-VelmoraRegistryKey $script:InstallerKey
    if ($installer -and $installer['Folder'] -and
        (Test-Path -LiteralPath (Join-Path $installer['Folder'].Value 'VelmoraState.exe') -PathType Leaf)) {
        return $installer['Folder'].Value.TrimEnd('\')
    }
    return $null
}
