# The DSC 3 resource Velmora/FileCacheLimit as dsc runs it: each method a process
# with the desired state on standard input, on the simulated system (VELMORA_EXE),
# its output read against the manifest's instance schema, its log as JSON Lines.
# The machine's memory is a test double (8 GiB) wherever a case says so.
param(
    [Parameter(Mandatory = $true)] [string] $Manifest,
    [Parameter(Mandatory = $true)] [string] $Velmora,
    [Parameter(Mandatory = $true)] [string] $Version,
    [Parameter(Mandatory = $true)] [string] $Pwsh
)

BeforeAll {
    $script:Folder = Split-Path $Manifest
    $script:Resource = Get-Content -Raw $Manifest | ConvertFrom-Json
    $script:Schema = $script:Resource.schema.embedded
    . (Join-Path $PSScriptRoot '../../powershell/tests/SimulatedSystem.ps1')
    $script:Scratch = New-SimulatedSystem $Velmora 'velmora-dsc'
    function Get-SetCall { Get-CacheCall | Where-Object { $_ -like 'SetSystemFileCacheSize*' } }
    # Runs a method as dsc does: the script, one line of JSON on standard input.
    # With -Memory, the machine's memory is a test double of that many bytes.
    function Invoke-Method([string] $Method, [string] $Json, [uint64] $Memory = 0) {
        $script = Join-Path $script:Folder 'velmora-dsc.ps1'
        $double = if ($Memory) { "function Get-PhysicalMemory { [uint64]$Memory }; " } else { '' }
        $start = New-Object System.Diagnostics.ProcessStartInfo
        $start.FileName = $Pwsh
        $start.ArgumentList.Add('-NoLogo'); $start.ArgumentList.Add('-NoProfile'); $start.ArgumentList.Add('-NonInteractive')
        $start.ArgumentList.Add('-Command'); $start.ArgumentList.Add("$double& '$script' $Method; exit `$LASTEXITCODE")
        $start.UseShellExecute = $false
        $start.RedirectStandardInput = $true
        $start.RedirectStandardOutput = $true
        $start.RedirectStandardError = $true
        $process = [System.Diagnostics.Process]::Start($start)
        $process.StandardInput.WriteLine($Json)
        $process.StandardInput.Close()
        $errorText = $process.StandardError.ReadToEndAsync()
        $out = $process.StandardOutput.ReadToEnd()
        $process.WaitForExit()
        [pscustomobject]@{
            Exit   = $process.ExitCode
            Out    = @($out -split "`r?`n" | Where-Object { $_ })
            Log    = @($errorText.Result -split "`r?`n" | Where-Object { $_ })
        }
    }
    # Whether an instance keeps to the manifest's embedded schema, as far as it goes.
    function Test-Instance($Instance) {
        foreach ($property in $Instance.PSObject.Properties) {
            $rule = $script:Schema.properties.($property.Name)
            if (-not $rule) { return "unknown property $($property.Name)" }
            if ($property.Name -eq '_inDesiredState') {
                if ($property.Value -isnot [bool]) { return '_inDesiredState is not a boolean' }
                continue
            }
            $types = @($rule.type)
            $value = $property.Value
            $ok = ($null -eq $value -and $types -contains 'null') -or ($value -is [bool] -and $types -contains 'boolean') -or
                (($value -is [long] -or $value -is [int] -or $value -is [decimal] -or $value -is [double] -and $value -eq [math]::Floor($value)) -and $types -contains 'integer')
            if (-not $ok) { return "$($property.Name) = $value is not $($types -join ' or ')" }
        }
        return $null
    }
}

AfterAll {
    Remove-SimulatedSystem $script:Scratch
}

Describe 'The manifest' {
    It 'is JSON with the fields a DSC 3 manifest has, and only those' {
        $fields = $script:Resource.PSObject.Properties.Name
        $fields | Should -Be @('$schema', 'type', 'version', 'description', 'tags', 'get', 'test', 'set', 'exitCodes', 'schema')
        $script:Resource.'$schema' | Should -Be 'https://aka.ms/dsc/schemas/v3/bundled/resource/manifest.json'
        $script:Resource.type | Should -Be 'Velmora/FileCacheLimit'
        $script:Resource.version | Should -Be $Version
    }

    It '<Method> runs an executable that ships beside the manifest, with the state on standard input' -ForEach @(
        @{ Method = 'get' }, @{ Method = 'test' }, @{ Method = 'set' }
    ) {
        $entry = $script:Resource.$Method
        Test-Path -LiteralPath (Join-Path $script:Folder $entry.executable) | Should -BeTrue
        $entry.input | Should -Be 'stdin'
        $entry.args | Should -Be @($Method)
    }

    It 'every exit code is one the resource can end with, and each it ends with is listed' {
        $listed = @($script:Resource.exitCodes.PSObject.Properties.Name | ForEach-Object { [int]$_ }) | Sort-Object
        $source = Get-Content -Raw (Join-Path $script:Folder 'velmora-dsc.ps1')
        $used = @([regex]::Matches($source, '(?m)^\$Exit\w+ = (\d+)$') | ForEach-Object { [int]$_.Groups[1].Value }) + 0 | Sort-Object
        $listed | Should -Be $used
    }

    It 'its script and the Intune pair use no syntax newer than Windows PowerShell 5.1' {
        . (Join-Path $PSScriptRoot '../../powershell/tests/WindowsPowerShellSyntax.ps1')
        foreach ($file in (Join-Path $script:Folder 'velmora-dsc.ps1'), (Join-Path $PSScriptRoot '../intune/VelmoraFileCacheLimit.ps1')) {
            Get-SyntaxNewerThan51 $file | Should -BeNullOrEmpty
        }
    }

    It 'declares _inDesiredState by the published schema''s reference' {
        $script:Schema.properties._inDesiredState.'$ref' | Should -Be 'https://aka.ms/dsc/schemas/v3/resource/properties/inDesiredState.json'
    }
}

Describe 'The methods' {
    It 'get: the limits in force, as the schema says' {
        Set-SimulatedSystem "min=268435456`nmax=2147483648`nflags=5"
        $answer = Invoke-Method get '{"minimumMB":256,"maximumMB":2048}'
        $answer.Exit | Should -Be 0 -Because ($answer.Log -join "`n")
        $answer.Out.Count | Should -Be 1
        $state = $answer.Out[0] | ConvertFrom-Json
        Test-Instance $state | Should -BeNullOrEmpty
        $state.hardLimits | Should -BeTrue
        $state.minimumMB | Should -Be 256
        $state.maximumBytes | Should -Be 2147483648
        $state.flags | Should -Be 5
    }

    It '<Why>: test says <InDesired>, and set makes the state desired and a second set calls nothing' -ForEach @(
        @{ Why = 'sizes in MB, not in force'; State = "min=1048576`nmax=1073741824`nflags=0"; Json = '{"minimumMB":256,"maximumMB":2048}'; InDesired = $false; Min = '268435456'; Max = '2147483648'; Flags = '5' }
        @{ Why = 'sizes in MB, in force'; State = "min=268435456`nmax=2147483648`nflags=5"; Json = '{"minimumMB":256,"maximumMB":2048,"hardLimits":true}'; InDesired = $true; Min = '268435456'; Max = '2147483648'; Flags = '5' }
        @{ Why = 'percent of 8 GiB'; State = ''; Json = '{"minimumPercent":1,"maximumPercent":25}'; InDesired = $false; Min = '84934656'; Max = '2147483648'; Flags = '5' }
        @{ Why = 'hard limits off'; State = "min=268435456`nmax=2147483648`nflags=5"; Json = '{"hardLimits":false}'; InDesired = $false; Min = '268435456'; Max = '2147483648'; Flags = '0' }
        @{ Why = 'one hard limit alone, asked off'; State = "min=268435456`nmax=2147483648`nflags=1"; Json = '{"hardLimits":false}'; InDesired = $false; Min = '268435456'; Max = '2147483648'; Flags = '0' }
    ) {
        Set-SimulatedSystem $State
        $test = Invoke-Method test $Json -Memory 8GB
        $test.Exit | Should -Be 0
        $tested = $test.Out[0] | ConvertFrom-Json
        Test-Instance $tested | Should -BeNullOrEmpty
        $tested._inDesiredState | Should -Be $InDesired
        $set = Invoke-Method set $Json -Memory 8GB
        $set.Exit | Should -Be 0 -Because ($set.Log -join "`n")
        Test-Instance ($set.Out[0] | ConvertFrom-Json) | Should -BeNullOrEmpty
        $held = Get-Content -LiteralPath $env:VELMORA_SIM_STATE
        $held | Should -Contain "min=$Min"
        $held | Should -Contain "max=$Max"
        $held | Should -Contain "flags=$Flags"
        (Invoke-Method test $Json -Memory 8GB).Out[0] | ConvertFrom-Json | ForEach-Object { $_._inDesiredState } | Should -BeTrue
        Remove-Item -LiteralPath $env:VELMORA_SIM_LOG
        (Invoke-Method set $Json -Memory 8GB).Exit | Should -Be 0
        Get-SetCall | Should -BeNullOrEmpty -Because 'a second set finds the state desired'
    }

    It 'test is true exactly when get shows what was asked' -ForEach @(
        @{ State = "min=268435456`nmax=2147483648`nflags=5"; Json = '{"minimumMB":256,"maximumMB":2048}' }
        @{ State = "min=268435456`nmax=2147483648`nflags=4"; Json = '{"minimumMB":256,"maximumMB":2048}' }
        @{ State = "min=268435456`nmax=2147483648`nflags=0"; Json = '{"hardLimits":false}' }
        @{ State = "min=268435456`nmax=2147483648`nflags=1"; Json = '{"hardLimits":false}' }
    ) {
        Set-SimulatedSystem $State
        $asked = $Json | ConvertFrom-Json
        $got = (Invoke-Method get $Json).Out[0] | ConvertFrom-Json
        $shows = $true
        foreach ($property in $asked.PSObject.Properties) {
            if ($got.($property.Name) -ne $property.Value) { $shows = $false }
        }
        if (-not $asked.PSObject.Properties['hardLimits'] -and $got.hardLimits -ne $true) { $shows = $false }
        ((Invoke-Method test $Json).Out[0] | ConvertFrom-Json)._inDesiredState | Should -Be $shows
    }

    It '<Why>: exit code <Exit>, an error line, and nothing applied' -ForEach @(
        @{ Why = 'not JSON'; Json = 'minimumMB=256'; Exit = 1 }
        @{ Why = 'an unknown property'; Json = '{"minimumMB":256,"maximumMB":2048,"ensure":"Present"}'; Exit = 1 }
        @{ Why = 'missing sizes'; Json = '{}'; Exit = 2 }
        @{ Why = 'a size of 0'; Json = '{"minimumMB":0,"maximumMB":2048}'; Exit = 2 }
        @{ Why = 'a maximum above memory'; Json = '{"minimumMB":256,"maximumMB":8193}'; Exit = 2 }
        @{ Why = 'sizes with hard limits off'; Json = '{"hardLimits":false,"maximumMB":2048}'; Exit = 2 }
        @{ Why = 'the privilege not held'; Json = '{"minimumMB":256,"maximumMB":2048}'; Exit = 3; State = 'privilege=missing' }
        @{ Why = 'a maximum the system lowers'; Json = '{"minimumMB":256,"maximumMB":2048}'; Exit = 3; State = 'largest=1073741824' }
    ) {
        $state = if ($_.ContainsKey('State')) { $_.State } else { '' }
        Set-SimulatedSystem $state
        $answer = Invoke-Method set $Json -Memory 8GB
        $answer.Exit | Should -Be $Exit
        $last = $answer.Log[-1] | ConvertFrom-Json
        $last.level | Should -Be 'error'
        $last.message | Should -Not -BeNullOrEmpty
        if ($Exit -lt 3) {
            Get-SetCall | Should -BeNullOrEmpty
        }
        foreach ($line in $answer.Log) {
            { $line | ConvertFrom-Json } | Should -Not -Throw -Because "every log line is JSON: $line"
        }
    }

    It 'without Velmora.exe: exit code 4' {
        $saved = $env:VELMORA_EXE
        $env:VELMORA_EXE = Join-Path $script:Scratch 'no-such-program'
        try {
            (Invoke-Method get '{"hardLimits":false}').Exit | Should -Be 4
        } finally {
            $env:VELMORA_EXE = $saved
        }
    }
}
