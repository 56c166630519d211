#!/bin/sh
# interop.sh LINUX_ZONE_DEMO WINDOWS_ZONE_DEMO EMULATOR...
# A server of one build and a client of the other talk over 127.0.0.1 (RPC
# table check, RPCs, Test bounces, UDP updates), both ways round. The client
# checks the whole session; the server must then shut down cleanly.
linux=$1
windows=$2
shift 2
if [ ! -x "$linux" ]; then
    echo "no Linux zone_demo at $linux: nothing to talk to"
    exit 77
fi

port=$((20000 + $$ % 20000))
status=0

# run_pair NAME SERVER... -- CLIENT...
run_pair() {
    name=$1
    shift
    server=""
    while [ "$1" != "--" ]; do server="$server $1"; shift; done
    shift
    port=$((port + 1))
    $server server --port $port --logs logs-$name > server-$name.txt 2>&1 &
    pid=$!
    sleep 2
    if "$@" client --connect 127.0.0.1:$port --name "$name" --moves 100 --logs logs-$name; then
        echo "$name: client succeeded"
    else
        echo "$name: client FAILED"
        status=1
    fi
    # Ctrl+C for the server, as an operator stops it (Wine passes SIGINT on
    # to a Windows program as a console Ctrl+C).
    kill -INT $pid
    for i in 1 2 3 4 5 6 7 8 9 10; do
        kill -0 $pid 2>/dev/null || break
        sleep 1
    done
    if kill -0 $pid 2>/dev/null; then
        echo "$name: server did not stop"
        kill -KILL $pid
        status=1
    elif wait $pid; then
        echo "$name: server shut down cleanly"
    else
        echo "$name: server FAILED"
        status=1
    fi
    cat server-$name.txt
}

run_pair LinuxServer "$linux" -- "$@" "$windows"
run_pair WindowsServer "$@" "$windows" -- "$linux"
exit $status
