#!/usr/bin/env bash
# Builds the host programs of consumer.c the Microsoft way (clang-cl,
# lld-link, no C runtime) against an unpacked release and runs them under
# Wine against the simulated board driver. Prints a line per check and
# closes with "N passed, N failed".
#   run_consumers.sh WINE_BOARD PREFIX RELEASE_DIR win64|win32 [OVERRUN_EXE]
# PREFIX "-": build and check the programs, run none (for a machine that
# cannot run them). OVERRUN_EXE, the release build's test-only
# stack_cookie_overrun.exe with its PDB beside it, adds the rows of a
# smashed stack.
set -uo pipefail
board=$1 prefix=$2 release=$3 system=$4 overrun=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ "$system" = win64 ]; then
    processor=x86_64
else
    processor=i686
fi

source "$here/../wine/check.sh"

# The programs of consumer.c, built as a Visual Studio project would build
# them: find_package(QUORVEL) in the release, QUORVEL.lib, the Microsoft ABI.
build_status=0
configure=$(cmake -S "$here/consumer" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_TOOLCHAIN_FILE=$here/consumer/toolchain.cmake" -DQUORVEL_CONSUMER_PROCESSOR=$processor \
    "-DQUORVEL_DIR=$release/lib/cmake/QUORVEL" 2>&1) && cmake --build "$work/build" >/dev/null || build_status=$?
check "consumers configure and build against QUORVEL.lib" "$build_status" 0
[ "$build_status" -eq 0 ] || echo "$configure"
cp "$release/bin/QUORVEL.dll" "$work/build/"

# run NAME PORTS: runs the program NAME; sets OUT (CR removed), RC and LOG.
run() {
    rm -f "$work/requests.log"
    OUT=$(bash "$board" run "$prefix" "$work" "$work/requests.log" "$2" - -- "$work/build/$1.exe" | tr -d '\r')
    RC=${PIPESTATUS[0]}
    LOG=$(cat "$work/requests.log" 2>/dev/null)
}

# 32-bit code calls a C function as _QUORVEL_INIT; /Gz (stdcall by default)
# would make it _QUORVEL_INIT@0 but for the header's explicit __cdecl.
variants=(default)
[ "$system" = win32 ] && variants+=(Gz)
for variant in "${variants[@]}"; do
    imports=$("$processor-w64-mingw32-objdump" -p "$work/build/consumer_$variant.exe" | sed -n '/DLL Name: QUORVEL.dll/,/^$/p' |
        awk 'NR > 2 && NF == 3 { print $3 }' | sort | tr '\n' ' ')
    check "$variant: imports by name from QUORVEL.dll" "$imports" "QUORVEL_CLOSE QUORVEL_INIT QUORVEL_READ QUORVEL_WRITE "
done
if [ "$prefix" = - ]; then
    echo "$passed passed, $failed failed (built only: this machine cannot run them)"
    [ "$failed" -eq 0 ]
    exit
fi

for variant in "${variants[@]}"; do
    run "consumer_$variant" "7 3 12 4"
    check "$variant: a register written and read back" "$RC" 0
    check "$variant: the board's log" "$LOG" "COM3 open
COM3 80052038 21a5 0 ok
COM3 80052034 21 1 ok
COM3 close"
done

# FreeLibrary without QUORVEL_CLOSE lets the port go, so the next load opens it.
run unload "7 3 12 4"
check "unload: INIT and a write after FreeLibrary and a new load" "$RC" 0
check "unload: the port closed between the two opens" "$LOG" "COM3 open
COM3 close
COM3 open
COM3 80052038 13c0 0 ok
COM3 close"

# A host that ends abruptly still shows what the library printed into a pipe.
run terminate nodriver
check "terminate: exit status of TerminateProcess" "$RC" 7
check "terminate: the library's message reached the pipe" "$OUT" "Driver is not installed"

# A function that overruns its stack buffer, linked as the shipped binaries
# are: its cookie check ends the process with __fastfail
# (FAST_FAIL_STACK_COOKIE_CHECK_FAILURE), status 0xC0000409, of which Linux
# sees the low 8 bits. Windows runs no handler of the process for it, and
# neither does Wine 8: it raises the exception as a last chance, never
# dispatched, and names it in its seh error line, whose address the PDB
# resolves to the handler. The program's vectored handler would print a line.
if [ -n "$overrun" ]; then
    long_text=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA
    OUT=$(bash "$board" run "$prefix" "$work" "$work/requests.log" nodriver - -- "$overrun" --handler short | tr -d '\r')
    RC=$?
    check "overrun: a text that fits is copied, the program returns" "$RC:$OUT" "0:copied short
returned"
    OUT=$(WINE_BOARD_DEBUG=1 bash "$board" run "$prefix" "$work" "$work/requests.log" nodriver - -- "$overrun" \
        --handler "$long_text" 2>"$work/wine.err" | tr -d '\r')
    RC=${PIPESTATUS[0]}
    check "overrun: exit status 0xC0000409 (low 8 bits)" "$RC" 9
    check "overrun: no return, no handler of the process runs" "$OUT" "copied $long_text"
    wine_line=$(grep -o 'Unhandled exception code [0-9a-f]* flags [0-9]* addr 0x[0-9a-f]*' "$work/wine.err")
    check "overrun: Wine raises STATUS_STACK_BUFFER_OVERRUN, non-continuable" "${wine_line% addr *}" \
        "Unhandled exception code c0000409 flags 1"
    frame=none
    [ -z "$wine_line" ] || frame=$(llvm-symbolizer-16 --obj="$overrun" "${wine_line##* }" | head -n 2 |
        sed 's/:[0-9]*:[0-9]*$//')
    check "overrun: the failing frame, named through the PDB" "$frame" "__stack_chk_fail
Demos\QUORVEL\win\stack_cookie_failure_win.cpp"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
