#!/bin/sh
# Runs a GoogleTest program inside a Wine virtual desktop of the given size, so that it sees that
# screen size and may change it. Wine's explorer does not hand back the program's exit code, so
# the result is read from the program's XML report.
#   in_desktop.sh WIDTHxHEIGHT PROGRAM [ARGS...]
set -u
size="$1"
program="$2"
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
report="$work/result.xml"
name="plx$$"
wine explorer "/desktop=$name,$size" "$program" --gtest_output="xml:$(winepath -w "$report")" "$@" </dev/null
# The virtual desktop stored its sizes as the display's mode: the display outside it gets its own back.
# Wine 8 takes a change of the display only from a 64-bit process: the x64 build's stand-in does it
# where there is one.
bin=$(dirname "$program")
for host in "$bin/../../x64/bin/desktophost.exe" "$bin/desktophost.exe"; do
    [ -f "$host" ] && wine "$host" --store-display-mode </dev/null >/dev/null 2>&1 && break
done
if [ ! -s "$report" ]; then
    echo "no test report: the program did not finish" >&2
    exit 1
fi
summary=$(grep -m1 '<testsuites' "$report")
case "$summary" in
    *' failures="0"'*' errors="0"'*) exit 0 ;;
esac
echo "failures in $program: $summary" >&2
exit 1
