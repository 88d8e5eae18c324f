#!/bin/sh
# Creates (start) or removes (stop) the Wine prefix that the end-to-end
# tests of the Windows program run in. A persistent wineserver keeps Wine's
# device manager from remaking the COM port links while the tests run.
#   wine_prefix.sh start|stop WINE PREFIX
set -eu
action=$1
wine=$2
prefix=$3
wineserver="$(dirname "$wine")/wineserver"
[ -x "$wineserver" ] || wineserver=wineserver
export WINEPREFIX="$prefix" WINEDEBUG=-all

case "$action" in
  start)
    "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
    mkdir -p "$prefix"
    "$wineserver" -p </dev/null >/dev/null 2>&1
    "$wine" wineboot -i </dev/null >/dev/null 2>&1
    test -d "$prefix/dosdevices"
    echo "Wine prefix ready in $prefix"
    ;;
  stop)
    "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
    ;;
  *)
    echo "usage: $0 start|stop WINE PREFIX" >&2
    exit 2
    ;;
esac
