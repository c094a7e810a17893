#!/usr/bin/env bash
# The deployment scripts in deploy/ run in PowerShell against the programs
# and a board: one row per machine state, each checking the exit status,
# the one line of output and standard error (empty, or the remediation's
# line where it fails), every row once in Full and once in Constrained
# Language mode, as on machines that enforce App Control for Business or
# AppLocker. Then the status program's JSON per state, parsed by Python.
# Prints a line per check and closes with "N passed, N failed".
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
#       linked in under their Windows names; executable stand-ins take the
#       place of apply-configuration.cmd and of cmd.exe (under SystemRoot,
#       where the remediation looks for it). The install folders are found
#       through ProgramW6432, ProgramFiles(x86) and ProgramFiles, as on
#       Windows. In Constrained Language mode the session is switched to it
#       before the script is invoked.
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
    # The sample the package installed.
    sample=$work/installed64/Configuration.ini
    windows_path() { echo "Z:$1" | tr / '\\'; }
else
    pwsh=$2 deploy_root=$3 bin=$4
    drive=$work/machine
    program_files=$drive/Program\ Files program_files_x86=$drive/Program\ Files\ \(x86\)
    system32=$drive/windows/System32
    mkdir -p "$program_files" "$program_files_x86" "$system32" "$drive/sim"
    cp "$here/cmd-stand-in.sh" "$system32/cmd.exe"
    for host in 64 32; do
        mkdir "$work/installed$host"
        ln -s "$bin/QUORVELSerialProtocolStatus" "$work/installed$host/QUORVELSerialProtocolStatus.exe"
        ln -s "$bin/QUORVELSerialProtocolSelection" "$work/installed$host/QUORVELSerialProtocolSelection.exe"
        ln -s "$bin/../lib/libQUORVEL.so" "$work/installed$host/QUORVEL.dll"
        cp "$here/apply-configuration-stand-in.sh" "$work/installed$host/apply-configuration.cmd"
    done
    sample=$deploy_root/Demos/QUORVELSerialProtocolSelection/Configuration.ini
fi
# The system folder the scripts start in holds settings that match every
# board here but 0x1D ones: a script that read them would be caught.
printf 'PROTOCOL_FOR_PORTS_1_AND_2=0\r\n' >"$system32/Configuration.ini"

# Settings asking for 0x1D: protocols 1 and 3, slew rate 1 on ports 1 and 2.
asks_1d=$'PROTOCOL_FOR_PORTS_1_AND_2=1\r\nPROTOCOL_FOR_PORTS_3_AND_4=3\r\nSLEW_RATE_FOR_PORTS_1_AND_2=1\r\nSLEW_RATE_FOR_PORTS_3_AND_4=0\r\n'
# Other settings, for the win32 install beside a win64 one: 0x0B.
asks_0b=$'PROTOCOL_FOR_PORTS_1_AND_2=3\r\nPROTOCOL_FOR_PORTS_3_AND_4=2\r\n'

# machine INSTALL BOARD CONFIGURATION FAULTS: the machine for the next run.
#   INSTALL  win64 | win32 (in Program Files (x86)) | both (the win32
#            install asks for 0x0B) | none
#   BOARD    "RR=VV ..." register values (hex), or nodriver
#   CONFIGURATION  the bytes of Configuration.ini, asks_1d, utf16_1d
#            (asks_1d in UTF-16 with a byte-order mark), cr_only_1d (asks_1d
#            with CR line ends), sample (the release's, every key at its
#            default) or "-" for none
#   FAULTS   a fault line for the board, or nothing
machine() {
    local install=$1 configuration=$3 folder port pair
    board=$2
    rm -rf "$program_files/QUORVEL" "$program_files_x86/QUORVEL" "$work/board.log" "$work/faults"
    case $install in
        win64 | both) folder=$program_files/QUORVEL; cp -a "$work/installed64" "$folder" ;;
        win32) folder=$program_files_x86/QUORVEL; cp -a "$work/installed32" "$folder" ;;
        none) folder= ;;
    esac
    if [ "$install" = both ]; then
        cp -a "$work/installed32" "$program_files_x86/QUORVEL"
        printf '%s' "$asks_0b" >"$program_files_x86/QUORVEL/Configuration.ini"
    fi
    installed_configuration=${folder:+$folder/Configuration.ini}
    if [ -n "$folder" ]; then
        rm -f "$folder/Configuration.ini"
        case $configuration in
            -) ;;
            asks_1d) printf '%s' "$asks_1d" >"$folder/Configuration.ini" ;;
            # Notepad's "Unicode", and what Windows PowerShell 5.1's > writes.
            utf16_1d) { printf '\xff\xfe'; printf '%s' "$asks_1d" | iconv -f UTF-8 -t UTF-16LE; } >"$folder/Configuration.ini" ;;
            # A comment beyond ASCII, and a value ending in one.
            utf16_accented) { printf '\xff\xfe'; printf '# R\xc3\xa9glages\r\nPROTOCOL_FOR_PORTS_1_AND_2=2 \xc3\xa9\r\n' |
                iconv -f UTF-8 -t UTF-16LE; } >"$folder/Configuration.ini" ;;
            sample) cp "$sample" "$folder/Configuration.ini" ;;
            # Lone CRs, which end a value but not a line: the programs read
            # the first key only, and take the defaults for the others (0x09).
            cr_only_1d) printf '%s' "$asks_1d" | tr -d '\n' >"$folder/Configuration.ini" ;;
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
# another on one board, in a 64-bit or 32-bit host, in the language mode
# $mode (full or constrained), started in the system folder as SYSTEM's
# scripts are; the status is the first that is not 0.
run() {
    local host=$1 status=0 script
    shift
    if [ "$runner" = wine ]; then
        local host_dir=$host64 ports="3 4 5 6" faults=-
        [ "$host" = 64 ] || host_dir=$host32
        [ "$board" != nodriver ] || ports=nodriver
        [ ! -e "$work/faults" ] || faults=$work/faults
        local -a scripts=()
        [ "$mode" = full ] || scripts+=(--constrained-language)
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
        # One pwsh runs the scripts one after another, each as "& SCRIPT"
        # in the session, which in Constrained Language mode is switched to
        # it before the first starts, as Windows PowerShell runs a script
        # that a policy does not allow.
        local command='$first = 0'
        [ "$mode" = full ] || command="\$ExecutionContext.SessionState.LanguageMode = 'ConstrainedLanguage'; $command"
        for script in "$@"; do
            command+="; & '$script'; if (\$first -eq 0) { \$first = \$LASTEXITCODE }"
        done
        (cd "$system32" && env QUORVEL_SIM_DIR="$drive/sim" ProgramW6432="$program_files" \
            "ProgramFiles(x86)=$program_files_x86" ProgramFiles="$program_files_view" SystemRoot="$drive/windows" \
            "$pwsh" -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command "$command; exit \$first" \
            >"$work/out" 2>"$work/err") || status=$?
    fi
    echo "$status|$(tr -d '\r' <"$work/out")|$(tr -d '\r' <"$work/err")"
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

# The three scripts once more, carrying settings (the block at their top
# filled in as an administrator pastes a Configuration.ini, LF line ends):
# asks_1d, and settings with a value that is not valid.
carry() {
    local name=$1 text=$2 script
    mkdir -p "$work/$name"
    for script in "$detect" "$remediate" "$discover"; do
        CARRIED=$text python3 -c '
import os, sys
script = open(sys.argv[1], "rb").read()
empty = b"$CarriedConfiguration = @'"'"'\r\n'"'"'@\r\n"
assert script.count(empty) == 1, "no empty block in " + sys.argv[1]
block = os.environ["CARRIED"].encode().replace(b"\n", b"\r\n")
sys.stdout.buffer.write(script.replace(empty, empty[:-4] + block + b"\r\n'"'"'@\r\n"))' "$script" \
            >"$work/$name/$(basename "$script")"
    done
}
carry carries_1d "$(printf '%s' "$asks_1d" | tr -d '\r')"
carry carries_not_valid $'# the slew rate takes 0 or 1\nPROTOCOL_FOR_PORTS_1_AND_2=1\nSLEW_RATE_FOR_PORTS_1_AND_2=2'
# Blocks the programs would not read as written: each is refused.
carry carries_indented $'# the settings\n  PROTOCOL_FOR_PORTS_1_AND_2=1\nPROTOCOL_FOR_PORTS_3_AND_4=3'
carry carries_spaced $'PROTOCOL_FOR_PORTS_1_AND_2 = 1\nPROTOCOL_FOR_PORTS_3_AND_4=3'
carry carries_tab $'PROTOCOL_FOR_PORTS_1_AND_2=1\n\tSLEW_RATE_FOR_PORTS_1_AND_2=1'
carry carries_byte_order_mark $'PROTOCOL_FOR_PORTS_1_AND_2=1\n\xef\xbb\xbfSLEW_RATE_FOR_PORTS_1_AND_2=1'
carry carries_cr_only $'PROTOCOL_FOR_PORTS_1_AND_2=1\rPROTOCOL_FOR_PORTS_3_AND_4=3\rSLEW_RATE_FOR_PORTS_1_AND_2=1'
carry carries_beyond_ascii $'# R\xc3\xa9glages\nPROTOCOL_FOR_PORTS_1_AND_2=1'

# script_in SCRIPTS SCRIPT: the script as shipped, or its copy in SCRIPTS.
script_in() { if [ -z "$1" ]; then echo "$2"; else echo "$work/$1/$(basename "$2")"; fi; }

matches="the board matches Configuration.ini"
not_read_as_written="Configuration.ini is not read as written:"
after_cr="line 1 is not read (after a lone CR, which ends no line)"
refused="the settings this script carries are refused:"
settings_1d="(0x1D: ports 1-2 protocol 1, slew rate 1; ports 3-4 protocol 3, slew rate 0)"
# What detection and then discovery print for a state (the text after
# "QUORVEL: "), and detection's status (discovery's is always 0). On a match
# discovery prints "Compliant" alone, for a rule "Equals Compliant".
detected() {
    if [[ "$1" == "$matches"* ]]; then
        echo "0|QUORVEL: $1"$'\n'"Compliant|"
    else
        echo "1|QUORVEL: $1"$'\n'"NonCompliant: $1|"
    fi
}
skipped=0
has_host() { [ "$1" = 64 ] || [ -n "${host32:-}" ] || [ "$runner" = linux ]; }
# The win32 install exists where its programs can run (not under Wine on a
# machine that cannot start 32-bit programs).
has_install() { [ "$1" = win64 ] || [ "$1" = none ] || [ -e "$work/installed32" ]; }

for mode in full constrained; do
    language="$mode language"
    # Detection and discovery: name | install | board | Configuration.ini | faults | host | scripts | state
    while IFS='|' read -r name install board configuration faults host scripts state; do
        has_host "$host" || { skipped=$((skipped + 1)); echo "skip $name ($language): no 32-bit host"; continue; }
        has_install "$install" ||
            { skipped=$((skipped + 1)); echo "skip $name ($language): no win32 install"; continue; }
        machine "$install" "$board" "$configuration" "$faults"
        check "$name: detection, discovery ($language)" \
            "$(run "$host" "$(script_in "$scripts" "$detect")" "$(script_in "$scripts" "$discover")")" "$(detected "$state")"
    done <<ROWS
matches|win64|13=c0 10=1d|asks_1d||64||$matches $settings_1d
differs|win64|13=c0 10=0a|asks_1d||64||the board differs from Configuration.ini: board 0x0A, Configuration.ini asks for 0x1D $settings_1d
bits 6 and 7 are not compared|win64|13=c0 10=dd|asks_1d||64||$matches $settings_1d
0x13 reset|win64|13=00 10=1d|asks_1d||64||the board differs from Configuration.ini: register 0x13 0x00, not 0xC0 $settings_1d
the sample's defaults show as such|win64|13=c0 10=0a|sample||64||$matches (0x0A: ports 1-2 protocol 2, slew rate 0; ports 3-4 protocol 2, slew rate 0)
a key missing takes its default|win64|13=c0 10=0a|PROTOCOL_FOR_PORTS_3_AND_4=2||64||$matches (0x0A: ports 1-2 protocol 2 (default), slew rate 0 (default); ports 3-4 protocol 2, slew rate 0 (default))
driver not installed|win64|nodriver|asks_1d||64||the board cannot be reached: Driver is not installed
port in use|win64|13=c0 10=1d|asks_1d|open|64||the board cannot be reached: Cannot open the file handle
Configuration.ini missing|win64|13=c0 10=1d|-||64||Configuration.ini not found
Configuration.ini not valid|win64|13=c0 10=1d|PROTOCOL_FOR_PORTS_3_AND_4=7||64||$not_read_as_written PROTOCOL_FOR_PORTS_3_AND_4 is not valid
Configuration.ini with an indented key|win64|13=c0 10=0a|  PROTOCOL_FOR_PORTS_1_AND_2=1||64||$not_read_as_written line 1 is not read (indented): PROTOCOL_FOR_PORTS_1_AND_2
Configuration.ini with CR line ends, on a board at what they give|win64|13=c0 10=09|cr_only_1d||64||$not_read_as_written $after_cr: PROTOCOL_FOR_PORTS_3_AND_4; $after_cr: SLEW_RATE_FOR_PORTS_1_AND_2; $after_cr: SLEW_RATE_FOR_PORTS_3_AND_4
Configuration.ini UTF-16|win64|13=c0 10=1d|utf16_1d||64||$matches $settings_1d
not installed|none|13=c0 10=1d|-||64||not installed
win64 install from a 32-bit host|win64|13=c0 10=1d|asks_1d||32||$matches $settings_1d
win32 install from a 32-bit host|win32|13=c0 10=1d|asks_1d||32||$matches $settings_1d
win32 install differs, from a 64-bit host|win32|13=00 10=0a|asks_1d||64||the board differs from Configuration.ini: register 0x13 0x00, not 0xC0; board 0x0A, Configuration.ini asks for 0x1D $settings_1d
both packages installed, from a 64-bit host|both|13=c0 10=1d|asks_1d||64||$matches $settings_1d
both packages installed, from a 32-bit host|both|13=c0 10=1d|asks_1d||32||$matches $settings_1d
carried settings, the same (line ends aside)|win64|13=c0 10=1d|asks_1d||64|carries_1d|$matches $settings_1d
carried settings, the sample installed|win64|13=c0 10=0a|sample||64|carries_1d|Configuration.ini differs from the settings this script carries
carried settings, Configuration.ini missing|win64|13=c0 10=1d|-||64|carries_1d|Configuration.ini not found
ROWS

    # Remediation: name | install | board | Configuration.ini | faults | scripts | status | state | the board's writes
    # Where it ends with 0, detection runs next on the same board; where it
    # does not, its line is on standard error as well.
    while IFS='|' read -r name install board configuration faults scripts status state board_writes; do
        has_install "$install" ||
            { skipped=$((skipped + 1)); echo "skip $name ($language): no win32 install"; continue; }
        machine "$install" "$board" "$configuration" "$faults"
        before=$( (cat "$installed_configuration" 2>/dev/null || true) | od -An -c)
        # A run cut short left half a new file beside Configuration.ini: it
        # is never taken, and it is gone afterwards.
        [ "$scripts" != carries_1d ] || printf 'PROTOCOL_FOR' >"$installed_configuration.new"
        if [ "$status" = 0 ]; then
            check "$name: remediation, then detection ($language)" \
                "$(run 64 "$(script_in "$scripts" "$remediate")" "$(script_in "$scripts" "$detect")")" \
                "0|QUORVEL: $state"$'\n'"QUORVEL: $state|"
        else
            check "$name: remediation ($language)" "$(run 64 "$(script_in "$scripts" "$remediate")")" \
                "$status|QUORVEL: $state|QUORVEL: $state"
        fi
        check "$name: the board's writes ($language)" "$(writes)" "$board_writes"
        # The carried settings, whole, as CRLF text, or the file untouched.
        if [ "$scripts" = carries_1d ]; then
            check "$name: Configuration.ini is the carried settings, nothing left beside it ($language)" \
                "$(od -An -c "$installed_configuration"; ls "$installed_configuration.new" 2>/dev/null)" \
                "$(printf '%s' "$asks_1d" | od -An -c)"
        elif [ -n "$installed_configuration" ]; then
            check "$name: Configuration.ini untouched ($language)" \
                "$( (cat "$installed_configuration" 2>/dev/null || true) | od -An -c)" "$before"
        fi
    done <<ROWS
remediation of a differing board|win64|13=00 10=0a|asks_1d|||0|$matches $settings_1d|13c0 101d 
remediation of a matching board|win64|13=c0 10=1d|asks_1d|||0|$matches $settings_1d|
remediation, board cannot be reached|win64|nodriver|asks_1d|||1|the board cannot be reached: Driver is not installed|
remediation, write refused|win64|13=00 10=0a|asks_1d|write 10||1|apply-configuration.cmd ended with status 1 (see apply-configuration.log); the board differs from Configuration.ini: board 0x0A, Configuration.ini asks for 0x1D $settings_1d|13c0 
remediation, Configuration.ini not valid|win64|13=00 10=0a|PROTOCOL_FOR_PORTS_3_AND_4=7|||4|$not_read_as_written PROTOCOL_FOR_PORTS_3_AND_4 is not valid|
remediation, Configuration.ini with a key after white space|win64|13=00 10=0a|PROTOCOL_FOR_PORTS_1_AND_2 =1|||4|$not_read_as_written line 1 is not read (white space before =): PROTOCOL_FOR_PORTS_1_AND_2|
remediation, Configuration.ini with CR line ends|win64|13=00 10=0a|cr_only_1d|||4|$not_read_as_written $after_cr: PROTOCOL_FOR_PORTS_3_AND_4; $after_cr: SLEW_RATE_FOR_PORTS_1_AND_2; $after_cr: SLEW_RATE_FOR_PORTS_3_AND_4|
remediation, Configuration.ini missing|win64|13=00 10=0a|-|||4|Configuration.ini not found|
remediation, not installed|none|13=00 10=0a|-|||4|not installed|
remediation, both packages installed|both|13=00 10=0a|asks_1d|||0|$matches $settings_1d|13c0 101d 
remediation, carried settings over the sample|win64|13=c0 10=0a|sample||carries_1d|0|$matches $settings_1d|13c0 101d 
remediation, carried settings where Configuration.ini is missing|win64|13=00 10=0a|-||carries_1d|0|$matches $settings_1d|13c0 101d 
remediation, carried settings already there|win64|13=c0 10=1d|asks_1d||carries_1d|0|$matches $settings_1d|
remediation, carried settings not valid|win64|13=00 10=0a|sample||carries_not_valid|4|$refused SLEW_RATE_FOR_PORTS_1_AND_2 is not valid|
remediation, carried settings indented|win64|13=00 10=0a|sample||carries_indented|4|$refused line 2 is not read (indented): PROTOCOL_FOR_PORTS_1_AND_2|
remediation, carried settings with white space before =|win64|13=00 10=0a|sample||carries_spaced|4|$refused line 1 is not read (white space before =): PROTOCOL_FOR_PORTS_1_AND_2|
remediation, carried settings with a tab before a key|win64|13=00 10=0a|sample||carries_tab|4|$refused line 2 is not read (indented): SLEW_RATE_FOR_PORTS_1_AND_2|
remediation, carried settings with a byte-order mark before a key|win64|13=00 10=0a|sample||carries_byte_order_mark|4|$refused line 2 is not read (a byte above 0x7E): SLEW_RATE_FOR_PORTS_1_AND_2; line 2 holds a byte above 0x7E (settings are ASCII only)|
remediation, carried settings with CR line ends|win64|13=00 10=0a|cr_only_1d||carries_cr_only|4|$refused $after_cr: PROTOCOL_FOR_PORTS_3_AND_4; $after_cr: SLEW_RATE_FOR_PORTS_1_AND_2|
remediation, carried settings beyond ASCII|win64|13=00 10=0a|sample||carries_beyond_ascii|4|$refused line 1 holds a byte above 0x7E (settings are ASCII only)|
ROWS
done

# The start-up task's command (deploy/task), run as Task Scheduler hands it
# to Windows PowerShell, with the install found through the environment:
# name | install | board | SystemRoot | status | the board's writes. Its
# 30-second pauses between tries are made instant (a function named
# Start-Sleep comes first). pwsh on Linux only: the Wine host runs scripts.
# (Linux keeps the low 8 bits of an exit status.)
task_command=$(python3 "$here/check_task.py" --command "$deploy_root/deploy/task/QUORVEL-apply-configuration.xml")
for mode in full constrained; do
    [ "$runner" = linux ] || { skipped=$((skipped + 1)); echo "skip the start-up task's command ($mode language): pwsh on Linux only"; continue; }
    while IFS='|' read -r name install board system_root status board_writes; do
        machine "$install" "$board" asks_1d ""
        prefix_command='function Start-Sleep { }; '
        [ "$mode" = full ] || prefix_command="\$ExecutionContext.SessionState.LanguageMode = 'ConstrainedLanguage'; $prefix_command"
        actual=0
        (cd "$system32" && env QUORVEL_SIM_DIR="$drive/sim" ProgramFiles="$program_files" \
            "ProgramFiles(x86)=$program_files_x86" SystemRoot="${system_root:-$drive/windows}" \
            "$pwsh" -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command "$prefix_command$task_command" \
            >/dev/null 2>&1) || actual=$?
        check "start-up task, $name ($mode language)" "$actual|$(writes)" "$status|$board_writes"
    done <<ROWS
win64 install, board differs|win64|13=00 10=0a||0|13c0 101d 
win32 install in Program Files (x86)|win32|13=00 10=0a||0|13c0 101d 
board cannot be reached: five tries, then 1|win64|nodriver||1|
not installed|none|13=00 10=0a||4|
cmd.exe cannot start: 9009, never 0|win64|13=00 10=0a|$work/no-windows|$((9009 & 255))|
ROWS
done

# Under Wine, whose file sharing is Windows': Configuration.ini held open by
# another process that does not share deletion (here the host, before the
# remediation starts the status program). The replacement fails after its
# second try (Wine says 5, access denied), the remediation ends with 4, and
# the file is as it was.
if [ "$runner" = wine ]; then
    mode=full
    machine win64 "13=00 10=0a" sample ""
    before=$(od -An -c "$installed_configuration")
    printf '%s\r\n' '$held = [System.IO.File]::Open("C:\Program Files\QUORVEL\Configuration.ini", "Open", "Read", "Read")' \
        '[System.AppDomain]::CurrentDomain.SetData("QuorvelHeldFile", $held)' >"$work/hold.ps1"
    held="Configuration.ini cannot be replaced (error 5): it is left as it was"
    check "carried settings, Configuration.ini held without delete sharing: remediation" \
        "$(run 64 "$work/hold.ps1" "$(script_in carries_1d "$remediate")")" "4|QUORVEL: $held|QUORVEL: $held"
    check "carried settings, Configuration.ini held without delete sharing: the file intact, no write" \
        "$(od -An -c "$installed_configuration"; ls "$installed_configuration.new" 2>/dev/null; writes)" "$before"
else
    skipped=$((skipped + 1))
    echo "skip Configuration.ini held without delete sharing: POSIX rename takes no notice of open files"
fi

# The status program's JSON, as other tools read it: one object per state,
# parsed by Python, with the state and the values it must hold. A value
# with every kind of byte: quotes, a backslash, control characters, UTF-8
# beyond ASCII, bytes that are no UTF-8 (a lone lead byte, an encoded
# surrogate): each byte that is not UTF-8 comes back as U+00XX.
every_byte=$(printf 'PROTOCOL_FOR_PORTS_1_AND_2=2 "q" \\ \x01\x1f\x7f \xc3\xa9 \xf0\x9f\x98\x80 \xff\xc3 \xed\xa0\x80 end')
# name | board | Configuration.ini | faults | what the object holds (Python)
while IFS='|' read -r name board configuration faults expected; do
    machine win64 "$board" "$configuration" "$faults"
    folder=$program_files/QUORVEL
    if [ "$runner" = wine ]; then
        ports="3 4 5 6"
        [ "$board" != nodriver ] || ports=nodriver
        faults=-
        [ ! -e "$work/faults" ] || faults=$work/faults
        # (The exit statuses are the end-to-end scenarios' to check.)
        WINE_BOARD_REGISTERS=$([ "$board" = nodriver ] || echo "$board") bash "$board_script" run "$prefix" "$folder" \
            "$work/board.log" "$ports" "$faults" -- "$folder/QUORVELSerialProtocolStatus.exe" --json \
            >"$work/json" 2>&1 || true
    else
        (cd "$folder" && QUORVEL_SIM_DIR="$drive/sim" ./QUORVELSerialProtocolStatus.exe --json >"$work/json" 2>&1) || true
    fi
    check "status program's JSON, $name: parsed by Python" "$(python3 -c '
import json, sys
status = json.load(open(sys.argv[1], encoding="ascii"))
settings = status["settings"]
print(eval(sys.argv[2]))' "$work/json" "$expected" 2>&1)" True
done <<ROWS
matches|13=c0 10=1d|asks_1d||status["state"] == "matches" and status["register0x13"] == 0xC0 and status["register0x10"] == 0x1D and status["asked"] == 0x1D and [s["value"] for s in settings] == [1, 3, 1, 0] and status["message"] is None and status["windowsError"] is None
differs|13=00 10=0a|asks_1d||status["state"] == "differs" and status["register0x13"] == 0 and status["register0x10"] == 0x0A and status["asked"] == 0x1D
board not read|nodriver|asks_1d||status["state"] == "boardNotRead" and status["register0x13"] is None and status["message"] == "Driver is not installed" and status["windowsError"] == 2
read refused|13=c0 10=1d|asks_1d|read 10|status["state"] == "boardNotRead" and status["message"] == "Error in Reading...!" and status["windowsError"] == 1117
Configuration.ini not found|13=c0 10=1d|-||status["state"] == "configurationNotFound" and status["asked"] is None and all(s["default"] and s["text"] is None for s in settings)
not valid|13=c0 10=1d|PROTOCOL_FOR_PORTS_3_AND_4=7||status["state"] == "configurationNotValid" and settings[1]["notValid"] and settings[1]["text"] == "7" and settings[1]["value"] == 2 and not settings[0]["notValid"]
every kind of byte in a value|13=c0 10=0a|$every_byte||status["state"] == "configurationNotValid" and status["linesNotRead"] == [{"line": 1, "key": "PROTOCOL_FOR_PORTS_1_AND_2", "reason": "byteAbove0x7E"}] and settings[0]["text"] == "2 \"q\" \\\\ \x01\x1f\x7f \u00e9 \U0001F600 \u00ff\u00c3 \u00ed\u00a0\u0080 end"
UTF-16 with characters beyond ASCII|13=c0 10=0a|utf16_accented||status["state"] == "configurationNotValid" and [(l["line"], l["reason"]) for l in status["linesNotRead"]] == [(2, "byteAbove0x7E")] and settings[0]["text"].startswith("2 ") and len(settings[0]["text"]) == 3
CR line ends|13=c0 10=09|cr_only_1d||status["state"] == "configurationNotValid" and [(l["line"], l["key"], l["reason"]) for l in status["linesNotRead"]] == [(1, k, "afterLoneCR") for k in ("PROTOCOL_FOR_PORTS_3_AND_4", "SLEW_RATE_FOR_PORTS_1_AND_2", "SLEW_RATE_FOR_PORTS_3_AND_4")] and status["asked"] == 0x09
ROWS

echo "$passed passed, $failed failed${skipped:+, $skipped skipped}"
[ "$failed" -eq 0 ]
