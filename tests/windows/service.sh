#!/bin/sh
# service.sh HELPER EMULATOR...
# Installs HELPER as the service StopHelper (its own -install), checks the
# service database, starts it, stops it and removes it (-remove), running
# every Windows program through the emulator.
helper=$1
shift
status=0

check() {
    echo "$1"
    if [ "$2" != "ok" ]; then
        status=1
    fi
}

state() {
    "$@" sc query StopHelper 2>/dev/null | tr -d '\r'
}

"$@" "$helper" -install
[ $? -eq 1 ] && check "installed" ok || check "install FAILED" no
state "$@" | grep -q "STATE *: *1 *STOPPED" && check "in the database, stopped" ok || check "not in the database" no

"$@" net start StopHelper >/dev/null 2>&1
state "$@" | grep -q "STATE *: *4 *RUNNING" && check "started and running" ok || check "start FAILED" no

"$@" net stop StopHelper >/dev/null 2>&1
after=$(state "$@")
echo "$after" | grep -q "STATE *: *1 *STOPPED" && echo "$after" | grep -q "WIN32_EXIT_CODE *: *0 " &&
    check "stopped through its control handler, exit code 0" ok || check "stop FAILED: $after" no

"$@" "$helper" -remove
[ $? -eq 1 ] && check "removed" ok || check "remove FAILED" no
"$@" sc query StopHelper >/dev/null 2>&1 && check "still in the database" no || check "gone from the database" ok
exit $status
