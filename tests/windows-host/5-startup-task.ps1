# Windows step 5: the start-up task (deploy/task) in the real Task
# Scheduler on a machine without the board: schtasks /create /xml takes the
# file as shipped, /query /xml gives back its three triggers, /run runs it
# and its last result is apply-configuration.cmd's status for a machine
# with no board (after the task's own tries); then it is deleted. The task
# starts the win64 install, so the win64 package is installed for the run.
# Under Wine: no (Wine's schtasks neither queries XML nor runs tasks)
#
#   5-startup-task.ps1 [-Unpacked FOLDER] [-Artifact FOLDER] [-Work FOLDER]
#     Unpacked  the win64 release ZIP unpacked (QUORVEL_UNPACKED)
#     Artifact  build_artifact.sh's output, for the win64 MSI (QUORVEL_ARTIFACT)
#     Work      a scratch folder (QUORVEL_WORK)
param([string]$Unpacked, [string]$Artifact, [string]$Work)
Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'
. (Join-Path $PSScriptRoot 'Check.ps1')
$Unpacked = Get-Setting $Unpacked 'QUORVEL_UNPACKED'
$Artifact = Get-Setting $Artifact 'QUORVEL_ARTIFACT'
$script:Work = Get-Setting $Work 'QUORVEL_WORK'

# The batch file's status with no board (the status program's: the board
# cannot be read), and how long the task may take with its tries.
$NoBoardResult = 1
$TaskSeconds = 420
$taskName = 'QUORVEL apply configuration (CI)'
$definition = Join-Path $Unpacked 'deploy\task\QUORVEL-apply-configuration.xml'
$schtasks = Join-Path $env:SystemRoot 'System32\schtasks.exe'
$msiexec = Join-Path $env:SystemRoot 'System32\msiexec.exe'
$first = ((Get-Content -LiteralPath (Join-Path $Artifact 'VERSIONS') -Raw).Trim() -split ' ')[0]
$package = Join-Path $Artifact "first\QUORVEL-$first-win64.msi"

# The local names of the triggers of a task definition.
function Get-TriggerName([string]$Xml) {
    $document = [xml]$Xml
    return @($document.Task.Triggers.ChildNodes | Where-Object { $_.NodeType -eq 'Element' } | ForEach-Object { $_.LocalName })
}

Test-Check 'win64 package installed' (Invoke-Program $msiexec @('/i', $package, '/qn')).Status 0
$created = Invoke-Program $schtasks @('/create', '/tn', $taskName, '/xml', $definition, '/f')
Test-Check 'schtasks /create /xml takes the file' "$($created.Status) $($created.Err)".Trim() '0'
$queryFile = Join-Path $script:Work 'query'
$query = Invoke-Program $schtasks @('/query', '/tn', $taskName, '/xml') -OutFile $queryFile
Test-Check 'schtasks /query /xml: status' $query.Status 0
# schtasks may write the XML as UTF-16 without a byte-order mark.
$queried = $query.Out
if ($queried.Contains([string][char]0)) { $queried = [string](Get-Content -LiteralPath "$queryFile.out" -Raw -Encoding Unicode) }
$shipped = Get-TriggerName ([string](Get-Content -LiteralPath $definition -Raw))
Test-Check 'the definition has three triggers' $shipped.Count 3
Test-Check 'schtasks /query /xml gives back its triggers' ((Get-TriggerName $queried.Trim()) -join ' ') ($shipped -join ' ')

$started = Get-Date
Test-Check 'schtasks /run' (Invoke-Program $schtasks @('/run', '/tn', $taskName)).Status 0
# 267009: running; 267011: has not run yet.
do {
    Start-Sleep -Seconds 5
    $info = Get-ScheduledTaskInfo -TaskName $taskName
} while ($info.LastTaskResult -in @(267009, 267011) -and ((Get-Date) - $started).TotalSeconds -lt $TaskSeconds)
Test-Check "the task's last result: the batch file's status with no board" $info.LastTaskResult $NoBoardResult
$log = Join-Path $env:ProgramW6432 'QUORVEL\apply-configuration.log'
if (Test-Path -LiteralPath $log) { Write-Output "apply-configuration.log:"; Get-Content -LiteralPath $log }

Test-Check 'schtasks /delete' (Invoke-Program $schtasks @('/delete', '/tn', $taskName, '/f')).Status 0
Test-Check 'the task is gone' ((Invoke-Program $schtasks @('/query', '/tn', $taskName)).Status -ne 0) $true
Test-Check 'win64 package removed' (Invoke-Program $msiexec @('/x', $package, '/qn')).Status 0
Complete-Step
