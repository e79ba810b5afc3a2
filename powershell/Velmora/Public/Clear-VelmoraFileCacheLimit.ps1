function Clear-VelmoraFileCacheLimit {
    <#
    .SYNOPSIS
    Switches both hard limits of the system file cache off and keeps both sizes.
    .DESCRIPTION
    Runs Velmora -C: the sizes in force stay, as targets that the system may cross. Needs an elevated
    PowerShell (or SYSTEM): changing the limits needs SeIncreaseQuotaPrivilege.
    .PARAMETER PassThru
    Gives the limits in force afterwards, read back with Velmora -G.
    .INPUTS
    None.
    .OUTPUTS
    None, or Velmora.FileCacheLimit with -PassThru.
    .EXAMPLE
    Clear-VelmoraFileCacheLimit -PassThru

    Switches both hard limits off and shows the limits afterwards: Flags 0.
    .EXAMPLE
    if ((Get-VelmoraFileCacheLimit -ErrorAction Stop).Flags -ne 0) { Clear-VelmoraFileCacheLimit -WhatIf }

    Where a hard limit is on, shows what switching both off would do, and changes nothing.
    .LINK
    about_Velmora
    #>
    [CmdletBinding(SupportsShouldProcess = $true)]
    [OutputType('Velmora.FileCacheLimit')]
    param(
        [switch] $PassThru
    )
    end {
        if (-not $PSCmdlet.ShouldProcess((Get-VelmoraComputerName), 'Switch both hard limits of the file cache off')) {
            return
        }
        $clear = Invoke-Velmora -Arguments '-C' -Call Set
        if ($clear.Error) {
            $PSCmdlet.WriteError($clear.Error)
            return
        }
        if ($PassThru) {
            $back = Get-VelmoraReadBack -Done 'Both hard limits were switched off'
            if ($back.Error) {
                $PSCmdlet.WriteError($back.Error)
            } else {
                $back.Limit
            }
        }
    }
}
