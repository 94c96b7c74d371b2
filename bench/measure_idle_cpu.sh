#!/usr/bin/env bash
# The idle spooler's CPU time per hour under Wine, with 50 watched users:
# the Windows program (FernquillSpooler.exe from a Windows build tree) runs
# in a copy of a Wine prefix, started as at log-on, with the registry naming
# an install folder of 50 users that each hold a spool file printed long
# ago. After it has settled, the CPU time of its process is read from
# /proc over the measuring time.
#
# Usage: bench/measure_idle_cpu.sh EXE TEMPLATE_PREFIX [SECONDS]
# (for example build/windows/app/FernquillSpooler.exe build/wine/template 600)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "$1")
template=$(realpath "$2")
seconds=${3:-600}
source "$root/scripts/lib.sh"
useWine64WhereNeeded

work=$(mktemp -d)
export WINEPREFIX="$work/prefix"
cleanup() {
    wineserver -k 2>/dev/null || true
    stopXvfb
    rm -rf "$work"
}
trap cleanup EXIT
cp -a "$template" "$WINEPREFIX"
startXvfb

palm="$WINEPREFIX/drive_c/Palm"
for i in $(seq 100 149); do
    mkdir -p "$palm/User$i/backup"
    printf 'old job' >"$palm/User$i/backup/Fernquill_Spool_File.PDB"
done
wine reg add 'HKCU\Software\U.S. Robotics\Pilot Desktop\Core' /v Path /t REG_SZ /d 'C:\Palm' /f >/dev/null 2>&1

# Clock ticks of utime + stime, fields 14 and 15 of /proc/PID/stat (the
# command name, field 2, holds no spaces for these programs).
cpuTicks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

wine "$exe" /logon >"$work/spooler.log" 2>&1 &
# The program itself, not the wine command that started it, and in this
# prefix: other prefixes may run spoolers too.
spoolerInPrefix() {
    local pid
    for pid in $(pgrep -f '^[^ ]*FernquillSpooler\.exe /logon$'); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
            echo "$pid"
            return
        fi
    done
}
spooler=""
for _ in $(seq 1 100); do
    spooler=$(spoolerInPrefix)
    [ -n "$spooler" ] && break
    sleep 0.2
done
if [ -z "$spooler" ]; then
    echo "the spooler did not start" >&2
    exit 1
fi
sleep 20  # start-up, discovery and the first looks
spoolerStart=$(cpuTicks "$spooler")
sleep "$seconds"
spoolerTicks=$(($(cpuTicks "$spooler") - spoolerStart)) || {
    tail -n 5 "$work/spooler.log"
    exit 1
}
hz=$(getconf CLK_TCK)
awk -v s="$spoolerTicks" -v hz="$hz" -v t="$seconds" 'BEGIN {
    printf "idle over %d s with 50 users: %.2f s of CPU an hour\n", t, s / hz * 3600 / t
}'
