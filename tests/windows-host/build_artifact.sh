#!/usr/bin/env bash
# The Windows steps' artifact: the signed releases of this checkout and of a
# second, higher version, their manifests, two copies of a program signed
# with a certificate that has expired, and the throwaway roots that verify
# all of it. The workflow's Linux job runs it in Debian 12; the Wine rows
# run it here for the systems they test.
#
#   build_artifact.sh SOURCE_DIR OUT SYSTEM...      (SYSTEM: win64 | win32)
#
# OUT holds:
#   VERSIONS                     "FIRST SECOND", e.g. "1.0.0 1.0.1"
#   first/, second/              each release's files (ZIPs, MSI, SHA256SUMS...)
#   manifests/NAME.manifest      for each ZIP and MSI: see write_manifest.py;
#                                an MSI's paths are relative to its install folder
#   expired/timestamped/, expired/untimestamped/
#                                QUORVELSerialProtocolStatus.exe of the win64
#                                release, signed by a certificate that expired
#                                two days ago, time-stamped inside its validity
#                                or not at all
#   trust/roots/*.cer            the roots to trust (certutil -addstore Root):
#                                the signer's, the time-stamp authorities',
#                                the NuGet package signer's
#   trust/publisher.cer          the signer to trust for AllSigned
#                                (certutil -addstore TrustedPublisher)
#   nuget/QUORVEL.VERSION.nupkg  the package of the first releases, where
#                                both systems are built and dotnet is there
set -euo pipefail
export LC_ALL=C
source_dir=$(cd "$1" && pwd)
out=$2
shift 2
systems=("$@")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
tsa_pids=()
trap 'for pid in "${tsa_pids[@]}"; do kill -- "-$pid" 2>/dev/null || true; done; rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out/first" "$out/second" "$out/manifests" "$out/trust/roots" "$out/expired"

# --- Throwaway keys: a root, a code-signing certificate it issued, and one
# it issued that expired two days ago. The root is dated a week back so
# that it covers the expired one's validity.
pki=$work/pki
mkdir "$pki"
printf 'throwaway-%s\n' "$RANDOM$RANDOM" >"$pki/password"
faketime -f '-7d' openssl req -x509 -newkey rsa:2048 -sha256 -days 30 -nodes -subj "/CN=QUORVEL throwaway root" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    -keyout "$pki/root.key" -out "$pki/root.pem" 2>/dev/null
# issue NAME DAYS [FAKETIME]: a code-signing certificate from the root,
# valid DAYS days from now (or from FAKETIME's moment), as NAME.p12.
issue() {
    local name=$1 days=$2 when=${3:-+0d}
    openssl req -new -newkey rsa:2048 -nodes -subj "/CN=QUORVEL throwaway signer ($name)" \
        -keyout "$pki/$name.key" -out "$pki/$name.csr" 2>/dev/null
    printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
        >"$pki/$name.ext"
    faketime -f "$when" openssl x509 -req -in "$pki/$name.csr" -CA "$pki/root.pem" -CAkey "$pki/root.key" \
        -CAcreateserial -days "$days" -sha256 -extfile "$pki/$name.ext" -out "$pki/$name.pem" 2>/dev/null
    # The root goes into the signatures too: Windows builds the chain from them.
    openssl pkcs12 -export -inkey "$pki/$name.key" -in "$pki/$name.pem" -certfile "$pki/root.pem" \
        -passout "file:$pki/password" -out "$pki/$name.p12"
}
issue signer 30
issue expired 1 -3d
openssl x509 -in "$pki/root.pem" -outform DER -out "$out/trust/roots/root.cer"
openssl x509 -in "$pki/signer.pem" -outform DER -out "$out/trust/publisher.cer"

# start_tsa NAME [FAKETIME]: the project's time-stamp authority, its clock
# at FAKETIME's moment; sets TSA_URL.
start_tsa() {
    local folder=$pki/tsa-$1
    # In a process group of its own: faketime leaves the authority as its
    # child, which the trap stops with the group.
    setsid faketime -f "${2:-+0d}" python3 "$source_dir/tests/packaging/timestamp_authority.py" "$folder" 7200 \
        2>"$folder.log" &
    tsa_pids+=($!)
    for _ in $(seq 100); do [ -f "$folder/url" ] || sleep 0.1; done
    [ -f "$folder/url" ] || { cat "$folder.log"; echo "FAIL: the time-stamp authority $1 did not start" >&2; exit 1; }
    TSA_URL=$(cat "$folder/url")
    openssl x509 -in "$folder/certificate.pem" -outform DER -out "$out/trust/roots/timestamp-$1.cer"
}
start_tsa now
tsa_now=$TSA_URL

# --- The releases, with the project's own presets and release target.
first_version=$(sed -n 's/^    VERSION \([0-9.]*\)$/\1/p' "$source_dir/CMakeLists.txt" | head -n 1)
IFS=. read -r major minor patch <<<"$first_version"
second_version=$major.$minor.$((patch + 1))
echo "$first_version $second_version" >"$out/VERSIONS"
# The second release: this checkout with its version raised, so that its
# binaries carry the higher file version an upgrade replaces by.
next=$work/next
mkdir "$next"
tar -C "$source_dir" --exclude=./build --exclude=./out --exclude=./.git -cf - . | tar -C "$next" -xf -
sed -i "s/^    VERSION $first_version\$/    VERSION $second_version/" "$next/CMakeLists.txt"
grep -qx "    VERSION $second_version" "$next/CMakeLists.txt" || { echo "cannot raise the version" >&2; exit 1; }

# release TREE SYSTEM BUILD_DIR: configures and builds TREE's release.
release() {
    local preset=mingw-x64
    [ "$2" = win64 ] || preset=mingw-x86
    (cd "$1" && cmake --preset $preset -B "$3" -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_SIGN_PKCS12="$pki/signer.p12" \
        -DQUORVEL_SIGN_PASSWORD_FILE="$pki/password" -DQUORVEL_SIGN_TIMESTAMP_URL="$tsa_now" >/dev/null &&
        cmake --build "$3" --target quorvel_release >"$3.log" 2>&1) || { tail -n 40 "$3.log"; exit 1; }
}
for system in "${systems[@]}"; do
    release "$source_dir" "$system" "$work/first-$system"
    cp "$work/first-$system"/release/QUORVEL-"$first_version"-"$system"* "$out/first/"
    release "$next" "$system" "$work/second-$system"
    cp "$work/second-$system"/release/QUORVEL-"$second_version"-"$system"* "$out/second/"
done
# The NuGet package of the first releases, as scripts/test makes it (its
# Quorvel.Net.dll signed; the package's own signature without a time stamp,
# which NuGet here takes only from authorities it knows).
if [[ " ${systems[*]} " == *" win64 "* && " ${systems[*]} " == *" win32 "* ]] && command -v dotnet >/dev/null; then
    # NuGet here builds the signer's chain against the system's roots, which
    # the throwaway root is not among: the package is signed, as in
    # scripts/test, with a self-signed certificate that is its own root.
    faketime -f '-1d' openssl req -x509 -newkey rsa:2048 -sha256 -days 30 -nodes -subj "/CN=QUORVEL throwaway package signer" \
        -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature,keyCertSign \
        -keyout "$pki/package.key" -out "$pki/package.pem" 2>/dev/null
    openssl pkcs12 -export -inkey "$pki/package.key" -in "$pki/package.pem" -passout "file:$pki/password" \
        -out "$pki/package.p12"
    openssl x509 -in "$pki/package.pem" -outform DER -out "$out/trust/roots/package.cer"
    cmake -DWIN64_RELEASE="$work/first-win64/release" -DWIN32_RELEASE="$work/first-win32/release" -DOUT="$out/nuget" \
        -DPKCS12="$pki/package.p12" -DPASSWORD_FILE="$pki/password" -DTIMESTAMP_URL="$tsa_now" \
        -DOSSLSIGNCODE="$(command -v osslsigncode)" -DPACKAGE_WITHOUT_TIMESTAMP=ON \
        -P "$source_dir/cmake/make_nuget.cmake" >"$work/nuget.log" 2>&1 || { tail -n 40 "$work/nuget.log"; exit 1; }
fi
for version in first second; do
    (cd "$out/$version" && sha256sum QUORVEL-* >SHA256SUMS)
done

# --- Manifests: what an unpacked ZIP and an installed MSI must hold.
for package in "$out"/first/*.zip "$out"/second/*.zip "$out"/first/*.msi "$out"/second/*.msi; do
    name=$(basename "$package")
    [[ "$name" != *-symbol* ]] || continue
    rm -rf "$work/unpacked" && mkdir "$work/unpacked"
    if [[ "$name" == *.zip ]]; then
        (cd "$work/unpacked" && cmake -E tar xf "$package")
        python3 "$here/write_manifest.py" "$work/unpacked" >"$out/manifests/$name.manifest"
    else
        # msiextract lays out the install folder below the name it knows
        # for its root (QUORVEL, or Program Files/QUORVEL): the one folder
        # named QUORVEL.
        msiextract -C "$work/unpacked" "$package" >/dev/null
        folders=$(find "$work/unpacked" -type d -name QUORVEL)
        [ "$(echo "$folders" | wc -l)" -eq 1 ] && [ -n "$folders" ] ||
            { echo "FAIL: $name: not one QUORVEL folder in msiextract's output: $folders" >&2; exit 1; }
        python3 "$here/write_manifest.py" "$folders" >"$out/manifests/$name.manifest"
    fi
done

# --- The expired signer's two copies of the win64 status program, signed
# (at a moment inside the certificate's validity) once with a time stamp
# from an authority whose clock is there too, and once without one.
if [[ " ${systems[*]} " == *" win64 "* ]]; then
    start_tsa past -60h
    program=$work/unsigned.exe
    unzip -p "$out/first/QUORVEL-$first_version-win64.zip" bin/QUORVELSerialProtocolStatus.exe >"$work/signed.exe"
    osslsigncode remove-signature -in "$work/signed.exe" -out "$program" >/dev/null
    for kind in timestamped untimestamped; do
        mkdir "$out/expired/$kind"
        timestamp=()
        [ "$kind" = untimestamped ] || timestamp=(-ts "$TSA_URL")
        faketime -f -60h osslsigncode sign -pkcs12 "$pki/expired.p12" -readpass "$pki/password" -h sha256 \
            "${timestamp[@]}" -in "$program" -out "$out/expired/$kind/QUORVELSerialProtocolStatus.exe" >/dev/null
    done
fi
echo "artifact in $out: $(cd "$out" && find . -type f | wc -l) files, releases $first_version and $second_version"
