#!/usr/bin/env bash
# What the detection script costs over PowerShell's own start: wall time of
# Detect-QuorvelConfiguration.ps1 against an empty script, both run with
# "pwsh -NoProfile -NonInteractive -File" as a fleet tool starts them, in
# interleaved pairs, on the simulated machine with a board that matches
# (the path every healthy machine takes each day). Prints the medians and
# their ratio, of wall time and of CPU time (user and system, the script's
# programs included): on a machine shared with other work, waiting for a
# core inflates the wall time of the detection, which starts a process,
# more than that of the empty script; the CPU time does not wait.
#   script_cost.sh PWSH SOURCE_DIR NATIVE_BUILD_DIR [PAIRS]   (default 15)
set -euo pipefail
pwsh=$1 source=$2 build=$3 pairs=${4:-15}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The machine of tests/deploy/powershell_rows.sh: a win64 install, settings
# asking for 0x1D, and a board that holds them.
folder="$work/Program Files/QUORVEL"
mkdir -p "$folder" "$work/windows/System32" "$work/sim"
ln -s "$build/bin/QUORVELSerialProtocolStatus" "$folder/QUORVELSerialProtocolStatus.exe"
ln -s "$build/bin/QUORVELSerialProtocolSelection" "$folder/QUORVELSerialProtocolSelection.exe"
ln -s "$build/lib/libQUORVEL.so" "$folder/QUORVEL.dll"
cp "$source/tests/deploy/apply-configuration-stand-in.sh" "$folder/apply-configuration.cmd"
printf 'PROTOCOL_FOR_PORTS_1_AND_2=1\r\nPROTOCOL_FOR_PORTS_3_AND_4=3\r\nSLEW_RATE_FOR_PORTS_1_AND_2=1\r\nSLEW_RATE_FOR_PORTS_3_AND_4=0\r\n' \
    >"$folder/Configuration.ini"
for port in 3 4 5 6; do
    head -c 256 /dev/zero >"$work/sim/COM$port"
    printf '\xc0' | dd of="$work/sim/COM$port" bs=1 seek=$((16#13)) conv=notrunc status=none
    printf '\x1d' | dd of="$work/sim/COM$port" bs=1 seek=$((16#10)) conv=notrunc status=none
    echo "\\Device\\ser15x$((port - 3))=COM$port" >>"$work/sim/SERIALCOMM"
done
: >"$work/empty.ps1"
detect=$source/deploy/intune/Detect-QuorvelConfiguration.ps1

# seconds SCRIPT: one run's wall time and CPU time; fails unless detection
# matched.
seconds() {
    local output TIMEFORMAT='%3R %3U %3S'
    { time (cd "$work/windows/System32" && env QUORVEL_SIM_DIR="$work/sim" ProgramW6432="$work/Program Files" \
        ProgramFiles="$work/Program Files" SystemRoot="$work/windows" \
        "$pwsh" -NoProfile -NonInteractive -ExecutionPolicy Bypass -File "$1" >"$work/output"); } 2>"$work/time"
    output=$(cat "$work/output")
    [ "$1" != "$detect" ] || [[ "$output" == "QUORVEL: the board matches Configuration.ini"* ]] ||
        { echo "detection did not match: $output" >&2; exit 1; }
    awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/time"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

seconds "$work/empty.ps1" >/dev/null # PowerShell's files into the page cache
for _ in $(seq "$pairs"); do
    seconds "$work/empty.ps1" >>"$work/empty.times"
    seconds "$detect" >>"$work/detect.times"
done
echo "pwsh $("$pwsh" -NoProfile -Command '$PSVersionTable.PSVersion.ToString()'), $pairs interleaved pairs, medians:"
for column in 1 2; do
    empty=$(cut -d' ' -f$column "$work/empty.times" | median)
    detection=$(cut -d' ' -f$column "$work/detect.times" | median)
    awk -v what="$([ $column = 1 ] && echo 'wall time' || echo 'CPU time')" -v empty="$empty" -v detection="$detection" \
        'BEGIN { printf "  %-9s  empty script %6.3f s, detection (matching) %6.3f s, ratio %5.2f\n", what, empty, detection, detection / empty }'
done
