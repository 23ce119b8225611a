#!/usr/bin/env bash
# Builds the Debian package and checks it: the files it holds, its control
# fields and dependencies, the menu entry and the AppStream metainfo as
# installed, the manual pages, the bash completion, the copyright file and the
# changelog, lintian's verdict, and that apt would accept it.
# Usage: packaging/check-package.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
root_dir=$PWD
build_dir="${1:-build}"

tools=(dpkg-dev desktop-file-utils appstream lintian man-db bash-completion)
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
    echo ./usr/bin/quillon-extract
    echo ./usr/share/man/man1/quillon.1.gz
    echo ./usr/share/man/man1/quillon-extract.1.gz
    echo ./usr/share/bash-completion/completions/quillon-extract
    echo ./usr/share/doc/quillon/copyright
    echo ./usr/share/doc/quillon/changelog.gz
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
has_depend() { [[ $depends == *",$1,"* || $depends == *",$1("* ]]; }
for p in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins libgmime-3.0-0 \
    fonts-noto-cjk qt6-translations-l10n; do
    has_depend "$p" || fail "Depends lacks $p"
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
# One main category, so that a menu shows the entry once.
main_categories=$(sed -n 's/^Categories=//p' "$desktop" | tr ';' '\n' |
    grep -cxE 'AudioVideo|Audio|Video|Development|Education|Game|Graphics|Network|Office|Science|Settings|System|Utility' || true)
[ "$main_categories" -eq 1 ] || fail "the menu entry names $main_categories main categories, not one"
grep -q 'Name\[ja\]=' "$desktop" && grep -q 'Comment\[ja\]=' "$desktop" || fail "no Japanese name or comment"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo names no release $version"
grep -q 'xml:lang="ja"' "$metainfo" || fail "the metainfo has no Japanese text"
# The window says which menu entry it belongs to (Wayland app id): the same name.
grep -q 'setDesktopFileName(QStringLiteral("org.quillon.Quillon"))' "$root_dir/ui/App.cpp" ||
    fail "ui/App.cpp does not name the desktop file org.quillon.Quillon"
if ldd "$tree/usr/bin/quillon" "$tree/usr/bin/quillon-extract" | grep 'not found'; then
    fail "libraries not found"
fi
# PCRE2, uchardet and liburing are linked statically when their archives were
# found; otherwise their packages must be dependencies.
for lib in libpcre2-8.so:libpcre2-8-0 libuchardet.so:libuchardet0 liburing.so:liburing2; do
    if ldd "$tree/usr/bin/quillon" "$tree/usr/bin/quillon-extract" | grep -q "${lib%%:*}"; then
        has_depend "${lib##*:}" || fail "Depends lacks ${lib##*:}"
    fi
done
# GMime is loaded when the first mail is read: the installed program must find it.
printf 'From: aa@example.org\nTo: bb@example.org\nSubject: x\n\ncc@example.org\n' >"$work/mail.eml"
[ "$("$tree/usr/bin/quillon-extract" --no-prefs --no-sort "$work/mail.eml" | tr '\r' '\n' | sort | tr '\n' ' ')" = \
    "aa@example.org bb@example.org cc@example.org " ] || fail "quillon-extract does not read a mail"

echo "== manual pages, completion, copyright, changelog"
for page in quillon quillon-extract; do
    gz="$tree/usr/share/man/man1/$page.1.gz"
    gzip -t "$gz" || fail "$page.1.gz is not gzipped"
    # Rendered as man would, with groff's warnings shown.
    rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$gz" 2>"$work/man-$page.log") || fail "man cannot show $page"
    if [ -s "$work/man-$page.log" ]; then
        cat "$work/man-$page.log"
        fail "man warns about $page.1"
    fi
    grep -q "^NAME" <<<"$rendered" && grep -q "$page - " <<<"$rendered" || fail "$page.1 has no NAME line"
done
# The extractor's page is its --help: every option is in it.
extract_page=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$tree/usr/share/man/man1/quillon-extract.1.gz" 2>/dev/null)
for option in $("$tree/usr/bin/quillon-extract" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$extract_page" || fail "the manual page lacks $option"
done
# The completion offers every long option of --help, and the values of one.
completion="$tree/usr/share/bash-completion/completions/quillon-extract"
complete_words() {
    # shellcheck disable=SC1090,SC1091
    bash -c 'source /usr/share/bash-completion/bash_completion; source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        _quillon_extract quillon-extract "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@"
}
offered=$(complete_words quillon-extract --)
for option in $("$tree/usr/bin/quillon-extract" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -qx -- "$option" <<<"$offered" || fail "the completion does not offer $option"
done
[ "$(complete_words quillon-extract --line-end c | sort | tr '\n' ' ')" = "cr crlf " ] ||
    fail "the completion does not offer the values of --line-end"
copyright="$tree/usr/share/doc/quillon/copyright"
head -1 "$copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "the copyright file is not in the machine-readable format"
grep -q '^License: Expat' "$copyright" || fail "the copyright file names no MIT (Expat) licence"
cmp -s <(sed -n '/^Permission/,$p' LICENSE) <(sed -n '/^License: Expat$/,$p' "$copyright" | sed -n '/Permission/,$p' |
    sed 's/^ //; s/^\.$//') || fail "the copyright file's licence text differs from LICENSE"
changelog="$tree/usr/share/doc/quillon/changelog.gz"
[ "$(zcat "$changelog" | dpkg-parsechangelog -l- -S Version)" = "$version" ] ||
    fail "the changelog's latest entry is not version $version"
grep -q '<project_license>MIT</project_license>' "$metainfo" || fail "the metainfo names no MIT licence"

echo "== lintian"
lintian --no-tag-display-limit "$deb" | tee "$work/lintian.log" || true
if grep -q '^E:' "$work/lintian.log"; then
    fail "lintian reports errors"
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
