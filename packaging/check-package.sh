#!/usr/bin/env bash
# Builds the Debian package and checks it: the files it holds, its control
# fields and dependencies, the menu entry and the AppStream metainfo as
# installed, and that apt would accept it.
# Usage: packaging/check-package.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
root_dir=$PWD
build_dir="${1:-build}"

tools=(dpkg-dev desktop-file-utils appstream)
scripts/ensure-packages.sh "${tools[@]}"

echo "== build"
scripts/setup.sh "$build_dir" -DQUILLON_BUILD_UI=ON

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== cpack"
(cd "$build_dir" && cpack -G DEB -B "$work/out" >"$work/cpack.log") || {
    cat "$work/cpack.log"
    exit 1
}
debs=("$work"/out/quillon_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || {
    echo "expected one quillon_*.deb, found: ${debs[*]}"
    exit 1
}
deb=${debs[0]}
echo "$(basename "$deb")"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

echo "== contents"
dpkg-deb -c "$deb" | tee "$work/contents.txt"
# Regular files only, as ./usr/... paths.
awk '$1 ~ /^-/ {print $NF}' "$work/contents.txt" | sort >"$work/files.txt"
{
    echo ./usr/bin/quillon
    # The command-line extractor, once the build makes one.
    if [ -n "$(find "$build_dir" -name quillon-extract -type f -perm -u+x -not -path '*/CMakeFiles/*' -print -quit)" ]; then
        echo ./usr/bin/quillon-extract
    fi
    echo ./usr/share/applications/org.quillon.Quillon.desktop
    echo ./usr/share/metainfo/org.quillon.Quillon.metainfo.xml
    echo ./usr/share/icons/hicolor/scalable/apps/quillon.svg
    for size in 16 22 24 32 48 64 128 256; do
        echo "./usr/share/icons/hicolor/${size}x${size}/apps/quillon.png"
    done
} | sort >"$work/expected.txt"
if ! diff -u "$work/expected.txt" "$work/files.txt"; then
    fail "the package's files differ from the expected list (- expected, + packaged)"
fi

echo "== control fields"
dpkg-deb -f "$deb" | tee "$work/control.txt"
field() { dpkg-deb -f "$deb" "$1"; }
version=$(sed -n 's/^project(Quillon VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$(field Package)" = quillon ] || fail "Package is not quillon"
[ "$(field Version)" = "$version" ] || fail "Version $(field Version) is not the project's $version"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ "$(dpkg-deb -f "$deb" Description | wc -l)" -ge 2 ] || fail "the Description has no long text"
# Each dependency by name, whatever version constraint shlibdeps put on it.
depends=",$(field Depends | tr -d ' '),"
for p in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins libpcre2-8-0 libuchardet0 libgmime-3.0-0 \
    fonts-noto-cjk qt6-translations-l10n; do
    [[ $depends == *",$p,"* || $depends == *",$p("* ]] || fail "Depends lacks $p"
done

echo "== installed tree"
tree="$work/root"
dpkg-deb -x "$deb" "$tree"
desktop="$tree/usr/share/applications/org.quillon.Quillon.desktop"
metainfo="$tree/usr/share/metainfo/org.quillon.Quillon.metainfo.xml"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
appstreamcli validate-tree --no-net "$tree" || fail "appstreamcli validate-tree"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$tree/usr/bin/$exec_name" ] || fail "Exec=$exec_name is not a program of the package"
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$tree/usr/share/icons/hicolor/48x48/apps/$icon_name.png" ] || fail "Icon=$icon_name has no 48x48 icon"
grep -q 'Name\[ja\]=' "$desktop" && grep -q 'Comment\[ja\]=' "$desktop" || fail "no Japanese name or comment"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo names no release $version"
grep -q 'xml:lang="ja"' "$metainfo" || fail "the metainfo has no Japanese text"
# The window says which menu entry it belongs to (Wayland app id): the same name.
grep -q 'setDesktopFileName(QStringLiteral("org.quillon.Quillon"))' "$root_dir/ui/App.cpp" ||
    fail "ui/App.cpp does not name the desktop file org.quillon.Quillon"
if ldd "$tree/usr/bin/quillon" | grep 'not found'; then
    fail "libraries not found"
fi

echo "== apt would install it"
apt-get install -s -q "$deb" >"$work/apt.log" 2>&1 || {
    cat "$work/apt.log"
    fail "apt-get install -s"
}

if [ "$failures" -ne 0 ]; then
    echo "== $failures check(s) failed"
    exit 1
fi
echo "== package ok: $(basename "$deb")"
