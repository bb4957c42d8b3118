#!/usr/bin/env bash
# Repeat backups against a full one, in one run, on a phone with about 1 GiB in a few thousand
# files:
#   1. the simulator's raw sending speed to a client that discards it (bench_devsim);
#   2. tolvanectl backup --full of the phone into an empty backup folder (best of three);
#   3. a week of use: 1 % of the phone's files change (tolvane-devsim change-files --share 1%);
#   4. tolvanectl backup --full again into the same folder: it starts from the backup before
#      (three weeks: the best time, the most added on the disk).
# Prints the full backup's speed against the raw one, the repeat's time against the full one's,
# what the repeat added on the disk (du counts a file shared by hard links once) and how many
# files the phone sent each time (its events.log).
#
#   bench/repeat/run.sh [BUILD_DIR]   (TOLVANE_BENCH_MEDIA_MB, TOLVANE_BENCH_APPS, TOLVANE_BENCH_SHARE)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
media=${TOLVANE_BENCH_MEDIA_MB:-1024}
apps=${TOLVANE_BENCH_APPS:-1}
share=${TOLVANE_BENCH_SHARE:-1%}
devsim="$build/bin/tolvane-devsim"
ctl="$build/bin/tolvanectl"
raw="$build/bench/bench_devsim"
for program in "$devsim" "$ctl" "$raw"; do
    [ -x "$program" ] || { echo "missing $program: build first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-bench-repeat.XXXXXX")
phone_pid=""
cleanup() {
    if [ -n "$phone_pid" ]; then
        kill "$phone_pid" 2>/dev/null || true
        wait "$phone_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
    return 0
}
trap cleanup EXIT

# The phone is made fresh each run: the changes are written into its files.
phone="$work/phone"
"$devsim" make-device "$phone" --media-mb "$media" --apps "$apps" >/dev/null
bytes=$(find "$phone/files" -type f -printf '%s\n' | awk '{s += $1} END {printf "%d", s}')
files=$(find "$phone/files" -type f | wc -l)

# 1. The simulator's raw speed, on a phone of the same size.
"$raw" --media-mb "$media" >"$work/raw.txt"
raw_mbs=$(awk '/^big files/ {for (i = 1; i <= NF; i++) if ($(i + 1) == "MB/s") {print $i; exit}}' \
    "$work/raw.txt")
[ -n "$raw_mbs" ] || { cat "$work/raw.txt" >&2; echo "no raw figure" >&2; exit 1; }

find "$phone/files" -type f -exec cat {} + >/dev/null
sock="$work/usbmuxd.sock"
"$devsim" serve --socket "$sock" --device "$phone" >"$work/phone.log" 2>&1 &
phone_pid=$!
for _ in $(seq 100); do
    [ -S "$sock" ] && break
    sleep 0.1
done
export USBMUXD_SOCKET_ADDRESS="UNIX:$sock"
export HOME="$work/home" XDG_DATA_HOME="$work/home/share" XDG_CONFIG_HOME="$work/home/config"
mkdir -p "$HOME"
# One backup into the backup folder $1; prints its seconds.
backup_once() {
    sync
    local start end
    start=$(date +%s.%N)
    "$ctl" backup --full --folder "$1" >"$work/ctl.log" 2>&1 || { cat "$work/ctl.log" >&2; return 1; }
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN {printf "%.3f\n", e - s}'
}
sent_files() { grep '^backup sent ' "$phone/events.log" | tail -n 1 | awk '{print $3}'; }
min() { awk -v a="$1" -v b="$2" 'BEGIN {print (b == "" || a < b) ? a : b}'; }

# The best of three full backups (the machine is shared; the fastest run is the least
# disturbed), each into a backup folder of its own, so that none starts from another.
full_s=""
for run in 1 2 3; do
    full_s=$(min "$(backup_once "$work/full$run")" "$full_s")
    full_sent=$(sent_files)
done
rm -rf "$work/full2" "$work/full3"
backups="$work/full1"
first=$(ls "$backups" | sort | head -n 1)
full_kb=$(du -sk "$backups/$first" | awk '{print $1}')

# Three weeks of use, each followed by a repeat backup that starts from the one before; the best
# time, and the most any of them added on the disk.
repeat_s=""
added_kb=0
previous=$first
for round in 1 2 3; do
    "$devsim" change-files "$phone" --share "$share" --round "$round" >"$work/changes.txt"
    sleep 1  # a new second, so that the new folder gets its own name
    repeat_s=$(min "$(backup_once "$backups")" "$repeat_s")
    repeat_sent=$(sent_files)
    latest=$(ls "$backups" | sort | tail -n 1)
    # Listed after the one before, the new one counts only what it does not share with it.
    kb=$(du -sk "$backups/$previous" "$backups/$latest" | tail -n 1 | awk '{print $1}')
    [ "$kb" -gt "$added_kb" ] && added_kb=$kb
    previous=$latest
done
transferred=$(grep '^Transferred' "$work/ctl.log" || true)

awk -v bytes="$bytes" -v files="$files" -v raw="$raw_mbs" -v fs="$full_s" -v rs="$repeat_s" \
    -v fk="$full_kb" -v ak="$added_kb" -v fsent="$full_sent" -v rsent="$repeat_sent" \
    -v share="$share" -v changes="$(cat "$work/changes.txt")" -v tr="$transferred" 'BEGIN {
    printf "repeat backup of a phone with %d files, %.1f MB, %s of its files changed (%s)\n", files, bytes / 1e6, share, changes
    printf "  %-44s %8.1f MB/s\n", "simulator raw speed (discarding client)", raw
    mbs = bytes / 1e6 / fs
    printf "  %-44s %8.2f s  %7.1f MB/s  ratio %.2f (target >= 0.90)  %d files sent\n", "full backup into an empty folder", fs, mbs, mbs / raw, fsent
    printf "  %-44s %8.2f s  %6.1f %% of the full time (target < 10 %%)  %d files sent\n", "repeat backup (best of three weeks)", rs, 100 * rs / fs, rsent
    printf "  %-44s %8.1f MB of %.1f MB  %6.2f %% (target < 5 %%)\n", "repeat backup adds on the disk (at most)", ak / 1000 * 1.024, fk / 1000 * 1.024, 100 * ak / fk
    printf "  tolvanectl: %s\n", tr
    met = (mbs / raw >= 0.9) && (rs / fs < 0.1) && (ak / fk < 0.05)
    if (!met) exit 1
}'
