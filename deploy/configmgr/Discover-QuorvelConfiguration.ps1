# Configuration Manager configuration item, discovery script (script
# setting, data type String): does the board match the Configuration.ini of
# the QUORVEL install on this machine?
#
# Writes one value: "Compliant" and the settings found when the board was
# read and matches a Configuration.ini that is there, valid and (where this
# script carries settings) the same as the settings it carries, otherwise
# "NonCompliant: " and the cause. Set the compliance rule to "begins with
# Compliant" and let it run the remediation script
# (Remediate-QuorvelConfiguration.ps1) where it is not. Exits 0 whenever it
# ran: Configuration Manager takes any other status as a failed discovery,
# not as "non-compliant".
#
# Output: one line on standard output, nothing on standard error.
# Windows PowerShell 5.1 or later, 32-bit or 64-bit host, Full or
# Constrained Language mode.
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
# it does not give.
function Format-Settings($Status) {
    $values = @($Status.settings | ForEach-Object {
            if ($_.default) { "$($_.value) (default)" } else { "$($_.value)" }
        })
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
            $keys = @($status.settings | Where-Object { $_.notValid } | ForEach-Object { $_.key })
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
    $missing = Get-MissingFile $folder
    if ($missing) { return "not installed: $missing not found" }
    $configuration = Join-Path $folder 'Configuration.ini'
    # The status program alone ends with 0 here (nothing to compare).
    if (-not (Test-Path -LiteralPath $configuration)) { return 'Configuration.ini not found' }
    if ($CarriedConfiguration.Trim()) {
        try { $differs = Test-DiffersFromCarried $configuration } catch { return 'Configuration.ini cannot be opened' }
        if ($differs) { return 'Configuration.ini differs from the settings this script carries' }
    }
    return Get-QuorvelState (Get-QuorvelStatus $folder)
}

try {
    $state = Get-DetectedState
} catch {
    $state = "the check could not run: $($_.Exception.Message)"
}
if ($state -like 'the board matches Configuration.ini*') {
    # "Compliant (0x1D: ports 1-2 protocol 1, ...)"
    $line = 'Compliant' + $state.Substring('the board matches Configuration.ini'.Length)
} else {
    $line = "NonCompliant: $state" -replace '\s+', ' '
}
if ($line.Length -gt 2048) { $line = $line.Substring(0, 2048) }
Write-Output $line
exit 0
