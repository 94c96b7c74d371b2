#!/usr/bin/env bash
# The .deb as a user gets it: installed with apt-get on this machine, each
# command run once from /usr/bin on an example spool file, its man pages and
# user unit where systemd and man look, then removed again.
#
# Usage: tests/deb_package_test.sh fernquill-tools_<version>_<arch>.deb
# (made by scripts/package, or scripts/package --deb-only DIR). Needs root
# or sudo, as apt-get does. Ends with a line "deb package: N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=$(realpath "$1")
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
work=$(mktemp -d)
passed=0
failed=0

check() {  # what, then the command
    local what="$1"
    shift
    if "$@" >>"$work/check.log" 2>&1; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $what" >&2
        tail -n 20 "$work/check.log" >&2
    fi
}

cleanup() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq -o DPkg::Lock::Timeout=300 fernquill-tools >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

if dpkg-query -W -f='${Status}' fernquill-tools 2>/dev/null | grep -q 'install ok installed'; then
    echo "fernquill-tools is installed already; this test installs and removes it itself" >&2
    exit 1
fi
check "apt-get installs the package and its dependencies" \
    env DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=300 "$deb"

cp "$root/examples/1-memo.PDB" "$work/memo.PDB"
check "spool_to_pdf writes the PDF" /usr/bin/spool_to_pdf -o "$work/memo.pdf" "$work/memo.PDB"
check "the PDF holds the memo's text" bash -c "pdftotext '$work/memo.pdf' - | grep -q MEMO"
mkdir -p "$work/png"
check "spool_to_png writes the pages" /usr/bin/spool_to_png --out "$work/png" "$work/memo.PDB"
check "a PNG per page" test -s "$work/png/memo-page-001.png"

# spool_watch once, as a pilot-xfer hook writing PDFs, in a home of its own.
mkdir -p "$work/home/pilot" "$work/pdfs"
cp "$root/examples/1-memo.PDB" "$work/home/pilot/Fernquill Spool File.pdb"
check "spool_watch --once prints what is there at a first start with --print-existing" \
    env HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_STATE_HOME="$work/home/state" \
    /usr/bin/spool_watch --once --print-existing --settle 0 --pdf-dir "$work/pdfs" "$work/home/pilot"
check "spool_watch wrote the job as pilot-<time>.pdf" bash -c "ls '$work/pdfs' | grep -Eq '^pilot-[0-9]{8}-[0-9]{6}\.pdf$'"
check "spool_watch --help" bash -c "/usr/bin/spool_watch --help | grep -q 'usage: spool_watch'"

for page in spool_to_pdf spool_to_png spool_watch; do
    check "man page $page(1)" test -s "/usr/share/man/man1/$page.1.gz"
done
check "the user unit runs /usr/bin/spool_watch" grep -q '^ExecStart=/usr/bin/spool_watch$' \
    /usr/lib/systemd/user/spool_watch.service
if command -v systemd-analyze >/dev/null 2>&1; then
    # Checked as a unit file; a container may have no user manager to ask.
    # Its man page is checked above: without man-db, systemd can't look it up.
    check "systemd reads the user unit" systemd-analyze verify --man=no /usr/lib/systemd/user/spool_watch.service
fi

check "apt-get removes it" env DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq -o DPkg::Lock::Timeout=300 fernquill-tools
check "and nothing of it is left" bash -c "! test -e /usr/bin/spool_watch && ! test -e /usr/lib/systemd/user/spool_watch.service"

echo "deb package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
