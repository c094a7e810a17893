@echo off
rem Sets the board's serial protocols from Configuration.ini when they differ
rem from it, for a deployment system or a start-up script.
rem
rem Exit status: 0 when the board matches Configuration.ini (already, or
rem after QUORVELSerialProtocolSelection.exe was run), 1 when the board
rem cannot be reached, otherwise the status of the program that failed
rem (2: the board still differs after the selection ran).
setlocal

rem Deployment systems start programs in another folder, often the system
rem folder, where the selection tool would find no Configuration.ini and
rem write the defaults. The settings, the programs and the DLL are next to
rem this file. pushd, not cd, so that a folder on a network share
rem (\\server\share) works: pushd maps a drive letter to it, popd removes it.
rem When pushd fails, .\ below finds no program and the run fails with
rem cmd's 9009, so no program runs in the wrong folder.
pushd "%~dp0"
call :check_and_apply
set result=%errorlevel%
popd
exit /b %result%

rem The programs are named with .\ because when the variable
rem NoDefaultCurrentDirectoryInExePath is set, cmd does not look in the
rem current folder for a bare program name.
:check_and_apply
.\QUORVELSerialProtocolStatus.exe
if %errorlevel% equ 0 exit /b 0
if %errorlevel% neq 2 exit /b %errorlevel%
.\QUORVELSerialProtocolSelection.exe
if %errorlevel% neq 0 exit /b %errorlevel%
rem The selection tool's last message ends without a line feed.
echo.
.\QUORVELSerialProtocolStatus.exe
exit /b %errorlevel%
