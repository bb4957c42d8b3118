#!/usr/bin/env bash
# The demo run: installs what is missing and builds when needed, then opens the application,
# `build/bin/tolvane`, when there is a display (DISPLAY or WAYLAND_DISPLAY). Without a display
# (or when the application cannot be built) it says so and falls back to the command-line demo:
# a full backup with tolvanectl (showing progress), the catalogue, and where the backup went.
#
# With a real phone attached through the system's usbmuxd (idevice_id -l lists one while
# USBMUXD_SOCKET_ADDRESS is unset), that phone is used. Otherwise a demo phone is made once
# in ${XDG_STATE_HOME:-$HOME/.local/state}/tolvane/demo-phone with tolvane-devsim, served on a
# private socket for this run only (at a real phone's USB speed), and stopped again on every way
# out of the script.
#
#   scripts/run.sh          the application when there is a display, else the command-line demo
#   scripts/run.sh --cli    the command-line demo in any case
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

mode=auto
case "${1:-}" in
    --cli) mode=cli ;;
    "") ;;
    *)
        echo "usage: scripts/run.sh [--cli]" >&2
        exit 2
        ;;
esac

"$top/scripts/install-deps.sh"
if [ ! -f build/build.ninja ]; then
    cmake --preset default >/dev/null
fi
cmake --build --preset default --target tolvanectl tolvane-devsim -j "$(nproc)" >/dev/null
ctl="$top/build/bin/tolvanectl"
devsim="$top/build/bin/tolvane-devsim"
app="$top/build/bin/tolvane"

# A display the application can open: a Wayland socket, or an X display (a local one only when
# its socket is there; a remote one is taken on trust).
have_display() {
    if [ -n "${WAYLAND_DISPLAY:-}" ]; then
        case "$WAYLAND_DISPLAY" in
            /*) [ -S "$WAYLAND_DISPLAY" ] && return 0 ;;
            *) [ -S "${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/$WAYLAND_DISPLAY" ] && return 0 ;;
        esac
    fi
    if [ -n "${DISPLAY:-}" ]; then
        if [[ "$DISPLAY" =~ ^(unix)?:([0-9]+)(\.[0-9]+)?$ ]]; then
            [ -S "/tmp/.X11-unix/X${BASH_REMATCH[2]}" ] && return 0
            return 1
        fi
        return 0
    fi
    return 1
}

if [ "$mode" = auto ]; then
    if ! have_display; then
        echo "No display to open the application on (DISPLAY/WAYLAND_DISPLAY unset or not reachable): running the command-line demo instead."
        mode=cli
    elif ! ninja -C build -t query tolvane >/dev/null 2>&1; then
        echo "This build has no application target (tolvane): running the command-line demo instead."
        mode=cli
    elif ! cmake --build --preset default --target tolvane -j "$(nproc)" >/dev/null; then
        echo "The application did not build: running the command-line demo instead." >&2
        mode=cli
    else
        mode=gui
    fi
fi

real_phone=""
if [ -z "${USBMUXD_SOCKET_ADDRESS:-}" ] && command -v idevice_id >/dev/null; then
    real_phone=$(idevice_id -l 2>/dev/null | head -n 1 || true)
fi

phone_pid=""
sock_dir=""
stop_phone() {
    if [ -n "$phone_pid" ]; then
        kill "$phone_pid" 2>/dev/null || true
        wait "$phone_pid" 2>/dev/null || true
        phone_pid=""
    fi
    if [ -n "$sock_dir" ]; then
        rm -rf "$sock_dir"
        sock_dir=""
    fi
}
trap stop_phone EXIT
trap 'stop_phone; exit 130' INT TERM

if [ -n "$real_phone" ]; then
    echo "Using the phone attached through usbmuxd: $real_phone"
else
    state="${XDG_STATE_HOME:-$HOME/.local/state}/tolvane"
    phone="$state/demo-phone"
    if [ ! -f "$phone/device.plist" ]; then
        echo "Making the demo phone in $phone (once)"
        mkdir -p "$state"
        rm -rf "$phone.new"
        "$devsim" make-device "$phone.new" --name "Demo iPhone" --media-mb 120 --messages 400 \
            --contacts 150 --apps 40 >/dev/null
        rm -rf "$phone"
        mv "$phone.new" "$phone"
    fi
    sock_dir=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-demo.XXXXXX")
    sock="$sock_dir/usbmuxd.sock"
    # At about the speed of a real phone on USB 2.0, so that the progress can be followed.
    "$devsim" serve --socket "$sock" --device "$phone" --fault rate=30 >"$sock_dir/phone.log" 2>&1 &
    phone_pid=$!
    for _ in $(seq 100); do
        [ -S "$sock" ] && break
        if ! kill -0 "$phone_pid" 2>/dev/null; then
            cat "$sock_dir/phone.log" >&2
            echo "The demo phone did not start." >&2
            exit 1
        fi
        sleep 0.1
    done
    export USBMUXD_SOCKET_ADDRESS="UNIX:$sock"
    echo "Serving the demo phone from $phone"
fi

if [ "$mode" = gui ]; then
    echo "Opening Tolvane ($app). Close its window to end the demo."
    set +e
    "$app"
    status=$?
    set -e
    stop_phone
    exit "$status"
fi

"$ctl" info
echo
set +e
"$ctl" backup --full | tee "${TMPDIR:-/tmp}/tolvane-run.$$.log"
status=${PIPESTATUS[0]}
set -e
folder=$(sed -n 's/^Backup complete: //p' "${TMPDIR:-/tmp}/tolvane-run.$$.log")
rm -f "${TMPDIR:-/tmp}/tolvane-run.$$.log"
echo
echo "The catalogue:"
"$ctl" list
stop_phone
echo
if [ "$status" -ne 0 ]; then
    echo "The backup failed (exit status $status)."
    exit "$status"
fi
echo "The backup went to: $folder"
