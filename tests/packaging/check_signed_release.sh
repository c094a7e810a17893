#!/usr/bin/env bash
# Checks a signed release against the certificate it was signed with: every
# PE file in the release ZIPs (and in the MSIs, if any) and every MSI
# verifies; each signed binary is the build's own plus its signature; one
# changed byte in a signed DLL fails verification; check_pe.py sees the
# certificate tables.
#   check_signed_release.sh BUILD_DIR SOURCE_DIR VERSION EPOCH OBJDUMP PKCS12 [PASSWORD_FILE]
set -euo pipefail
build_dir=$1 source_dir=$2 version=$3 epoch=$4 objdump=$5 pkcs12=$6 password_file=${7:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

passin=pass:
[ -z "$password_file" ] || passin=file:$password_file
openssl pkcs12 -in "$pkcs12" -passin "$passin" -nokeys -clcerts -out "$work/certificate.pem" 2>"$work/openssl.log" ||
    fail "cannot read the certificate from $pkcs12: $(cat "$work/openssl.log")"
verifies() { osslsigncode verify -CAfile "$work/certificate.pem" -in "$1" >"$work/verify.log" 2>&1; }

# The signed file is the unsigned one, its PE checksum and certificate
# table entry aside, then zero padding to 8 bytes and the certificate table.
only_signature_added() {
    python3 - "$1" "$2" <<'PYTHON'
import struct, sys
unsigned = open(sys.argv[1], "rb").read()
signed = bytearray(open(sys.argv[2], "rb").read())
optional = struct.unpack_from("<I", unsigned, 0x3C)[0] + 24
entry = optional + (112 if struct.unpack_from("<H", unsigned, optional)[0] == 0x20B else 96) + 4 * 8
table = struct.unpack_from("<I", signed, entry)[0]
for offset, size in ((optional + 64, 4), (entry, 8)):
    signed[offset:offset + size] = unsigned[offset:offset + size]
sys.exit(0 if signed[:len(unsigned)] == unsigned and not any(signed[len(unsigned):table]) else 1)
PYTHON
}

system=$( [ "$("$objdump" -f "$build_dir/bin/QUORVEL.dll" | grep -c x86-64)" -gt 0 ] && echo win64 || echo win32)
release=$build_dir/release/QUORVEL-$version-$system
mkdir "$work/unpacked"
for zip in "$release.zip" "$release-symbols.zip"; do
    [ -f "$zip" ] || fail "no $zip (build the quorvel_release target)"
    (cd "$work/unpacked" && cmake -E tar xf "$zip")
done
mapfile -t binaries < <(cd "$work/unpacked" && find . -name '*.exe' -o -name '*.dll' | sed 's|^\./||' | sort)
[ ${#binaries[@]} -eq 3 ] || fail "expected 3 binaries in $release.zip, found ${binaries[*]}"
for binary in "${binaries[@]}"; do
    verifies "$work/unpacked/$binary" || fail "$binary in $release.zip does not verify: $(cat "$work/verify.log")"
    only_signature_added "$build_dir/$binary" "$work/unpacked/$binary" ||
        fail "$binary in $release.zip differs from the build's by more than its signature"
    echo "ok: $binary verifies, the build's own plus its signature"
done

# The deployment scripts: signed, and the source's text before the signature block.
mapfile -t scripts < <(cd "$work/unpacked" && find . -name '*.ps1' | sed 's|^\./||' | sort)
[ ${#scripts[@]} -eq 3 ] || fail "expected 3 PowerShell scripts in $release.zip, found ${scripts[*]}"
for script in "${scripts[@]}"; do
    verifies "$work/unpacked/$script" || fail "$script in $release.zip does not verify: $(cat "$work/verify.log")"
    sed 's/\r*$/\r/' "$source_dir/$script" >"$work/script"
    cmp -s -n "$(stat -c %s "$work/script")" "$work/script" "$work/unpacked/$script" ||
        fail "$script in $release.zip is not the source's text with CRLF line ends before its signature"
    echo "ok: $script verifies, the source plus its signature"
done

shopt -s nullglob
for msi in "$build_dir"/release/*.msi; do
    verifies "$msi" || fail "$msi does not verify: $(cat "$work/verify.log")"
    command -v msiextract >/dev/null || fail "msiextract (Debian package msitools) is needed to check $msi"
    rm -rf "$work/msi" && mkdir "$work/msi"
    msiextract -C "$work/msi" "$msi" >/dev/null
    mapfile -t packed < <(find "$work/msi" -iname '*.exe' -o -iname '*.dll')
    [ ${#packed[@]} -gt 0 ] || fail "$msi holds no binaries"
    for binary in "${packed[@]}"; do
        verifies "$binary" || fail "${binary#"$work/msi/"} in $msi does not verify"
    done
    echo "ok: $(basename "$msi") and its ${#packed[@]} binaries verify"
done

# One byte changed in the middle of the signed code must break the signature.
dll=$work/unpacked/bin/QUORVEL.dll
cp "$dll" "$work/changed.dll"
offset=$(($(stat -c %s "$build_dir/bin/QUORVEL.dll") / 2))
byte=$(od -An -tu1 -j "$offset" -N1 "$work/changed.dll" | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$work/changed.dll" bs=1 seek="$offset" conv=notrunc status=none
! cmp -s "$dll" "$work/changed.dll" || fail "the byte at $offset was not changed"
! verifies "$work/changed.dll" || fail "QUORVEL.dll with byte $offset changed still verifies"
echo "ok: QUORVEL.dll with one byte changed fails verification"

programs=()
for binary in "${binaries[@]}"; do
    case $binary in *.exe) programs+=("$work/unpacked/$binary") ;; esac
done
python3 "$source_dir/tests/windows/check_pe.py" --signed --epoch "$epoch" "$objdump" "$version" \
    "$source_dir/Demos/QUORVEL/QUORVEL.def" "$dll" "${programs[@]}"
