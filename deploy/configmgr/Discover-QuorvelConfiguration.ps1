# Configuration Manager configuration item, discovery script (script
# setting, data type String): does the board match the Configuration.ini of
# the QUORVEL install on this machine?
#
# Writes one value: exactly "Compliant" when the board was read and matches
# a Configuration.ini that is there, valid, read as written and (where this
# script carries settings) the same as the settings it carries, otherwise
# "NonCompliant: " and the cause. Set the compliance rule to "Equals
# Compliant" and let it run the remediation script
# (Remediate-QuorvelConfiguration.ps1) where it is not: Configuration
# Manager remediates only rules that use Equals. Exits 0 whenever it ran:
# Configuration Manager takes any other status as a failed discovery, not
# as "non-compliant". Nothing on standard error.
#
# The status program judges and writes the value (see docs/DEPLOYING.md);
# this script finds the install, starts the program and passes its value
# on. Windows PowerShell 5.1 or later, 32-bit or 64-bit host, Full or
# Constrained Language mode, no cmdlet.

# The Configuration.ini this deployment puts on every machine. Empty, as
# shipped: the Configuration.ini installed on each machine is the reference.
# Otherwise paste your whole Configuration.ini, ASCII only, between the two
# lines below, the same into all three scripts (detection, remediation,
# discovery).
$CarriedConfiguration = @'
'@
$env:QUORVEL_CARRIED_CONFIGURATION = $CarriedConfiguration

# The install folder: win64 first (see Detect-QuorvelConfiguration.ps1).
$value = 'NonCompliant: not installed'
foreach ($root in @($env:ProgramW6432, ${env:ProgramFiles(x86)}, $env:ProgramFiles)) {
    if (-not $root) { continue }
    # (It writes nothing to standard error with these arguments, so none
    # is redirected: a redirection costs PowerShell more than the program.)
    try {
        $output = & "$root/QUORVEL/QUORVELSerialProtocolStatus.exe" --compliance --folder "$root/QUORVEL"
    } catch { continue }
    # No value: the program did not run (a missing QUORVEL.dll, say).
    $value = "NonCompliant: not installed: the status program ended with status $LASTEXITCODE"
    if ($output) { $value = @($output)[-1] }
    break
}
$value
exit 0
