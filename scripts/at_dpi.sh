#!/bin/sh
# Runs a command with the test bed's screen at another DPI, as Windows shows it to a user who chose a
# larger scale: LogPixels in the prefix's user settings, which Wine reads when its server starts. The
# setting is put back and the server started again afterwards, whatever the command did.
#   at_dpi.sh DPI COMMAND [ARGS...]    exit code: the command's
# Sourced (by run.sh), it only defines use_dpi DPI BINDIR and restore_dpi BINDIR.
dpi_key='HKCU\Control Panel\Desktop'

# A fresh persistent server; Wine's helper processes are brought up at once, detached from any
# output, or they would hold the pipes of the command that happened to start them.
restart_wineserver() {
    wineserver -k </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
    wineserver -p </dev/null >/dev/null 2>&1
    wine "$1/desktophost.exe" --probe --empty </dev/null >/dev/null 2>&1
}

use_dpi() {
    saved_dpi=$(wine reg query "$dpi_key" /v LogPixels 2>/dev/null | tr -d '\r' | awk '$1 == "LogPixels" { print $3 }')
    wine reg add "$dpi_key" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1 || return 1
    restart_wineserver "$2"
}

restore_dpi() {
    if [ -n "${saved_dpi:-}" ]; then
        wine reg add "$dpi_key" /v LogPixels /t REG_DWORD /d "$saved_dpi" /f >/dev/null 2>&1
    else
        wine reg delete "$dpi_key" /v LogPixels /f >/dev/null 2>&1
    fi
    restart_wineserver "$1"
}

if [ "${0##*/}" = at_dpi.sh ]; then
    set -u
    dpi="$1"
    shift
    # The last argument that names a file is taken as the program; the stand-in desktop is built
    # beside every program of the test bed.
    bin=
    for arg in "$@"; do [ -f "$arg" ] && bin=$(dirname "$arg"); done
    if [ -z "$bin" ]; then
        echo "at_dpi.sh: no program among: $*" >&2
        exit 2
    fi
    use_dpi "$dpi" "$bin" || exit 1
    trap 'restore_dpi "$bin"; exit 1' INT TERM
    PLAXEN_TEST_DPI="$dpi" "$@"
    result=$?
    restore_dpi "$bin"
    exit $result
fi
