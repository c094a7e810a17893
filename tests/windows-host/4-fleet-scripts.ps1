# Windows step 4: the fleet scripts of the release ZIP (deploy/), as Intune
# and Configuration Manager start them on a machine without the board: from
# the system folder, one child process per run, in each PowerShell host,
# judged here by exit status, standard output and standard error. Then the
# carried settings, a Configuration.ini another process holds open, and
# -ExecutionPolicy AllSigned with the signed scripts. Each host first
# records the language mode a script of ours gets in it.
#
# Run it once in Full Language mode and once with the lockdown policy on
# (__PSLockdownPolicy=4: every PowerShell process constrained, this one
# too, which is why it is written for Constrained Language mode). Runs
# under Wine here (the PowerShell test host of tests/deploy/host, its
# --constrained-language standing in for the policy; no AllSigned) and on
# the hosted runners (Windows PowerShell 5.1 64-bit and 32-bit, PowerShell 7).
#
#   4-fleet-scripts.ps1 [-Unpacked F] [-Artifact F] [-System S] [-Work F] [-Language Full|Constrained]
#                       [-TestHost EXE]
#     Unpacked  the release ZIP unpacked, the scripts as signed (QUORVEL_UNPACKED)
#     Artifact  build_artifact.sh's output, for the MSI (QUORVEL_ARTIFACT)
#     System    the MSI installed for the runs: win64 or win32 (QUORVEL_SYSTEM)
#     Work      a scratch folder whose path has no "System32" (QUORVEL_WORK)
#     Language  the mode the scripts must get: "constrained" or anything
#               else for Full (QUORVEL_EXTRA)
#     TestHost  the test host, in place of the Windows hosts (QUORVEL_TEST_HOST)
param([string]$Unpacked, [string]$Artifact, [string]$System, [string]$Work, [string]$Language, [string]$TestHost)
Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'
. (Join-Path $PSScriptRoot 'Check.ps1')

# What the scripts must do on a machine without the board, one row per run:
#   Script     Detect | Discover | Remediate
#   Carried    the script with Configuration.ini's text pasted into its
#              carried-settings block ($Carried below), or as shipped
#   Hold       another process holds the installed Configuration.ini open
#              (no delete sharing) while the script runs
#   Policy     the execution policy it runs under; AllSigned with the
#              carried copy (signature broken) must be refused
#   Status     its exit status, or 'non-zero'
#   Out, Err   regular expressions its standard output and error must match
#              (whole text, CR removed)
#   After      the installed Configuration.ini afterwards: 'sample' (the
#              package's, untouched) or 'carried' (the carried settings)
$OneLine = '^[^\n]+$'
$Rows = @(
    @{ Name = 'detection'; Script = 'Detect'; Carried = $false; Hold = $false; Policy = 'Bypass'; Status = 1
        Out = '^QUORVEL: the board cannot be reached: Driver is not installed$'; Err = '^$'; After = 'sample' }
    @{ Name = 'discovery'; Script = 'Discover'; Carried = $false; Hold = $false; Policy = 'Bypass'; Status = 0
        Out = '^NonCompliant: the board cannot be reached: Driver is not installed$'; Err = '^$'; After = 'sample' }
    @{ Name = 'remediation'; Script = 'Remediate'; Carried = $false; Hold = $false; Policy = 'Bypass'; Status = 'non-zero'
        Out = '^QUORVEL: the board cannot be reached: Driver is not installed$'
        Err = '^QUORVEL: the board cannot be reached: Driver is not installed$'; After = 'sample' }
    @{ Name = 'detection carrying other settings'; Script = 'Detect'; Carried = $true; Hold = $false; Policy = 'Bypass'
        Status = 1; Out = $OneLine; Err = '^$'; After = 'sample' }
    @{ Name = 'remediation carrying other settings'; Script = 'Remediate'; Carried = $true; Hold = $false
        Policy = 'Bypass'; Status = 'non-zero'; Out = $OneLine; Err = $OneLine; After = 'carried' }
    @{ Name = 'remediation carrying other settings, Configuration.ini held open'; Script = 'Remediate'; Carried = $true
        Hold = $true; Policy = 'Bypass'; Status = 'non-zero'; Out = $OneLine; Err = $OneLine; After = 'sample' }
    @{ Name = 'detection as signed, AllSigned'; Script = 'Detect'; Carried = $false; Hold = $false; Policy = 'AllSigned'
        Status = 1; Out = '^QUORVEL: the board cannot be reached: Driver is not installed$'; Err = '^$'; After = 'sample' }
    @{ Name = 'detection with its signature broken, AllSigned: refused'; Script = 'Detect'; Carried = $true; Hold = $false
        Policy = 'AllSigned'; Status = 'non-zero'; Out = '^$'; Err = '.'; After = 'sample' }
)
# The settings the carried copies hold (not the package's sample), and
# the empty block as shipped, into which they are pasted.
$Carried = "PROTOCOL_FOR_PORTS_1_AND_2=1`r`nPROTOCOL_FOR_PORTS_3_AND_4=3`r`nSLEW_RATE_FOR_PORTS_1_AND_2=1`r`nSLEW_RATE_FOR_PORTS_3_AND_4=0"
$EmptyCarriedBlock = "`$CarriedConfiguration = @'`r`n'@"
$ScriptPaths = @{ Detect = 'deploy\intune\Detect-QuorvelConfiguration.ps1'
    Remediate = 'deploy\intune\Remediate-QuorvelConfiguration.ps1'
    Discover = 'deploy\configmgr\Discover-QuorvelConfiguration.ps1' }

$Unpacked = Get-Setting $Unpacked 'QUORVEL_UNPACKED'
$Artifact = Get-Setting $Artifact 'QUORVEL_ARTIFACT'
$System = Get-Setting $System 'QUORVEL_SYSTEM'
$script:Work = Get-Setting $Work 'QUORVEL_WORK'
if (-not $Language) { $Language = [string]$env:QUORVEL_EXTRA }
if (-not $TestHost) { $TestHost = [string]$env:QUORVEL_TEST_HOST }
$expectedMode = 'FullLanguage'
if ($Language -eq 'constrained') { $expectedMode = 'ConstrainedLanguage' }
# A path with "System32" in it is trusted by the lockdown policy: the
# scripts run from here must not be.
if ($script:Work -match 'System32' -or $Unpacked -match 'System32') { throw 'the scripts must not lie below a System32' }
$system32 = Join-Path $env:SystemRoot 'System32'
Write-Output "this step runs in $($ExecutionContext.SessionState.LanguageMode); the scripts must get $expectedMode"

# The hosts: the Windows ones, or the test host under Wine.
if ($TestHost) {
    $modeArguments = @()
    if ($expectedMode -eq 'ConstrainedLanguage') { $modeArguments = @('--constrained-language') }
    $hosts = @(@{ Name = 'test host'; Program = $TestHost; Arguments = $modeArguments; Policies = $false })
} else {
    $windowsPowerShell = 'WindowsPowerShell\v1.0\powershell.exe'
    $hosts = @(
        @{ Name = 'Windows PowerShell 5.1 64-bit'; Program = (Join-Path $system32 $windowsPowerShell) }
        @{ Name = 'Windows PowerShell 5.1 32-bit'; Program = (Join-Path $env:SystemRoot "SysWOW64\$windowsPowerShell") }
        @{ Name = 'PowerShell 7'; Program = (Get-Command pwsh -CommandType Application | Select-Object -First 1).Source }
    )
    foreach ($entry in $hosts) {
        $entry.Arguments = @('-NoProfile', '-NonInteractive')
        $entry.Policies = $true
    }
}
# The host's arguments that run a script under an execution policy.
function Get-HostArgument($HostEntry, [string]$Policy, [string]$Script) {
    $arguments = @($HostEntry.Arguments)
    if ($HostEntry.Policies) { $arguments += @('-ExecutionPolicy', $Policy, '-File') }
    return $arguments + @($Script)
}
# The script's run in that host, from the system folder.
function Invoke-Script($HostEntry, [string]$Policy, [string]$Script) {
    return Invoke-Program $HostEntry.Program (Get-HostArgument $HostEntry $Policy $Script) $system32
}

# The package installed for the runs (QUORVEL must not be installed yet).
$first = ((Get-Content -LiteralPath (Join-Path $Artifact 'VERSIONS') -Raw).Trim() -split ' ')[0]
$package = Join-Path $Artifact "first\QUORVEL-$first-$System.msi"
$msiexec = Join-Path $system32 'msiexec.exe'
Test-Check "$System package installed" (Invoke-Program $msiexec @('/i', $package, '/qn')).Status 0
$installRoot = $env:ProgramW6432
if ($System -eq 'win32') { $installRoot = ${env:ProgramFiles(x86)} }
$configuration = Join-Path $installRoot 'QUORVEL\Configuration.ini'
$sample = Join-Path $script:Work 'sample-Configuration.ini'
Copy-Item -LiteralPath $configuration -Destination $sample

# The carried copies of the three scripts, beside each other in Work.
$carriedFolder = Join-Path $script:Work 'carried'
$null = New-Item -ItemType Directory -Path $carriedFolder -Force
foreach ($name in $ScriptPaths.Keys) {
    $text = [string](Get-Content -LiteralPath (Join-Path $Unpacked $ScriptPaths[$name]) -Raw)
    $at = $text.IndexOf($EmptyCarriedBlock)
    Test-Check "$name script has one empty carried-settings block" ($at -ge 0 -and $at -eq $text.LastIndexOf($EmptyCarriedBlock)) $true
    $filled = $text.Replace($EmptyCarriedBlock, "`$CarriedConfiguration = @'`r`n$Carried`r`n'@")
    Set-Content -LiteralPath (Join-Path $carriedFolder (Split-Path -Leaf $ScriptPaths[$name])) -Value $filled -NoNewline
}
$probe = Join-Path $script:Work 'language-mode.ps1'
Set-Content -LiteralPath $probe -Value '$ExecutionContext.SessionState.LanguageMode'
$sleeper = Join-Path $script:Work 'sleep.ps1'
Set-Content -LiteralPath $sleeper -Value 'Start-Sleep -Seconds 600'

# Configuration.ini as the carried settings or the sample ("line ends and a
# byte-order mark aside": the scripts may write either).
function Get-ConfigurationState {
    $text = ([string](Get-Content -LiteralPath $configuration -Raw -Encoding UTF8)).Replace("`r`n", "`n").TrimEnd("`n")
    if ($text -ceq $Carried.Replace("`r`n", "`n")) { return 'carried' }
    $sampleHash = (Get-FileHash -LiteralPath $sample -Algorithm SHA256).Hash
    if ((Get-FileHash -LiteralPath $configuration -Algorithm SHA256).Hash -eq $sampleHash) { return 'sample' }
    return "other: $text"
}

foreach ($hostEntry in $hosts) {
    $mode = Invoke-Script $hostEntry 'Bypass' $probe
    Test-Check "$($hostEntry.Name): a script's language mode" $mode.Out $expectedMode
    foreach ($row in $Rows) {
        $what = "$($hostEntry.Name), $($row.Name)"
        if ($row.Policy -ne 'Bypass' -and -not $hostEntry.Policies) {
            Skip-Check $what 'this host has no execution policy'
            continue
        }
        Copy-Item -LiteralPath $sample -Destination $configuration -Force
        $script = Join-Path $Unpacked $ScriptPaths[$row.Script]
        if ($row.Carried) { $script = Join-Path $carriedFolder (Split-Path -Leaf $ScriptPaths[$row.Script]) }
        $holder = $null
        if ($row.Hold) {
            # Start-Process opens a redirected input without delete sharing,
            # as an editor or a scanner holds a file: no one may replace it.
            $holder = Start-Process -FilePath $hostEntry.Program -ArgumentList (Join-CommandLine (Get-HostArgument $hostEntry 'Bypass' $sleeper)) `
                -RedirectStandardInput $configuration -RedirectStandardOutput (Join-Path $script:Work 'holder.out') `
                -RedirectStandardError (Join-Path $script:Work 'holder.err') -NoNewWindow -PassThru
            Start-Sleep -Seconds 2
            $replacement = Join-Path $script:Work 'replacement.ini'
            Set-Content -LiteralPath $replacement -Value 'replacement'
            $held = 'held'
            try { Move-Item -LiteralPath $replacement -Destination $configuration -Force } catch { $held = 'held open' }
            Test-Check "$what`: the file cannot be replaced while held (the rig)" $held 'held open'
        }
        $run = Invoke-Script $hostEntry $row.Policy $script
        if ($holder) {
            Stop-Process -InputObject $holder -Force
            Wait-Process -InputObject $holder
        }
        $status = "$($run.Status)"
        if ($row.Status -eq 'non-zero' -and $run.Status -ne 0) { $status = 'non-zero' }
        Test-Check "$what`: exit status" $status "$($row.Status)"
        Test-Check "$what`: standard output" (Get-MatchReport $run.Out $row.Out) 'as expected'
        Test-Check "$what`: standard error" (Get-MatchReport $run.Err $row.Err) 'as expected'
        Test-Check "$what`: Configuration.ini afterwards" (Get-ConfigurationState) $row.After
    }
}

Test-Check "$System package removed" (Invoke-Program $msiexec @('/x', $package, '/qn')).Status 0
Complete-Step
