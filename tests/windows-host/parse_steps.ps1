# The step scripts parsed by PowerShell here, those that only the hosted
# runners run among them: a syntax error shows before the workflow runs.
# Prints each script's errors; exits 1 when there is any.
$failed = 0
foreach ($file in (Get-ChildItem -Path (Join-Path $PSScriptRoot '*.ps1'))) {
    $tokens = $null
    $errors = $null
    $null = [System.Management.Automation.Language.Parser]::ParseFile($file.FullName, [ref]$tokens, [ref]$errors)
    foreach ($parseError in $errors) {
        Write-Output "FAIL $($file.Name):$($parseError.Extent.StartLineNumber): $($parseError.Message)"
        $failed++
    }
    if ($errors.Count -eq 0) { Write-Output "ok   $($file.Name) parses" }
}
exit ([int]($failed -gt 0))
