#!/usr/bin/env bash
# Runs a test program on a display with two monitors (testbed/two-monitors.conf: a 1280x1024 primary
# at 0,0 and a 1024x768 monitor at 1280,0), in a Wine prefix of its own: a wine server keeps the
# monitors of the display it started on, so nothing of the test bed's own prefix may run there.
#   on_monitors.sh PROGRAM [ARGS...]    exit code: the program's
set -u
source "$(dirname "$0")/testbed.sh"
program="$1"
shift
work=$(mktemp -d)
XORG_PID=
finish() {
    wineserver -k </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
    [ -n "$XORG_PID" ] && kill "$XORG_PID" 2>/dev/null && wait "$XORG_PID" 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT
start_monitors_display "$work" || exit 1
unset WINESERVER_RUNNING
make_prefix "$work/wine" >/dev/null 2>&1 || { log "no prefix for the monitors"; exit 1; }
wineserver -k </dev/null >/dev/null 2>&1
wineserver -p </dev/null >/dev/null 2>&1
wine "$(dirname "$program")/desktophost.exe" --probe --empty </dev/null >/dev/null 2>&1
wine "$program" "$@"
