# Windows step 2: the programs of the release ZIP on a machine without the
# board, started with nothing but System32 on PATH (a runtime DLL the
# release forgot would be found nowhere else), and the DLLs each one and
# QUORVEL.dll import, against the list below.
# Runs under Wine here (tests/windows-host/run_under_wine.sh) and on the
# hosted runners; Full Language mode (it reads the PE headers with .NET).
#
# First, the unpacked ZIP against its manifest: every byte as the build
# made it, through the artifact's upload, download and unpacking.
#
#   2-programs.ps1 [-Unpacked FOLDER] [-Artifact FOLDER] [-System win64|win32] [-Work FOLDER]
#     Unpacked  the first release's ZIP unpacked (QUORVEL_UNPACKED)
#     Artifact  build_artifact.sh's output, for the manifest (QUORVEL_ARTIFACT)
#     System    which release (QUORVEL_SYSTEM)
#     Work      a folder for the programs' output (QUORVEL_WORK)
param([string]$Unpacked, [string]$Artifact, [string]$System, [string]$Work)
Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'
. (Join-Path $PSScriptRoot 'Check.ps1')
$Unpacked = Get-Setting $Unpacked 'QUORVEL_UNPACKED'
$Artifact = Get-Setting $Artifact 'QUORVEL_ARTIFACT'
$System = Get-Setting $System 'QUORVEL_SYSTEM'
$bin = Join-Path $Unpacked 'bin'
$script:Work = Get-Setting $Work 'QUORVEL_WORK'

# What each binary may import: Windows's own DLLs present on every
# supported version (msvcrt.dll included), and QUORVEL.dll for the programs.
$AllowedImports = @{
    'QUORVEL.dll' = @('ADVAPI32.dll', 'KERNEL32.dll', 'msvcrt.dll', 'USER32.dll')
    'QUORVELSerialProtocolSelection.exe' = @('ADVAPI32.dll', 'KERNEL32.dll', 'msvcrt.dll', 'QUORVEL.dll')
    'QUORVELSerialProtocolStatus.exe' = @('ADVAPI32.dll', 'KERNEL32.dll', 'msvcrt.dll', 'QUORVEL.dll')
}
# With no board (no driver): what the programs print and their statuses.
$NoBoard = @{
    StatusJson = @{ state = 'boardNotRead'; message = 'Driver is not installed'; windowsError = 2; Status = 1 }
    Selection = @{ Out = "`nQUORVEL Protocol Selection DemoDriver is not installed"; Status = 1 }
    # The Windows error the library leaves in the thread's last error.
    LastError = 2
}

# The names of the DLLs a PE file imports, directly or delay-loaded.
function Get-PeImport([string]$Path) {
    $bytes = [System.IO.File]::ReadAllBytes($Path)
    $u16 = { param($at) [int][BitConverter]::ToUInt16($bytes, $at) }
    $u32 = { param($at) [long][BitConverter]::ToUInt32($bytes, $at) }
    $pe = & $u32 0x3C
    $sections = & $u16 ($pe + 6)
    $optional = $pe + 24
    $sectionTable = $optional + (& $u16 ($pe + 20))
    # Data directories: after 96 bytes of a PE32 optional header, 112 of PE32+.
    $directories = $optional + 96
    if ((& $u16 $optional) -eq 0x20B) { $directories = $optional + 112 }
    $toOffset = {
        param($rva)
        for ($i = 0; $i -lt $sections; $i++) {
            $section = $sectionTable + 40 * $i
            $start = & $u32 ($section + 12)
            if ($rva -ge $start -and $rva -lt $start + [Math]::Max((& $u32 ($section + 8)), (& $u32 ($section + 16)))) {
                return $rva - $start + (& $u32 ($section + 20))
            }
        }
        throw "RVA $rva of $Path is in no section"
    }
    $readName = {
        param($rva)
        $at = & $toOffset $rva
        $end = [Array]::IndexOf($bytes, [byte]0, [int]$at)
        return [System.Text.Encoding]::ASCII.GetString($bytes, $at, $end - $at)
    }
    $names = @()
    # Directory 1: import descriptors of 20 bytes, the name's RVA at 12.
    # Directory 13: delay-load descriptors of 32 bytes, the name's RVA at 4.
    foreach ($kind in @(@(1, 20, 12), @(13, 32, 4))) {
        $rva = & $u32 ($directories + 8 * $kind[0])
        if ($rva -eq 0) { continue }
        $at = & $toOffset $rva
        while ((& $u32 ($at + $kind[2])) -ne 0) {
            $names += & $readName (& $u32 ($at + $kind[2]))
            $at += $kind[1]
        }
    }
    return $names
}

$first = ((Get-Content -LiteralPath (Join-Path $Artifact 'VERSIONS') -Raw).Trim() -split ' ')[0]
$manifest = Join-Path $Artifact "manifests\QUORVEL-$first-$System.zip.manifest"
Test-Check "the unpacked ZIP is its manifest" (Get-DiskManifest $Unpacked) (Read-Manifest $manifest)

# Only System32 on PATH for the programs started from here on.
$env:PATH = Join-Path $env:SystemRoot 'System32'

foreach ($file in ($AllowedImports.Keys | Sort-Object)) {
    $path = Join-Path $bin $file
    $imports = @(Get-PeImport $path)
    # (A reader that found nothing would pass every list.)
    $notAllowed = @()
    if ($imports -notcontains 'KERNEL32.dll') { $notAllowed += '(KERNEL32.dll not among the imports read)' }
    foreach ($name in $imports) {
        $allowed = $false
        foreach ($entry in $AllowedImports[$file]) { if ($entry -ieq $name) { $allowed = $true } }
        if (-not $allowed) { $notAllowed += $name }
    }
    Test-Check "$file imports only $($AllowedImports[$file] -join ', ')" ($notAllowed -join ', ') ''
}

$run = Invoke-Program (Join-Path $bin 'QUORVELSerialProtocolStatus.exe') @('--json') $bin
Test-Check 'status program --json, no board: exit status' $run.Status $NoBoard.StatusJson.Status
$json = $null
try { $json = $run.Out | ConvertFrom-Json } catch { $json = $null }
if ($null -eq $json) {
    Test-Check 'status program --json, no board: one JSON object' $run.Out '(a JSON object)'
} else {
    Test-Check 'status program --json, no board: state, message and Windows error' `
        "$($json.state): $($json.message) (Windows error $($json.windowsError))" `
        "$($NoBoard.StatusJson.state): $($NoBoard.StatusJson.message) (Windows error $($NoBoard.StatusJson.windowsError))"
}
Test-Check 'status program --json, no board: nothing on standard error' $run.Err ''

$run = Invoke-Program (Join-Path $bin 'QUORVELSerialProtocolSelection.exe') @() $bin
Test-Check 'selection tool, no board: its message and status' "$($run.Status)|$($run.Out)" `
    "$($NoBoard.Selection.Status)|$($NoBoard.Selection.Out)"

# The library's own answer without the board: QUORVEL_INIT fails with the
# Windows error the driver's absence gives (file not found), through the
# same DLL loaded into this process.
$libraryPath = (Join-Path $bin 'QUORVEL.dll') -replace '\\', '\\'
$library = Add-Type -PassThru -Name ('Quorvel' + [Guid]::NewGuid().ToString('N')) -Namespace QuorvelSteps `
    -MemberDefinition @"
[System.Runtime.InteropServices.DllImport("$libraryPath", CallingConvention = System.Runtime.InteropServices.CallingConvention.Cdecl, SetLastError = true)]
public static extern int QUORVEL_INIT();
"@
$result = $library::QUORVEL_INIT()
$lastError = [System.Runtime.InteropServices.Marshal]::GetLastWin32Error()
Test-Check 'QUORVEL_INIT, no board: -1 and the Windows error' "$result $lastError" "-1 $($NoBoard.LastError)"

Complete-Step
