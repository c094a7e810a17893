@echo off
rem Runs one step script of this folder on a hosted runner, as a child
rem process of a Windows PowerShell host: its output goes to the job's log
rem and to %QUORVEL_LOGS%\LOG.txt, its exit status is the step's. The
rem script gets a scratch folder of its own, %RUNNER_TEMP%\work\LOG.
rem   run-step.cmd STEP LOG POWERSHELL_FOLDER
rem     STEP               1-signatures, 2-programs, ...
rem     POWERSHELL_FOLDER  System32 (64-bit host) or SysWOW64 (32-bit host)
rem A child process, not a "shell: powershell" step: GitHub prepends
rem $ErrorActionPreference = 'stop' to those, and the script sets its own.
setlocal
set "QUORVEL_WORK=%RUNNER_TEMP%\work\%~2"
mkdir "%QUORVEL_WORK%" || exit /b 1
"%SystemRoot%\%~3\WindowsPowerShell\v1.0\powershell.exe" -NoProfile -NonInteractive -ExecutionPolicy Bypass ^
    -File "%~dp0%~1.ps1" >"%QUORVEL_LOGS%\%~2.txt" 2>&1
set status=%errorlevel%
type "%QUORVEL_LOGS%\%~2.txt"
exit /b %status%
