# Sourced by the rig's check scripts: check WHAT GOT WANT compares two texts,
# prints "ok" or "FAIL" with a diff, and counts in passed and failed.
passed=0
failed=0

check() {
    local what=$1 got=$2 want=$3
    if [ "$got" == "$want" ]; then
        passed=$((passed + 1))
        echo "ok   $what"
    else
        failed=$((failed + 1))
        echo "FAIL $what"
        # (diff's own status would end a caller running with set -e)
        diff <(printf '%s\n' "$want") <(printf '%s\n' "$got") | sed 's/^/       /' || true
    fi
}
