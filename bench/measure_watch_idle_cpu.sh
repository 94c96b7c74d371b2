#!/usr/bin/env bash
# spool_watch's CPU time per hour while idle, watching 50 folders: 50
# palm-sync users, each with a backup folder holding a spool file printed
# long ago, named in the configuration file as the user service reads it.
# Once it has settled, the CPU time of its process is read from /proc over
# the measuring time and scaled to an hour.
#
# Usage: bench/measure_watch_idle_cpu.sh SPOOL_WATCH [SECONDS]
# (for example build/bench/unix/spool_watch 600)
set -euo pipefail
watch=$(realpath "$1")
seconds=${2:-600}

work=$(mktemp -d)
watcher=""
cleanup() {
    [ -n "$watcher" ] && kill "$watcher" 2>/dev/null && wait "$watcher" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/config/fernquill" "$work/pdfs"
for i in $(seq 100 149); do
    mkdir -p "$work/palm-sync-$i/User$i/backup"
    printf 'old job' >"$work/palm-sync-$i/User$i/backup/Fernquill Spool File.pdb"
    echo "folder = $work/palm-sync-$i" >>"$work/config/fernquill/spool_watch.conf"
done

# Nanoseconds on a CPU, the first field of /proc/PID/schedstat: an idle
# watcher uses far less than one clock tick (/proc/PID/stat's unit) an hour.
cpuNanoseconds() {
    awk '{ print $1 }' "/proc/$1/schedstat"
}

HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" \
    "$watch" --pdf-dir "$work/pdfs" 2>"$work/watch.log" &
watcher=$!
sleep 5  # start-up, the first look and the first start's record
if ! grep -q 'watching 50 folders' "$work/watch.log"; then
    cat "$work/watch.log" >&2
    exit 1
fi
start=$(cpuNanoseconds "$watcher")
sleep "$seconds"
used=$(($(cpuNanoseconds "$watcher") - start))
awk -v ns="$used" -v t="$seconds" 'BEGIN {
    printf "spool_watch idle over %d s with 50 folders: %.6f s of CPU an hour\n", t, ns / 1e9 * 3600 / t
}'
