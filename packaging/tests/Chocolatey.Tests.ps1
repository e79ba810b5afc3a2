# The Chocolatey package as a release makes it: its layout, its .nuspec against
# what the community repository requires and recommends, VERIFICATION.txt
# against the MSI it carries, and its two scripts run with Chocolatey's helper
# functions replaced by test doubles that record what they are asked.
param(
    [Parameter(Mandatory = $true)] [string] $Nupkg,
    [Parameter(Mandatory = $true)] [string] $Msi,
    [Parameter(Mandatory = $true)] [string] $Version,
    [Parameter(Mandatory = $true)] [string] $Homepage
)

BeforeAll {
    Add-Type -AssemblyName System.IO.Compression.FileSystem
    $script:Unpacked = Join-Path ([IO.Path]::GetTempPath()) ("velmora-choco-" + [guid]::NewGuid())
    [IO.Compression.ZipFile]::ExtractToDirectory($Nupkg, $script:Unpacked)
    $zip = [IO.Compression.ZipFile]::OpenRead($Nupkg)
    $script:Entries = @($zip.Entries | ForEach-Object { $_.FullName })
    $zip.Dispose()
    [xml] $script:Nuspec = Get-Content -Raw (Join-Path $script:Unpacked 'velmora.nuspec')
    $script:MsiName = "Velmora-$Version-x64.msi"
    $script:Tools = Join-Path $script:Unpacked 'tools'
    $properties = & msiinfo export $Msi Property
    $script:ProductCode = ($properties | Where-Object { $_ -like "ProductCode`t*" }).Split("`t")[1].Trim()
}

AfterAll {
    Remove-Item -Recurse -Force $script:Unpacked -ErrorAction SilentlyContinue
}

Describe 'The package' {
    It 'holds the .nuspec, the package format''s parts, the two scripts, the MSI, the licence and the verification' {
        $expected = @('[Content_Types].xml', '_rels/.rels', 'tools/LICENSE.txt', 'tools/VERIFICATION.txt',
                      "tools/$script:MsiName", 'tools/chocolateyinstall.ps1', 'tools/chocolateyuninstall.ps1', 'velmora.nuspec')
        $script:Entries | Where-Object { $_ -notlike 'package/services/metadata/core-properties/*.psmdcp' } |
            Sort-Object | Should -Be ($expected | Sort-Object)
        @($script:Entries | Where-Object { $_ -like 'package/services/metadata/core-properties/*.psmdcp' }).Count | Should -Be 1
    }

    It 'carries the release''s MSI, byte for byte' {
        (Get-FileHash (Join-Path $script:Tools $script:MsiName)).Hash | Should -Be (Get-FileHash $Msi).Hash
    }

    It 'VERIFICATION.txt gives the MSI''s SHA256 and where the release publishes it' {
        $text = Get-Content -Raw (Join-Path $script:Tools 'VERIFICATION.txt')
        $text | Should -Match "SHA256: $((Get-FileHash $Msi -Algorithm SHA256).Hash)"
        $text | Should -Match ([regex]::Escape("/releases/download/v$Version/$script:MsiName"))
        $text | Should -Match 'SHA256SUMS'
    }

    It 'LICENSE.txt is the project''s licence' {
        Get-Content -Raw (Join-Path $script:Tools 'LICENSE.txt') | Should -Match '^MIT License'
    }
}

Describe 'The .nuspec' {
    It '<Field> is <Expected>' -ForEach @(
        @{ Field = 'id'; Expected = 'velmora' }
        @{ Field = 'version'; Expected = $Version }
        @{ Field = 'title'; Expected = 'Velmora' }
        @{ Field = 'projectUrl'; Expected = $Homepage }
        @{ Field = 'licenseUrl'; Expected = "$Homepage/releases/download/v$Version/LICENSE" }
        @{ Field = 'releaseNotes'; Expected = "$Homepage/releases/download/v$Version/CHANGELOG.md" }
    ) {
        $script:Nuspec.package.metadata.$Field | Should -Be $Expected
    }

    It '<Field> is there' -ForEach @(
        @{ Field = 'authors' }, @{ Field = 'owners' }, @{ Field = 'packageSourceUrl' }, @{ Field = 'projectSourceUrl' }, @{ Field = 'docsUrl' },
        @{ Field = 'bugTrackerUrl' }, @{ Field = 'summary' }, @{ Field = 'copyright' }
    ) {
        "$($script:Nuspec.package.metadata.$Field)".Trim() | Should -Not -BeNullOrEmpty
    }

    It 'its links are the project''s: the package''s own files where they live, the source repository' {
        foreach ($field in 'docsUrl', 'bugTrackerUrl') {
            $script:Nuspec.package.metadata.$field | Should -BeLike "$Homepage*"
        }
        $script:Nuspec.package.metadata.packageSourceUrl | Should -Be "$Homepage/tree/main/packaging/chocolatey"
        $script:Nuspec.package.metadata.projectSourceUrl | Should -Be $Homepage
    }

    It 'its description has at least 30 characters, and its tags are words apart' {
        $script:Nuspec.package.metadata.description.Length | Should -BeGreaterOrEqual 30
        $script:Nuspec.package.metadata.tags | Should -Match '^[a-z0-9-]+( [a-z0-9-]+)+$'
    }
}

Describe 'The scripts, with Chocolatey''s helpers as test doubles' {
    BeforeAll {
        $global:ChocolateyAsked = [System.Collections.Generic.List[hashtable]]::new()
        # The doubles take their arguments as the real helpers do: splatted by name.
        function global:Install-ChocolateyInstallPackage {
            param($packageName, $fileType, $file, $file64, $silentArgs, $validExitCodes)
            $global:ChocolateyAsked.Add(@{ Helper = 'Install'; packageName = $packageName; fileType = $fileType
                                           file64 = $file64; silentArgs = $silentArgs; validExitCodes = $validExitCodes
                                           MsiThere = (Test-Path -LiteralPath $file64) })
        }
        # msiexec /x through Chocolatey: the product is gone from Windows Installer's
        # UpgradeCodes key, unless a case keeps it.
        function global:Uninstall-ChocolateyPackage {
            param($packageName, $fileType, $file, $silentArgs, $validExitCodes)
            $global:ChocolateyAsked.Add(@{ Helper = 'Uninstall'; packageName = $packageName; fileType = $fileType
                                           silentArgs = $silentArgs; validExitCodes = $validExitCodes })
            if (-not $global:ChocolateyKeeps) {
                $code = ($silentArgs -split ' ')[0]
                $global:ChocolateyInstalled = @($global:ChocolateyInstalled | Where-Object { $_.Code -ne $code })
            }
        }
        # The registry's UpgradeCodes key of Velmora's UpgradeCode, as Windows
        # Installer keys it (the packed forms as Wine's installer wrote them).
        function global:Get-Item {
            param([string] $LiteralPath, $ErrorAction)
            if ($LiteralPath -like 'HKLM:\SOFTWARE\Classes\Installer\UpgradeCodes\*') {
                $global:ChocolateyKeys.Add($LiteralPath)
                if (-not $global:ChocolateyInstalled) { return }
                $key = [pscustomobject]@{ Names = @($global:ChocolateyInstalled | ForEach-Object { $_.Packed }) }
                $key | Add-Member -MemberType ScriptMethod -Name GetValueNames -Value { $this.Names }
                return $key
            }
            Microsoft.PowerShell.Management\Get-Item @PSBoundParameters
        }
        $env:ChocolateyPackageName = 'velmora'
        $env:ChocolateyPackageVersion = $Version
        $env:TEMP = [IO.Path]::GetTempPath()
    }
    AfterAll {
        Remove-Item Function:\Install-ChocolateyInstallPackage, Function:\Uninstall-ChocolateyPackage, Function:\Get-Item -ErrorAction SilentlyContinue
        Remove-Variable -Scope Global ChocolateyAsked, ChocolateyInstalled, ChocolateyKeeps, ChocolateyKeys -ErrorAction SilentlyContinue
    }
    BeforeEach {
        $global:ChocolateyAsked.Clear()
        $global:ChocolateyKeys = [System.Collections.Generic.List[string]]::new()
        $global:ChocolateyKeeps = $false
    }

    It '<Script> parses' -ForEach @(@{ Script = 'chocolateyinstall.ps1' }, @{ Script = 'chocolateyuninstall.ps1' }) {
        $errors = $null
        [System.Management.Automation.Language.Parser]::ParseFile((Join-Path $script:Tools $Script), [ref]$null, [ref]$errors) | Out-Null
        $errors | Should -BeNullOrEmpty
    }

    It 'installing runs the carried MSI silently, for the 64-bit system' {
        & (Join-Path $script:Tools 'chocolateyinstall.ps1')
        $global:ChocolateyAsked.Count | Should -Be 1
        $asked = $global:ChocolateyAsked[0]
        $asked.Helper | Should -Be 'Install'
        $asked.packageName | Should -Be 'velmora'
        $asked.fileType | Should -Be 'msi'
        $asked.file64 | Should -Be (Join-Path $script:Tools $script:MsiName)
        $asked.MsiThere | Should -BeTrue
        $asked.silentArgs | Should -Match '^/qn /norestart /l\*v '
        $asked.validExitCodes | Should -Be @(0, 3010, 1641)
        Test-Path -LiteralPath $asked.file64 | Should -BeFalse -Because 'the package keeps no copy of the MSI once installed'
    }

    It 'uninstalling with <Why>: msiexec /x for each, and <Ends>' -ForEach @(
        @{ Why = 'the version of another channel installed'; Keeps = $false; Ends = 'success'
           Installed = @(@{ Code = '{EA6756BA-84F9-55D1-A6EE-663B72CF939F}'; Packed = 'AB6576AE9F481D556AEE66B327FC39F9' }) }
        @{ Why = 'two versions installed'; Keeps = $false; Ends = 'success'
           Installed = @(@{ Code = '{EA6756BA-84F9-55D1-A6EE-663B72CF939F}'; Packed = 'AB6576AE9F481D556AEE66B327FC39F9' }
                         @{ Code = '{21EF78F9-2951-57DB-9540-02F9010BEFF0}'; Packed = '9F87FE121592BD755904209F10B0FE0F' }) }
        @{ Why = 'a version msiexec does not remove'; Keeps = $true; Ends = 'a failure'
           Installed = @(@{ Code = '{EA6756BA-84F9-55D1-A6EE-663B72CF939F}'; Packed = 'AB6576AE9F481D556AEE66B327FC39F9' }) }
        @{ Why = 'nothing installed'; Keeps = $false; Ends = 'success'; Installed = @() }
    ) {
        $global:ChocolateyInstalled = @($Installed | ForEach-Object { [pscustomobject]$_ })
        $global:ChocolateyKeeps = $Keeps
        $run = { & (Join-Path $script:Tools 'chocolateyuninstall.ps1') }
        if ($Keeps) {
            $run | Should -Throw '*still installed*'
        } else {
            & $run
        }
        $global:ChocolateyKeys | Should -Contain 'HKLM:\SOFTWARE\Classes\Installer\UpgradeCodes\A0B462D202FC2BD44B4107EC3FB87775'
        @($global:ChocolateyAsked | ForEach-Object { $_.silentArgs }) | Should -Be @($Installed | ForEach-Object { "$($_.Code) /qn /norestart" })
        foreach ($asked in $global:ChocolateyAsked) {
            $asked.fileType | Should -Be 'msi'
            $asked.validExitCodes | Should -Not -Contain 1605
        }
    }
}
