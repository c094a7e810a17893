# Windows step 3: the release's Windows Installer package through
# msiexec, silently, as a deployment tool runs it: install and compare the
# disk with the package's manifest; the administrator's Configuration.ini;
# upgrade to the second release (the disk is its manifest, the settings
# kept, one product under the upgrade code); a downgrade refused; removal
# (no program, no Uninstall key); then WiX's smoke.exe ICE validation,
# reported only. Needs an administrator and a machine where QUORVEL is not
# installed. Runs under Wine here (Wine's msiexec, without ICE validation)
# and on the hosted runners.
#
#   3-msi.ps1 [-Artifact FOLDER] [-System win64|win32] [-Logs FOLDER] [-Work FOLDER]
#     Artifact  build_artifact.sh's output (QUORVEL_ARTIFACT)
#     System    which package (QUORVEL_SYSTEM)
#     Logs      msiexec's verbose logs and smoke.exe's report go here (QUORVEL_LOGS)
#     Work      a scratch folder (QUORVEL_WORK)
param([string]$Artifact, [string]$System, [string]$Logs, [string]$Work)
Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'
. (Join-Path $PSScriptRoot 'Check.ps1')
$Artifact = Get-Setting $Artifact 'QUORVEL_ARTIFACT'
$System = Get-Setting $System 'QUORVEL_SYSTEM'
$Logs = Get-Setting $Logs 'QUORVEL_LOGS'
$script:Work = Get-Setting $Work 'QUORVEL_WORK'

$first, $second = (Get-Content -LiteralPath (Join-Path $Artifact 'VERSIONS') -Raw).Trim() -split ' '
$packages = @{}
$manifests = @{}
foreach ($release in @(@('first', $first), @('second', $second))) {
    $name = "QUORVEL-$($release[1])-$System.msi"
    $packages[$release[1]] = Join-Path (Join-Path $Artifact $release[0]) $name
    $manifests[$release[1]] = Read-Manifest (Join-Path (Join-Path $Artifact 'manifests') "$name.manifest")
}
# Where each package installs, and where its Uninstall entry is, seen from
# this (64-bit) process.
if ($System -eq 'win64') {
    $installed = Join-Path $env:ProgramW6432 'QUORVEL'
    $uninstall = 'HKLM:\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
} else {
    $installed = Join-Path ${env:ProgramFiles(x86)} 'QUORVEL'
    $uninstall = 'HKLM:\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall'
}
$msiexec = Join-Path $env:SystemRoot 'System32\msiexec.exe'

# msiexec's exit status for one silent run, its verbose log in Logs.
function Invoke-Msiexec([string]$Log, [string[]]$Arguments) {
    $run = Invoke-Program $msiexec ($Arguments + @('/qn', '/l*v', (Join-Path $Logs "3-$System-$Log.log")))
    return $run.Status
}
# "ProductCode DisplayName DisplayVersion" of each QUORVEL Uninstall entry.
function Get-UninstallEntry {
    $entries = @()
    foreach ($key in (Get-ChildItem -LiteralPath $uninstall)) {
        $values = Get-ItemProperty -LiteralPath $key.PSPath
        if ($values.PSObject.Properties['DisplayName'] -and $values.DisplayName -eq 'QUORVEL') {
            $entries += "$($key.PSChildName) $($values.DisplayName) $($values.DisplayVersion)"
        }
    }
    return $entries
}
# Windows Installer's registry form of a GUID: each group's hex digits
# reversed, the last two groups byte by byte.
function ConvertTo-PackedGuid([string]$Guid) {
    $hex = $Guid.Trim('{}').Replace('-', '')
    $reverse = { param($text) -join $text.ToCharArray()[($text.Length - 1)..0] }
    $packed = (& $reverse $hex.Substring(0, 8)) + (& $reverse $hex.Substring(8, 4)) + (& $reverse $hex.Substring(12, 4))
    for ($i = 16; $i -lt 32; $i += 2) { $packed += $hex[$i + 1] + $hex[$i] }
    return $packed.ToUpperInvariant()
}
# How many products the upgrade code of ProductCode holds (0 when no
# upgrade code lists it).
function Get-RelatedProductCount([string]$ProductCode) {
    $packed = ConvertTo-PackedGuid $ProductCode
    $root = 'HKLM:\SOFTWARE\Classes\Installer\UpgradeCodes'
    if (-not (Test-Path -LiteralPath $root)) { return 0 }
    foreach ($key in (Get-ChildItem -LiteralPath $root)) {
        $names = @($key.GetValueNames() | Where-Object { $_ })
        if ($names -contains $packed) { return $names.Count }
    }
    return 0
}
# The disk against a manifest, the administrator's Configuration.ini (when
# given) in place of the package's.
function Test-Disk([string]$What, [string[]]$Manifest, [string]$Settings) {
    $want = $Manifest
    if ($Settings) {
        $hash = (Get-FileHash -LiteralPath $Settings -Algorithm SHA256).Hash.ToLowerInvariant()
        $want = @($Manifest | ForEach-Object { if ($_ -like 'Configuration.ini *') { "Configuration.ini - $hash" } else { $_ } })
    }
    Test-Check "$What`: the install folder is the manifest" (Get-DiskManifest $installed) $want
}

Test-Check 'QUORVEL is not installed before the step' (Get-UninstallEntry) $null

# 1. Install the first release.
Test-Check "install $first`: msiexec's status" (Invoke-Msiexec "install-$first" @('/i', $packages[$first])) 0
Test-Disk "install $first" $manifests[$first]
$entry = @(Get-UninstallEntry)
Test-Check "install $first`: one Uninstall entry" ($entry -replace '^\S+ ', '') "QUORVEL $first"

# 2. The administrator's settings, saved over the sample as Notepad saves.
$settings = Join-Path $script:Work 'administrator-Configuration.ini'
Set-Content -LiteralPath $settings -Encoding ASCII -Value @(
    '# Set by the administrator', 'PROTOCOL_FOR_PORTS_1_AND_2=1', 'PROTOCOL_FOR_PORTS_3_AND_4=3',
    'SLEW_RATE_FOR_PORTS_1_AND_2=1', 'SLEW_RATE_FOR_PORTS_3_AND_4=0')
Copy-Item -LiteralPath $settings -Destination (Join-Path $installed 'Configuration.ini') -Force

# 3. Upgrade to the second release.
Test-Check "upgrade to $second`: msiexec's status" (Invoke-Msiexec "upgrade-$second" @('/i', $packages[$second])) 0
Test-Disk "upgrade to $second, the administrator's Configuration.ini kept" $manifests[$second] $settings
$entry = @(Get-UninstallEntry)
Test-Check "upgrade to $second`: one Uninstall entry, the new version" ($entry -replace '^\S+ ', '') "QUORVEL $second"
if ($entry.Count -eq 1) {
    Test-Check "upgrade to $second`: one product under the upgrade code" `
        (Get-RelatedProductCount ($entry[0] -split ' ')[0]) 1
}

# 4. The first release again: refused, nothing changed.
# 1603: a fatal error during installation (the launch condition's message).
Test-Check "downgrade to $first`: refused" (Invoke-Msiexec "downgrade-$first" @('/i', $packages[$first])) 1603
Test-Check "downgrade to $first`: the Uninstall entry stays" ((Get-UninstallEntry) -replace '^\S+ ', '') "QUORVEL $second"
Test-Disk "downgrade to $first refused" $manifests[$second] $settings

# 5. Removal: no program left, no Uninstall entry, no upgrade code entry.
$productCode = ($entry[0] -split ' ')[0]
Test-Check "removal: msiexec's status" (Invoke-Msiexec "remove-$second" @('/x', $packages[$second])) 0
$left = @()
if (Test-Path -LiteralPath $installed) {
    $left = @(Get-ChildItem -LiteralPath $installed -Recurse -File |
        Where-Object { $_.Extension -in @('.exe', '.dll', '.cmd') } | ForEach-Object { $_.Name })
}
Test-Check 'removal: no program left' ($left -join ', ') ''
Test-Check 'removal: no Uninstall entry' (Get-UninstallEntry) $null
Test-Check 'removal: no product under the upgrade code' (Get-RelatedProductCount $productCode) 0

# 6. The ICE rules of WiX 3's smoke.exe, where WiX is installed: reported,
# not judged yet (its findings go to the log for a decision on each).
$smoke = $null
if ($env:WIX) { $smoke = Join-Path $env:WIX 'bin\smoke.exe' }
if ($smoke -and (Test-Path -LiteralPath $smoke)) {
    foreach ($version in @($first, $second)) {
        $report = Join-Path $Logs "3-$System-smoke-$version.txt"
        $run = Invoke-Program $smoke @('-nologo', $packages[$version])
        Set-Content -LiteralPath $report -Value "smoke.exe status $($run.Status)`n$($run.Out)`n$($run.Err)"
        $findings = @(($run.Out + "`n" + $run.Err) -split "`n" | Where-Object { $_ -match 'ICE\d+' })
        Write-Output "report smoke.exe $($packages[$version]): status $($run.Status), $($findings.Count) ICE findings (see $report)"
        foreach ($finding in $findings) { Write-Output "       $finding" }
    }
} else {
    Skip-Check 'ICE validation' 'no smoke.exe (WiX 3, WIX set) on this machine'
}

Complete-Step
