#!/usr/bin/env bash
# The deployment scripts in deploy/ run in PowerShell against the programs
# and a board: one row per machine state, each checking the exit status,
# the one line of output and an empty standard error. Prints a line per
# check and closes with "N passed, N failed".
#
#   powershell_rows.sh wine WINE_BOARD PREPARED_PREFIX RELEASE_DIR VERSION HOST_DIR WIN64_BUILD [HOST32_DIR WIN32_BUILD]
#       Windows ground: the test host (tests/deploy/host, built for win-x64,
#       and for win-x86 where 32-bit programs start) runs the scripts of the
#       unpacked release ZIP in RELEASE_DIR (signed in a signed release) under
#       Wine from C:\windows\system32 against both MSIs installed by Wine's
#       msiexec and the simulated board driver, through the real programs
#       and the real apply-configuration.cmd.
#   powershell_rows.sh linux PWSH SOURCE_DIR NATIVE_BIN_DIR
#       pwsh on Linux against the native programs on the simulated machine,
#       linked in under their Windows names; an executable stand-in takes
#       the place of apply-configuration.cmd. The install folders are found
#       through ProgramW6432, ProgramFiles(x86) and ProgramFiles, as on
#       Windows.
# Without HOST32_DIR the rows of a 32-bit host are left out (the caller
# reports them as skipped).
set -euo pipefail
export LC_ALL=C
runner=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$here/../wine/check.sh"

if [ "$runner" = wine ]; then
    board_script=$2 prepared=$3 deploy_root=$4 version=$5 host64=$6 build64=$7 host32=${8:-} build32=${9:-}
    prefix=$work/prefix
    cp -a "$prepared" "$prefix"
    drive=$prefix/drive_c
    program_files=$drive/Program\ Files program_files_x86=$drive/Program\ Files\ \(x86\)
    system32=$drive/windows/system32
    # Both packages installed as an administrator would; each row then keeps
    # the install folders it needs.
    mkdir "$drive/packages" "$work/elsewhere"
    for package in "$build64/release/QUORVEL-$version-win64.msi" ${build32:+"$build32/release/QUORVEL-$version-win32.msi"}; do
        cp "$package" "$drive/packages/"
        WINE_BOARD_KEEP_REGISTRY=1 bash "$board_script" run "$prefix" "$work/elsewhere" "$work/unused.log" nodriver - \
            -- 'C:\windows\system32\msiexec.exe' /i "C:\\packages\\$(basename "$package")" /qn
    done
    cp -a "$program_files/QUORVEL" "$work/installed64"
    [ -z "$build32" ] || cp -a "$program_files_x86/QUORVEL" "$work/installed32"
    windows_path() { echo "Z:$1" | tr / '\\'; }
else
    pwsh=$2 deploy_root=$3 bin=$4
    drive=$work/machine
    program_files=$drive/Program\ Files program_files_x86=$drive/Program\ Files\ \(x86\)
    system32=$drive/system32
    mkdir -p "$program_files" "$program_files_x86" "$system32" "$drive/sim"
    for host in 64 32; do
        mkdir "$work/installed$host"
        ln -s "$bin/QUORVELSerialProtocolStatus" "$work/installed$host/QUORVELSerialProtocolStatus.exe"
        ln -s "$bin/QUORVELSerialProtocolSelection" "$work/installed$host/QUORVELSerialProtocolSelection.exe"
        ln -s "$bin/../lib/libQUORVEL.so" "$work/installed$host/QUORVEL.dll"
        cp "$here/apply-configuration-stand-in.sh" "$work/installed$host/apply-configuration.cmd"
    done
fi
# The system folder the scripts start in holds settings that match every
# board here but 0x1D ones: a script that read them would be caught.
printf 'PROTOCOL_FOR_PORTS_1_AND_2=0\r\n' >"$system32/Configuration.ini"

# Settings asking for 0x1D: protocols 1 and 3, slew rate 1 on ports 1 and 2.
asks_1d=$'PROTOCOL_FOR_PORTS_1_AND_2=1\r\nPROTOCOL_FOR_PORTS_3_AND_4=3\r\nSLEW_RATE_FOR_PORTS_1_AND_2=1\r\nSLEW_RATE_FOR_PORTS_3_AND_4=0\r\n'

# machine INSTALL BOARD CONFIGURATION FAULTS: the machine for the next run.
#   INSTALL  win64 | win32 (in Program Files (x86)) | none
#   BOARD    "RR=VV ..." register values (hex), or nodriver
#   CONFIGURATION  the bytes of Configuration.ini, asks_1d, utf16_1d
#            (asks_1d in UTF-16 with a byte-order mark) or "-" for none
#   FAULTS   a fault line for the board, or nothing
machine() {
    local install=$1 configuration=$3 folder port pair
    board=$2
    rm -rf "$program_files/QUORVEL" "$program_files_x86/QUORVEL" "$work/board.log" "$work/faults"
    case $install in
        win64) folder=$program_files/QUORVEL; cp -a "$work/installed64" "$folder" ;;
        win32) folder=$program_files_x86/QUORVEL; cp -a "$work/installed32" "$folder" ;;
        none) folder= ;;
    esac
    if [ -n "$folder" ]; then
        rm -f "$folder/Configuration.ini"
        case $configuration in
            -) ;;
            asks_1d) printf '%s' "$asks_1d" >"$folder/Configuration.ini" ;;
            # Notepad's "Unicode", and what Windows PowerShell 5.1's > writes.
            utf16_1d) { printf '\xff\xfe'; printf '%s' "$asks_1d" | iconv -f UTF-8 -t UTF-16LE; } >"$folder/Configuration.ini" ;;
            *) printf '%s\r\n' "$configuration" >"$folder/Configuration.ini" ;;
        esac
    fi
    [ -z "$4" ] || echo "$4" >"$work/faults"
    [ "$runner" = linux ] || return 0
    # The simulated machine: the same board behind each of the four ports.
    rm -rf "$drive/sim" && mkdir "$drive/sim"
    [ "$board" != nodriver ] || return 0
    for port in 3 4 5 6; do
        head -c 256 /dev/zero >"$drive/sim/COM$port"
        for pair in $board; do
            printf "\\x${pair#*=}" | dd of="$drive/sim/COM$port" bs=1 seek=$((16#${pair%=*})) conv=notrunc status=none
        done
        echo "\\Device\\ser15x$((port - 3))=COM$port" >>"$drive/sim/SERIALCOMM"
    done
    [ ! -e "$work/faults" ] || cp "$work/faults" "$drive/sim/faults"
}

# run HOST SCRIPT...: "status|output|errors" of the scripts run one after
# another on one board, in a 64-bit or 32-bit host, started in the system
# folder as SYSTEM's scripts are; the status is the first that is not 0.
run() {
    local host=$1 status=0 script
    shift
    if [ "$runner" = wine ]; then
        local host_dir=$host64 ports="3 4 5 6" faults=-
        [ "$host" = 64 ] || host_dir=$host32
        [ "$board" != nodriver ] || ports=nodriver
        [ ! -e "$work/faults" ] || faults=$work/faults
        local -a scripts=()
        for script in "$@"; do scripts+=("$(windows_path "$script")"); done
        WINE_BOARD_DOTNET=1 WINE_BOARD_REGISTERS=$([ "$board" = nodriver ] || echo "$board") \
            bash "$board_script" run "$prefix" "$system32" "$work/board.log" "$ports" "$faults" \
            -- "$host_dir/QuorvelScriptHost.exe" "${scripts[@]}" >"$work/out" 2>"$work/err" || status=$?
        # Wine's own notice, once per runspace, when PowerShell looks at the
        # drives: Z: (the Linux root) has no volume label it may read.
        sed -i '/^wine: Read access denied for device L"\\\\??\\\\Z:\\\\", FS volume label and serial are not available\.$/d' \
            "$work/err"
    else
        local program_files_view=$program_files
        [ "$host" = 64 ] || program_files_view=$program_files_x86
        : >"$work/out"
        : >"$work/err"
        for script in "$@"; do
            local one=0
            (cd "$system32" && env QUORVEL_SIM_DIR="$drive/sim" ProgramW6432="$program_files" \
                "ProgramFiles(x86)=$program_files_x86" ProgramFiles="$program_files_view" \
                "$pwsh" -NoProfile -NonInteractive -ExecutionPolicy Bypass -File "$script" >>"$work/out" 2>>"$work/err") ||
                one=$?
            [ "$status" != 0 ] || status=$one
        done
    fi
    echo "$status|$(tr -d '\r' <"$work/out")|$(cat "$work/err")"
}

# The board's writes that it took, from its event log.
writes() {
    local log=$work/board.log
    [ "$runner" = wine ] || log=$drive/sim/requests.log
    awk '$2 == "80052038" && $NF == "ok" { printf "%s ", $3 }' "$log" 2>/dev/null || true
}

detect=$deploy_root/deploy/intune/Detect-QuorvelConfiguration.ps1
remediate=$deploy_root/deploy/intune/Remediate-QuorvelConfiguration.ps1
discover=$deploy_root/deploy/configmgr/Discover-QuorvelConfiguration.ps1
matches="the board matches Configuration.ini"
# What the Intune and the Configuration Manager script print for a state
# (the text after "QUORVEL: ").
intune() { echo "$([ "$1" = "$matches" ] && echo 0 || echo 1)|QUORVEL: $1|"; }
configmgr() { if [ "$1" = "$matches" ]; then echo "0|Compliant|"; else echo "0|NonCompliant: $1|"; fi; }
skipped=0
has_host() { [ "$1" = 64 ] || [ -n "${host32:-}" ] || [ "$runner" = linux ]; }
# The win32 install exists where its programs can run (not under Wine on a
# machine that cannot start 32-bit programs).
has_install() { [ "$1" != win32 ] || [ -e "$work/installed32" ]; }

# Detection and discovery: name | install | board | Configuration.ini | faults | host | state
while IFS='|' read -r name install board configuration faults host state; do
    has_host "$host" || { skipped=$((skipped + 1)); echo "skip $name: no 32-bit host"; continue; }
    has_install "$install" || { skipped=$((skipped + 1)); echo "skip $name: no win32 install"; continue; }
    machine "$install" "$board" "$configuration" "$faults"
    check "$name: detection, discovery" "$(run "$host" "$detect")"$'\n'"$(run "$host" "$discover")" \
        "$(intune "$state")"$'\n'"$(configmgr "$state")"
done <<ROWS
matches|win64|13=c0 10=1d|asks_1d||64|$matches
differs|win64|13=c0 10=0a|asks_1d||64|the board differs from Configuration.ini: board 0x0A, Configuration.ini asks for 0x1D
bits 6 and 7 are not compared|win64|13=c0 10=dd|asks_1d||64|$matches
0x13 reset|win64|13=00 10=1d|asks_1d||64|the board differs from Configuration.ini: register 0x13 0x00, not 0xC0
driver not installed|win64|nodriver|asks_1d||64|the board cannot be reached: Driver is not installed
port in use|win64|13=c0 10=1d|asks_1d|open|64|the board cannot be reached: Cannot open the file handle
Configuration.ini missing|win64|13=c0 10=1d|-||64|Configuration.ini not found
Configuration.ini not valid|win64|13=c0 10=1d|PROTOCOL_FOR_PORTS_3_AND_4=7||64|Configuration.ini holds a value that is not valid: PROTOCOL_FOR_PORTS_3_AND_4
Configuration.ini UTF-16|win64|13=c0 10=1d|utf16_1d||64|$matches
not installed|none|13=c0 10=1d|-||64|not installed
win64 install from a 32-bit host|win64|13=c0 10=1d|asks_1d||32|$matches
win32 install from a 32-bit host|win32|13=c0 10=1d|asks_1d||32|$matches
win32 install differs, from a 64-bit host|win32|13=00 10=0a|asks_1d||64|the board differs from Configuration.ini: register 0x13 0x00, not 0xC0; board 0x0A, Configuration.ini asks for 0x1D
ROWS

# Remediation: name | install | board | Configuration.ini | faults | status | state | the board's writes
# Where it ends with 0, detection runs next on the same board.
while IFS='|' read -r name install board configuration faults status state board_writes; do
    machine "$install" "$board" "$configuration" "$faults"
    if [ "$status" = 0 ]; then
        check "$name: remediation, then detection" "$(run 64 "$remediate" "$detect")" \
            "0|QUORVEL: $state"$'\n'"QUORVEL: $matches|"
    else
        check "$name: remediation" "$(run 64 "$remediate")" "$status|QUORVEL: $state|"
    fi
    check "$name: the board's writes" "$(writes)" "$board_writes"
done <<ROWS
remediation of a differing board|win64|13=00 10=0a|asks_1d||0|$matches|13c0 101d 
remediation of a matching board|win64|13=c0 10=1d|asks_1d||0|$matches|
remediation, board cannot be reached|win64|nodriver|asks_1d||1|the board cannot be reached: Driver is not installed|
remediation, write refused|win64|13=00 10=0a|asks_1d|write 10|1|the board cannot be reached: Error in Writing...!|13c0 
remediation, Configuration.ini not valid|win64|13=00 10=0a|PROTOCOL_FOR_PORTS_3_AND_4=7||4|Configuration.ini holds a value that is not valid: PROTOCOL_FOR_PORTS_3_AND_4|
remediation, Configuration.ini missing|win64|13=00 10=0a|-||4|Configuration.ini not found|
remediation, not installed|none|13=00 10=0a|-||4|not installed|
ROWS

echo "$passed passed, $failed failed${skipped:+, $skipped skipped}"
[ "$failed" -eq 0 ]
