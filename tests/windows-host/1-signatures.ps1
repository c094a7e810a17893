# Windows step 1: the release's signatures as Windows judges them, the
# throwaway roots trusted (certutil -addstore Root, by the workflow):
# Get-AuthenticodeSignature says Valid, time-stamped, for every binary and
# script of both releases' ZIPs and for both MSIs, all taken from the
# artifact; the expired signer's copy with a time stamp is Valid and the
# one without is not; signtool verify /pa /all agrees where the Windows SDK
# has signtool.
# Under Wine: no (Wine's WinVerifyTrust does not judge Authenticode chains, time stamps and expiry as Windows does)
#
#   1-signatures.ps1 [-Artifact FOLDER] [-System win64|win32] [-Work FOLDER]
param([string]$Artifact, [string]$System, [string]$Work)
Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'
. (Join-Path $PSScriptRoot 'Check.ps1')
$Artifact = Get-Setting $Artifact 'QUORVEL_ARTIFACT'
$System = Get-Setting $System 'QUORVEL_SYSTEM'
$script:Work = Get-Setting $Work 'QUORVEL_WORK'

# What is signed: in the ZIPs, every file with these extensions; each MSI.
$SignedExtensions = @('.exe', '.dll', '.ps1')
$files = @()
foreach ($release in @('first', 'second')) {
    foreach ($zip in (Get-ChildItem -LiteralPath (Join-Path $Artifact $release) -Filter "QUORVEL-*-$System.zip")) {
        $unpacked = Join-Path $script:Work "signatures-$($zip.BaseName)"
        Expand-Archive -LiteralPath $zip.FullName -DestinationPath $unpacked -Force
        $files += @(Get-ChildItem -LiteralPath $unpacked -Recurse -File | Where-Object { $SignedExtensions -contains $_.Extension })
    }
    $files += @(Get-ChildItem -LiteralPath (Join-Path $Artifact $release) -Filter "QUORVEL-*-$System.msi")
}
Test-Check 'signed files found (3 binaries, 3 scripts per ZIP; 1 MSI per release)' $files.Count 14

# "Status, time-stamped or not" as Get-AuthenticodeSignature sees it.
function Get-SignatureState([string]$Path) {
    $signature = Get-AuthenticodeSignature -LiteralPath $Path
    $stamped = 'not time-stamped'
    if ($signature.TimeStamperCertificate) { $stamped = 'time-stamped' }
    return "$($signature.Status), $stamped"
}
foreach ($file in $files) {
    Test-Check "Get-AuthenticodeSignature: $($file.Name) ($($file.DirectoryName | Split-Path -Leaf))" `
        (Get-SignatureState $file.FullName) 'Valid, time-stamped'
}
$expired = Join-Path $Artifact 'expired'
Test-Check 'expired signer, time-stamped inside its validity: Valid' `
    (Get-SignatureState (Join-Path $expired 'timestamped\QUORVELSerialProtocolStatus.exe')) 'Valid, time-stamped'
$untimestamped = Get-AuthenticodeSignature -LiteralPath (Join-Path $expired 'untimestamped\QUORVELSerialProtocolStatus.exe')
Write-Output "       (expired signer without a time stamp: $($untimestamped.Status): $($untimestamped.StatusMessage))"
Test-Check 'expired signer, no time stamp: not Valid' ($untimestamped.Status -ne 'Valid') $true

# signtool of the newest Windows SDK, for this machine's processor.
$signtool = Get-ChildItem -Path (Join-Path ${env:ProgramFiles(x86)} 'Windows Kits\10\bin\*\x64\signtool.exe') `
    -ErrorAction SilentlyContinue | Sort-Object FullName | Select-Object -Last 1
if ($signtool) {
    foreach ($file in $files) {
        $run = Invoke-Program $signtool.FullName @('verify', '/pa', '/all', $file.FullName)
        Test-Check "signtool verify /pa /all: $($file.Name)" $run.Status 0
    }
    $run = Invoke-Program $signtool.FullName @('verify', '/pa', '/all', (Join-Path $expired 'timestamped\QUORVELSerialProtocolStatus.exe'))
    Test-Check 'signtool: expired signer, time-stamped: verifies' $run.Status 0
    $run = Invoke-Program $signtool.FullName @('verify', '/pa', '/all', (Join-Path $expired 'untimestamped\QUORVELSerialProtocolStatus.exe'))
    Test-Check 'signtool: expired signer, no time stamp: refused' ($run.Status -ne 0) $true
} else {
    Skip-Check 'signtool verify' 'no signtool in the Windows SDK on this machine'
}
Complete-Step
