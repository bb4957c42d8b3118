#!/usr/bin/env bash
# Builds the Debian packages tolvane and tolvane-devsim with one command:
#   scripts/package.sh             packages in build-deb/ (or $TOLVANE_DEB_DIR), then lintian
# Installs what the build needs (the packaging tools and debian/control's Build-Depends),
# builds from a copy of the source tree with dpkg-buildpackage -us -uc -b, validates the
# desktop entry and the AppStream metainfo of the package, and runs lintian, whose errors fail.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${TOLVANE_DEB_DIR:-$top/build-deb}
cd "$top"

"$top/scripts/install-deps.sh"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if ! dpkg-checkbuilddeps 2>/dev/null; then
    echo "== installing the build dependencies of debian/control"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    $sudo apt-get build-dep -y -q "$top"
fi

version=$(dpkg-parsechangelog -l debian/changelog -S Version)
stage="$out/src/tolvane-$version"
echo "== building tolvane $version in $stage"
rm -rf "$out"
mkdir -p "$stage"
# The tracked and new files of the tree, without what .gitignore leaves out (build folders).
if git -C "$top" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$top" ls-files -z --cached --others --exclude-standard |
        (cd "$top" && xargs -0 -r sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh) |
        tar -C "$top" --null -T - -cf - | tar -C "$stage" -xf -
else
    tar -C "$top" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$stage" -xf -
fi

# Compiler caching for repeated builds, when the machine has it (CMake reads these variables).
if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
start=$(date +%s)
(cd "$stage" && DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage -us -uc -b)
echo "== packages built in $(($(date +%s) - start)) s"
shopt -s nullglob
mv "$out/src"/*.deb "$out/src"/*.ddeb "$out/src"/*.changes "$out/src"/*.buildinfo "$out/"
shopt -u nullglob
rm -rf "$out/src"
ls -l "$out"/*.deb

echo "== desktop entry and metainfo"
check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
dpkg-deb -x "$out"/tolvane_"${version}"_*.deb "$check"
desktop-file-validate "$check/usr/share/applications/tolvane.desktop"
appstreamcli validate --no-net "$check"/usr/share/metainfo/*.metainfo.xml

echo "== lintian"
# Errors fail; warnings and the rest are printed for whoever reads the log.
lintian --fail-on error --display-info --info "$out"/*.changes
echo "== packages ready: $(cd "$out" && ls ./*.deb | tr '\n' ' ')"
