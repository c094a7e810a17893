#!/usr/bin/env bash
# Installs a build into a fresh prefix, checks the installed tree, and builds
# (natively also runs) a small consumer project that finds it with
# find_package(QUORVEL). For a Windows build it also checks the ZIP archives
# and the MSI.
#   check_package.sh BUILD_DIR SOURCE_DIR VERSION [TOOLCHAIN_FILE OBJDUMP]
# QUORVEL_RELEASE_SIGNED=1: the release's .exe, .dll and .ps1 files are signed.
set -euo pipefail
build_dir=$1 source_dir=$2 version=$3 toolchain=${4:-} objdump=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
cd "$work/prefix"
sample="$source_dir/Demos/QUORVELSerialProtocolSelection/Configuration.ini"
if [ -n "$toolchain" ]; then
    expected="bin/Configuration.ini bin/LICENSE bin/QUORVEL.dll bin/QUORVELSerialProtocolSelection.exe
        bin/QUORVELSerialProtocolStatus.exe bin/apply-configuration.cmd include/QUORVEL.h lib/QUORVEL.def
        lib/QUORVEL.lib lib/libQUORVEL.dll.a deploy/intune/Detect-QuorvelConfiguration.ps1
        deploy/intune/Remediate-QuorvelConfiguration.ps1 deploy/configmgr/Discover-QuorvelConfiguration.ps1
        deploy/task/QUORVEL-apply-configuration.xml"
    # Windows users open the sample in Notepad: CRLF line ends, same text.
    sed 's/$/\r/' "$sample" | cmp -s - bin/Configuration.ini || fail "installed Configuration.ini is not the sample with CRLF"
    cmp -s "$source_dir/LICENSE" bin/LICENSE || fail "installed bin/LICENSE is not the project's LICENSE"
else
    expected="bin/Configuration.ini bin/QUORVELSerialProtocolSelection bin/QUORVELSerialProtocolStatus
        include/QUORVEL.h lib/libQUORVEL.so"
    cmp -s bin/Configuration.ini "$sample" || fail "installed Configuration.ini is not the sample"
fi
for file in $expected lib/cmake/QUORVEL/QUORVELConfig.cmake lib/cmake/QUORVEL/QUORVELConfigVersion.cmake; do
    [ -e "$file" ] || fail "installed tree lacks $file"
done

consumer_args=(-S "$source_dir/tests/packaging/consumer" -B "$work/consumer" -G Ninja
    "-DCMAKE_PREFIX_PATH=$work/prefix")
# A cross toolchain looks for packages only below its own root, so the
# cross consumer is pointed at the package directly.
[ -n "$toolchain" ] && consumer_args+=("-DCMAKE_TOOLCHAIN_FILE=$toolchain" "-DQUORVEL_DIR=$work/prefix/lib/cmake/QUORVEL")
cmake "${consumer_args[@]}" >/dev/null || fail "consumer project does not configure"
cmake --build "$work/consumer" >/dev/null || fail "consumer project does not build"

if [ -z "$toolchain" ]; then
    # With no simulated machine there is no board driver: the installed
    # library must load and say so.
    status=0
    output=$(env -u QUORVEL_SIM_DIR "$work/consumer/consumer") || status=$?
    [ "$status" -eq 3 ] && [ "$output" = "Driver is not installed" ] ||
        fail "consumer: exit $status, output '$output'"
    status=0
    output=$(cd "$work" && env -u QUORVEL_SIM_DIR "$work/prefix/bin/QUORVELSerialProtocolSelection") || status=$?
    [ "$status" -eq 1 ] && [ "$output" = $'\nQUORVEL Protocol Selection DemoDriver is not installed' ] ||
        fail "installed tool: exit $status, output '$output'"

    # Packaging belongs to the top-level project only. The parent is only
    # configured, with the machine's own compilers and flags.
    env -u CC -u CFLAGS -u LDFLAGS cmake -S "$source_dir/tests/packaging/parent" -B "$work/parent" -G Ninja \
        "-DQUORVEL_SOURCE_DIR=$source_dir" >/dev/null ||
        fail "a parent project with QUORVEL as a subdirectory does not configure"
    grep -qx 'set(CPACK_PACKAGE_NAME "ParentProduct")' "$work/parent/CPackConfig.cmake" &&
        grep -qx 'set(CPACK_GENERATOR "TGZ")' "$work/parent/CPackConfig.cmake" ||
        fail "QUORVEL as a subdirectory took over the parent project's packaging"
else
    imports=$("$objdump" -p "$work/consumer/consumer.exe" | sed -n '/DLL Name: QUORVEL.dll/,/^$/p')
    for name in QUORVEL_INIT QUORVEL_READ QUORVEL_CLOSE; do
        grep -qw "$name" <<<"$imports" || fail "consumer.exe does not import $name from QUORVEL.dll"
    done
    cmp -s "$work/consumer/QUORVEL.dll" bin/QUORVEL.dll ||
        fail "the consumer's post-build copy of \$<TARGET_RUNTIME_DLLS> did not put QUORVEL.dll beside consumer.exe"
    # The release ZIPs (quorvel_release): the installed tree and nothing
    # more, byte for byte, and the PDB of every binary in it; the symbol
    # server's ZIP beside them (check_pe.py reads it).
    system=$( [ "$("$objdump" -f "$work/prefix/bin/QUORVEL.dll" | grep -c x86-64)" -gt 0 ] && echo win64 || echo win32)
    release="$build_dir/release/QUORVEL-$version-$system"
    for zip in "$release.zip" "$release-symbols.zip" "$release-symbol-server.zip"; do
        [ -f "$zip" ] || fail "no $zip (build the quorvel_release target)"
    done
    # SHA256SUMS lists every ZIP and MSI of the release and SOURCE, with the hashes they have.
    listed=$(sed 's/^[0-9a-f]\{64\}  //' "$build_dir/release/SHA256SUMS" | sort)
    packages=$(cd "$build_dir/release" && find . -maxdepth 1 -type f \( -name '*.zip' -o -name '*.msi' -o -name SOURCE \) |
        sed 's|^\./||' | sort)
    [ "$listed" = "$packages" ] || fail "SHA256SUMS lists $(tr '\n' ' ' <<<"$listed"), the release holds $(tr '\n' ' ' <<<"$packages")"
    (cd "$build_dir/release" && sha256sum --check --strict --quiet SHA256SUMS) || fail "SHA256SUMS does not match"
    # SOURCE names this checkout's commit (or none, without git) and the time stamps.
    commit=$(git -C "$source_dir" rev-parse --verify HEAD 2>/dev/null || echo "none (source tree without git)")
    grep -qx "version $version" "$build_dir/release/SOURCE" && grep -qx "commit $commit" "$build_dir/release/SOURCE" &&
        grep -qxE 'changes (none|uncommitted|unknown)' "$build_dir/release/SOURCE" &&
        grep -qxE 'SOURCE_DATE_EPOCH [0-9]+' "$build_dir/release/SOURCE" ||
        fail "release/SOURCE does not name version $version and commit $commit: $(cat "$build_dir/release/SOURCE")"
    mkdir "$work/unpacked"
    (cd "$work/unpacked" && cmake -E tar xf "$release.zip" && cmake -E tar xf "$release-symbols.zip")
    installed=$(find . -type f | sed 's|^\./||' | sort)
    debug_files=$(grep -E '\.(dll|exe)$' <<<"$installed" | sed -E 's/\.(dll|exe)$/.pdb/')
    unpacked=$(cd "$work/unpacked" && find . -type f | sed 's|^\./||' | sort)
    [ "$unpacked" = "$(sort <<<"$installed"$'\n'"$debug_files")" ] ||
        fail "release ZIPs hold $(tr '\n' ' ' <<<"$unpacked"), expected the installed tree and its PDBs"
    while read -r file; do
        # A signed release's binaries carry their signature: check_signed_release.sh compares those.
        case "${QUORVEL_RELEASE_SIGNED:-}:$file" in 1:*.exe | 1:*.dll | 1:*.ps1) continue ;; esac
        cmp -s "$file" "$work/unpacked/$file" || fail "$file differs in $release.zip"
    done <<<"$installed"
    while read -r file; do
        cmp -s "$build_dir/$file" "$work/unpacked/$file" || fail "$file in the symbols ZIP is not the build's"
    done <<<"$debug_files"
    # The deployment scripts as shipped: ASCII only (so no byte-order mark)
    # and CRLF line ends, as Windows PowerShell and Intune's signature check
    # take them (signed or not).
    for file in $(grep '^deploy/.*\.ps1$' <<<"$installed"); do
        ! LC_ALL=C grep -q $'[^\t\r -~]' "$work/unpacked/$file" || fail "$file in $release.zip is not ASCII only"
        [ "$(LC_ALL=C grep -cv $'\r$' "$work/unpacked/$file")" = 0 ] || fail "$file in $release.zip has LF-only line ends"
    done
    # The Windows Installer package beside them installs bin/ of the
    # release ZIP, the same bytes (signed alike), in its QUORVEL folder.
    [ -f "$release.msi" ] || fail "no $release.msi (build the quorvel_release target)"
    # (msiextract names the program files folder of a 64-bit package ".",
    # of a 32-bit one "Program Files".)
    msiextract -C "$work/msi" "$release.msi" >/dev/null || fail "msiextract cannot read $release.msi"
    in_msi=$(cd "$work/msi" && find . -type f | sed -E 's|^\./(Program Files/)?||' | sort)
    [ "$in_msi" = "$(ls bin | sed 's|^|QUORVEL/|' | sort)" ] ||
        fail "$release.msi holds $(tr '\n' ' ' <<<"$in_msi"), expected the files in bin/"
    msi_folder=$(dirname "$(find "$work/msi" -name QUORVEL.dll)")
    for file in bin/*; do
        cmp -s "$work/unpacked/$file" "$msi_folder/${file#bin/}" || fail "$file differs in $release.msi"
    done
    # Windows Installer replaces a versioned file by its version: the File
    # table must carry each binary's FILEVERSION (language 1033), and only
    # unversioned files have an MsiFileHash row.
    msiinfo export "$release.msi" File | tr -d '\r' | tail -n +4 >"$work/File.idt"
    msiinfo export "$release.msi" MsiFileHash | tr -d '\r' | tail -n +4 >"$work/MsiFileHash.idt"
    python3 - "$msi_folder" "$work/File.idt" "$work/MsiFileHash.idt" <<'PYTHON' || fail "$release.msi: File and MsiFileHash rows"
import os, struct, sys
folder, file_table, hash_table = sys.argv[1:]
def file_version(path):
    data = open(path, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return ""
    high, low = struct.unpack_from("<II", data, at + 8)
    return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"
hashed = {line.split("\t")[0] for line in open(hash_table) if line.strip()}
problems = []
for row in open(file_table):
    key, _, name, _, version, language = row.rstrip("\n").split("\t")[:6]
    actual = file_version(os.path.join(folder, name))
    if (version, language) != ((actual, "1033") if actual else ("", "")):
        problems.append(f"{name}: File row version '{version}' language '{language}', FILEVERSION '{actual}'")
    if actual and key in hashed:
        problems.append(f"{name}: versioned, yet has an MsiFileHash row")
    if name.endswith((".dll", ".exe")) and not actual:
        problems.append(f"{name}: no version resource")
print("\n".join(problems) or "ok: File rows carry the binaries' FILEVERSION, no MsiFileHash row for them")
sys.exit(1 if problems else 0)
PYTHON
fi
echo "ok: installed tree, consumer project${toolchain:+, ZIP archives and MSI}"
