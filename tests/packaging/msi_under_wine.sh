#!/usr/bin/env bash
# The Windows Installer package of a MinGW-w64 build, checked with msiinfo
# and installed, upgraded, repaired and removed silently by Wine's own
# msiexec in a fresh copy of a prepared prefix, with its programs run
# against the simulated board driver from the install folder. Prints a line
# per check and closes with "N passed, N failed".
#   msi_under_wine.sh WINE_BOARD PREPARED_PREFIX BUILD_DIR SOURCE_DIR VERSION win64|win32 run|norun
# norun: the machine cannot run the package's programs (32-bit ones here);
# everything else is still done.
set -euo pipefail
export LC_ALL=C
board=$1 prepared=$2 build=$3 source=$4 version=$5 system=$6 run_programs=$7
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$here/../wine/check.sh"

if [ "$system" = win64 ]; then
    folder="Program Files" folder_property=ProgramFiles64Folder platform=x64 arp_key=''
else
    folder="Program Files (x86)" folder_property=ProgramFilesFolder platform=Intel arp_key='Wow6432Node\\'
fi
stage=$build/stage/bin
files=$'Configuration.ini\nLICENSE\nQUORVEL.dll\nQUORVELSerialProtocolSelection.exe\nQUORVELSerialProtocolStatus.exe\napply-configuration.cmd'

# The package of this build, and the next release's: this checkout with
# its version raised, built as a release is (unsigned), so that its
# binaries carry the higher FILEVERSION that decides, in a real upgrade,
# whether Windows Installer replaces the installed ones.
old=$build/release/QUORVEL-$version-$system.msi
IFS=. read -r major minor patch <<<"$version"
new_version=$major.$minor.$((patch + 1))
next=$work/next-version
mkdir "$next"
tar -C "$source" --exclude=./build --exclude=./out -cf - . | tar -C "$next" -xf -
sed -i "s/^    VERSION $version\$/    VERSION $new_version/" "$next/CMakeLists.txt"
grep -qx "    VERSION $new_version" "$next/CMakeLists.txt" || { echo "cannot raise the version in CMakeLists.txt"; exit 1; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
toolchain=$(cache CMAKE_TOOLCHAIN_FILE)
cmake -S "$next" -B "$next/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$next/${toolchain#"$source"/}" \
    -DCMAKE_BUILD_TYPE="$(cache CMAKE_BUILD_TYPE)" -DQUORVEL_BUILD_TESTS=OFF >"$work/next-build.out" 2>&1 &&
    cmake --build "$next/build" --target quorvel_release >>"$work/next-build.out" 2>&1 ||
    { tail -n 30 "$work/next-build.out"; exit 1; }
new=$next/build/release/QUORVEL-$new_version-$system.msi
new_stage=$next/build/stage/bin

# --- The packages' tables. ---
property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v name="$2" '$1 == name { print $2 }'; }
rows() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
check "per-machine (ALLUSERS)" "$(property "$old" ALLUSERS)" 1
check "product name and publisher" "$(property "$old" ProductName) $(property "$old" Manufacturer)" "QUORVEL QUORVEL"
check "versions" "$(property "$old" ProductVersion) $(property "$new" ProductVersion)" "$version $new_version"
upgrade_code=$(property "$old" UpgradeCode)
check "upgrade code the same in both versions" "$(property "$new" UpgradeCode)" "$upgrade_code"
guid='^\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}$'
check "upgrade code a GUID" "$([[ $upgrade_code =~ $guid ]] && echo yes || echo "$upgrade_code")" yes
check "a new product code for the new version" \
    "$([ "$(property "$old" ProductCode)" != "$(property "$new" ProductCode)" ] && echo yes || echo no)" yes
check "install folder" "$(rows "$old" Directory | grep '^INSTALLFOLDER')" "INSTALLFOLDER	$folder_property	QUORVEL"
check "platform" "$(msiinfo suminfo "$old" | sed -n 's/^Template: //p')" "$platform;1033"
check "the six files" "$(rows "$old" File | cut -f3 | sort)" "$files"
# The binaries' versions, which Windows Installer compares (the unversioned
# files go by their hashes).
versioned() { rows "$1" File | cut -f3,5,6 | grep -E '\.(dll|exe)'$'\t' | cut -f2,3 | sort -u | tr '\t\n' '  '; }
check "File table: the binaries' versions, old and new" "$(versioned "$old")/ $(versioned "$new")" \
    "$version.0 1033 / $new_version.0 1033 "
check "MsiFileHash: unversioned files only" "$(rows "$new" MsiFileHash | cut -f1 | sort | tr '\n' ' ')" \
    "Configuration.ini LICENSE apply_configuration.cmd "
check "no custom actions, registry values or environment changes" \
    "$(rows "$old" CustomAction; rows "$old" Registry; msiinfo tables "$old" | grep -x Environment || true)" ""
# Windows Installer takes GUIDs in upper case only.
lower=$( (for table in $(msiinfo tables "$old"); do msiinfo export "$old" "$table" 2>/dev/null || true; done
    msiinfo suminfo "$old") | grep -aoE '\{[0-9A-Fa-f-]{36}\}' | grep '[a-f]' || true)
check "every GUID upper case" "$lower" ""

# --- Installed by Wine's msiexec. ---
prefix=$work/prefix
cp -a "$prepared" "$prefix"
mkdir "$prefix/drive_c/packages" "$work/elsewhere"
cp "$old" "$new" "$prefix/drive_c/packages/"
old_msi="C:\\packages\\$(basename "$old")" new_msi="C:\\packages\\$(basename "$new")"
installed=$prefix/drive_c/$folder/QUORVEL

# msiexec ARGS...: sets RC. What it installs stays in the prefix's registry.
msiexec() {
    RC=0
    WINE_BOARD_KEEP_REGISTRY=1 bash "$board" run "$prefix" "$work/elsewhere" "$work/unused.log" nodriver - -- \
        'C:\windows\system32\msiexec.exe' "$@" || RC=$?
}
# Add/Remove Programs: "name version publisher" of each QUORVEL entry, read
# from the registry file Wine saved (32-bit packages' in Wow6432Node).
arp() {
    # Wine's file doubles each backslash of a key.
    ARP_KEY="[Software\\\\${arp_key}Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\" awk -F= '
        function flush() { if (name == "\"QUORVEL\"") print name, version, publisher; name = version = publisher = "" }
        /^\[/ { flush(); entry = index($0, ENVIRON["ARP_KEY"]) == 1; next }
        entry && $1 == "\"DisplayName\"" { name = $2 }
        entry && $1 == "\"DisplayVersion\"" { version = $2 }
        entry && $1 == "\"Publisher\"" { publisher = $2 }
        END { flush() }' "$prefix/system.reg" | tr -d '"'
}
listing() { (cd "$installed" 2>/dev/null && ls -A) || true; }
# The installed files but the batch file's log.
programs() { listing | grep -vx apply-configuration.log || true; }
# same_as_stage [STAGE]: the installed files that differ from those of a
# release's stage (by default this build's).
same_as_stage() {
    local file from=${1:-$stage}
    for file in $files; do
        cmp -s "$from/$file" "$installed/$file" || echo "$file differs"
    done
}

# The administrator's settings, unlike the board and unlike the sample. The
# win64 run edits the installed sample; the win32 run has them in the folder
# before the first install (copied by a policy, with an old date).
printf '# Set by the administrator\r\nPROTOCOL_FOR_PORTS_1_AND_2=1\r\nPROTOCOL_FOR_PORTS_3_AND_4=3\r\nSLEW_RATE_FOR_PORTS_1_AND_2=1\r\nSLEW_RATE_FOR_PORTS_3_AND_4=0\r\n' \
    >"$work/admin.ini"
put_settings() {
    mkdir -p "$installed"
    cp "$work/admin.ini" "$installed/Configuration.ini"
    touch -d 2020-01-01 "$installed/Configuration.ini"
}
settings() { cmp -s "$work/admin.ini" "$installed/Configuration.ini" && echo kept || echo "changed or gone"; }
[ "$system" = win32 ] && put_settings

# 1. Silent install.
msiexec /i "$old_msi" /qn
check "1 install: exit status" "$RC" 0
check "1 install: files" "$(listing)" "$files"
if [ "$system" = win64 ]; then
    check "1 install: the files are the release's" "$(same_as_stage)" ""
    put_settings
else
    check "1 install: the files are the release's, the settings the administrator's" \
        "$( (same_as_stage | grep -v '^Configuration.ini') || true)$(settings)" kept
fi
check "1 install: Add/Remove Programs" "$(arp)" "QUORVEL $version QUORVEL"

# 2. apply-configuration.cmd started as Task Scheduler and deployment agents
# start it: its quoted path is the program, the system folder the working
# directory. Then once more by the cmd /c line a script or a prompt would
# type, where the path needs doubled quotes: "(x86)" holds special
# characters, and with those between the outer quotes cmd /c strips them and
# looks for C:\Program. Wine escapes every quote it is handed from here, so
# that line stands in a script of its own. Each run: the
# status reads, both writes with the settings' word (0x1D), the confirming
# reads, and the run's log next to the batch file.
batch="C:\\$folder\\QUORVEL\\apply-configuration.cmd"
read_both="COM3 open
COM3 80052034 13 1 ok
COM3 80052034 10 1 ok
COM3 close"
# apply ROW PROGRAM ARGS...: one run of the batch file on a board that
# holds another word, with its checks.
apply() {
    local row=$1 status=0
    shift
    rm -f "$work/requests.log" "$installed/apply-configuration.log"
    WINE_BOARD_REGISTERS="13=c0 10=0a" bash "$board" run "$prefix" "$prefix/drive_c/windows/system32" \
        "$work/requests.log" "3 4 5 6" - -- "$@" >"$work/apply.out" 2>&1 || status=$?
    check "$row: exit status" "$status" 0
    [ "$status" -eq 0 ] || cat "$work/apply.out"
    check "$row: the board's log" "$(cat "$work/requests.log" 2>/dev/null)" "$read_both
COM3 open
COM3 80052038 13c0 0 ok
COM3 80052038 101d 0 ok
COM3 close
$read_both"
    check "$row: files" "$(programs)" "$files"
    check "$row: its log" "$(tr -d '\r' <"$installed/apply-configuration.log" 2>/dev/null | tail -n 1)" \
        "apply-configuration: exit status 0"
}
if [ "$run_programs" = run ]; then
    apply "2 the batch file as the program" "$batch"
    printf 'cmd /c ""%s""\r\nexit /b %%errorlevel%%\r\n' "$batch" >"$prefix/drive_c/packages/cmd-line.cmd"
    apply "2 cmd /c with doubled quotes" 'C:\packages\cmd-line.cmd'
else
    echo "skip 2 apply-configuration.cmd: this machine cannot run the $system programs"
fi
# Removal must take the batch file's log away (also where row 2 could not run).
[ -e "$installed/apply-configuration.log" ] || echo "run log" >"$installed/apply-configuration.log"

# 3. A higher version upgrades in place; repair (a program deleted) restores
# the programs, not the settings; the older version is refused.
msiexec /i "$new_msi" /qn
check "3 upgrade: exit status" "$RC" 0
check "3 upgrade: one Add/Remove Programs entry, new version" "$(arp)" "QUORVEL $new_version QUORVEL"
check "3 upgrade: files" "$(programs)" "$files"
check "3 upgrade: the binaries are new" \
    "$(for file in $files; do cmp -s "$stage/$file" "$new_stage/$file" || echo "$file"; done | grep -cE '\.(dll|exe)$')" 3
check "3 upgrade: the files are the new release's, the settings the administrator's" \
    "$( (same_as_stage "$new_stage" | grep -v '^Configuration.ini') || true)$(settings)" kept
rm "$installed/QUORVELSerialProtocolStatus.exe"
# msiexec /f fails in Wine 8 (1605 with a package, 1 with a product code);
# REINSTALL is the same repair, with the default mode's rules (omus): a
# file missing or older is put back, nothing else.
msiexec /i "$new_msi" REINSTALL=ALL REINSTALLMODE=omus /qn
check "3 repair: exit status" "$RC" 0
check "3 repair: files" "$(programs)" "$files"
check "3 repair: the files are the new release's" "$( (same_as_stage "$new_stage" | grep -v '^Configuration.ini') || true)" ""
check "3 repair: settings" "$(settings)" kept
msiexec /i "$old_msi" /qn /l*v 'C:\packages\downgrade.log'
# 1603 (install failed), as the 8 bits a Linux exit status keeps.
check "3 downgrade: refused" "$RC" $((1603 % 256))
check "3 downgrade: refused at the launch condition" \
    "$(tr -d '\r' <"$prefix/drive_c/packages/downgrade.log" | grep -o 'LaunchConditions. Return value 0' || true)" \
    "LaunchConditions. Return value 0"
check "3 downgrade: the message" "$(rows "$old" LaunchCondition)" \
    "NOT WIX_DOWNGRADE_DETECTED	A newer version of QUORVEL is already installed. Remove it first to install this one."
check "3 downgrade: newer version stays" "$(arp)" "QUORVEL $new_version QUORVEL"
check "3 downgrade: files and settings" "$(programs) $(settings)" "$files kept"

# 4. Silent removal: everything but the settings and files not ours.
echo "not ours" >"$installed/notes.txt"
msiexec /x "$new_msi" /qn
check "4 removal: exit status" "$RC" 0
check "4 removal: what remains" "$(listing)" $'Configuration.ini\nnotes.txt'
check "4 removal: settings" "$(settings)" kept
check "4 removal: no Add/Remove Programs entry" "$(arp)" ""

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
