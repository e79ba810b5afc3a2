# What Windows has and this machine has not, as test doubles that record what
# they are asked, for the suites that run the module's cmdlets: the task
# scheduler (Register-ScheduledTask keeps the definition it is handed,
# Get-ScheduledTask gives the task that definition makes, as the ScheduledTasks
# module's objects show it), the ACL tools, the performance counters' WMI class,
# and the registry. Dot-sourced; Install- in BeforeAll, Reset- in BeforeEach (it
# mocks the module's registry functions), Remove- in AfterAll.
#
#   $global:VelmoraAsked           what the scheduler and the ACL tools were asked
#   $global:VelmoraTaskXml         the registered task's definition, or $null
#   $global:VelmoraRemovedTaskXml  the definition of the task last unregistered
#   $global:VelmoraRegisterFails   Register-ScheduledTask throws, as a refusal
#   $global:VelmoraToolExit        the exit code of takeown or icacls (0 unless set)
#   $global:VelmoraRegistry        key path → value name → Value and Kind
#   $global:VelmoraRegistryFails   the key path whose writing throws
#   $global:VelmoraCountersFail    the counters' class cannot be read
#   $global:VelmoraClasses         the WMI classes asked for

$script:WindowsDoubles = 'Register-ScheduledTask', 'Get-ScheduledTask', 'Get-ScheduledTaskInfo', 'Unregister-ScheduledTask',
    'takeown', 'icacls', 'Get-CimInstance', 'Read-TaskDefinition'

function Install-WindowsDoubles {
    # A task definition as XML.
    function global:Read-TaskDefinition([string] $Text) {
        $definition = New-Object System.Xml.XmlDocument
        $definition.LoadXml($Text)
        $names = New-Object System.Xml.XmlNamespaceManager($definition.NameTable)
        $names.AddNamespace('t', 'http://schemas.microsoft.com/windows/2004/02/mit/task')
        [pscustomobject]@{ Document = $definition; Names = $names }
    }
    $global:VelmoraAsked = [System.Collections.Generic.List[string]]::new()
    $global:VelmoraClasses = [System.Collections.Generic.List[string]]::new()
    function global:Register-ScheduledTask {
        param($TaskName, $Xml, [switch] $Force)
        if ($global:VelmoraRegisterFails) { throw 'Access is denied.' }
        $global:VelmoraAsked.Add("register $TaskName Force=$Force")
        $global:VelmoraTaskXml = $Xml
    }
    function global:Get-ScheduledTask {
        param($TaskName)
        if (-not $global:VelmoraTaskXml) { return }
        $task = Read-TaskDefinition $global:VelmoraTaskXml
        $exec = $task.Document.SelectSingleNode('/t:Task/t:Actions/t:Exec', $task.Names)
        $triggers = foreach ($trigger in $task.Document.SelectNodes('/t:Task/t:Triggers/*', $task.Names)) {
            $interval = $trigger.SelectSingleNode('t:Repetition/t:Interval', $task.Names)
            [pscustomobject]@{ Repetition = [pscustomobject]@{ Interval = $(if ($interval) { $interval.InnerText }) } }
        }
        [pscustomobject]@{
            State    = 'Ready'
            Actions  = @([pscustomobject]@{
                    Execute   = $exec.SelectSingleNode('t:Command', $task.Names).InnerText
                    Arguments = $(if ($exec.SelectSingleNode('t:Arguments', $task.Names)) { $exec.SelectSingleNode('t:Arguments', $task.Names).InnerText })
                })
            Triggers = @($triggers)
        }
    }
    function global:Get-ScheduledTaskInfo { param($TaskName) [pscustomobject]@{ LastRunTime = $null; LastTaskResult = 267011 } }
    function global:Unregister-ScheduledTask {
        param($TaskName, [switch] $Confirm)
        $global:VelmoraAsked.Add("unregister $TaskName")
        $global:VelmoraRemovedTaskXml = $global:VelmoraTaskXml
        $global:VelmoraTaskXml = $null
    }
    function global:takeown { $global:VelmoraAsked.Add("takeown $args"); $global:LASTEXITCODE = [int]$global:VelmoraToolExit['takeown'] }
    function global:icacls { $global:VelmoraAsked.Add("icacls $args"); $global:LASTEXITCODE = [int]$global:VelmoraToolExit['icacls'] }
    function global:Get-CimInstance {
        param($ClassName)
        $global:VelmoraClasses.Add($ClassName)
        if ($global:VelmoraCountersFail) { throw 'Invalid class' }
        [pscustomobject]@{ CacheBytes = 123456789; CacheBytesPeak = 987654321; SystemCacheResidentBytes = 12345 }
    }
}

function Reset-WindowsDoubles {
    $global:VelmoraAsked.Clear()
    $global:VelmoraClasses.Clear()
    $global:VelmoraToolExit = @{}
    $global:VelmoraTaskXml = $null
    $global:VelmoraRemovedTaskXml = $null
    $global:VelmoraRegisterFails = $false
    $global:VelmoraRegistry = @{}
    $global:VelmoraRegistryFails = $null
    $global:VelmoraCountersFail = $false
    Mock -ModuleName Velmora Get-VelmoraRegistryKey {
        if ($global:VelmoraRegistry.Contains($Path)) { $global:VelmoraRegistry[$Path].Clone() }
    }
    Mock -ModuleName Velmora Set-VelmoraRegistryKey {
        if ($global:VelmoraRegistryFails -eq $Path) { throw 'Requested registry access is not allowed.' }
        if ($null -eq $Values) { $global:VelmoraRegistry.Remove($Path) } else { $global:VelmoraRegistry[$Path] = $Values.Clone() }
    }
}

function Remove-WindowsDoubles {
    foreach ($command in $script:WindowsDoubles) { Remove-Item "Function:\$command" -ErrorAction SilentlyContinue }
    Remove-Variable -Scope Global VelmoraAsked, VelmoraTaskXml, VelmoraRemovedTaskXml, VelmoraRegisterFails, VelmoraRegistry, VelmoraRegistryFails,
        VelmoraToolExit, VelmoraCountersFail, VelmoraClasses -ErrorAction SilentlyContinue
}
