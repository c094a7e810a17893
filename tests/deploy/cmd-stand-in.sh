#!/bin/bash
# Stand-in for cmd.exe on the simulated machine (pwsh on Linux), put where
# the remediation looks for cmd: $SystemRoot/System32/cmd.exe. It takes
# only the two command lines the remediation gives cmd, argument by
# argument as PowerShell passed them, and does what cmd does with them (a
# "\" in the batch file's path separates folders, as in Windows); any other
# command line fails, as a script that quoted otherwise would on Windows.
# (Under Wine the rows run Wine's own cmd.)
if [ $# -eq 3 ] && [ "$1" = /d ] && [ "$2" = /c ] && [ "$3" = '""%QUORVEL_BATCH_FILE%""' ]; then
    exec "${QUORVEL_BATCH_FILE//\\//}"
fi
if [ $# -eq 4 ] && [ "$1" = /d ] && [ "$2" = /v:on ] && [ "$3" = /c ] && [ "$4" = 'echo !QUORVEL_LINE!>&2' ]; then
    printf '%s\r\n' "$QUORVEL_LINE" >&2
    exit 0
fi
printf 'cmd stand-in: not a command line of the scripts:' >&2
printf ' [%s]' "$@" >&2
echo >&2
exit 9009
