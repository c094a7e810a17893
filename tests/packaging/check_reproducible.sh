#!/usr/bin/env bash
# Builds the release a second time from a copy of the checkout in another
# folder, with a path of another length, and compares every file in the two
# release/ folders byte for byte (the PDBs in the symbols ZIPs too), naming
# the first that differs. Also checks that no shipped file or PDB names
# either folder.
#   check_reproducible.sh SOURCE_DIR BUILD_DIR TOOLCHAIN_FILE BUILD_TYPE
# BUILD_DIR holds the first release (unsigned): the quorvel_release target.
#   check_reproducible.sh --nuget SOURCE_DIR NUGET_RELEASE WIN64_RELEASE WIN32_RELEASE
# The same for the NuGet package: NUGET_RELEASE holds the first one (unsigned),
# made by cmake/make_nuget.cmake from the two releases; the copy's
# make_nuget.cmake makes it again from those releases.
set -euo pipefail
nuget=0
if [ "$1" = --nuget ]; then
    nuget=1
    shift
    source_dir=$(cd "$1" && pwd) first=$(cd "$2" && pwd) win64_release=$(cd "$3" && pwd) win32_release=$(cd "$4" && pwd)
else
    source_dir=$(cd "$1" && pwd) build_dir=$(cd "$2" && pwd) toolchain=$3 build_type=$4
    first=$build_dir/release
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -f "$first/SHA256SUMS" ] || fail "no release in $first (build the quorvel_release target, or make_nuget.cmake)"
copy=$work/a-second-checkout-elsewhere
[ ${#copy} -ne ${#source_dir} ] || copy=${copy}2
mkdir "$copy"
# The checkout as it is, uncommitted changes and git included (the time
# stamps come from the last commit), without build trees.
tar -C "$source_dir" --exclude=./build --exclude=./out -cf - . | tar -C "$copy" -xf -

second=$copy/build/rebuilt
log=$work/build.log
if [ "$nuget" = 1 ]; then
    cmake "-DWIN64_RELEASE=$win64_release" "-DWIN32_RELEASE=$win32_release" "-DOUT=$second/release" \
        -P "$copy/cmake/make_nuget.cmake" >"$log" 2>&1 || { tail -n 30 "$log"; fail "the second build failed"; }
else
    # The PDBs' srcsrv stream holds the URL of the sources the first build was given.
    source_url=$(sed -n 's/^QUORVEL_SOURCE_URL:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
    cmake -S "$copy" -B "$second" -G Ninja "-DCMAKE_TOOLCHAIN_FILE=$copy/${toolchain#"$source_dir"/}" \
        -DCMAKE_BUILD_TYPE="$build_type" -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_SIGN_PKCS12= \
        "-DQUORVEL_SOURCE_URL=$source_url" >"$log" 2>&1 &&
        cmake --build "$second" --target quorvel_release >>"$log" 2>&1 || { tail -n 30 "$log"; fail "the second build failed"; }
fi

first_files=$(cd "$first" && find . -type f | sed 's|^\./||' | sort)
second_files=$(cd "$second/release" && find . -type f | sed 's|^\./||' | sort)
[ "$first_files" = "$second_files" ] ||
    fail "the release folders hold different files: $(tr '\n' ' ' <<<"$first_files")/ $(tr '\n' ' ' <<<"$second_files")"
while read -r file; do
    difference=$(cmp "$first/$file" "$second/release/$file" 2>&1) ||
        fail "release/$file is not reproducible: $difference (second build in $copy)"
done <<<"$first_files"

mkdir "$work/unpacked"
for zip in "$second"/release/*.zip "$second"/release/*.nupkg; do
    [ -f "$zip" ] || continue
    (cd "$work/unpacked" && cmake -E tar xf "$zip")
done
# The PDBs write the build's paths Windows-style: look for both slashes.
leaks=$(grep -rlaF -e "$copy" -e "$source_dir" -e "${copy//\//\\}" -e "${source_dir//\//\\}" "$work/unpacked" || true)
[ -z "$leaks" ] || fail "shipped files or PDBs name the build's folder: $leaks"
pdbs=$(cd "$work/unpacked" && find . -type f -name '*.pdb' | wc -l)
[ "$nuget" = 1 ] || [ "$pdbs" -eq 6 ] || fail "the release holds $pdbs PDBs, expected 3 in bin/ and 3 in the symbol server's tree"
echo "ok: $(wc -l <<<"$first_files") release files identical when built in $copy"
