#!/usr/bin/env bash
# Tries the built packages on this machine (as root, or with sudo), then removes them:
#   scripts/package-smoke.sh       the packages of build-deb/ (or $TOLVANE_DEB_DIR)
#
#  1. installs tolvane and tolvane-devsim with apt and checks the installed layout, the manual
#     pages against `tolvanectl --help`, and `tolvanectl --version` against the package;
#  2. sets the backup folder as root and checks that it went to $XDG_CONFIG_HOME/Tolvane/ and
#     that the shipped config.ini is unchanged;
#  3. with the program folder mounted read-only: the installed tolvanectl against the installed
#     tolvane-devsim (info, a backup of messages and contacts, the listing), an encrypted backup
#     of the other program read through the decryption tool (its copy in $XDG_DATA_HOME), and the
#     window walk (tests/ui/GtkWalkTest.cpp) of the program the menu entry starts, under Xvfb;
#  4. purges both packages and checks that nothing of theirs is left outside the user's folders.
# Everything the programs write goes to a temporary home, removed at the end. The screens of the
# walk are kept in build-deb/smoke-screens/.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
debs=${TOLVANE_DEB_DIR:-$top/build-deb}
if [ "$(id -u)" -ne 0 ]; then
    exec sudo --preserve-env=TOLVANE_DEB_DIR,CI "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive

fail() {
    echo "package-smoke: FAIL: $*" >&2
    exit 1
}
steps=0
step() {
    steps=$((steps + 1))
    echo "== $*"
}

shopt -s nullglob
app_deb=("$debs"/tolvane_*.deb)
sim_deb=("$debs"/tolvane-devsim_*.deb)
shopt -u nullglob
[ ${#app_deb[@]} -eq 1 ] && [ ${#sim_deb[@]} -eq 1 ] ||
    fail "no packages in $debs (scripts/package.sh builds them)"

work=$(mktemp -d /tmp/tolvane-smoke.XXXXXX)
chmod 755 "$work"
mounted=()
sim_pid=""
installed_by_us=0
cleanup() {
    local rc=$?
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    for m in "${mounted[@]}"; do umount "$m" 2>/dev/null || true; done
    if [ $installed_by_us = 1 ] && [ $rc -ne 0 ]; then
        apt-get purge -y -q tolvane tolvane-devsim >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
    exit $rc
}
trap cleanup EXIT

# What carries the packages' names on the system (outside the users' and temporary folders).
system_traces() {
    find /usr /etc /var /opt /srv -xdev \( -path /var/tmp -o -path /var/cache/apt \) -prune -o \
        -iname '*tolvane*' -print 2>/dev/null | sort
}

for p in tolvane tolvane-devsim; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        step "removing the $p already installed"
        apt-get purge -y -q "$p" >/dev/null
    fi
done
system_traces >"$work/traces-before"

step "installing ${app_deb[0]##*/} and ${sim_deb[0]##*/}"
installed_by_us=1
# usbmuxd is only recommended: a real phone needs it, the simulated one does not.
apt-get install -y -q --no-install-recommends "${app_deb[0]}" "${sim_deb[0]}" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt could not install the packages"; }
dpkg -L tolvane tolvane-devsim | sort -u >"$work/package-files"

step "installed layout"
program=/usr/lib/tolvane
for f in tolvane tolvanectl tool; do
    [ -x "$program/$f" ] && [ ! -L "$program/$f" ] || fail "$program/$f is not a program"
done
for f in config.ini Languages/English.ini Help/index.html; do
    [ -f "$program/$f" ] || fail "$program/$f is missing"
done
[ "$(readlink -f /usr/bin/tolvane)" = "$program/tolvane" ] || fail "/usr/bin/tolvane"
[ "$(readlink -f /usr/bin/tolvanectl)" = "$program/tolvanectl" ] || fail "/usr/bin/tolvanectl"
[ -x /usr/bin/tolvane-devsim ] || fail "/usr/bin/tolvane-devsim"
for size in 16 22 24 32 48 64 128 256; do
    icon=/usr/share/icons/hicolor/${size}x${size}/apps/tolvane.png
    [ -f "$icon" ] || fail "$icon is missing"
    # The width and height of a PNG are the big-endian words at bytes 16 and 20.
    dims=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || fail "$icon is $dims"
done
desktop=/usr/share/applications/tolvane.desktop
desktop-file-validate "$desktop"
appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml >/dev/null

step "version and manual pages"
version=$(dpkg-query -W -f='${Version}' tolvane)
[ "$(tolvanectl --version)" = "tolvanectl ${version%%-*}" ] ||
    fail "tolvanectl --version says '$(tolvanectl --version)', the package is $version"
for page in tolvane tolvanectl tolvane-devsim; do
    man -w "$page" >/dev/null || fail "no manual page for $page"
    zcat "$(man -w "$page")" | grep -q "Tolvane ${version%%-*}" || fail "$page(1) is not of $version"
done
zcat "$(man -w tolvanectl)" >"$work/tolvanectl.1"
# Every command of --help is described in the manual page, and the page names no other command.
tolvanectl --help | sed -n 's/^  \([a-z]\+\)\( .*\)\?$/\1/p' | sort >"$work/help-commands"
awk '/^\.SH/ { on = ($2 == "COMMANDS") } on && tag { sub(/^\.BR? /, ""); print $1 } { tag = on && /^\.TP/ }' \
    "$work/tolvanectl.1" | sort >"$work/man-commands"
[ -s "$work/help-commands" ] || fail "tolvanectl --help lists no commands"
diff -u "$work/help-commands" "$work/man-commands" || fail "tolvanectl(1) and --help differ"

# The user's folders: a fresh home of their own.
home=$work/home
mkdir -p "$home"
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share \
    XDG_STATE_HOME=$home/.local/state XDG_CACHE_HOME=$home/.cache XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export NO_AT_BRIDGE=1

step "settings of a program run as root go to \$XDG_CONFIG_HOME"
shipped_sums() { find "$program/" /usr/share/tolvane/ -type f -print0 | sort -z | xargs -0 sha256sum; }
shipped_sums >"$work/shipped-before"
backups=$home/Backups
tolvanectl folder "$backups" | grep -qx "Backup folder: $backups" || fail "tolvanectl folder"
grep -qx "UserFolder=$backups" "$XDG_CONFIG_HOME/Tolvane/config.ini" ||
    fail "the setting is not in $XDG_CONFIG_HOME/Tolvane/config.ini"
[ "$(tolvanectl folder)" = "$backups" ] || fail "the setting does not read back"
shipped_sums | diff -u "$work/shipped-before" - || fail "the shipped files were written"

step "the program folder read-only"
for dir in "$program" /usr/share/tolvane; do
    if mount --bind "$dir" "$dir" 2>/dev/null; then
        mounted=("$dir" "${mounted[@]}")
        mount -o remount,bind,ro "$dir" || fail "cannot make $dir read-only"
    fi
done
if [ ${#mounted[@]} -eq 2 ]; then
    touch "$program/.probe" 2>/dev/null && fail "$program can still be written"
else
    echo "(no bind mounts here: the installed folder's own rule and the checksums must do)"
fi

step "tolvanectl against tolvane-devsim"
tolvane-devsim make-device "$work/phone" --name "Smoke iPhone" --messages 12 --contacts 5 \
    >"$work/make-device.log" 2>&1 || { cat "$work/make-device.log"; fail "make-device"; }
tolvane-devsim serve --socket "$work/usbmuxd.sock" --device "$work/phone" >"$work/devsim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -S "$work/usbmuxd.sock" ] && break; sleep 0.1; done
[ -S "$work/usbmuxd.sock" ] || { cat "$work/devsim.log"; fail "tolvane-devsim does not serve"; }
export USBMUXD_SOCKET_ADDRESS=UNIX:$work/usbmuxd.sock

tolvanectl info >"$work/info.out" 2>&1 || { cat "$work/info.out"; fail "tolvanectl info"; }
grep -q "Smoke iPhone" "$work/info.out" || { cat "$work/info.out"; fail "info shows no phone name"; }
tolvanectl backup --sms --contacts >"$work/backup.out" 2>"$work/backup.err" ||
    { cat "$work/backup.out" "$work/backup.err"; fail "tolvanectl backup --sms --contacts"; }
folder=$(sed -n 's/^Backup complete: //p' "$work/backup.out")
[ -n "$folder" ] && [ "${folder#"$backups"/}" != "$folder" ] ||
    fail "the backup is not in the folder of the settings: '$folder'"
for f in fileinfo sms content; do [ -s "$folder/$f" ] || fail "the backup has no $f"; done
tolvanectl list >"$work/list.out" 2>&1 || fail "tolvanectl list"
grep -P "\tmessages\+contacts\tplain\tManifest\.mbdb\t[^\t]+, new data [^\t]+\tSmoke iPhone\b.*\t\Q$folder\E$" "$work/list.out" >/dev/null ||
    { cat "$work/list.out"; fail "the listing does not show the backup"; }
tolvanectl messages "$folder" >"$work/messages.out" || fail "tolvanectl messages"
head -1 "$work/messages.out" | grep -qx "12 messages" || fail "messages: $(head -1 "$work/messages.out")"

step "an encrypted backup of the other program, through the decryption tool"
itunes="$XDG_DATA_HOME/Apple Computer/MobileSync/Backup"
mkdir -p "$itunes"
tolvane-devsim write-backup "$work/phone" "$itunes" --encrypt smoke-pass >/dev/null ||
    fail "write-backup"
udid=$(ls "$itunes")
tolvanectl contacts "$itunes/$udid" --itunes --password smoke-pass >"$work/contacts.out" ||
    fail "tolvanectl contacts of the encrypted backup"
head -1 "$work/contacts.out" | grep -qx "5 contacts" || fail "contacts: $(head -1 "$work/contacts.out")"
[ -x "$XDG_DATA_HOME/Tolvane/tool.exe" ] || fail "the tool's copy is not in \$XDG_DATA_HOME/Tolvane"
kill "$sim_pid" && wait "$sim_pid" || true
sim_pid=""
unset USBMUXD_SOCKET_ADDRESS

step "the window program of the menu entry, under Xvfb"
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
window_program=$(command -v "${exec_line%% *}") || fail "the menu entry's command '$exec_line'"
[ "$(readlink -f "$window_program")" = "$program/tolvane" ] || fail "the menu starts $window_program"
walk=$top/build/tests/ui_gui_tests
if [ ! -x "$walk" ]; then
    [ -f "$top/build/build.ninja" ] || cmake --preset default -S "$top" >/dev/null
    cmake --build "$top/build" --target ui_gui_tests
fi
screens=$debs/smoke-screens
rm -rf "$screens"
TOLVANE_WALK_PROGRAM=$window_program TOLVANE_TEST_DEVSIM=/usr/bin/tolvane-devsim \
    TOLVANE_TEST_ARTIFACTS=$work/screens "$walk" --gtest_filter='GtkWalkTest.*' >"$work/walk.log" 2>&1 ||
    { cat "$work/walk.log"; fail "the window walk of the installed program"; }
grep -q "SKIPPED" "$work/walk.log" && { cat "$work/walk.log"; fail "the walk was skipped"; }
mkdir -p "$screens" && cp "$work/screens/ui-walk/"*.png "$screens/"
grep -E "^\[  (PASSED|FAILED) " "$work/walk.log"

step "nothing written into the program folder"
shipped_sums | diff -u "$work/shipped-before" - || fail "the shipped files changed"
for m in "${mounted[@]}"; do umount "$m"; done
mounted=()

step "purging the packages"
apt-get purge -y -q tolvane tolvane-devsim >"$work/purge.log" 2>&1 ||
    { cat "$work/purge.log"; fail "apt could not purge the packages"; }
installed_by_us=0
left=()
while IFS= read -r path; do
    # Folders shared with other packages (/usr/share/icons/hicolor/...) stay, and should.
    if [ -e "$path" ] && [ ! -d "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done <"$work/package-files"
[ ${#left[@]} -eq 0 ] || fail "left behind by the purge: ${left[*]}"
system_traces | comm -13 "$work/traces-before" - >"$work/traces-new"
[ ! -s "$work/traces-new" ] || fail "left on the system: $(tr '\n' ' ' <"$work/traces-new")"
# Every step above stops the script when a check of it fails.
echo "package-smoke: $steps passed, 0 failed"
