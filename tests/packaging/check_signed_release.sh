#!/usr/bin/env bash
# Checks a signed release against the certificate it was signed with: every
# PE file in the release ZIPs (and in the MSIs, if any) and every MSI
# verifies; each signed binary is the build's own plus its signature, and
# the build's own binary with the signature attached is the signed file
# byte for byte; the MSI rebuilt from the signed binaries has the same
# contents as the signed one; one changed byte in a signed DLL fails
# verification; check_pe.py sees the certificate tables. With time stamps
# (QUORVEL_SIGN_TIMESTAMPED=1), the signatures still verify once the
# certificate has expired (faketime), and the same file signed without a
# time stamp does not.
#   check_signed_release.sh BUILD_DIR SOURCE_DIR VERSION EPOCH OBJDUMP PKCS12 [PASSWORD_FILE]
# QUORVEL_TEST_TSA_CAFILE: the certificate(s) that verify the time stamps
# (default: the system's CA file).
set -euo pipefail
build_dir=$1 source_dir=$2 version=$3 epoch=$4 objdump=$5 pkcs12=$6 password_file=${7:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

passin=pass:
[ -z "$password_file" ] || passin=file:$password_file
openssl pkcs12 -in "$pkcs12" -passin "$passin" -nokeys -clcerts -out "$work/certificate.pem" 2>"$work/openssl.log" ||
    fail "cannot read the certificate from $pkcs12: $(cat "$work/openssl.log")"
tsa_cafile=${QUORVEL_TEST_TSA_CAFILE:-/etc/ssl/certs/ca-certificates.crt}
verifies() {
    osslsigncode verify -CAfile "$work/certificate.pem" -TSA-CAfile "$tsa_cafile" -in "$1" >"$work/verify.log" 2>&1
}
# A day after the certificate expires, for faketime.
not_after=$(openssl x509 -in "$work/certificate.pem" -noout -enddate | sed 's/^notAfter=//')
expired=$(date -u -d "$not_after + 1 day" '+%Y-%m-%d %H:%M:%S')
verifies_when_expired() {
    TZ=UTC faketime "$expired" osslsigncode verify -CAfile "$work/certificate.pem" -TSA-CAfile "$tsa_cafile" -in "$1" \
        >"$work/verify.log" 2>&1
}
sign_options=(-pkcs12 "$pkcs12" -h sha256 -n QUORVEL)
[ -z "$password_file" ] || sign_options+=(-readpass "$password_file")

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
    # How a rebuild is checked against the signed release: the signature
    # taken from the signed file and attached to the rebuilt (unsigned) one
    # gives the signed file byte for byte. (remove-signature does not give
    # the unsigned bytes back: it keeps the zero padding to 8 bytes and
    # writes a new PE checksum.)
    rm -f "$work/signature.der"
    osslsigncode extract-signature -in "$work/unpacked/$binary" -out "$work/signature.der" >"$work/osslsigncode.log" 2>&1 &&
        osslsigncode attach-signature -sigin "$work/signature.der" -CAfile "$work/certificate.pem" \
            -TSA-CAfile "$tsa_cafile" -in "$build_dir/$binary" -out "$work/attached" \
            >>"$work/osslsigncode.log" 2>&1 || fail "$binary: cannot move its signature: $(cat "$work/osslsigncode.log")"
    cmp -s "$work/attached" "$work/unpacked/$binary" || fail "$binary: the build's own with the signature attached differs"
    rm -f "$work/attached"
    echo "ok: $binary verifies, the build's own plus its signature, and with it attached byte for byte"
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
    # The signature covers the package's file metadata too (-add-msi-dse).
    grep -q '^Calculated MsiDigitalSignatureEx' "$work/verify.log" ||
        fail "$msi has no MsiDigitalSignatureEx: $(cat "$work/verify.log")"
    command -v msiextract >/dev/null || fail "msiextract (Debian package msitools) is needed to check $msi"
    rm -rf "$work/msi" && mkdir "$work/msi"
    msiextract -C "$work/msi" "$msi" >/dev/null
    mapfile -t packed < <(find "$work/msi" -iname '*.exe' -o -iname '*.dll')
    [ ${#packed[@]} -gt 0 ] || fail "$msi holds no binaries"
    for binary in "${packed[@]}"; do
        verifies "$binary" || fail "${binary#"$work/msi/"} in $msi does not verify"
    done
    echo "ok: $(basename "$msi") and its ${#packed[@]} binaries verify"
    # An MSI's signature cannot be moved: osslsigncode cannot attach one
    # that covers the file metadata (-add-msi-dse), and remove-signature
    # rewrites the whole compound file. Rewritten alike, the signed package
    # and one rebuilt from the signed binaries (as the release makes it)
    # and signed here are the same bytes: the same database and files.
    system_name=$(basename "$msi" .msi) && system_name=${system_name##*-}
    env SOURCE_DATE_EPOCH="$epoch" cmake -DSTAGE="$work/unpacked/bin" -DVERSION="$version" -DSYSTEM="$system_name" \
        -DOUTPUT="$work/rebuilt.msi" -DWORK="$work/msi-work" -P "$source_dir/cmake/QuorvelMsi.cmake" \
        >"$work/msi-build.log" 2>&1 || fail "cannot rebuild $msi: $(cat "$work/msi-build.log")"
    rm -f "$work/rebuilt-signed.msi" "$work/rebuilt-removed.msi" "$work/removed.msi"
    osslsigncode sign "${sign_options[@]}" -add-msi-dse -in "$work/rebuilt.msi" -out "$work/rebuilt-signed.msi" \
        >"$work/osslsigncode.log" 2>&1 &&
        osslsigncode remove-signature -in "$work/rebuilt-signed.msi" -out "$work/rebuilt-removed.msi" \
            >>"$work/osslsigncode.log" 2>&1 &&
        osslsigncode remove-signature -in "$msi" -out "$work/removed.msi" >>"$work/osslsigncode.log" 2>&1 ||
        fail "osslsigncode on $msi: $(cat "$work/osslsigncode.log")"
    cmp -s "$work/removed.msi" "$work/rebuilt-removed.msi" ||
        fail "$(basename "$msi") without its signature is not the package rebuilt from the signed binaries"
    echo "ok: $(basename "$msi") without its signature is the package rebuilt from the signed binaries"
done

# Time stamps: the release's signatures outlive the certificate; the same
# binary signed without one does not (and does verify while it is valid).
dll=$work/unpacked/bin/QUORVEL.dll
if [ "${QUORVEL_SIGN_TIMESTAMPED:-}" = 1 ]; then
    for file in "$dll" "$build_dir"/release/*.msi; do
        verifies "$file" && grep -q '^Timestamp Server Signature verification: ok' "$work/verify.log" ||
            fail "$file carries no time stamp that verifies: $(cat "$work/verify.log")"
        verifies_when_expired "$file" ||
            fail "$file does not verify at $expired, after the certificate expired: $(cat "$work/verify.log")"
    done
    osslsigncode sign "${sign_options[@]}" -in "$build_dir/bin/QUORVEL.dll" -out "$work/untimestamped.dll" \
        >"$work/osslsigncode.log" 2>&1 || fail "cannot sign without a time stamp: $(cat "$work/osslsigncode.log")"
    verifies "$work/untimestamped.dll" || fail "QUORVEL.dll signed without a time stamp does not verify"
    ! verifies_when_expired "$work/untimestamped.dll" ||
        fail "QUORVEL.dll signed without a time stamp still verifies at $expired, after the certificate expired"
    echo "ok: at $expired, after the certificate expired, the time-stamped signatures verify, one without a time stamp does not"
fi

# One byte changed in the middle of the signed code must break the signature.
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
python3 "$source_dir/tests/windows/check_pe.py" --signed --symbol-server "$release-symbol-server.zip" \
    "--source-url=${QUORVEL_SOURCE_URL:-}" "$objdump" "$version" \
    "$source_dir/Demos/QUORVEL/QUORVEL.def" "$dll" "${programs[@]}"
