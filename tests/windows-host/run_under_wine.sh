#!/usr/bin/env bash
# Runs one Windows step script (tests/windows-host/N-*.ps1) under Wine, as
# the workflow runs it on a hosted runner: in the PowerShell test host
# (tests/deploy/host) in a copy of a prepared prefix without the board's
# driver, against the artifact build_artifact.sh made. A step whose header
# says "Under Wine: no (WHY)" is skipped (exit 77) with that reason.
#
#   run_under_wine.sh STEP_SCRIPT WINE_BOARD PREPARED_PREFIX HOST_DIR ARTIFACT SYSTEM [EXTRA]
#     HOST_DIR  the published test host (win-x64, or win-x86 where the step
#               loads a 32-bit DLL into it)
#     EXTRA     passed to the step as QUORVEL_EXTRA (step 4: "constrained")
set -euo pipefail
export LC_ALL=C
step=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
board=$2 prepared=$3 host=$(cd "$4" && pwd) artifact=$(cd "$5" && pwd) system=$6 extra=${7:-}
reason=$(sed -n 's/^# Under Wine: no (\(.*\))$/\1/p' "$step")
if [ -n "$reason" ]; then
    echo "Skipped: $(basename "$step") cannot run under Wine: $reason"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
windows_path() { echo "Z:$1" | tr / '\\'; }

cp -a "$prepared" "$work/prefix"
read -r first _ <"$artifact/VERSIONS"
mkdir "$work/unpacked" "$work/step" "$work/logs"
(cd "$work/unpacked" && cmake -E tar xf "$artifact/first/QUORVEL-$first-$system.zip")
# Under Wine the test host's Constrained Language mode stands in for the
# machine-wide lockdown policy of the hosted runners.
export QUORVEL_ARTIFACT=$(windows_path "$artifact") QUORVEL_SYSTEM=$system
export QUORVEL_UNPACKED=$(windows_path "$work/unpacked") QUORVEL_WORK=$(windows_path "$work/step")
export QUORVEL_LOGS=$(windows_path "$work/logs") QUORVEL_TEST_HOST=$(windows_path "$host/QuorvelScriptHost.exe")
export QUORVEL_EXTRA=$extra
arguments=()
[ "$extra" != constrained ] || arguments+=(--constrained-language)
status=0
# (Less Wine's notice that the Linux root has no volume label.)
WINE_BOARD_DOTNET=1 WINE_BOARD_TIMEOUT=1200 bash "$board" run "$work/prefix" "$work/step" "$work/board.log" \
    nodriver - -- "$host/QuorvelScriptHost.exe" "${arguments[@]}" "$(windows_path "$step")" \
    2> >(grep -vF 'FS volume label and serial are not available' >&2) || status=$?
# On failure, the logs the step wrote (msiexec's among them).
if [ "$status" -ne 0 ]; then
    for log in "$work"/logs/*; do
        [ -f "$log" ] || continue
        echo "--- $(basename "$log") (last lines)"
        tail -n 40 "$log" | iconv -f UTF-16LE -t UTF-8 2>/dev/null || tail -n 40 "$log"
    done
fi
exit "$status"
