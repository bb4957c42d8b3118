#!/usr/bin/env bash
# install-tree-test.sh BUILD_DIR VERSION: installs the build into a temporary prefix and checks
# what a package would hold. Prints "N passed, N failed" and fails when a check fails.
set -uo pipefail
build=$1
version=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0
failed=0
check() {  # check NAME COMMAND...: one check, counted
    local name=$1
    shift
    if "$@" >"$tmp/check.log" 2>&1; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $name"
        sed 's/^/    /' "$tmp/check.log"
    fi
}

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 || {
    cat "$tmp/install.log"
    exit 1
}
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_DATA_HOME=$tmp/home/.local/share
mkdir -p "$HOME"

program=$prefix/lib/tolvane
programs_are_in_the_program_folder() {
    for f in tolvane tolvanectl tool; do
        [ -x "$program/$f" ] && [ ! -L "$program/$f" ] || { echo "$program/$f"; return 1; }
    done
    [ -x "$prefix/bin/tolvane-devsim" ] || { echo "no bin/tolvane-devsim"; return 1; }
    # nothing else in the program folder
    [ "$(ls "$program" | tr '\n' ' ')" = "Help Languages config.ini tolvane tolvanectl tool " ]
}
check "programs in lib/tolvane" programs_are_in_the_program_folder

links_are_relative_and_lead_to_the_files() {
    for link in bin/tolvane bin/tolvanectl lib/tolvane/config.ini lib/tolvane/Languages \
        lib/tolvane/Help; do
        [ -L "$prefix/$link" ] || { echo "$link is not a link"; return 1; }
        case $(readlink "$prefix/$link") in /*) echo "$link is absolute"; return 1 ;; esac
        [ -e "$prefix/$link" ] || { echo "$link leads nowhere"; return 1; }
    done
    [ "$(readlink -f "$prefix/bin/tolvane")" = "$(readlink -f "$program/tolvane")" ] &&
        [ -f "$prefix/share/tolvane/Languages/English.ini" ] &&
        [ -f "$prefix/share/tolvane/Help/index.html" ] &&
        cmp -s "$prefix/share/tolvane/config.ini" "$build/bin/config.ini"
}
check "links" links_are_relative_and_lead_to_the_files

icons_have_their_sizes() {
    for size in 16 22 24 32 48 64 128 256; do
        icon=$prefix/share/icons/hicolor/${size}x${size}/apps/tolvane.png
        [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' ')" = "89504e470d0a1a0a" ] ||
            { echo "$icon is no PNG"; return 1; }
        dims=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print $3*256+$4 "x" $7*256+$8}')
        [ "$dims" = "${size}x${size}" ] || { echo "$icon is $dims"; return 1; }
    done
}
check "icons" icons_have_their_sizes

# A program started through its link finds its files beside itself: the shipped config.ini
# behind the link of the program folder is the one it reads.
program_finds_its_folder_through_the_link() {
    sed -i "s|^\[Folder\]\$|[Folder]\nUserFolder=$tmp/shipped-folder|" "$prefix/share/tolvane/config.ini"
    [ "$("$prefix/bin/tolvanectl" folder)" = "$tmp/shipped-folder" ]
}
check "program folder through the link" program_finds_its_folder_through_the_link

version_is_the_projects() {
    [ "$("$prefix/bin/tolvanectl" --version)" = "tolvanectl $version" ] &&
        "$prefix/bin/tolvanectl" -V | grep -qx "tolvanectl $version"
}
check "--version" version_is_the_projects

manual_pages_match_the_help() {
    local man=$prefix/share/man/man1
    for page in tolvane tolvanectl tolvane-devsim; do
        grep -q "^\.TH .* \"Tolvane $version\"" "$man/$page.1" || { echo "$page.1 version"; return 1; }
        if command -v man >/dev/null; then
            MANWIDTH=80 man --warnings -l "$man/$page.1" 2>&1 >/dev/null | grep . && return 1
        fi
    done
    "$prefix/bin/tolvanectl" --help | sed -n 's/^  \([a-z]\+\)\( .*\)\?$/\1/p' | sort >"$tmp/help"
    # The first word of each tagged paragraph of COMMANDS.
    awk '/^\.SH/ { on = ($2 == "COMMANDS") } on && tag { sub(/^\.BR? /, ""); print $1 } { tag = on && /^\.TP/ }' \
        "$man/tolvanectl.1" | sort >"$tmp/man"
    [ "$(wc -l <"$tmp/help")" -ge 8 ] && diff -u "$tmp/help" "$tmp/man"
}
check "manual pages" manual_pages_match_the_help

desktop_entry_and_metainfo_validate() {
    local entry=$prefix/share/applications/tolvane.desktop
    grep -qx "Exec=tolvane" "$entry" && grep -qx "Icon=tolvane" "$entry" || return 1
    if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry" || return 1; fi
    if command -v appstreamcli >/dev/null; then
        appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml || return 1
    fi
}
check "desktop entry and metainfo" desktop_entry_and_metainfo_validate

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
