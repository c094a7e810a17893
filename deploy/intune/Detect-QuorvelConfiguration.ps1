# Intune Remediations, detection script: does the board match the
# Configuration.ini of the QUORVEL install on this machine?
#
# Exit 0 only when the board was read and matches a Configuration.ini that
# is there, valid, read as written and (where this script carries settings)
# the same as the settings it carries. Exit 1 in every other state: Intune
# reads 1 as "issue found" and anything else as "no issue", so nothing wrong
# may end with another status.
#
# Output: one line on standard output, naming the settings found, the only
# line the Intune console shows; nothing on standard error, which Intune
# counts as a script error.
#
# The status program judges and writes the line (see docs/DEPLOYING.md);
# this script finds the install, starts the program and passes its line
# on. Windows PowerShell 5.1 or later, 32-bit or 64-bit host, Full or
# Constrained Language mode. No cmdlet runs on a healthy machine: the
# first cmdlet of a module costs more than the whole check.

# The Configuration.ini this deployment puts on every machine. Empty, as
# shipped: the Configuration.ini installed on each machine is the reference.
# Otherwise paste your whole Configuration.ini, ASCII only, between the two
# lines below, the same into all three scripts (detection, remediation,
# discovery). The status program compares it with the installed file.
$CarriedConfiguration = @'
'@
$env:QUORVEL_CARRIED_CONFIGURATION = $CarriedConfiguration

# The install folder: win64 first. A 32-bit host on 64-bit Windows sees
# ProgramFiles as "Program Files (x86)"; ProgramW6432 names the 64-bit one;
# 32-bit Windows sets only ProgramFiles. A folder without the status
# program is passed over. ("/" separates in Windows paths too.)
$line = 'QUORVEL: not installed'
$status = 1
foreach ($root in @($env:ProgramW6432, ${env:ProgramFiles(x86)}, $env:ProgramFiles)) {
    if (-not $root) { continue }
    # (It writes nothing to standard error with these arguments, so none
    # is redirected: a redirection costs PowerShell more than the program.)
    try {
        $output = & "$root/QUORVEL/QUORVELSerialProtocolStatus.exe" --line --folder "$root/QUORVEL"
    } catch { continue }
    $status = $LASTEXITCODE
    # No line: the program did not run (a missing QUORVEL.dll, say).
    $line = "QUORVEL: not installed: the status program ended with status $status"
    if ($output) { $line = @($output)[-1] }
    break
}
$line
if ($status -eq 0 -and $output) { exit 0 }
exit 1
