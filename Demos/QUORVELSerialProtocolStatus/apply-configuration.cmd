@echo off
rem Sets the board's serial protocols from Configuration.ini when they differ
rem from it, for a deployment system or a start-up script.
rem
rem Exit status:
rem   0  the board matches Configuration.ini (already, or after
rem      QUORVELSerialProtocolSelection.exe was run)
rem   1  the board cannot be reached
rem   2  the board still differs after applying
rem   4  nothing was done: this folder lacks Configuration.ini, a program or
rem      QUORVEL.dll, or Configuration.ini holds a value that is not valid
rem      or cannot be opened
rem
rem Each run also leaves its whole output and its exit status in
rem apply-configuration.log next to this file (the last run only), for
rem machines where nobody sees the console. Not in %ProgramData% or %TEMP%:
rem users can create entries there, and a script that runs as SYSTEM must
rem not write where a user can plant a link to another file. Whoever can
rem change this folder runs code as SYSTEM: keep it writable by
rem administrators only (Program Files is).
rem Command extensions (%~dp0, call :label, exit /b, substrings) can be
rem turned off by a registry policy, and delayed expansion would eat a "!"
rem in a folder name: both are set here, whatever the machine's default.
setlocal EnableExtensions DisableDelayedExpansion

rem Deployment systems start programs in another folder, often the system
rem folder, where the selection tool would find no Configuration.ini and
rem write the defaults. The settings, the programs and the DLL are next to
rem this file. pushd, not cd, so that a folder on a network share
rem (\\server\share) works: pushd maps a drive letter to it, popd removes it.
rem Whether pushd worked is checked by finding this file there, not with ||
rem or errorlevel, which not every cmd sets for its own commands.
set "folder=%~dp0"
set "folder=%folder:~0,-1%"
pushd "%~dp0"
if not exist "%~nx0" goto :cannot_enter

rem No parenthesised block in this file holds %folder%: cmd expands it
rem before it parses the block, and the ")" of "Program Files (x86)" would
rem end the block.
rem
rem The run's output goes to the log, which is then shown. A log that cannot
rem be written (a read-only share) changes nothing else: cmd runs nothing
rem behind a redirection that failed, so apply_status stays undefined, and
rem the run is made without the log.
set log=apply-configuration.log
set apply_status=
call :run > %log% 2>&1
if not defined apply_status goto :without_log
>> %log% echo apply-configuration: exit status %apply_status%
type %log%
goto :end

:without_log
echo apply-configuration: cannot write %log% in "%folder%"
call :run
echo apply-configuration: exit status %apply_status%

:end
popd
exit /b %apply_status%

:cannot_enter
echo apply-configuration: cannot change to "%folder%"
exit /b 4

:run
call :check_and_apply
set apply_status=%errorlevel%
exit /b %apply_status%

rem The programs are named with .\ because when the variable
rem NoDefaultCurrentDirectoryInExePath is set, cmd does not look in the
rem current folder for a bare program name. They are looked for first: a
rem missing program would end in cmd's 9009, a missing DLL in the loader's
rem error box, and neither may look like a board that was set.
:check_and_apply
set missing=
for %%f in (Configuration.ini QUORVELSerialProtocolStatus.exe QUORVELSerialProtocolSelection.exe QUORVEL.dll) do call :require %%f
if defined missing exit /b 4
.\QUORVELSerialProtocolStatus.exe
if %errorlevel% equ 0 exit /b 0
if %errorlevel% neq 2 exit /b %errorlevel%
.\QUORVELSerialProtocolSelection.exe
if %errorlevel% neq 0 exit /b %errorlevel%
rem The selection tool's last message ends without a line feed.
echo.
.\QUORVELSerialProtocolStatus.exe
exit /b %errorlevel%

:require
if exist "%~1" exit /b 0
echo apply-configuration: %~1 not found in "%folder%"
set missing=yes
exit /b 0
