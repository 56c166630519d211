#!/bin/sh
# version.sh SHAREDTOOL FILEVERSION FILE... -- EMULATOR...
tool=$1
system=$2
shift 2
files=""
while [ "$1" != "--" ]; do files="$files $1"; shift; done
shift
status=0
for file in $files; do
    ours=$("$@" "$tool" version "$file" | tr -d '\r')
    theirs=$("$@" "$system" "$file" | tr -d '\r')
    echo "$file: sharedtool $ours, GetFileVersionInfoA $theirs"
    if [ -z "$ours" ] || [ "$ours" != "$theirs" ]; then
        status=1
    fi
done
exit $status
