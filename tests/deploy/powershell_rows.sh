#!/usr/bin/env bash
# The deployment scripts in deploy/ run in PowerShell (pwsh) against the
# native programs on the simulated machine: one row per machine state, each
# checking the exit status, the one line of output and an empty standard
# error. Prints a line per check and closes with "N passed, N failed".
#   powershell_rows.sh PWSH SOURCE_DIR NATIVE_BIN_DIR
# The install folders are played by folders the scripts find through
# ProgramW6432, ProgramFiles(x86) and ProgramFiles, as on Windows; the
# programs are linked in under their Windows names.
set -euo pipefail
export LC_ALL=C
pwsh=$1 source=$2 bin=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$here/../wine/check.sh"
detect=$source/deploy/intune/Detect-QuorvelConfiguration.ps1
remediate=$source/deploy/intune/Remediate-QuorvelConfiguration.ps1
discover=$source/deploy/configmgr/Discover-QuorvelConfiguration.ps1

# Settings asking for 0x1D: protocols 1 and 3, slew rate 1 on ports 1 and 2.
asks_1d=$'PROTOCOL_FOR_PORTS_1_AND_2=1\r\nPROTOCOL_FOR_PORTS_3_AND_4=3\r\nSLEW_RATE_FOR_PORTS_1_AND_2=1\r\nSLEW_RATE_FOR_PORTS_3_AND_4=0\r\n'

# machine INSTALL BOARD CONFIGURATION [FAULTS]: a fresh machine.
#   INSTALL  win64 | win32 (in Program Files (x86)) | none
#   BOARD    "RR=VV ..." register values (hex), or nodriver
#   CONFIGURATION  the bytes of Configuration.ini, utf16_1d for asks_1d in
#            UTF-16 with a byte-order mark, or "-" for none
machine() {
    local install=$1 board=$2 configuration=$3 faults=${4:-} port pair folder
    rm -rf "$work/machine"
    mkdir -p "$work/machine/sim" "$work/machine/Program Files" "$work/machine/Program Files (x86)" \
        "$work/machine/system32"
    # The system folder the scripts start in holds settings that match
    # every board here: a script that read them would report a match.
    printf 'PROTOCOL_FOR_PORTS_1_AND_2=%s\n' 0 >"$work/machine/system32/Configuration.ini"
    if [ "$board" != nodriver ]; then
        for port in 3 4 5 6; do
            head -c 256 /dev/zero >"$work/machine/sim/COM$port"
            for pair in $board; do
                printf "\\x${pair#*=}" | dd of="$work/machine/sim/COM$port" bs=1 seek=$((16#${pair%=*})) \
                    conv=notrunc status=none
            done
            echo "\\Device\\ser15x$((port - 3))=COM$port" >>"$work/machine/sim/SERIALCOMM"
        done
        [ -z "$faults" ] || echo "$faults" >"$work/machine/sim/faults"
    fi
    case $install in
        win64) folder="$work/machine/Program Files/QUORVEL" ;;
        win32) folder="$work/machine/Program Files (x86)/QUORVEL" ;;
        none) return 0 ;;
    esac
    mkdir "$folder"
    ln -s "$bin/QUORVELSerialProtocolStatus" "$folder/QUORVELSerialProtocolStatus.exe"
    ln -s "$bin/QUORVELSerialProtocolSelection" "$folder/QUORVELSerialProtocolSelection.exe"
    ln -s "$bin/../lib/libQUORVEL.so" "$folder/QUORVEL.dll"
    cp "$here/apply-configuration-stand-in.sh" "$folder/apply-configuration.cmd"
    case $configuration in
        -) ;;
        # Notepad's "Unicode", and what Windows PowerShell 5.1's > writes.
        utf16_1d) { printf '\xff\xfe'; printf '%s' "$asks_1d" | iconv -f UTF-8 -t UTF-16LE; } >"$folder/Configuration.ini" ;;
        *) printf '%s' "$configuration" >"$folder/Configuration.ini" ;;
    esac
}

# run HOST SCRIPT: "status|output|errors" of SCRIPT in a 64-bit or 32-bit
# host's view of the machine, started in its system folder as SYSTEM's
# scripts are.
run() {
    local host=$1 script=$2 status=0 program_files
    program_files="$work/machine/Program Files"
    [ "$host" = 64 ] || program_files="$work/machine/Program Files (x86)"
    (cd "$work/machine/system32" && env QUORVEL_SIM_DIR="$work/machine/sim" \
        ProgramW6432="$work/machine/Program Files" "ProgramFiles(x86)=$work/machine/Program Files (x86)" \
        ProgramFiles="$program_files" \
        "$pwsh" -NoProfile -NonInteractive -ExecutionPolicy Bypass -File "$script" >"$work/out" 2>"$work/err") ||
        status=$?
    echo "$status|$(cat "$work/out")|$(cat "$work/err")"
}

# What each script prints for a state (the text after "QUORVEL: ").
intune() { echo "$([ "$1" = "the board matches Configuration.ini" ] && echo 0 || echo 1)|QUORVEL: $1|"; }
configmgr() {
    if [ "$1" = "the board matches Configuration.ini" ]; then echo "0|Compliant|"; else echo "0|NonCompliant: $1|"; fi
}

# Row: name | install | board | Configuration.ini | faults | host | state (detection and discovery)
while IFS='|' read -r name install board configuration faults host state; do
    [ "$configuration" = asks_1d ] && configuration=$asks_1d
    machine "$install" "$board" "$configuration" "$faults"
    check "$name: detection" "$(run "$host" "$detect")" "$(intune "$state")"
    check "$name: discovery" "$(run "$host" "$discover")" "$(configmgr "$state")"
done <<EOF_ROWS
matches|win64|13=c0 10=1d|asks_1d||64|the board matches Configuration.ini
differs|win64|13=c0 10=0a|asks_1d||64|the board differs from Configuration.ini: board 0x0A, Configuration.ini asks for 0x1D
bits 6 and 7 are not compared|win64|13=c0 10=dd|asks_1d||64|the board matches Configuration.ini
0x13 reset|win64|13=00 10=1d|asks_1d||64|the board differs from Configuration.ini: register 0x13 0x00, not 0xC0
driver not installed|win64|nodriver|asks_1d||64|the board cannot be reached: Driver is not installed
port in use|win64|13=c0 10=1d|asks_1d|open|64|the board cannot be reached: Cannot open the file handle
Configuration.ini missing|win64|13=c0 10=1d|-||64|Configuration.ini not found
Configuration.ini not valid|win64|13=c0 10=1d|PROTOCOL_FOR_PORTS_3_AND_4=7||64|Configuration.ini holds a value that is not valid: PROTOCOL_FOR_PORTS_3_AND_4
Configuration.ini UTF-16|win64|13=c0 10=1d|utf16_1d||64|the board matches Configuration.ini
not installed|none|13=c0 10=1d|-||64|not installed
win32 install from a 32-bit host|win32|13=c0 10=1d|asks_1d||32|the board matches Configuration.ini
win32 install differs, from a 64-bit host|win32|13=00 10=0a|asks_1d||64|the board differs from Configuration.ini: register 0x13 0x00, not 0xC0; board 0x0A, Configuration.ini asks for 0x1D
EOF_ROWS

# Remediation: name | install | board | Configuration.ini | faults | status | state | board's writes
while IFS='|' read -r name install board configuration faults status state writes; do
    [ "$configuration" = asks_1d ] && configuration=$asks_1d
    machine "$install" "$board" "$configuration" "$faults"
    check "$name: remediation" "$(run 64 "$remediate")" "$status|QUORVEL: $state|"
    check "$name: the board's writes" \
        "$(awk '$2 == "80052038" && $NF == "ok" { printf "%s ", $3 }' "$work/machine/sim/requests.log" 2>/dev/null || true)" "$writes"
    [ "$status" != 0 ] || check "$name: detection afterwards" "$(run 64 "$detect")" "$(intune "$state")"
done <<EOF_ROWS
remediation of a differing board|win64|13=00 10=0a|asks_1d||0|the board matches Configuration.ini|13c0 101d 
remediation of a matching board|win64|13=c0 10=1d|asks_1d||0|the board matches Configuration.ini|
remediation, board cannot be reached|win64|nodriver|asks_1d||1|the board cannot be reached: Driver is not installed|
remediation, write refused|win64|13=00 10=0a|asks_1d|write 10|1|the board cannot be reached: Error in Writing...!|13c0 
remediation, Configuration.ini missing|win64|13=00 10=0a|-||4|Configuration.ini not found|
remediation, not installed|none|13=00 10=0a|-||4|not installed|
EOF_ROWS

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
