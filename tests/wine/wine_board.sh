#!/bin/bash
# Runs Windows programs against the simulated QUORVEL board under Wine 8.
#
#   wine_board.sh build-driver OUT.sys
#       Compile quorvel_sim_driver.c (next to this script) into OUT.sys.
#   wine_board.sh build-probe OUT.exe
#       Compile probe.c (next to this script) into OUT.exe.
#   wine_board.sh prepare PREFIX DRIVER_SYS
#       Create a fresh headless win64 Wine prefix at PREFIX and install
#       DRIVER_SYS as the demand-start kernel service QuorvelSim.  A prepared
#       prefix may be copied (cp -a) and the copy used like the original.
#   wine_board.sh run PREFIX WORKDIR LOGFILE PORTS FAULTS -- EXE [ARGS...]
#       Start a Wine session with the board described by PORTS and FAULTS,
#       run EXE (host path, or a Windows path like C:\x.exe) with ARGS in
#       WORKDIR, stop the session, exit with EXE's status.  EXE's stdout
#       and stderr pass through; Wine's own output is dropped.
#         LOGFILE  host path the driver appends its event lines to
#         PORTS    "7 3 12 4": COM numbers of \Device\ser15x0..3 in that
#                  order; fewer than four leave out the last entries, "-"
#                  leaves out one entry; "nodriver": the driver is not
#                  started, so the serial map has no board entries
#         FAULTS   file with one fault per line, or "-" for none:
#                    open           the ports do not open
#                    read RR        reads of register RR fail
#                    read-empty RR  reads of register RR succeed but
#                                   return no byte (0 bytes returned)
#                    write RR       writes of register RR fail
#                  RR = two hex digits or *; blank and # lines are ignored
#       Exit status 125 means the rig itself failed (bad arguments, the
#       driver did not start), 124 that EXE was stopped after the time
#       limit; EXE's own status is passed through otherwise.
#
# Environment:
#   WINE_BOARD_TIMEOUT  seconds EXE may run (default 120, 0 for no limit)
#   WINE_BOARD_REGISTERS  register values the board starts with in `run`,
#                       blank separated RR=VV pairs of two hex digits each,
#                       e.g. "13=c0 10=0a"; unset or empty: all zero
#   WINE_BOARD_DOTNET=1  in `run`: Wine's mscoree stays on, which a .NET
#                       (Core) program needs to load its assemblies, and the
#                       runtime maps its JIT code once (see wine_env)
#   WINE_BOARD_DEBUG=1  keep Wine's own output, with error messages on, in
#                       PREFIX/.quorvel/wine.out instead of discarding it
#   WINE_BOARD_KEEP_REGISTRY=1  in a `run` with PORTS nodriver: the registry
#                       as the run left it becomes the prefix's prepared one,
#                       so what EXE installed (an MSI's registration, its
#                       Add/Remove Programs entry) is there in later runs

set -u

readonly SERVICE=QuorvelSim
readonly SERVICE_KEY='System\\CurrentControlSet\\Services\\QuorvelSim'
readonly HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly WINE_DIR=/usr/lib/wine

die() {
    echo "wine_board.sh: $*" >&2
    exit 125
}

usage() {
    sed -n '2,/^$/{s/^# \{0,1\}//;p}' "${BASH_SOURCE[0]}" >&2
    exit 125
}

# Everything Wine needs to run headless, without prompts, inside PREFIX only.
wine_env() {
    local prefix=$1
    export WINEPREFIX=$prefix
    export WINEARCH=win64
    export WINEDEBUG=-all
    # No Mono/Gecko install prompts; no menu entries or file associations
    # written to the host desktop.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    # A .NET program needs Wine's own mscoree: Wine's loader hands it each
    # IL-only assembly the runtime loads, and without it System.Runtime.dll
    # "cannot be found". It installs nothing when a program merely loads it.
    # .NET 7 and later map JIT code twice, a writable view and an executable
    # one, which Wine 8 does not always keep apart: on some machines the
    # runtime then dies with "Internal CLR error. (0x80131506)" in a
    # finalizer. One view that turns writable and executable in turn works
    # everywhere. Test rig only: on Windows the double mapping works.
    if [ "${WINE_BOARD_DOTNET:-0}" = 1 ]; then
        export WINEDLLOVERRIDES="mshtml=;winemenubuilder.exe=d"
        export DOTNET_EnableWriteXorExecute=0
    fi
    unset DISPLAY WAYLAND_DISPLAY WINESERVER WINELOADER
    # Wine creates desktop folders under $HOME and XDG dirs even with the
    # menu builder off; keep all of that inside the prefix.
    export HOME=$prefix/.quorvel/home
    unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR
    mkdir -p "$HOME"
    WINE=$WINE_DIR/wine64
    WINESERVER=$WINE_DIR/wineserver
    [ -x "$WINE" ] && [ -x "$WINESERVER" ] || die "wine64 not found in $WINE_DIR (apt-get install wine wine64)"
    if [ "${WINE_BOARD_DEBUG:-0}" = 1 ]; then
        WINE_OUT=$prefix/.quorvel/wine.out
        export WINEDEBUG=err+all,fixme-all
    else
        WINE_OUT=/dev/null
    fi
}

abspath() {
    case $1 in
        /*) printf '%s\n' "$1" ;;
        *) printf '%s\n' "$PWD/$1" ;;
    esac
}

# Registry file data of a string: UTF-16LE bytes as comma separated hex,
# so no character of a path or fault line needs escaping.
reg_hex() {
    printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ' ' |
        sed 's/^ //; s/ $//; s/ /,/g'
}

# REG_SZ as hex(1), terminated.
reg_sz() {
    local hex
    hex=$(reg_hex "$1")
    printf 'hex(1):%s%s00,00' "$hex" "${hex:+,}"
}

# REG_MULTI_SZ as hex(7) from the given strings.
reg_multi_sz() {
    local out='' s hex
    for s in "$@"; do
        hex=$(reg_hex "$s")
        out+="$hex${hex:+,}00,00,"
    done
    printf 'hex(7):%s00,00' "$out"
}

cmd_build_driver() {
    [ $# -eq 1 ] || usage
    x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -ffreestanding -fno-stack-protector \
        -I/usr/x86_64-w64-mingw32/include/ddk -shared -nostdlib \
        -Wl,--subsystem,native -Wl,--entry,DriverEntry \
        -o "$1" "$HERE/quorvel_sim_driver.c" -lntoskrnl -lhal -lgcc
}

cmd_build_probe() {
    [ $# -eq 1 ] || usage
    x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -s -o "$1" "$HERE/probe.c" -ladvapi32
}

cmd_prepare() {
    [ $# -eq 2 ] || usage
    local prefix driver
    prefix=$(abspath "$1")
    driver=$(abspath "$2")
    [ -f "$driver" ] || die "no driver file $driver"
    if [ -e "$prefix" ]; then
        if [ -f "$prefix/.quorvel/base.reg" ]; then
            WINEPREFIX=$prefix "$WINE_DIR/wineserver" -k >/dev/null 2>&1
            rm -rf "$prefix"
        elif [ -n "$(ls -A "$prefix" 2>/dev/null)" ]; then
            die "$prefix exists and is not a prefix made by this script"
        fi
    fi
    mkdir -p "$prefix/.quorvel" || die "cannot create $prefix"
    wine_env "$prefix"

    "$WINE" wineboot -i >"$prefix/.quorvel/prepare.out" 2>&1
    "$WINESERVER" -w
    [ -f "$prefix/system.reg" ] || die "wineboot failed, see $prefix/.quorvel/prepare.out"

    cp "$driver" "$prefix/drive_c/windows/system32/drivers/quorvelsim.sys" || die "cannot install driver"
    # The service is added by writing Wine's registry file while no session
    # runs: the server reads it at the next start.  The path must start with
    # \SystemRoot (a plain System32\drivers\... path fails with error 1114).
    {
        cat "$prefix/system.reg"
        printf '\n[%s] 0\n' "$SERVICE_KEY"
        printf '"ErrorControl"=dword:00000001\n'
        printf '"ImagePath"=%s\n' "$(reg_sz '\SystemRoot\System32\drivers\quorvelsim.sys')"
        printf '"Start"=dword:00000003\n'
        printf '"Type"=dword:00000001\n'
        # No debugger for a program that crashes. Wine's own (winedbg --auto)
        # prints a crash dump and may end the program with status 0: an
        # unhandled .NET exception then read as success. Without one, as on
        # Windows without a debugger, the program ends at once with the
        # exception code as its status (0xC0000005, 0xE0434352 ...), of which
        # a Linux status keeps the low 8 bits: none of these codes has 0 there.
        # A 32-bit program reads the 32-bit view of the key (Wow6432Node),
        # which wineboot fills with winedbg as well: both views are cleared.
        local view
        for view in '' 'Wow6432Node\\'; do
            printf '\n[Software\\\\%sMicrosoft\\\\Windows NT\\\\CurrentVersion\\\\AeDebug] 0\n' "$view"
            printf '"Auto"="1"\n"Debugger"=""\n'
        done
    } >"$prefix/.quorvel/base.reg" || die "cannot write registry"
    cp "$prefix/.quorvel/base.reg" "$prefix/system.reg"
}

# Fault lines must be understood by the driver too; checking them here gives
# a readable message instead of a service that will not start.
check_faults() {
    local line
    while IFS= read -r line || [ -n "$line" ]; do
        line=${line%$'\r'}
        [[ $line =~ ^[[:blank:]]*(#.*)?$ ]] && continue
        [[ $line =~ ^[[:blank:]]*(open|(read|read-empty|write)[[:blank:]]+([0-9a-fA-F]{2}|\*))[[:blank:]]*$ ]] ||
            die "bad fault line: $line"
    done <"$1"
}

# The same holds for the starting register values (blanks are spaces or tabs,
# as the driver reads them).
check_registers() {
    local pair='[0-9a-fA-F]{2}=[0-9a-fA-F]{2}'
    [[ $1 =~ ^[[:blank:]]*($pair([[:blank:]]+$pair)*)?[[:blank:]]*$ ]] ||
        die "bad WINE_BOARD_REGISTERS value: $1"
}

# Stops the session: the server started by this run by its process id
# (SIGINT makes it end all Wine processes of the session, in about 0.5 s,
# where 'wineserver -k' polls and takes 0.8 s), then any other server left
# on this prefix, e.g. by an interrupted run.
server_pid=
session_stop() {
    if [ -n "$server_pid" ]; then
        kill -INT "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
        server_pid=
    fi
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
}

# Wine queues IRP_MJ_CLOSE when a process exits holding the port, and the
# driver may see it just after the program is gone.  Wait (bounded) until
# every open logged during this run has its close.
wait_for_closes() {
    local log=$1 from=$2 i opens closes
    for ((i = 0; i < 150; i++)); do
        [ -f "$log" ] || return 0
        opens=$(tail -c "+$((from + 1))" "$log" | grep -c ' open$')
        closes=$(tail -c "+$((from + 1))" "$log" | grep -c ' close$')
        [ "$opens" -le "$closes" ] && return 0
        sleep 0.02
    done
}

cmd_run() {
    [ $# -ge 7 ] && [ "$6" = -- ] || usage
    local prefix workdir logfile ports faults exe
    prefix=$(abspath "$1")
    workdir=$(abspath "$2")
    logfile=$(abspath "$3")
    ports=$4
    faults=$5
    case $7 in
        [A-Za-z]:[\\/]*) exe=$7 ;;
        *) exe=$(abspath "$7") ;;
    esac
    shift 7

    [ -f "$prefix/.quorvel/base.reg" ] || die "$prefix is not prepared (run: wine_board.sh prepare)"
    [ -d "$workdir" ] || die "no directory $workdir"
    [[ $exe == /* ]] && { [ -f "$exe" ] || die "no program $exe"; }
    [ -d "$(dirname "$logfile")" ] || die "no directory for the log file $logfile"
    local limit=${WINE_BOARD_TIMEOUT:-120}
    [[ $limit =~ ^[0-9]+$ ]] || die "WINE_BOARD_TIMEOUT must be a number of seconds"
    local registers=${WINE_BOARD_REGISTERS:-}
    check_registers "$registers"
    # A run with the driver adds its scenario to the registry, which must
    # not become part of the prepared one.
    local keep=${WINE_BOARD_KEEP_REGISTRY:-0}
    [ "$keep" = 0 ] || { [ "$keep" = 1 ] && [ "$ports" = nodriver ]; } ||
        die "WINE_BOARD_KEEP_REGISTRY=1 needs PORTS nodriver"

    local -a coms=() fault_lines=()
    local tok
    if [ "$ports" != nodriver ]; then
        for tok in $ports; do
            [ "$tok" = - ] && continue
            [[ $tok =~ ^[1-9][0-9]{0,2}$ ]] && [ "$tok" -le 256 ] ||
                die "bad COM number '$tok' in PORTS"
            coms+=("$tok")
        done
        [ "$(wc -w <<<"$ports")" -le 4 ] || die "more than four entries in PORTS"
    fi
    if [ "$faults" != - ]; then
        [ -f "$faults" ] || die "no faults file $faults"
        check_faults "$faults"
        # An empty string would end the REG_MULTI_SZ list early, so blank
        # and comment lines stay out of it.
        local line
        while IFS= read -r line || [ -n "$line" ]; do
            line=${line%$'\r'}
            [[ $line =~ ^[[:blank:]]*(#.*)?$ ]] || fault_lines+=("$line")
        done <"$faults"
    fi

    wine_env "$prefix"

    # One session per prefix at a time; a copied prefix is independent.
    # Wine processes get the lock descriptor closed (9>&-): a session left
    # behind by a killed run must not keep the next run waiting.
    exec 9>"$prefix/.quorvel/lock"
    flock 9

    session_stop
    # Each run starts from the registry as prepared, plus this scenario, so
    # nothing carries over from the previous run.
    {
        cat "$prefix/.quorvel/base.reg"
        if [ "$ports" != nodriver ]; then
            printf '\n[%s\\\\Parameters] 0\n' "$SERVICE_KEY"
            printf '"Ports"=%s\n' "$(reg_sz "$ports")"
            printf '"LogFile"=%s\n' "$(reg_sz "$logfile")"
            if [ ${#fault_lines[@]} -gt 0 ]; then
                printf '"Faults"=%s\n' "$(reg_multi_sz "${fault_lines[@]}")"
            fi
            if [ -n "$registers" ]; then
                printf '"Registers"=%s\n' "$(reg_sz "$registers")"
            fi
        fi
    } >"$prefix/system.reg" || die "cannot write registry"

    trap session_stop EXIT
    trap 'exit 130' INT TERM HUP
    # A persistent server in the foreground, so that this script knows its
    # process id.  A Wine client that comes before the server is listening
    # waits and retries by itself.
    session_start() {
        "$WINESERVER" -f -p >>"$WINE_OUT" 2>&1 9>&- &
        server_pid=$!
    }
    session_start
    # Starting the service boots the session (services, mount manager) and
    # returns once DriverEntry has run; sc fails if it did not.  Without the
    # driver the session is booted all the same, so that Wine's background
    # processes never hold on to the program's stdout and stderr.  Now and
    # then (once in a few hundred runs) the start fails while the session
    # boots: a fresh session gets two more tries, and a driver that cannot
    # start with this scenario fails all three.
    if [ "$ports" != nodriver ]; then
        local try
        for try in 1 2 3; do
            "$WINE" sc start "$SERVICE" >>"$WINE_OUT" 2>&1 9>&- && break
            [ "$try" -lt 3 ] || die "driver did not start (bad scenario? WINE_BOARD_DEBUG=1 shows Wine's output)"
            session_stop
            session_start
        done
    else
        "$WINE" sc query "$SERVICE" >>"$WINE_OUT" 2>&1 9>&-
    fi

    # Wine's mount manager links host serial devices (/dev/ttyS0 ...) to
    # COM1, COM2, ... in dosdevices at session start, and such a link wins
    # over the NT namespace when a program opens \\.\COMn.  The board's
    # numbers must reach the driver.
    local n
    for n in "${coms[@]}"; do
        rm -f "$prefix/dosdevices/com$n"
    done

    local log_start=0 status
    [ -f "$logfile" ] && log_start=$(stat -c %s "$logfile")
    (cd "$workdir" && exec timeout --foreground "$limit" "$WINE" "$exe" "$@" 9>&-)
    status=$?
    [ "$status" -eq 124 ] && [ "$limit" != 0 ] &&
        echo "wine_board.sh: $exe did not end within $limit s" >&2
    [ "$ports" != nodriver ] && wait_for_closes "$logfile" "$log_start"

    session_stop
    trap - EXIT
    if [ "$keep" = 1 ]; then
        cp "$prefix/system.reg" "$prefix/.quorvel/base.reg" || die "cannot keep the registry"
    fi
    exit "$status"
}

[ $# -ge 1 ] || usage
cmd=$1
shift
case $cmd in
    build-driver) cmd_build_driver "$@" ;;
    build-probe) cmd_build_probe "$@" ;;
    prepare) cmd_prepare "$@" ;;
    run) cmd_run "$@" ;;
    *) usage ;;
esac
