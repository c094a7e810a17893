# Intune Remediations, remediation script (also Configuration Manager's
# remediation script): writes the settings this script carries, if any, to
# Configuration.ini in the QUORVEL install folder, then runs
# apply-configuration.cmd there, which sets the board from Configuration.ini
# where it differs.
#
# Exits 0 only when the board matches Configuration.ini afterwards; 1 when
# the board cannot be reached, 2 when it still differs, 4 when nothing was
# done (Configuration.ini missing, not valid, not read as written or cannot
# be opened or replaced; carried settings refused; a file of the install
# missing; QUORVEL not installed); otherwise apply-configuration.cmd's
# status. Its whole output is in apply-configuration.log in the install
# folder.
#
# Output: one line on standard output, the only line the Intune console
# shows; on a non-zero exit the same line on standard error too, the only
# output Intune keeps of a remediation.
#
# The status program judges, writes the carried settings (in one step,
# never a delete and then a move) and writes the line (see
# docs/DEPLOYING.md); this script finds the install, starts the programs
# and passes the line and status on. Windows PowerShell 5.1 or later,
# 32-bit or 64-bit host, Full or Constrained Language mode.

# The Configuration.ini this deployment puts on every machine. Empty, as
# shipped: the Configuration.ini installed on each machine is the reference.
# Otherwise paste your whole Configuration.ini, ASCII only, between the two
# lines below, the same into all three scripts (detection, remediation,
# discovery). Settings the programs would not read as written are refused:
# exit 4, the line named, nothing written.
$CarriedConfiguration = @'
'@
$env:QUORVEL_CARRIED_CONFIGURATION = $CarriedConfiguration

# The install folder: win64 first (see Detect-QuorvelConfiguration.ps1).
$line = 'QUORVEL: not installed'
$status = 4
foreach ($root in @($env:ProgramW6432, ${env:ProgramFiles(x86)}, $env:ProgramFiles)) {
    if (-not $root) { continue }
    $folder = "$root/QUORVEL"
    try {
        $output = & "$folder/QUORVELSerialProtocolStatus.exe" --install-carried --folder $folder 2>$null
    } catch { continue }
    $status = $LASTEXITCODE
    if ($status -eq 0) {
        # cmd takes away the first and the last quote of a /c line that
        # holds a special character, such as the ( ) of "Program Files
        # (x86)": with the quotes doubled the inner pair keeps the path
        # whole. The path comes through a variable that cmd expands itself,
        # since PowerShell would quote an argument holding a blank and undo
        # the doubling. /d: no AutoRun commands from the registry.
        $env:QUORVEL_BATCH_FILE = "$root\QUORVEL\apply-configuration.cmd"
        $null = & "$env:SystemRoot\System32\cmd.exe" /d /c '""%QUORVEL_BATCH_FILE%""' 2>$null
        $output = & "$folder/QUORVELSerialProtocolStatus.exe" --line --applied $LASTEXITCODE --folder $folder 2>$null
        $status = $LASTEXITCODE
    }
    if (-not $output) {
        # The program did not run (a missing QUORVEL.dll, say): nothing done.
        $output = "QUORVEL: not installed: the status program ended with status $status"
        $status = 4
    }
    $line = @($output)[-1]
    break
}
$line
if ($status -ne 0) {
    # Standard error, where Intune keeps a failed remediation's line. cmd
    # echoes it: Constrained Language mode reaches no .NET writer, and
    # Write-Error would decorate it. Delayed expansion (/v:on) reads the
    # line after cmd has parsed its command, so no character of it acts as
    # cmd syntax.
    $env:QUORVEL_LINE = $line
    try { $null = & "$env:SystemRoot\System32\cmd.exe" /d /v:on /c 'echo !QUORVEL_LINE!>&2' } catch { }
}
exit $status
