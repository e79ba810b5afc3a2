#!/bin/sh
# Makes the Wine prefix that the Wine tests share and keeps its server running
# for the whole run ("start"), or shuts it down ("stop").
# Usage: wine-prefix.sh start|stop WINE64 WINESERVER   (WINEPREFIX set by the caller)
set -eu
action=$1 wine64=$2 wineserver=$3

case $action in
start)
    mkdir -p "$WINEPREFIX"
    # Nothing that Wine starts may hold on to the test runner's output.
    "$wineserver" -p </dev/null >/dev/null 2>&1
    "$wine64" wineboot -i </dev/null >"$WINEPREFIX.log" 2>&1 || {
        cat "$WINEPREFIX.log"
        echo "wineboot failed" >&2
        exit 1
    }
    echo "Wine prefix ready in $WINEPREFIX"
    ;;
stop)
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: $0 start|stop WINE64 WINESERVER" >&2
    exit 2
    ;;
esac
