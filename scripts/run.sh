#!/usr/bin/env bash
# Sets up what is missing, builds both architectures, and runs the product's stand-in desktop under
# Wine on a virtual X display with a few sample files on it; saves screenshots of the desktop, the About
# box, the profile title dialog and the profile editor (half transparent over the desktop) to
# build/desktop.png, build/about.png, build/title.png and build/editor.png, and the editor once more with
# the screen at 144 DPI (150 %) to build/editor_144dpi.png. Then registers the module and
# shows it at work through the stand-in desktop's right-click menu: the menu with its submenu open,
# the layout saved from the menu, the icons scrambled and restored from the menu (build/menu.png,
# saved.png, scrambled.png, restored.png), printing each step.
set -u
source "$(dirname "$0")/testbed.sh"
prepare_testbed || exit 1

desk="$PLAXEN_DESKTOP_DIR"
printf 'Quarterly figures\n' > "$desk/Report.txt"
printf 'Shopping list\n' > "$desk/Notes.txt"
mkdir -p "$desk/Projects" "$desk/Photos"
printf '[InternetShortcut]\nURL=about:blank\n' > "$desk/Home page.url"

wine "$BUILD/x64/bin/desktophost.exe" </dev/null >/dev/null 2>&1 &
host=$!
sleep 8
shot="$BUILD/desktop.png"
/usr/bin/import -display "$DISPLAY" -window root "$shot"
log "screenshot of the stand-in desktop: $shot"

# One of the module's dialogs through the dialog viewer, on a screenshot: shoot DIALOG FILE.
shoot() {
    wine "$BUILD/x64/bin/dialogviewer.exe" "$BUILD/x64/bin/Plaxen.dll" "$1" </dev/null >/dev/null 2>&1 &
    local viewer=$!
    sleep 5
    /usr/bin/import -display "$DISPLAY" -window root "$2"
    log "screenshot of the $1 dialog: $2"
    kill "$viewer" 2>/dev/null
    wait "$viewer" 2>/dev/null
}

# The About box, the title dialog and the editor, each on its own screenshot.
# The editor's translucency shows only through a compositing manager, which plain Xvfb lacks.
for dialog in about title editor; do
    compositor=
    if [ "$dialog" = editor ]; then
        xcompmgr >/dev/null 2>&1 &
        compositor=$!
    fi
    shoot "$dialog" "$BUILD/$dialog.png"
    if [ -n "$compositor" ]; then
        kill "$compositor" 2>/dev/null
        wait "$compositor" 2>/dev/null
    fi
done
# The product at work: registered as the shell registers it, then driven through the stand-in
# desktop's own right-click menu. The stand-in of the first screenshot makes way for it.
kill "$host" 2>/dev/null
wait "$host" 2>/dev/null
# The editor as a user with the scale at 150 % sees it. The DPI takes a new wine server, which ends
# every Wine program, so this comes after the stand-in desktop has gone.
source "$ROOT/scripts/at_dpi.sh"
use_dpi 144 "$BUILD/x64/bin" && shoot editor "$BUILD/editor_144dpi.png"
restore_dpi "$BUILD/x64/bin"
log "registering $BUILD/x64/bin/Plaxen.dll with regsvr32"
wine regsvr32 /s "$BUILD/x64/bin/Plaxen.dll" </dev/null >/dev/null 2>&1 || log "regsvr32 failed"
tour="$BUILD/tour"
mkdir -p "$tour"
wine "$BUILD/x64/bin/menutour.exe" "$(winepath -w "$tour")" </dev/null 2>/dev/null | tr -d '\r' |
    while IFS= read -r line; do log "$line"; done
for stage in menu saved scrambled restored; do
    if [ -f "$tour/$stage.bmp" ]; then
        convert "$tour/$stage.bmp" "$BUILD/$stage.png" && log "screenshot: $BUILD/$stage.png"
    fi
done
wine regsvr32 /u /s "$BUILD/x64/bin/Plaxen.dll" </dev/null >/dev/null 2>&1
log "modules: $BUILD/x64/bin/Plaxen.dll (64-bit shell), $BUILD/x86/bin/Plaxen.dll (32-bit shell)"
log "command line: $BUILD/x64/bin/orvane.exe and $BUILD/x86/bin/orvane.exe (console), orvanew.exe beside each (no console), each beside its module"
log "setup program for Windows (both builds): $BUILD/OrvaneDeluxeSetup.exe"
exit 0
