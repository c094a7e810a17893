#!/bin/bash
# Stand-in for apply-configuration.cmd where there is no cmd (pwsh on Linux,
# the simulated machine): the same checks, the same runs of the programs,
# the same exit statuses and the same last line. The batch file itself is
# run under Wine by the end-to-end scenarios and the MSI test.
cd "$(dirname "$0")" || exit 4
check_and_apply() {
    local file missing=
    for file in Configuration.ini QUORVELSerialProtocolStatus.exe QUORVELSerialProtocolSelection.exe QUORVEL.dll; do
        [ -e "$file" ] || { echo "apply-configuration: $file not found in $PWD"; missing=yes; }
    done
    [ -z "$missing" ] || return 4
    ./QUORVELSerialProtocolStatus.exe
    status=$?
    [ $status -eq 2 ] || return $status
    ./QUORVELSerialProtocolSelection.exe || return $?
    echo
    ./QUORVELSerialProtocolStatus.exe
}
check_and_apply
status=$?
echo "apply-configuration: exit status $status"
exit $status
