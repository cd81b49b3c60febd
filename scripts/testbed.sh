# Shared set-up for the build and the Wine test bed. Sourced by scripts/test.sh and scripts/run.sh.
# Everything it creates lives under $BUILD; it never touches the caller's home or Wine prefix.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${PLAXEN_BUILD:-$ROOT/build}
ARCHES=${PLAXEN_ARCHES:-"x64 x86"}

log() { printf '== %s\n' "$*" >&2; }

# The packages of every run, and those that only the 32-bit build needs.
BASE_PACKAGES="cmake make g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb xauth xcompmgr
    imagemagick googletest x11-apps fp-utils fonts-dejavu-core nsis msitools wixl openssl xserver-xorg-core
    xserver-xorg-video-dummy x11-xserver-utils"
X86_PACKAGES="g++-mingw-w64-i686-posix wine32:i386"

install_packages() {
    local wanted=$BASE_PACKAGES need=() pkg
    case " $ARCHES " in *" x86 "*) wanted="$wanted $X86_PACKAGES" ;; esac
    for pkg in $wanted; do
        dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
    done
    # osslsigncode 2.9 signs and checks both kinds of release file; Debian 12 has it in its backports.
    local signer=
    dpkg --compare-versions "$(dpkg-query -W -f '${Version}' osslsigncode 2>/dev/null || echo 0)" ge 2.9 ||
        signer=osslsigncode
    [ ${#need[@]} -eq 0 ] && [ -z "$signer" ] && return 0
    log "installing: ${need[*]} $signer"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    case " ${need[*]} " in
        *":i386 "*) dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386 ;;
    esac
    local backports=/etc/apt/sources.list.d/bookworm-backports.list
    if [ -n "$signer" ] && grep -qs '^VERSION_CODENAME=bookworm' /etc/os-release && [ ! -e "$backports" ]; then
        echo "deb http://deb.debian.org/debian bookworm-backports main" | $SUDO tee "$backports" >/dev/null
    fi
    # A mirror caught mid-sync serves an index that does not match its release file; apt then drops
    # that index. Such a state often passes within minutes: ask again a few times before going on with
    # what there is (install_needed copes with an index that stays torn).
    local attempt
    for attempt in 1 2 3 4; do
        $SUDO apt-get update -q && break
        [ "$attempt" -lt 4 ] && { log "the package index was not whole; asking again in a minute"; sleep 60; }
    done
    if [ ${#need[@]} -gt 0 ]; then
        install_needed "${need[@]}" || return 1
    fi
    if [ -n "$signer" ]; then
        local release=()
        [ -e "$backports" ] && release=(-t bookworm-backports)
        # Where the backports cannot be reached, the release's own osslsigncode signs and checks too.
        apt_install "${release[@]}" osslsigncode || apt_install osslsigncode || {
            log "could not install osslsigncode (see apt's messages above)"
            return 1
        }
    fi
}

apt_install() {
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "$@"
}

# Installs the packages named, first as apt chooses. Every "Multi-Arch: same" library must have one
# version on amd64 and i386; when the mirror's index of the security suite for i386 is torn (or an amd64
# library was installed at a version that the i386 indexes no longer offer), the amd64 side comes from the
# security suite and its i386 twin cannot be found. Then it tries once more with the release's own suite
# preferred, naming each such installed library at the newest version both architectures share. That
# preference and those names are given on apt's command line only: no source list, preference or hold
# stays behind. If that fails too, it names what could not be had and why, and fails.
install_needed() {
    local output
    output=$(mktemp) || return 1
    apt_install "$@" 2>&1 | tee "$output"
    if [ "${PIPESTATUS[0]}" -eq 0 ]; then
        rm -f "$output"
        return 0
    fi
    local codename release=() names=() marks=()
    codename=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
    [ -n "$codename" ] && release=(-o "APT::Default-Release=$codename")
    local name version
    while read -r name version; do
        names+=("$name=$version" "$name:i386=$version")
        # Named only to choose their version: afterwards both keep the mark of what others installed,
        # unless the amd64 one had been installed by name.
        apt-mark showmanual "$name:amd64" | grep -q . || marks+=("$name:amd64")
        marks+=("$name:i386")
    done < <(shared_versions "${release[@]}" -- "$@")
    log "the install failed; trying again with ${codename:-the release}'s own suite preferred${names[*]:+ and ${names[*]}}"
    apt_install "${release[@]}" --allow-downgrades "$@" "${names[@]}" 2>&1 | tee "$output"
    if [ "${PIPESTATUS[0]}" -ne 0 ]; then
        log "could not install the packages the build needs:"
        # apt names each package it could not have, with the reason, on a line of its own.
        grep -E '^ +[^ ]+ : |^E: ' "$output" | sed 's/^ */   /' >&2
        rm -f "$output"
        return 1
    fi
    rm -f "$output"
    [ ${#marks[@]} -eq 0 ] || $SUDO apt-mark auto "${marks[@]}" >/dev/null
    log "installed $* with ${codename:-the release}'s own suite preferred${names[*]:+; named at the version amd64 and i386 share: ${names[*]}}"
}

# For the i386 packages among those named: prints "name version" for each "Multi-Arch: same" library
# in their dependencies that is installed for amd64 at a version newer than any that both architectures
# are offered (apt never goes down a version by itself), with the newest version that both are offered
# (the i386 candidate under the given apt options, if amd64 is offered it too). Everything comes from
# dpkg's and apt's own answers.
shared_versions() {
    local options=()
    while [ "$1" != "--" ]; do options+=("$1"); shift; done
    shift
    local foreign=() pkg
    for pkg in "$@"; do
        case "$pkg" in *:i386) foreign+=("$pkg") ;; esac
    done
    [ ${#foreign[@]} -eq 0 ] && return 0
    local wanted installed
    wanted=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
        --no-replaces --no-enhances "${foreign[@]}" 2>/dev/null | sed -n 's/^\([^ <][^ ]*\):i386$/\1/p' | sort -u)
    installed=$(dpkg-query -W -f '${db:Status-Abbrev} ${Package} ${Architecture} ${Multi-Arch} ${Version}\n' |
        awk '$1 == "ii" && $3 == "amd64" && $4 == "same" { print $2, $5 }' | sort)
    local both names=()
    both=$(join <(echo "$wanted") <(echo "$installed"))
    [ -n "$both" ] || return 0
    read -r -d '' -a names < <(awk '{ print $1 }' <<<"$both")
    # One question to apt for every version offered, one for the i386 candidates.
    local offered candidates
    offered=$(apt-cache madison "${names[@]/%/:amd64}" "${names[@]/%/:i386}" |
        awk -F' *[|] *' '{ sub(/^ */, "", $1); n = $1; a = "amd64"; if (n ~ /:i386$/) { a = "i386"; sub(/:i386$/, "", n) }
                           sub(/:amd64$/, "", n); print n, a, $2 }')
    candidates=$(apt-cache "${options[@]}" policy "${names[@]/%/:i386}" |
        awk '/^[^ ].*:$/ { n = $1; sub(/:i386:$/, "", n) } /^ *Candidate:/ { print n, $2 }')
    local name version
    while read -r name version; do
        local theirs ours candidate shared= v
        theirs=$(awk -v n="$name" '$1 == n && $2 == "i386" { print $3 }' <<<"$offered")
        grep -qxF "$version" <<<"$theirs" && continue
        ours=$(awk -v n="$name" '$1 == n && $2 == "amd64" { print $3 }' <<<"$offered")
        candidate=$(awk -v n="$name" '$1 == n { print $2 }' <<<"$candidates")
        if [ -n "$candidate" ] && grep -qxF "$candidate" <<<"$ours"; then
            shared=$candidate
        else
            for v in $(grep -xF -f <(echo "$ours") <<<"$theirs"); do
                if [ -z "$shared" ] || dpkg --compare-versions "$v" gt "$shared"; then shared=$v; fi
            done
        fi
        [ -n "$shared" ] && dpkg --compare-versions "$version" gt "$shared" && echo "$name $shared"
    done <<<"$both"
    return 0
}

build_all() {
    local arch
    for arch in $ARCHES; do
        log "building $arch"
        cmake -S "$ROOT" -B "$BUILD/$arch" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$arch.cmake" \
            -DCMAKE_BUILD_TYPE=Release >/dev/null || return 1
        cmake --build "$BUILD/$arch" -j"$(nproc)" || return 1
    done
    build_installer || return 1
    # One ctest run covers both architectures.
    {
        echo "# generated by scripts/testbed.sh"
        for arch in $ARCHES; do echo "subdirs(\"$arch\")"; done
    } > "$BUILD/CTestTestfile.cmake"
}

# The version of the release files, as their version resources give it.
plaxen_version() {
    sed -n 's/^#define PLAXEN_VERSION_TEXT "\(.*\)"/\1/p' "$ROOT/resources/resource.h"
}

# The Windows Installer package of each architecture, and the setup program, which holds both builds
# and is made once both exist. Each package is signed once it is whole (its files were signed when
# they were linked). Beside each package, for the tests only: the same files as an earlier version.
build_installer() {
    local arch version
    version=$(plaxen_version)
    for arch in $ARCHES; do
        log "building the Windows Installer package for $arch"
        build_package "$arch" "$version" "$BUILD/OrvaneDeluxe-$arch.msi" || return 1
        build_package "$arch" 1.0.0 "$BUILD/$arch/OrvaneDeluxe-$arch-earlier.msi" || return 1
        report_size "$BUILD/OrvaneDeluxe-$arch.msi" 700
    done
    case " $ARCHES " in *" x64 "*) ;; *) return 0 ;; esac
    case " $ARCHES " in *" x86 "*) ;; *) return 0 ;; esac
    log "building the setup program"
    makensis -V2 -DX64DIR="$BUILD/x64/bin" -DX86DIR="$BUILD/x86/bin" \
        -DICON="$BUILD/x64/generated/Plaxen.ico" -DOUTFILE="$BUILD/OrvaneDeluxeSetup.exe" \
        "$ROOT/installer/orvane.nsi" || return 1
    sh "$ROOT/scripts/sign.sh" "$BUILD/OrvaneDeluxeSetup.exe" "$BUILD/signing" || return 1
    report_size "$BUILD/OrvaneDeluxeSetup.exe" 700
}

build_package() {
    sh "$ROOT/installer/build_msi.sh" "$1" "$BUILD/$1/bin" "$BUILD/$1/generated/Plaxen.ico" "$2" "$3" &&
        sh "$ROOT/scripts/sign.sh" "$3" "$BUILD/signing"
}

# Prints a shipped file's size against its target in KB.
report_size() {
    local kb=$(( ($(stat -c %s "$1") + 1023) / 1024 ))
    if [ "$kb" -gt "$2" ]; then
        log "size: $(basename "$1") $kb KB, OVER its target of $2 KB"
    else
        log "size: $(basename "$1") $kb KB (target $2 KB)"
    fi
}

# A fresh prefix with a temporary HOME, so that no Wine folder can link to a real home directory.
# make_prefix [ROOT]: under ROOT, $BUILD/wine by default.
make_prefix() {
    local wine_root="${1:-$BUILD/wine}"
    if [ -n "${WINESERVER_RUNNING:-}" ]; then wineserver -k 2>/dev/null || true; fi
    rm -rf "$wine_root"
    mkdir -p "$wine_root/home"
    export HOME="$wine_root/home"
    export WINEPREFIX="$wine_root/prefix"
    export WINEDEBUG=-all
    export WINEARCH=win64
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
    log "creating Wine prefix in $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || return 1
    # A test program that crashes must fail at once. By default Wine's automatic debugger opens a crash
    # dialog that waits for a click until the test's time limit; without it, the debugger writes the
    # backtrace to the program's error stream and ends the program.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || return 1
    wineserver -w
    # Wine links the profile folders to the Unix home. Replace every link by a real, empty directory.
    local user_dir
    for user_dir in "$WINEPREFIX"/drive_c/users/*; do
        [ -d "$user_dir" ] || continue
        local entry
        for entry in "$user_dir"/*; do
            if [ -L "$entry" ]; then
                rm -f "$entry"
                mkdir -p "$entry"
            fi
        done
        mkdir -p "$user_dir/Desktop"
    done
    mkdir -p "$WINEPREFIX/drive_c/users/Public/Desktop"
    # Verify: the desktop must be a real directory inside the prefix, and it must be empty.
    local desk="$WINEPREFIX/drive_c/users/$(id -un)/Desktop"
    if [ -L "$desk" ] || [ ! -d "$desk" ] || [ -n "$(ls -A "$desk")" ]; then
        log "refusing to go on: $desk is not a real empty directory"
        return 1
    fi
    export PLAXEN_DESKTOP_DIR="$desk"
    export PLAXEN_TESTBED=1
}

# The first display number from n on that nobody uses.
free_display() {
    local n=$1
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    echo "$n"
}

# An X server with two monitors at distinct places (testbed/two-monitors.conf), which Xvfb cannot
# show: Xorg with the dummy video driver. Sets DISPLAY and XORG_PID.
start_monitors_display() {
    local n
    n=$(free_display 120)
    Xorg ":$n" -config "$ROOT/testbed/two-monitors.conf" -logfile "$1/xorg.log" -nolisten tcp -noreset \
        </dev/null >/dev/null 2>&1 &
    XORG_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
    done
    log "Xorg did not start on $DISPLAY (log: $1/xorg.log)"
    return 1
}

start_display() {
    local n=91
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
    done
    log "Xvfb on $DISPLAY"
}

start_wineserver() {
    wineserver -p
    WINESERVER_RUNNING=1
    # The first window brings up Wine's helper processes (services, devices, the desktop). Start them
    # here, detached from our output, or they would hold the pipes of the first test for ever.
    local arch
    for arch in $ARCHES; do
        wine "$BUILD/$arch/bin/desktophost.exe" --probe --empty </dev/null >/dev/null 2>&1
    done
}

stop_all() {
    if [ -n "${WINESERVER_RUNNING:-}" ]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
        WINESERVER_RUNNING=
    fi
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    fi
}

# Everything a run needs, in order: packages, both builds, a display, the prefix, the wineserver.
# Stops what it started when the calling script exits.
prepare_testbed() {
    install_packages || return 1
    build_all || return 1
    trap stop_all EXIT
    start_display
    make_prefix || return 1
    start_wineserver
}
