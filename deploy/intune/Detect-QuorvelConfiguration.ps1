# Intune Remediations, detection script: does the board match the
# Configuration.ini of the QUORVEL install on this machine?
#
# Exit 0 only when the board was read and matches a Configuration.ini that
# is there and valid. Exit 1 in every other state (the board differs, cannot
# be reached, Configuration.ini is missing, not valid or cannot be opened,
# QUORVEL is not installed): Intune reads 1 as "issue found" and anything
# else as "no issue", so nothing wrong may end with another status.
#
# Output: one line on standard output, the only line the Intune console
# shows; nothing on standard error, which Intune counts as a script error.
# Windows PowerShell 5.1 or later, 32-bit or 64-bit host.
Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'

# The install folder: win64 first. A 32-bit host on 64-bit Windows sees
# ProgramFiles as "Program Files (x86)"; ProgramW6432 names the 64-bit one.
# On 32-bit Windows only ProgramFiles is set.
function Find-QuorvelFolder {
    foreach ($root in @($env:ProgramW6432, ${env:ProgramFiles(x86)}, $env:ProgramFiles)) {
        if ($root) {
            $folder = Join-Path $root 'QUORVEL'
            if (Test-Path -LiteralPath (Join-Path $folder 'QUORVELSerialProtocolStatus.exe') -PathType Leaf) {
                return $folder
            }
        }
    }
    return $null
}

# Runs a program in the install folder, which the programs read
# Configuration.ini from; this script's own location stays. A Process, not
# "& program 2>&1": Windows PowerShell 5.1 turns a program's standard-error
# lines into error records, which could reach this script's standard error.
function Invoke-InFolder([string]$Folder, [string]$File, [string]$Arguments) {
    $start = New-Object System.Diagnostics.ProcessStartInfo
    $start.FileName = $File
    $start.Arguments = $Arguments
    $start.WorkingDirectory = $Folder
    $start.UseShellExecute = $false
    $start.CreateNoWindow = $true
    $start.RedirectStandardOutput = $true
    $start.RedirectStandardError = $true
    $process = [System.Diagnostics.Process]::Start($start)
    # Both pipes are read at once: a program that fills one while this
    # script waits on the other would never end.
    $errors = $process.StandardError.ReadToEndAsync()
    $output = $process.StandardOutput.ReadToEnd()
    $process.WaitForExit()
    return @{ Status = $process.ExitCode; Output = $output + $errors.Result }
}

# The state the programs' exit status and output tell, as the line after
# "QUORVEL: ", with a short cause. Status 0, 1, 2 and 4 mean the same for
# the status program and apply-configuration.cmd.
function Get-QuorvelState([int]$Status, [string]$Output) {
    # Only the status program's last run counts: apply-configuration.cmd
    # runs it again after applying.
    $at = $Output.LastIndexOf('QUORVEL Serial Protocol Status')
    if ($at -ge 0) { $Output = $Output.Substring($at) }
    # The selection tool's banner and a library message can share a line
    # (neither ends it), and so can a message and the batch file's last line.
    $lines = @($Output -split "`r?`n" | ForEach-Object {
            ($_ -replace '^QUORVEL Protocol Selection Demo|apply-configuration: exit status -?\d+$', '').Trim()
        } | Where-Object { $_ -ne '' })
    $last = ''
    if ($lines.Count -gt 0) { $last = $lines[-1] }
    if ($Status -eq 0 -and $Output -match 'The board matches Configuration\.ini') {
        return 'the board matches Configuration.ini'
    }
    if ($Output -match 'Configuration\.ini not found') { return 'Configuration.ini not found' }
    if ($Status -eq 1) { return "the board cannot be reached: $last" }
    if ($Status -eq 2) {
        $causes = @()
        if ($Output -match 'Register 0x13: board (0x[0-9A-F]{2}), \S+ writes (0x[0-9A-F]{2})') {
            $causes += "register 0x13 $($Matches[1]), not $($Matches[2])"
        }
        if ($Output -match 'Register 0x10: (0x[0-9A-F]{2})') { $board = $Matches[1] } else { $board = '?' }
        if ($Output -match 'Configuration\.ini asks for (0x[0-9A-F]{2})') { $asked = $Matches[1] } else { $asked = '?' }
        # Bits 6 and 7 hold no setting and are not compared.
        if ($board -eq '?' -or $asked -eq '?' -or (([Convert]::ToInt32($board, 16) -band 0x3F) -ne [Convert]::ToInt32($asked, 16))) {
            $causes += "board $board, Configuration.ini asks for $asked"
        }
        return 'the board differs from Configuration.ini: ' + ($causes -join '; ')
    }
    if ($Status -eq 4) {
        if ($Output -match 'cannot be opened') { return 'Configuration.ini cannot be opened' }
        $keys = @([regex]::Matches($Output, 'Configuration\.ini: (\S+) is not valid') | ForEach-Object { $_.Groups[1].Value })
        if ($keys.Count -gt 0) { return 'Configuration.ini holds a value that is not valid: ' + ($keys -join ', ') }
        # apply-configuration.cmd names a file the folder lacks.
        if ($Output -match 'apply-configuration: (\S+) not found') { return "not installed: $($Matches[1]) not found" }
    }
    # A missing DLL, a program that could not start: the install is not whole.
    return "not installed: the program ended with status $Status"
}

try {
    $folder = Find-QuorvelFolder
    if (-not $folder) {
        $state = 'not installed'
    } elseif (-not (Test-Path -LiteralPath (Join-Path $folder 'Configuration.ini'))) {
        # The status program alone ends with 0 here (nothing to compare).
        $state = 'Configuration.ini not found'
    } else {
        $run = Invoke-InFolder $folder (Join-Path $folder 'QUORVELSerialProtocolStatus.exe') ''
        $state = Get-QuorvelState $run.Status $run.Output
    }
} catch {
    $state = "the check could not run: $($_.Exception.Message)"
}
$line = "QUORVEL: $state" -replace '\s+', ' '
# Intune shows at most 2,048 characters of the last line: the line fits.
if ($line.Length -gt 2048) { $line = $line.Substring(0, 2048) }
Write-Output $line
if ($state -eq 'the board matches Configuration.ini') { exit 0 }
exit 1
