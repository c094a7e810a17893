# Dot-sourced by the step scripts: their checks, counted, and the programs
# they start. Written for Constrained Language mode (cmdlets, operators,
# core types only), which the fleet step runs in under a lockdown policy.
#
# Each check prints "ok   WHAT", "FAIL WHAT" with what was wanted and what
# was got, or "skip WHAT: WHY"; Complete-Step prints the counts and exits:
# 1 on any failure, 77 when everything was skipped, 0 otherwise.
$script:Passed = 0
$script:Failed = 0
$script:Skipped = 0
# A step that stops on an error fails with where it stopped, and the checks
# it printed so far.
trap {
    Write-Output "FAIL the step stopped: $_$($_.InvocationInfo.PositionMessage)"
    exit 1
}

function Test-Check([string]$What, $Got, $Want) {
    $gotText = ($Got | Out-String).TrimEnd()
    $wantText = ($Want | Out-String).TrimEnd()
    if ($gotText -ceq $wantText) {
        $script:Passed++
        Write-Output "ok   $What"
    } else {
        $script:Failed++
        Write-Output "FAIL $What"
        Write-Output "       want: $($wantText -replace "`n", "`n             ")"
        Write-Output "       got:  $($gotText -replace "`n", "`n             ")"
    }
}

function Skip-Check([string]$What, [string]$Why) {
    $script:Skipped++
    Write-Output "skip $What`: $Why"
}

function Complete-Step {
    Write-Output "$script:Passed passed, $script:Failed failed, $script:Skipped skipped"
    if ($script:Failed -gt 0) { exit 1 }
    if ($script:Passed -eq 0) { exit 77 }
    exit 0
}

# A setting the caller names, from its parameter or else from the
# environment (the workflow and the Wine rows set the environment).
function Get-Setting([string]$Value, [string]$Name) {
    if ($Value) { return $Value }
    $fromEnvironment = [string](Get-Item -LiteralPath "Env:$Name" -ErrorAction SilentlyContinue).Value
    if (-not $fromEnvironment) { throw "$Name is not set" }
    return $fromEnvironment
}

# The arguments as one command line, each quoted as the C runtime splits
# them (Windows PowerShell 5.1's Start-Process joins them with blanks only).
function Join-CommandLine([string[]]$Arguments) {
    $quoted = @()
    foreach ($argument in $Arguments) {
        if ($argument -match '[\s"]' -or $argument -eq '') {
            $quoted += '"' + ($argument -replace '(\\*)"', '$1$1\"' -replace '(\\+)$', '$1$1') + '"'
        } else {
            $quoted += $argument
        }
    }
    return $quoted -join ' '
}

# Whether Text matches Pattern: "as expected", or the text itself for the
# check's report.
function Get-MatchReport([string]$Text, [string]$Pattern) {
    if ($Text -cmatch $Pattern) { return 'as expected' }
    return "not /$Pattern/: $Text"
}

# Starts a program and waits for it: @{ Status; Out; Err } with its exit
# status and its standard output and error as text (CR removed, no line end
# at the end). Start-Process, not &: Windows PowerShell 5.1 turns
# a native program's standard-error lines into error records when they are
# redirected, which under 'Stop' end the caller.
function Invoke-Program([string]$Program, [string[]]$Arguments = @(), [string]$WorkingDirectory = (Get-Location).Path,
        [string]$OutFile) {
    if (-not $OutFile) { $OutFile = Join-Path $script:Work 'program' }
    $started = @{ FilePath = $Program; WorkingDirectory = $WorkingDirectory; PassThru = $true; NoNewWindow = $true
        RedirectStandardOutput = "$OutFile.out"; RedirectStandardError = "$OutFile.err" }
    if ($Arguments.Count -gt 0) { $started.ArgumentList = Join-CommandLine $Arguments }
    # Not Start-Process -Wait, which waits for every process the program
    # started too (msiexec leaves its service running). Reading Handle keeps
    # the process's handle, without which ExitCode is lost once it ends.
    $process = Start-Process @started
    $null = $process.Handle
    Wait-Process -InputObject $process
    $out = [string](Get-Content -LiteralPath "$OutFile.out" -Raw -ErrorAction SilentlyContinue)
    $err = [string](Get-Content -LiteralPath "$OutFile.err" -Raw -ErrorAction SilentlyContinue)
    return @{ Status = $process.ExitCode; Out = ($out -replace "`r", '').TrimEnd("`n")
        Err = ($err -replace "`r", '').TrimEnd("`n") }
}

# The lines of a manifest (see write_manifest.py) as "path version sha256",
# paths with backslashes, sorted.
function Read-Manifest([string]$Path) {
    $lines = @()
    foreach ($line in (Get-Content -LiteralPath $Path)) {
        if ($line) { $lines += ($line -replace '/', '\' -replace "`t", ' ') }
    }
    return ($lines | Sort-Object)
}

# The same lines for the files below Folder as they are on disk: the file
# version as Windows reads it from the version resource, "-" where there is
# none.
function Get-DiskManifest([string]$Folder, [string[]]$Except = @()) {
    $root = (Get-Item -LiteralPath $Folder).FullName.TrimEnd('\')
    $lines = @()
    foreach ($file in (Get-ChildItem -LiteralPath $root -Recurse -File)) {
        $relative = $file.FullName.Substring($root.Length + 1)
        if ($Except -contains $relative) { continue }
        $info = $file.VersionInfo
        $versionText = "$($info.FileMajorPart).$($info.FileMinorPart).$($info.FileBuildPart).$($info.FilePrivatePart)"
        if ($versionText -eq '0.0.0.0') { $versionText = '-' }
        $hash = (Get-FileHash -LiteralPath $file.FullName -Algorithm SHA256).Hash.ToLowerInvariant()
        $lines += "$relative $versionText $hash"
    }
    return ($lines | Sort-Object)
}
