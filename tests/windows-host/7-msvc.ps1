# Windows step 7: the release ZIP's CMake package in a Visual Studio build
# (the newest Visual Studio generator, x64 for win64 and Win32 for win32):
# the consumer (msvc/) configures with find_package, links the import
# library, gets the DLL copied beside it and runs on a machine without the
# board: the library's "Driver is not installed", Windows error 2, status 1.
# Under Wine: no (Visual Studio and its generator are the runner's; the Microsoft-ABI consumers under Wine are run_consumers.sh's)
#
#   7-msvc.ps1 [-Unpacked FOLDER] [-System win64|win32] [-Work FOLDER]
param([string]$Unpacked, [string]$System, [string]$Work)
Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'
. (Join-Path $PSScriptRoot 'Check.ps1')
$Unpacked = Get-Setting $Unpacked 'QUORVEL_UNPACKED'
$System = Get-Setting $System 'QUORVEL_SYSTEM'
$script:Work = Get-Setting $Work 'QUORVEL_WORK'

$NoBoard = @{ Status = 1; Out = "Driver is not installed`nWindows error 2" }
$architecture = @{ win64 = 'x64'; win32 = 'Win32' }[$System]
$build = Join-Path $script:Work "msvc-$architecture"
$cmake = (Get-Command cmake.exe -CommandType Application | Select-Object -First 1).Source

$configure = Invoke-Program $cmake @('-S', (Join-Path $PSScriptRoot 'msvc'), '-B', $build, '-A', $architecture,
    "-DQUORVEL_DIR=$(Join-Path $Unpacked 'lib\cmake\QUORVEL')") $script:Work (Join-Path $script:Work 'configure')
Write-Output $configure.Out
Test-Check "CMake configures with the ZIP's package ($architecture)" $configure.Status 0
$built = Invoke-Program $cmake @('--build', $build, '--config', 'Release') $script:Work (Join-Path $script:Work 'build')
Write-Output $built.Out
Test-Check "builds and links QUORVEL.lib ($architecture)" $built.Status 0
$folder = Join-Path $build 'Release'
Test-Check 'QUORVEL.dll copied beside the program' (Test-Path -LiteralPath (Join-Path $folder 'QUORVEL.dll')) $true
$run = Invoke-Program (Join-Path $folder 'consumer.exe') @() $folder (Join-Path $script:Work 'run')
# The DLL's C runtime and the program's each flush their own standard
# output at exit: the lines are compared in sorted order.
$lines = (@($run.Out -split "`n") | Sort-Object) -join "`n"
Test-Check 'runs without the board: the message, the error, status 1' "$($run.Status)|$lines" `
    "$($NoBoard.Status)|$((@($NoBoard.Out -split "`n") | Sort-Object) -join "`n")"
Complete-Step
