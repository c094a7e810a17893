#!/usr/bin/env bash
# Builds the host programs of consumer.c the Microsoft way (clang-cl,
# lld-link, no C runtime) against an unpacked release and runs them under
# Wine against the simulated board driver. Prints a line per check and
# closes with "N passed, N failed".
#   run_consumers.sh WINE_BOARD PREFIX RELEASE_DIR win64|win32
set -uo pipefail
board=$1 prefix=$2 release=$3 system=$4
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ "$system" = win64 ]; then
    target=x86_64-pc-windows-msvc mingw=x86_64-w64-mingw32 link_flags=()
else
    target=i686-pc-windows-msvc mingw=i686-w64-mingw32 link_flags=(/machine:x86 /safeseh:no)
fi

passed=0 failed=0
check() {
    if [ "$2" == "$3" ]; then
        passed=$((passed + 1))
        echo "ok   $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1"
        diff <(printf '%s\n' "$3") <(printf '%s\n' "$2") | sed 's/^/       /'
    fi
}

# build NAME CL_FLAGS...: consumer.c into $work/NAME.exe, next to QUORVEL.dll.
build() {
    local name=$1
    shift
    clang-cl-14 --target=$target /nologo /O1 /GS- /W4 /WX "$@" -I "$release/include" /c "/Fo$work/$name.obj" \
        -- "$here/consumer.c" &&
        lld-link /nologo /nodefaultlib /subsystem:console /entry:consumer_start "${link_flags[@]}" \
            "/out:$work/$name.exe" "$work/$name.obj" "$release/lib/QUORVEL.lib" "/usr/$mingw/lib/libkernel32.a"
}

# run NAME PORTS: runs $work/NAME.exe; sets OUT (CR removed), RC and LOG.
run() {
    rm -f "$work/requests.log"
    OUT=$(bash "$board" run "$prefix" "$work" "$work/requests.log" "$2" - -- "$work/$1.exe" | tr -d '\r')
    RC=${PIPESTATUS[0]}
    LOG=$(cat "$work/requests.log" 2>/dev/null)
}

cp "$release/bin/QUORVEL.dll" "$work/"

# 32-bit code calls a C function as _QUORVEL_INIT; /Gz (stdcall by default)
# would make it _QUORVEL_INIT@0 but for the header's explicit __cdecl.
variants=(default)
[ "$system" = win32 ] && variants+=(Gz)
for variant in "${variants[@]}"; do
    flags=()
    [ "$variant" = Gz ] && flags=(/Gz)
    build "consumer_$variant" "${flags[@]}"
    check "$variant: consumer builds against QUORVEL.lib" "$?" 0
    imports=$("$mingw-objdump" -p "$work/consumer_$variant.exe" | sed -n '/DLL Name: QUORVEL.dll/,/^$/p' |
        awk 'NR > 2 && NF == 3 { print $3 }' | sort | tr '\n' ' ')
    check "$variant: imports by name from QUORVEL.dll" "$imports" "QUORVEL_CLOSE QUORVEL_INIT QUORVEL_READ QUORVEL_WRITE "
    run "consumer_$variant" "7 3 12 4"
    check "$variant: a register written and read back" "$RC" 0
    check "$variant: the board's log" "$LOG" "COM3 open
COM3 80052038 21a5 0 ok
COM3 80052034 21 1 ok
COM3 close"
done

# FreeLibrary without QUORVEL_CLOSE lets the port go, so the next load opens it.
build unload /DCONSUMER_UNLOAD
run unload "7 3 12 4"
check "unload: INIT and a write after FreeLibrary and a new load" "$RC" 0
check "unload: the port closed between the two opens" "$LOG" "COM3 open
COM3 close
COM3 open
COM3 80052038 13c0 0 ok
COM3 close"

# A host that ends abruptly still shows what the library printed into a pipe.
build terminate /DCONSUMER_TERMINATE
run terminate nodriver
check "terminate: exit status of TerminateProcess" "$RC" 7
check "terminate: the library's message reached the pipe" "$OUT" "Driver is not installed"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
