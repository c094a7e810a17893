#!/bin/bash
# Rows for scripts/ensure-packages against a stand-in apt-get on PATH: a
# package mirror in the middle of a sync makes 'apt-get update' fail while
# 'apt-get install' still works with the lists apt has; only a failed install
# may stop the set-up. Closes with "N passed, N failed".
set -u
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/../wine/check.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"

# The stand-ins: every package is missing, the caller is root, and apt-get
# logs its calls, failing 'update' the first UPDATE_FAILS times and 'install'
# when INSTALL_FAILS=1, with apt's own kind of message.
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
cat >"$work/bin/apt-get" <<'STANDIN'
#!/bin/bash
echo "$*" >>"$APT_LOG"
case " $* " in
    *" update "*)
        tries=$(grep -c ' update' "$APT_LOG")
        if [ "$tries" -le "$UPDATE_FAILS" ]; then
            echo "E: Failed to fetch http://mirror/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
            echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
            exit 100
        fi ;;
    *" install "*)
        if [ "$INSTALL_FAILS" = 1 ]; then
            echo "E: Unable to locate package quorvel-missing" >&2
            exit 100
        fi ;;
esac
exit 0
STANDIN
chmod +x "$work/bin/"*

# row UPDATE_FAILS INSTALL_FAILS: runs ensure_packages for two packages in a
# shell of its own; sets RC, ERR (its standard error) and CALLS (apt-get's).
row() {
    rm -f "$work/apt.log"
    ERR=$(PATH="$work/bin:$PATH" APT_LOG=$work/apt.log UPDATE_FAILS=$1 INSTALL_FAILS=$2 QUORVEL_APT_RETRY_SECONDS=0 \
        bash -c 'source "$1"; ensure_packages quorvel-one quorvel-missing; echo "set-up went on" >&2' \
        _ "$HERE/../../scripts/ensure-packages" 2>&1 >/dev/null)
    RC=$?
    CALLS=$(sed 's/-o DPkg::Lock::Timeout=900 //' "$work/apt.log")
}

row 1 0
check "update fails once: tried again, no warning, installed" "$RC|$CALLS|$ERR" "0|update -qq
update -qq
install -y -qq quorvel-one quorvel-missing|Installing quorvel-one quorvel-missing ...
set-up went on"

row 3 0
check "update fails every time: three tries, the failed list named, installed, the set-up goes on" \
    "$RC|$(grep -c '^update' <<<"$CALLS")|$(tail -n 1 <<<"$CALLS")|$(grep -c 'binary-i386/Packages.xz' <<<"$ERR")|$(tail -n 1 <<<"$ERR")" \
    "0|3|install -y -qq quorvel-one quorvel-missing|1|set-up went on"

row 3 1
check "update and install fail: the set-up stops, with apt's reason and the packages named" \
    "$RC|$(grep -c 'Unable to locate package' <<<"$ERR")|$(tail -n 1 <<<"$ERR")" \
    "1|1|error: apt-get install failed (its reason is above) for: quorvel-one quorvel-missing"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
