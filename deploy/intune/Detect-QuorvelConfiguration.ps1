# Intune Remediations, detection script: does the board match the
# Configuration.ini of the QUORVEL install on this machine?
#
# Exit 0 only when the board was read and matches a Configuration.ini that
# is there, valid and (where this script carries settings) the same as the
# settings it carries. Exit 1 in every other state (the board differs,
# cannot be reached, Configuration.ini is missing, not valid, cannot be
# opened or other than the carried settings, QUORVEL is not installed):
# Intune reads 1 as "issue found" and anything else as "no issue", so
# nothing wrong may end with another status.
#
# Output: one line on standard output, the only line the Intune console
# shows, naming the settings found; nothing on standard error, which Intune
# counts as a script error. Windows PowerShell 5.1 or later, 32-bit or
# 64-bit host, Full or Constrained Language mode.
Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'

# The Configuration.ini this deployment puts on every machine. Empty, as
# shipped: the Configuration.ini installed on each machine is the reference.
# Otherwise paste your whole Configuration.ini between the two lines below,
# the same into all three scripts (detection, remediation, discovery).
$CarriedConfiguration = @'
'@

# Written for Constrained Language mode, in which Windows PowerShell runs
# every script that App Control for Business (WDAC) or AppLocker does not
# allow: cmdlets, operators and casts to core types only, no New-Object and
# no method calls on .NET objects other than strings.

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

# The first file of the install that its folder lacks, or $null.
function Get-MissingFile([string]$Folder) {
    foreach ($file in @('QUORVELSerialProtocolStatus.exe', 'QUORVELSerialProtocolSelection.exe', 'QUORVEL.dll',
            'apply-configuration.cmd')) {
        if (-not (Test-Path -LiteralPath (Join-Path $Folder $file) -PathType Leaf)) { return $file }
    }
    return $null
}

# Text with its line ends made one kind and none at its end, for comparing.
function Get-ComparableText([string]$Text) {
    return ($Text -replace "`r`n|`r", "`n").TrimEnd("`n")
}

# Whether the installed Configuration.ini is other text than the settings
# this script carries (line ends and a byte-order mark aside).
function Test-DiffersFromCarried([string]$Path) {
    $installed = [string](Get-Content -LiteralPath $Path -Raw -Encoding UTF8)
    return (Get-ComparableText $installed) -cne (Get-ComparableText $CarriedConfiguration)
}

# The status program's JSON object (see docs/DEPLOYING.md) for the board and
# the Configuration.ini in the install folder, with its exit status; Object
# is $null when it printed none (it could not start).
function Get-QuorvelStatus([string]$Folder) {
    # Windows PowerShell 5.1 makes an error record of each line a program
    # writes to standard error, which under 'Stop' would end the script.
    $ErrorActionPreference = 'Continue'
    # The programs read Configuration.ini in their working directory, which
    # a program started with & takes from the current location.
    Push-Location -LiteralPath $Folder
    try {
        $output = @(& (Join-Path $Folder 'QUORVELSerialProtocolStatus.exe') --json 2>$null)
        $status = $LASTEXITCODE
    } finally {
        Pop-Location
    }
    $object = $null
    if ($output.Count -gt 0) {
        try { $object = ($output -join "`n") | ConvertFrom-Json } catch { $object = $null }
    }
    return @{ Object = $object; Status = $status }
}

# "0x1D: ports 1-2 protocol 1, slew rate 1; ports 3-4 protocol 3, slew
# rate 0": the settings Configuration.ini gives; "(default)" marks a value
# it does not give. (Loops, not pipelines: each pipeline cmdlet costs a
# detection run time that every healthy machine pays every day.)
function Format-Settings($Status) {
    $values = @()
    foreach ($setting in $Status.settings) {
        if ($setting.default) { $values += "$($setting.value) (default)" } else { $values += "$($setting.value)" }
    }
    return '0x{0:X2}: ports 1-2 protocol {1}, slew rate {3}; ports 3-4 protocol {2}, slew rate {4}' -f `
        $Status.asked, $values[0], $values[1], $values[2], $values[3]
}

# The state the status program's object tells, as the line after
# "QUORVEL: ", with a short cause.
function Get-QuorvelState($Run) {
    $status = $Run.Object
    if ($null -eq $status) {
        # A missing DLL, a program that could not start: the install is not whole.
        return "not installed: the status program ended with status $($Run.Status)"
    }
    switch ($status.state) {
        'matches' { return "the board matches Configuration.ini ($(Format-Settings $status))" }
        'differs' {
            $causes = @()
            if ($status.register0x13 -ne 0xC0) { $causes += 'register 0x13 0x{0:X2}, not 0xC0' -f $status.register0x13 }
            # Bits 6 and 7 hold no setting and are not compared.
            if (($status.register0x10 -band 0x3F) -ne $status.asked) {
                $causes += 'board 0x{0:X2}, Configuration.ini asks for 0x{1:X2}' -f $status.register0x10, $status.asked
            }
            return "the board differs from Configuration.ini: $($causes -join '; ') ($(Format-Settings $status))"
        }
        'boardNotRead' {
            if ($status.message) { return "the board cannot be reached: $($status.message)" }
            return 'the board cannot be reached'
        }
        'configurationNotFound' { return 'Configuration.ini not found' }
        'configurationCannotBeOpened' { return 'Configuration.ini cannot be opened' }
        'configurationNotValid' {
            $keys = @()
            foreach ($setting in $status.settings) { if ($setting.notValid) { $keys += $setting.key } }
            return "Configuration.ini holds a value that is not valid: $($keys -join ', ')"
        }
    }
    return "the status program tells a state this script does not know: $($status.state)"
}

# The state of this machine for detection and discovery, as the line after
# "QUORVEL: ".
function Get-DetectedState {
    $folder = Find-QuorvelFolder
    if (-not $folder) { return 'not installed' }
    if ($CarriedConfiguration.Trim()) {
        $configuration = Join-Path $folder 'Configuration.ini'
        if (-not (Test-Path -LiteralPath $configuration)) { return 'Configuration.ini not found' }
        try { $differs = Test-DiffersFromCarried $configuration } catch { return 'Configuration.ini cannot be opened' }
        if ($differs) { return 'Configuration.ini differs from the settings this script carries' }
    }
    $run = Get-QuorvelStatus $folder
    # The status program could not start: say which file the install lacks.
    if ($null -eq $run.Object) {
        $missing = Get-MissingFile $folder
        if ($missing) { return "not installed: $missing not found" }
    }
    # Without Configuration.ini the status program's state says so (its
    # exit status alone would be 0: nothing to compare).
    return Get-QuorvelState $run
}

# The keys whose value in Text the programs would not take, read as they
# read Configuration.ini: the first line that starts with the key, in any
# letter case, and "="; its value up to the line end, or to the end of the
# programs' 255-byte line piece; valid when it starts, after white space,
# with a number in the field's range ("%d", what follows does not count).
function Get-NotValidKey([string]$Text) {
    $lines = @($Text -split "`n")
    $fields = @(@('PROTOCOL_FOR_PORTS_1_AND_2', 3), @('PROTOCOL_FOR_PORTS_3_AND_4', 3),
        @('SLEW_RATE_FOR_PORTS_1_AND_2', 1), @('SLEW_RATE_FOR_PORTS_3_AND_4', 1))
    foreach ($field in $fields) {
        $key = $field[0]
        foreach ($line in $lines) {
            if ($line.Length -le $key.Length -or $line[$key.Length] -ne '=' -or
                $line.Substring(0, $key.Length).ToUpperInvariant() -cne $key) { continue }
            $value = $line.Substring($key.Length + 1)
            if ($value.Length -gt 254 - $key.Length) { $value = $value.Substring(0, 254 - $key.Length) }
            $valid = $false
            if ($value -match '^[\t\n\v\f\r ]*([+-]?)([0-9]+)') {
                $digits = $Matches[2].TrimStart('0')
                if ($digits -eq '') { $valid = $true }
                elseif ($Matches[1] -ne '-' -and $digits.Length -le 9) { $valid = [int]$digits -le $field[1] }
            }
            if (-not $valid) { $key }
            break
        }
    }
}

# Puts the settings this script carries into the install folder's
# Configuration.ini where its text differs: whole, as CRLF text (UTF-8; with
# a byte-order mark from Windows PowerShell 5.1), through a new file in the
# same folder that then takes the old one's place, so that a run cut short
# never leaves half a file.
function Write-CarriedConfiguration([string]$Folder) {
    $target = Join-Path $Folder 'Configuration.ini'
    if (Test-Path -LiteralPath $target -PathType Leaf) {
        if (-not (Test-DiffersFromCarried $target)) { return }
    }
    $new = Join-Path $Folder 'Configuration.ini.new'
    $text = ((Get-ComparableText $CarriedConfiguration) -replace "`n", "`r`n") + "`r`n"
    Set-Content -LiteralPath $new -Value $text -NoNewline -Encoding UTF8
    Move-Item -LiteralPath $new -Destination $target -Force
}

# cmd.exe of this Windows, which runs batch files.
function Get-Cmd {
    return Join-Path (Join-Path $env:SystemRoot 'System32') 'cmd.exe'
}

# Runs apply-configuration.cmd through cmd, as a start-up task would, and
# returns its exit status; its output goes to apply-configuration.log.
function Invoke-ApplyConfiguration([string]$Folder) {
    $ErrorActionPreference = 'Continue'
    # cmd takes away the first and the last quote of a /c line that holds a
    # special character, such as the ( ) of "Program Files (x86)": with the
    # quotes doubled the inner pair stays and keeps the path whole. The path
    # comes through a variable that cmd expands itself: PowerShell puts
    # quotes around an argument to cmd that holds a blank outside quotes,
    # which would undo the doubling; this argument holds none.
    # /d: no AutoRun commands from the registry.
    $env:QUORVEL_BATCH_FILE = Join-Path $Folder 'apply-configuration.cmd'
    $null = & (Get-Cmd) /d /c '""%QUORVEL_BATCH_FILE%""' 2>$null
    return $LASTEXITCODE
}

# Writes Line to standard error, where Intune keeps a remediation's error.
# Constrained Language mode reaches no .NET writer, and Write-Error would
# add PowerShell's own decoration around the line, so cmd echoes it. The
# line comes through a variable that delayed expansion (/v:on) reads after
# cmd has parsed its command: no character of the line can act as cmd
# syntax. (The line is never empty and starts with "QUORVEL:", so echo
# prints it as it is.)
function Write-StandardError([string]$Line) {
    $ErrorActionPreference = 'Continue'
    $env:QUORVEL_LINE = $Line
    $null = & (Get-Cmd) /d /v:on /c 'echo !QUORVEL_LINE!>&2'
}

# What the remediation did: the line after "QUORVEL: " and the exit status.
function Invoke-Remediation {
    $folder = Find-QuorvelFolder
    if (-not $folder) { return @{ State = 'not installed'; Status = 4 } }
    $missing = Get-MissingFile $folder
    if ($missing) { return @{ State = "not installed: $missing not found"; Status = 4 } }
    if ($CarriedConfiguration.Trim()) {
        $carried = Get-ComparableText $CarriedConfiguration
        $keys = @(Get-NotValidKey $carried)
        if ($keys.Count -gt 0) {
            return @{ State = "the settings this script carries hold a value that is not valid: $($keys -join ', ')"
                Status = 4 }
        }
        if (Test-Path -LiteralPath (Join-Path $folder 'Configuration.ini') -PathType Container) {
            return @{ State = 'Configuration.ini cannot be opened'; Status = 4 }
        }
        Write-CarriedConfiguration $folder
    }
    $applied = Invoke-ApplyConfiguration $folder
    # The state afterwards, from the status program.
    $run = Get-QuorvelStatus $folder
    $state = Get-QuorvelState $run
    $after = $null
    if ($null -ne $run.Object) { $after = $run.Object.state }
    if ($after -eq 'matches') { return @{ State = $state; Status = 0 } }
    if ($applied -ne 0) {
        if ($after -eq 'differs') {
            # A write the board refused: the board could be read again.
            $state = "apply-configuration.cmd ended with status $applied (see apply-configuration.log); $state"
        }
        return @{ State = $state; Status = $applied }
    }
    # Applied, yet not matching now: never 0.
    if ($run.Status -ne 0) { return @{ State = $state; Status = $run.Status } }
    return @{ State = $state; Status = 4 }
}

try {
    $state = Get-DetectedState
} catch {
    $state = "the check could not run: $($_.Exception.Message)"
}
$line = "QUORVEL: $state" -replace '\s+', ' '
# Intune shows at most 2,048 characters of the last line: the line fits.
if ($line.Length -gt 2048) { $line = $line.Substring(0, 2048) }
Write-Output $line
if ($state -like 'the board matches Configuration.ini*') { exit 0 }
exit 1
