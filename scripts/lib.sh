# Shell helpers shared by the test and run commands. Sourced, not run.

# Installs the Debian packages that are missing; apt-get update runs first,
# once, and only when something has to be installed.
ensurePackages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The packages every build needs: native compilers and libraries, the
# MinGW-w64 cross compiler, Wine, Xvfb and the fonts Wine maps Courier to.
buildPackages=(
    cmake make g++ libgtest-dev googletest libbenchmark-dev zlib1g-dev
    g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
    wine wine64 xvfb xauth fonts-liberation
)

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Makes a fresh Wine prefix at $1 with the settings our programs need.
makeWinePrefix() {
    local prefix="$1"
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    WINEPREFIX="$prefix" wineboot -i </dev/null >/dev/null 2>&1
    # Without a window manager, a managed window costs about 2 s to close.
    WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    # Wine has no Courier; without this it falls back to a proportional font.
    WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Courier /d 'Liberation Mono' /f </dev/null >/dev/null 2>&1
    WINEPREFIX="$prefix" wineserver -w
}

# Starts Xvfb on the first free display and exports DISPLAY; the caller
# stops it with stopXvfb.
xvfbPid=""
startXvfb() {
    local display=90
    while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
        display=$((display + 1))
    done
    Xvfb ":${display}" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfbPid=$!
    local tries=0
    while [ ! -e "/tmp/.X11-unix/X${display}" ]; do
        tries=$((tries + 1))
        if [ $tries -gt 100 ] || ! kill -0 "$xvfbPid" 2>/dev/null; then
            echo "Xvfb did not start on :${display}" >&2
            return 1
        fi
        sleep 0.1
    done
    export DISPLAY=":${display}"
}

stopXvfb() {
    [ -n "$xvfbPid" ] && kill "$xvfbPid" 2>/dev/null
    xvfbPid=""
}
