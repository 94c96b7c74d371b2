# Shell helpers shared by the test and run commands. Sourced, not run.

# Installs the Debian packages that are missing; apt-get update runs first,
# once a run, and only when something has to be installed.
#
# An i386 and an amd64 copy of one library must be the same version. When a
# mirror can't give one architecture's list whole (apt says "Mirror sync in
# progress?", often of a security list), the two candidates differ and
# nothing with an i386 part installs. The release's own lists match on both
# architectures, so from then on the run installs from them (-t RELEASE).
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
    addArchitecturesFor "${missing[@]}" && unset FERNQUILL_APT_UPDATED
    if [ -z "${FERNQUILL_APT_UPDATED:-}" ]; then
        local said
        said=$($sudo apt-get update -qq 2>&1)
        [ -n "$said" ] && echo "$said" >&2
        export FERNQUILL_APT_UPDATED=yes
        grep -q 'Failed to fetch' <<<"$said" && export FERNQUILL_APT_RELEASE_ONLY=yes
    fi
    local release fromRelease=()
    release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
    [ -n "${FERNQUILL_APT_RELEASE_ONLY:-}" ] && [ -n "$release" ] && fromRelease=(-t "$release")
    aptInstall "${fromRelease[@]}" "${missing[@]}" && return 0
    # The same mismatch with every list read whole: a newer amd64 copy
    # installed from one suite, and the i386 one only in another.
    [ -n "$release" ] && [ ${#fromRelease[@]} -eq 0 ] || return 1
    echo "Installing again from $release's own lists"
    export FERNQUILL_APT_RELEASE_ONLY=yes
    aptInstall -t "$release" "${missing[@]}"
}

aptInstall() {  # apt-get install's further arguments
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    # Installs of one run may meet (the tools' .deb beside the fuzzers'
    # compiler): the later one waits for the earlier.
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=300 "$@" >/dev/null
}

# Adds the i386 architecture when one of the packages named needs it;
# true when it was added now (its lists are then still to be read).
addArchitecturesFor() {
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    if printf '%s\n' "$@" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
        return 0
    fi
    return 1
}

# What the native tree needs: compilers, GoogleTest, and the tools'
# libraries: spool_to_pdf writes its PDF with libharu and reads zip archives
# with libzip; its tests read the PDF back with Poppler's tools, which draw
# its Courier (named, not embedded) with the Nimbus Mono of the URW fonts,
# the one Ghostscript brings later: without it, another font's glyphs reach
# past the text's rows and the pixels differ. spool_watch
# prints through libcups; its tests start a CUPS scheduler of their own
# (cupsd, from cups-daemon) with a queue of their own.
nativePackages=(
    cmake make g++ libgtest-dev googletest libbenchmark-dev zlib1g-dev
    libhpdf-dev libzip-dev poppler-utils fonts-urw-base35
    libcups2-dev cups-daemon
)

# The packages every build needs: native compilers and libraries, the
# MinGW-w64 cross compiler, Wine, Xvfb and the fonts Wine maps Courier to.
buildPackages=(
    "${nativePackages[@]}"
    g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
    wine wine64 xvfb xauth fonts-liberation
    # The print tests read back what was printed: Ghostscript turns each
    # print document into a PDF, and Poppler's tools read the PDF.
    ghostscript poppler-utils
    # The 32-bit program: the win32 thread model builds it (for Windows XP),
    # the posix one its tests; Wine runs both in a 64-bit prefix.
    g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix wine32:i386
    # The Linux tools' .deb: dpkg-deb and dpkg-shlibdeps.
    dpkg-dev
)

export WINEDEBUG=-all

# Whether this machine runs 32-bit x86 programs. Some Linux kernels don't
# (IA-32 emulation off, as in some virtual machines): exec then fails with
# "Exec format error", and so does Debian's wine command, which starts every
# program, 64-bit ones too, through the 32-bit loader once wine32 is
# installed. Asked of the 32-bit loader itself, so it is only known after
# the packages are in.
machineRuns32Bit() {
    [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Where the machine runs no 32-bit programs, puts a wine command first on
# PATH that starts programs with the 64-bit loader, so the 64-bit programs
# and prefixes work as elsewhere; 32-bit ones can't run here at all. Call it
# once the packages are installed.
useWine64WhereNeeded() {
    if machineRuns32Bit || [ ! -x /usr/lib/wine/wine64 ]; then
        return 0
    fi
    local bin
    bin="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine64-loader"
    mkdir -p "$bin"
    local name
    for name in wine wine-stable; do
        printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' >"$bin/$name"
        chmod +x "$bin/$name"
    done
    case ":$PATH:" in
        *":$bin:"*) ;;
        *) export PATH="$bin:$PATH" ;;
    esac
    echo "This machine runs no 32-bit programs: Wine runs the 64-bit programs only"
}
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

# Starts Xvfb on a free display and exports DISPLAY; the caller stops it
# with stopXvfb. Xvfb picks the display itself (-displayfd) and says which
# once it takes connections, so runs that start displays at the same time
# each get one of their own.
xvfbPid=""
startXvfb() {
    local said
    said=$(mktemp) || return 1
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$said" >/dev/null 2>&1 &
    xvfbPid=$!
    local tries=0
    while ! grep -q '^[0-9]' "$said"; do
        tries=$((tries + 1))
        if [ $tries -gt 100 ] || ! kill -0 "$xvfbPid" 2>/dev/null; then
            echo "Xvfb did not start" >&2
            rm -f "$said"
            return 1
        fi
        sleep 0.1
    done
    export DISPLAY=":$(head -n 1 "$said")"
    rm -f "$said"
}

stopXvfb() {
    [ -n "$xvfbPid" ] && kill "$xvfbPid" 2>/dev/null
    xvfbPid=""
}

# Gives the Wine prefix $1 a default printer, "Fernquill Test PDF", that
# writes each print document to a PDF file of its own, by running the setup
# program $2 (devtools/setup_test_printer.cpp, built for Windows) in it.
# Like a real printer it can't print within a quarter inch of the sheet's
# edges (its PPD's imageable area; physical offsets 75 px at 300 dpi, 150 at
# 600), while the PDF holds the whole sheet. A third
# argument "letter" gives it Letter paper instead of A4. A third argument
# "<N>dpi" (600dpi) instead adds a second printer beside the default one,
# "Fernquill Test PDF <N> dpi", printing at that resolution (the default one
# prints at 300); the default printer stays as it is.
#
# The printer runs ps2pdf under /bin/sh in the environment of the process
# that prints, so PRINT_OUT_DIR must be set there (not here) to an existing
# folder: each document becomes PRINT_OUT_DIR/job-<nanoseconds>.pdf, and the
# names sort in printing order. A file appears only once Ghostscript is done
# with it. Without PRINT_OUT_DIR nothing is written and EndDoc fails. Whoever
# waits for the files waits with a bounded timeout rather than count on
# EndDoc having waited for Ghostscript (Wine 8.0 does, for 0.3 to 0.6 s).
installTestPrinter() {
    local prefix="$1"
    local setup="$2"
    local options=()
    case "${3:-}" in
        "") ;;
        letter) options=(--letter) ;;
        [1-9]*dpi) options=(--dpi "${3%dpi}" --keep-default --name "Fernquill Test PDF ${3%dpi} dpi") ;;
        *)
            echo "installTestPrinter: unknown option '$3' (only 'letter' or '<N>dpi')" >&2
            return 1
            ;;
    esac
    if ! command -v ps2pdf >/dev/null 2>&1; then
        echo "installTestPrinter: ps2pdf is missing (Debian package ghostscript)" >&2
        return 1
    fi
    local log
    log=$(mktemp) || return 1
    # Into a file, not a pipe: Wine's helper processes inherit the output and
    # would hold a pipe open after the setup program ends.
    WINEPREFIX="$prefix" wine "$setup" "${options[@]}" </dev/null >"$log" 2>&1
    local status=$?
    # The printer reaches the prefix's registry files only when the server
    # ends; a copy of the prefix made before then would have no printer.
    WINEPREFIX="$prefix" wineserver -w
    cat "$log"
    rm -f "$log"
    return $status
}

# ---- The setup program (installer/) -----------------------------------------

# What building the setup and the release files needs, beyond buildPackages.
setupPackages=(nsis zip g++-mingw-w64-i686-win32)

# The project's version (project(... VERSION ...) in CMakeLists.txt) as the
# CMake build tree $1 wrote it into its generated fernquill_version.h.
projectVersion() {
    local header="$1/generated/fernquill_version.h"
    local version
    version=$(sed -n 's/^#define FERNQUILL_VERSION_TEXT "\([^"]*\)"$/\1/p' "$header" 2>/dev/null)
    if [ -z "$version" ]; then
        echo "projectVersion: no version in $header" >&2
        return 1
    fi
    echo "$version"
}

# Builds the setup program with makensis: buildSetup VERSION EXE64 EXE32
# OUTFILE [amd64], where EXE64 and EXE32 are the 64-bit and 32-bit
# FernquillSpooler.exe. The licence page shows the repository's LICENSE.
# "amd64" makes the setup a 64-bit program, for testing on machines that
# run no 32-bit programs; the released setup is the 32-bit one.
buildSetup() {
    local version="$1" exe64="$2" exe32="$3" outfile="$4" target=()
    [ "${5:-}" = amd64 ] && target=(-DTEST_AMD64)
    local repo file
    repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    for file in "$exe64" "$exe32" "$repo/LICENSE"; do
        if [ ! -f "$file" ]; then
            echo "buildSetup: $file is missing" >&2
            return 1
        fi
    done
    mkdir -p "$(dirname "$outfile")"
    makensis -V2 "${target[@]}" -DVERSION="$version" -DEXE64="$exe64" -DEXE32="$exe32" \
        -DLICENSE="$repo/LICENSE" -DOUTFILE="$outfile" "$repo/installer/setup.nsi"
}

# ---- The Linux package (fernquill-tools_<version>_amd64.deb) -----------------

# What building the .deb needs: the native tools' libraries and dpkg's own
# tools (dpkg-deb, and dpkg-shlibdeps for its dependencies).
debPackages=(cmake make g++ zlib1g-dev libhpdf-dev libzip-dev libcups2-dev dpkg-dev)

# ---- The web page (web/) -----------------------------------------------------

# What building and testing the web page needs: Emscripten, Node.js for it
# and for the page's tools from npm, and Chromium for the tests. Where a
# Node.js from elsewhere is installed, it brings its own npm, which Debian's
# npm package would conflict with.
webPackages=(emscripten nodejs chromium)
command -v npm >/dev/null 2>&1 || webPackages+=(npm)
