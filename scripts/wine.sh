#!/bin/sh
# Velmora's Wine set-up, the one place for it: which Wine, its settings, and the
# life of the prefix that tests and benchmarks share. WINEPREFIX is the caller's.
#
# Usage:
#   wine.sh PROGRAM.exe [ARGS...]   runs a Windows program (32- or 64-bit)
#   wine.sh --start                 makes the prefix if needed and keeps a server
#                                   running for it, so that each run starts warm
#   wine.sh --stop                  shuts that server down and waits until it is gone
#   wine.sh --can-run-32            succeeds when Wine's 32-bit loader can start here
set -eu

wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver

# Quiet, and no prompts to install Mono or Gecko into a prefix.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=d"

case ${1:-} in
--start)
    : "${WINEPREFIX:?WINEPREFIX names the Wine prefix}"
    mkdir -p "$WINEPREFIX"
    # Nothing that Wine starts may hold on to the caller's output. A server that
    # is running already for the prefix (left by an earlier run) is kept.
    "$wineserver" -p </dev/null >/dev/null 2>&1 || true
    "$wine64" wineboot -i </dev/null >"$WINEPREFIX.log" 2>&1 || {
        cat "$WINEPREFIX.log"
        echo "wineboot failed" >&2
        exit 1
    }
    echo "Wine prefix ready in $WINEPREFIX"
    ;;
--stop)
    : "${WINEPREFIX:?WINEPREFIX names the Wine prefix}"
    # Gone when this returns: a --start right after must not meet a server
    # that is still on its way out.
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    "$wineserver" -w </dev/null >/dev/null 2>&1 || true
    ;;
--can-run-32)
    "$wine32" --version >/dev/null 2>&1
    ;;
"" | -*)
    sh "$(dirname "$0")/usage.sh" "$0" >&2
    exit 2
    ;;
*)
    : "${WINEPREFIX:?WINEPREFIX names the Wine prefix}"
    # wine64 hands a 32-bit program to the 32-bit loader itself.
    exec "$wine64" "$@"
    ;;
esac
