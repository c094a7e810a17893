#!/bin/bash
# End-to-end check of the Wine board rig itself: builds the simulated driver
# and the probe, prepares a prefix and runs the probe through
# wine_board.sh run in each board scenario, comparing the probe's output,
# the driver's log and the exit status with what the board must do.
#
#   tests/wine/selftest.sh [WORKDIR]
#
# WORKDIR (default: a new directory under /tmp, removed afterwards) holds the
# prefix, the binaries and the logs.  Needs mingw-w64, wine and wine64.
# Prints one line per check and closes with "N passed, N failed".

set -u

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BOARD=$HERE/wine_board.sh

if [ $# -ge 1 ]; then
    WORK=$1
    mkdir -p "$WORK"
else
    WORK=$(mktemp -d /tmp/quorvel-wine.XXXXXX)
    trap 'rm -rf "$WORK"' EXIT
fi
WORK=$(cd "$WORK" && pwd)

source "$HERE/check.sh"
skipped=0

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# probe NAME PORTS FAULTS [PROBE STEPS...]: runs the probe in a fresh session;
# sets OUT (stdout, CR removed), ERR (stderr), RC and LOG (driver log).
run_count=0
run_time=0
probe() {
    local name=$1 ports=$2 faults=$3 t0 t1
    shift 3
    local log=$WORK/logs/$name.log
    rm -f "$log"
    t0=$(now)
    "$BOARD" run "$WORK/prefix" "$WORK/cwd dir" "$log" "$ports" "$faults" -- \
        "$WORK/bin/probe.exe" "$@" >"$WORK/logs/$name.out" 2>"$WORK/logs/$name.err"
    RC=$?
    t1=$(now)
    OUT=$(tr -d '\r' <"$WORK/logs/$name.out")
    ERR=$(cat "$WORK/logs/$name.err")
    LOG=$(cat "$log" 2>/dev/null)
    run_count=$((run_count + 1))
    run_time=$(awk -v s="$run_time" -v d="$(elapsed "$t0" "$t1")" 'BEGIN { print s + d }')
    echo "     ($name: $(elapsed "$t0" "$t1") s)"
}

fault_file() {
    local f=$WORK/faults/$1
    shift
    printf '%s\n' "$@" >"$f"
    echo "$f"
}

mkdir -p "$WORK/bin" "$WORK/logs" "$WORK/faults" "$WORK/cwd dir"

"$BOARD" build-driver "$WORK/bin/quorvelsim.sys" || { echo "driver build failed"; exit 1; }
"$BOARD" build-probe "$WORK/bin/probe.exe" || { echo "probe build failed"; exit 1; }

t0=$(now)
"$BOARD" prepare "$WORK/prefix" "$WORK/bin/quorvelsim.sys" || { echo "prepare failed"; exit 1; }
t1=$(now)
echo "     (prepare: $(elapsed "$t0" "$t1") s)"

# Four ports; the probe picks the lowest like the DLL does, writes, reads back
# within the session and sends malformed requests.
probe basic "7 3 12 4" - map open w 13 c0 r 13 r 14 \
    raw 80052034 1300 1 raw 80052038 13 0 raw 80052034 13 2 raw 80052038 13c0 1 \
    raw 80052030 13 1 raw 80052034 - 1 close
check "basic: exit status is the number of failed steps" "$RC" 6
check "basic: program output" "$OUT" "map \\Device\\ser15x0=COM7
map \\Device\\ser15x1=COM3
map \\Device\\ser15x2=COM12
map \\Device\\ser15x3=COM4
open COM3 ok
w 13 c0 ok
r 13 ok c0
r 14 ok 00
raw 80052034 fail 1
raw 80052038 fail 1
raw 80052034 fail 1
raw 80052038 fail 1
raw 80052030 fail 1
raw 80052034 fail 1
close"
check "basic: driver log" "$LOG" "COM3 open
COM3 80052038 13c0 0 ok
COM3 80052034 13 1 ok
COM3 80052034 14 1 ok
COM3 80052034 1300 1 fail
COM3 80052038 13 0 fail
COM3 80052034 13 2 fail
COM3 80052038 13c0 1 fail
COM3 80052030 13 1 fail
COM3 80052034  1 fail
COM3 close"
check "basic: nothing on stderr" "$ERR" ""

# Starting register values from the environment, upper- or lower-case.
WINE_BOARD_REGISTERS="13=c0  10=0A ff=01" probe registers "7 3 12 4" - open r 13 r 10 r ff r 12 close
check "WINE_BOARD_REGISTERS: registers start as given" "$OUT" "open COM3 ok
r 13 ok c0
r 10 ok 0a
r ff ok 01
r 12 ok 00
close"

# The register file starts at zero in every session.
probe reset "7 3 12 4" - open r 13 close
check "reset: register back to zero" "$OUT" "open COM3 ok
r 13 ok 00
close"

# Every port reaches the same register file.
probe shared "7 3 12 4" - open 12 w 20 5a close open 4 r 20 close open 7 r 20 close
check "shared: one register file behind all ports" "$OUT" "open COM12 ok
w 20 5a ok
close
open COM4 ok
r 20 ok 5a
close
open COM7 ok
r 20 ok 5a
close"
check "shared: port names in the log" "$LOG" "COM12 open
COM12 80052038 205a 0 ok
COM12 close
COM4 open
COM4 80052034 20 1 ok
COM4 close
COM7 open
COM7 80052034 20 1 ok
COM7 close"

# A missing fourth map entry: no value, no device.
probe missing4 "7 3 12" - map open 4 open
check "missing fourth entry: map and opens" "$OUT" "map \\Device\\ser15x0=COM7
map \\Device\\ser15x1=COM3
map \\Device\\ser15x2=COM12
open COM4 fail 2
open COM3 ok"
check "missing fourth entry: exit status" "$RC" 1

# A gap: the second entry is missing.
probe gap "7 - 12 4" - map open
check "missing second entry" "$OUT" "map \\Device\\ser15x0=COM7
map \\Device\\ser15x2=COM12
map \\Device\\ser15x3=COM4
open COM4 ok"

# No driver: no board entries in the map, nothing to open, no log.
probe nodriver nodriver - map open open 3
check "nodriver: output" "$OUT" "open none
open COM3 fail 2"
check "nodriver: nothing on stderr" "$ERR" ""
check "nodriver: no log file" "$(test -e "$WORK/logs/nodriver.log" && echo exists)" ""

# Open fault: CreateFile fails, nothing logged.
probe fault_open "7 3 12 4" "$(fault_file open open)" map open open 7
check "open fault: output" "$OUT" "map \\Device\\ser15x0=COM7
map \\Device\\ser15x1=COM3
map \\Device\\ser15x2=COM12
map \\Device\\ser15x3=COM4
open COM3 fail 2
open COM7 fail 2"
check "open fault: empty log" "$LOG" ""

# Write fault on one register: that write fails and leaves it unchanged.
probe fault_write "7 3 12 4" "$(fault_file write13 'write 13')" open w 12 11 w 13 c0 r 13 w 14 aa r 14 r 12 close
check "write fault: output" "$OUT" "open COM3 ok
w 12 11 ok
w 13 c0 fail 1117
r 13 ok 00
w 14 aa ok
r 14 ok aa
r 12 ok 11
close"
check "write fault: log" "$LOG" "COM3 open
COM3 80052038 1211 0 ok
COM3 80052038 13c0 0 fail
COM3 80052034 13 1 ok
COM3 80052038 14aa 0 ok
COM3 80052034 14 1 ok
COM3 80052034 12 1 ok
COM3 close"

# Read fault with upper-case digits, a comment and a blank line, plus a
# write fault on every register.
probe fault_mix "7 3 12 4" "$(fault_file mix '# comment' '' 'read 2A' 'write *')" open r 2a r 2b w 2b 01 w 00 01 close
check "read 2A and write *: output" "$OUT" "open COM3 ok
r 2a fail 1117
r 2b ok 00
w 2b 01 fail 1117
w 00 01 fail 1117
close"
check "read 2A and write *: log" "$LOG" "COM3 open
COM3 80052034 2a 1 fail
COM3 80052034 2b 1 ok
COM3 80052038 2b01 0 fail
COM3 80052038 0001 0 fail
COM3 close"

# A read accepted with no byte: success, 0 bytes returned, logged as ok; a
# read fault on the same register wins.
probe fault_read_empty "7 3 12 4" "$(fault_file readempty 'read-empty 13' 'read-empty 14' 'read 14')" \
    open w 13 c0 r 13 r 14 r 12 close
check "read-empty: output and exit status" "$OUT $RC" "open COM3 ok
w 13 c0 ok
r 13 ok none
r 14 fail 1117
r 12 ok 00
close 1"
check "read-empty: log" "$LOG" "COM3 open
COM3 80052038 13c0 0 ok
COM3 80052034 13 1 ok
COM3 80052034 14 1 fail
COM3 80052034 12 1 ok
COM3 close"

# Read fault on every register.
probe fault_read_all "7 3 12 4" "$(fault_file readall 'read *')" open w 01 02 r 01 r ff close
check "read *: output" "$OUT" "open COM3 ok
w 01 02 ok
r 01 fail 1117
r ff fail 1117
close"

# A port is exclusive: a second handle gets refused requests, a reopen after
# close works.
probe exclusive "7 3 12 4" - open w 13 c0 open2 swap r 13 w 13 00 swap r 13 close open r 13 close
check "exclusive: output" "$OUT" "open COM3 ok
w 13 c0 ok
open2 COM3 ok
swap
r 13 fail 5
w 13 00 fail 5
swap
r 13 ok c0
close
open COM3 ok
r 13 ok c0
close"
check "exclusive: log" "$LOG" "COM3 open
COM3 80052038 13c0 0 ok
COM3 80052034 13 1 fail
COM3 80052038 1300 0 fail
COM3 80052034 13 1 ok
COM3 close
COM3 open
COM3 80052034 13 1 ok
COM3 close"

# Exiting with the port open still logs the close.
probe exit_open "7 3 12 4" - open w 10 01 exit
check "exit holding the port: log ends with close" "$LOG" "COM3 open
COM3 80052038 1001 0 ok
COM3 close"

# A program that crashes with the port open ends with a status that is not 0
# (0xC0000005, of which Linux keeps 5), and the driver still sees the close.
probe crash "7 3 12 4" - open w 10 01 crash
check "crash holding the port: exit status, log" "$RC
$LOG" "5
COM3 open
COM3 80052038 1001 0 ok
COM3 close"

# The same crash in a 32-bit program, which reads the 32-bit registry view:
# the exception code as its status, and no crash dump (winedbg's register
# dump and backtrace) on its output. Wine's loader still says on standard
# error that it was unhandled, as for a 64-bit program.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    i686-w64-mingw32-gcc -O2 -Wall -Wextra -s -o "$WORK/bin/probe32.exe" "$HERE/probe.c" -ladvapi32 ||
        { echo "32-bit probe build failed"; exit 1; }
    "$BOARD" run "$WORK/prefix" "$WORK/cwd dir" "$WORK/logs/crash32.log" "7 3 12 4" - -- \
        "$WORK/bin/probe32.exe" open w 10 01 crash >"$WORK/logs/crash32.out" 2>"$WORK/logs/crash32.err"
    check "32-bit crash holding the port: exit status, output, no dump, log" "$?
$(tr -d '\r' <"$WORK/logs/crash32.out")
$(grep -ciE 'backtrace|register dump' "$WORK/logs/crash32.err")
$(cat "$WORK/logs/crash32.log")" "5
open COM3 ok
w 10 01 ok
0
COM3 open
COM3 80052038 1001 0 ok
COM3 close"
else
    skipped=$((skipped + 1))
    echo "skip 32-bit crash holding the port: this machine cannot start 32-bit programs"
fi

# What the rig sets for programs holds in both registry views: a 32-bit
# program reads the 32-bit one (Wow6432Node), where wineboot puts winedbg as
# the crash debugger too, and a 32-bit QUORVEL.dll reads the serial map
# there. The 64-bit reg.exe reads either view (/reg:64, /reg:32), so a
# machine that cannot start 32-bit programs checks the 32-bit view as well.
reg_query() {
    "$BOARD" run "$WORK/prefix" "$WORK/cwd dir" "$WORK/logs/reg.log" "$1" - -- 'C:\windows\system32\reg.exe' query \
        "${@:2}" 2>/dev/null | tr -d '\r' | sed -n 's/^ *\([^ ].*[^ ]\) *$/\1/p'
}
for view in 64 32; do
    check "registry view /reg:$view: no crash debugger" \
        "$(reg_query nodriver 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /reg:$view)" \
        "HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug
Debugger    REG_SZ"
    check "registry view /reg:$view: the board's ports in the serial map" \
        "$(reg_query "7 3 12 4" 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /reg:$view | grep ser15x)" \
        "\Device\ser15x0    REG_SZ    COM7
\Device\ser15x1    REG_SZ    COM3
\Device\ser15x2    REG_SZ    COM12
\Device\ser15x3    REG_SZ    COM4"
done

# COM1 is also the number Wine's mount manager gives the host's /dev/ttyS0;
# the board must still win.
probe com1 "1 2 5 6" - open w 13 c0 r 13 close
check "COM1 reaches the driver: output" "$OUT" "open COM1 ok
w 13 c0 ok
r 13 ok c0
close"
check "COM1 reaches the driver: log" "$LOG" "COM1 open
COM1 80052038 13c0 0 ok
COM1 80052034 13 1 ok
COM1 close"

# Working directory and a log that already has content (lines are appended).
mkdir -p "$WORK/logs/with space"
printf 'earlier line\n' >"$WORK/logs/with space/append.log"
OUT=$("$BOARD" run "$WORK/prefix" "$WORK/cwd dir" "$WORK/logs/with space/append.log" "7 3 12 4" - -- \
    "$WORK/bin/probe.exe" cwd open close 2>/dev/null | tr -d '\r')
check "working directory" "$(head -1 <<<"$OUT")" "cwd Z:${WORK//\//\\}\\cwd dir"
check "log appended, path with a space" "$(cat "$WORK/logs/with space/append.log")" "earlier line
COM3 open
COM3 close"

# Scenario mistakes are reported as rig failures, not as a different board.
"$BOARD" run "$WORK/prefix" "$WORK/cwd dir" "$WORK/logs/bad.log" "7 x 12 4" - -- "$WORK/bin/probe.exe" >/dev/null 2>&1
check "bad PORTS: status 125" "$?" 125
"$BOARD" run "$WORK/prefix" "$WORK/cwd dir" "$WORK/logs/bad.log" "7 3 12 4" "$(fault_file bad 'write 1')" -- \
    "$WORK/bin/probe.exe" >/dev/null 2>&1
check "bad FAULTS: status 125" "$?" 125
WINE_BOARD_REGISTERS="13=c0 10=a" "$BOARD" run "$WORK/prefix" "$WORK/cwd dir" "$WORK/logs/bad.log" "7 3 12 4" - -- \
    "$WORK/bin/probe.exe" >/dev/null 2>&1
check "bad WINE_BOARD_REGISTERS: status 125" "$?" 125

# A program that does not end is stopped, the port closed with it, and the
# next run starts normally.
WINE_BOARD_TIMEOUT=2 "$BOARD" run "$WORK/prefix" "$WORK/cwd dir" "$WORK/logs/timeout.log" "7 3 12 4" - -- \
    "$WORK/bin/probe.exe" open sleep 60000 >/dev/null 2>"$WORK/logs/timeout.err"
check "time limit: status 124" "$?" 124
check "time limit: message" "$(cat "$WORK/logs/timeout.err")" \
    "wine_board.sh: $WORK/bin/probe.exe did not end within 2 s"
probe after_timeout "7 3 12 4" - open r 13 close
check "run after a stopped one" "$OUT" "open COM3 ok
r 13 ok 00
close"

# A copied prefix works on its own.
cp -a "$WORK/prefix" "$WORK/prefix2"
OUT=$("$BOARD" run "$WORK/prefix2" "$WORK/cwd dir" "$WORK/logs/copy.log" "9 8" - -- \
    "$WORK/bin/probe.exe" open r 13 close 2>/dev/null | tr -d '\r')
check "copied prefix" "$OUT" "open COM8 ok
r 13 ok 00
close"
rm -rf "$WORK/prefix2"

echo "     (average per run: $(awk -v s="$run_time" -v n="$run_count" 'BEGIN { printf "%.2f", s / n }') s over $run_count runs)"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
