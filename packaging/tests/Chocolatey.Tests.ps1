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
        @{ Field = 'authors' }, @{ Field = 'owners' }, @{ Field = 'packageSourceUrl' }, @{ Field = 'docsUrl' },
        @{ Field = 'bugTrackerUrl' }, @{ Field = 'summary' }, @{ Field = 'copyright' }
    ) {
        "$($script:Nuspec.package.metadata.$Field)".Trim() | Should -Not -BeNullOrEmpty
    }

    It 'its links are the project''s' {
        foreach ($field in 'packageSourceUrl', 'docsUrl', 'bugTrackerUrl') {
            $script:Nuspec.package.metadata.$field | Should -BeLike "$Homepage*"
        }
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
                                           file64 = $file64; silentArgs = $silentArgs; validExitCodes = $validExitCodes })
        }
        function global:Uninstall-ChocolateyPackage {
            param($packageName, $fileType, $file, $silentArgs, $validExitCodes)
            $global:ChocolateyAsked.Add(@{ Helper = 'Uninstall'; packageName = $packageName; fileType = $fileType
                                           silentArgs = $silentArgs; validExitCodes = $validExitCodes })
        }
        $env:ChocolateyPackageName = 'velmora'
        $env:ChocolateyPackageVersion = $Version
        $env:TEMP = [IO.Path]::GetTempPath()
    }
    AfterAll {
        Remove-Item Function:\Install-ChocolateyInstallPackage, Function:\Uninstall-ChocolateyPackage -ErrorAction SilentlyContinue
        Remove-Variable -Scope Global ChocolateyAsked -ErrorAction SilentlyContinue
    }
    BeforeEach { $global:ChocolateyAsked.Clear() }

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
        Test-Path -LiteralPath $asked.file64 | Should -BeTrue
        $asked.silentArgs | Should -Match '^/qn /norestart /l\*v '
        $asked.validExitCodes | Should -Be @(0, 3010, 1641)
    }

    It 'uninstalling removes the product through its MSI product code' {
        & (Join-Path $script:Tools 'chocolateyuninstall.ps1')
        $global:ChocolateyAsked.Count | Should -Be 1
        $asked = $global:ChocolateyAsked[0]
        $asked.Helper | Should -Be 'Uninstall'
        $asked.fileType | Should -Be 'msi'
        $asked.silentArgs | Should -Be "$script:ProductCode /qn /norestart"
        $asked.validExitCodes | Should -Contain 0
        $asked.validExitCodes | Should -Contain 1605
    }
}
