#!/usr/bin/env bash
# Installs a build into a staging folder as a package would (prefix /usr) and checks the tree: exactly the
# listed files, the icons at their sizes, a desktop entry and metainfo that both validators pass and that
# agree with each other and with the build, and an installed program that runs.
# Usage: check-install.sh <build dir> <application id> <version> <site host>
set -euo pipefail
build=$1 id=$2 version=$3 host=$4
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! DESTDIR=$root "${CMAKE:-cmake}" --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: cmake --install"
    exit 1
fi

# The tree: everything under usr/, and exactly the listed files.
# Paths relative to the prefix, or to / for the listed ones outside it (the apt hook under /etc).
expected=$(sed -e '/^#/d' -e '/^$/d' -e "s/@ID@/$id/g" -e 's|^\([^/]\)|usr/\1|' -e 's|^/||' \
    "$here/installed-files.txt" | sort)
actual=$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort)
if [ "$expected" != "$actual" ]; then
    fail "installed files differ from installed-files.txt (< expected, > installed):"
    diff <(echo "$expected") <(echo "$actual") || true
fi

usr=$root/usr
desktop=$usr/share/applications/$id.desktop
metainfo=$usr/share/metainfo/$id.metainfo.xml
[ -x "$usr/bin/varnel" ] || fail "bin/varnel is not executable"
# Each PNG holds a picture of the size its folder names.
for png in $(grep '/[0-9]*x[0-9]*/apps/.*\.png$' <<<"$expected" | sed 's|^usr/||'); do
    [ -f "$usr/$png" ] || continue # reported above
    size=$(basename "$(dirname "$(dirname "$png")")") # "16x16"
    case "$(file -b "$usr/$png")" in
    "PNG image data, ${size%x*} x ${size#*x}, "*) ;;
    *) fail "$png is not a $size PNG: $(file -b "$usr/$png")" ;;
    esac
done
svg=$usr/share/icons/hicolor/scalable/apps/$id.svg
[ ! -f "$svg" ] || file -b "$svg" | grep -q '^SVG' || fail "$svg is not an SVG image"

# Both validators, with nothing to say beyond success.
if [ -f "$desktop" ]; then
    if ! out=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$out" ]; then
        fail "desktop-file-validate: $out"
    fi
fi
if [ -f "$metainfo" ]; then
    # AppStream 1.0 moves developer_name into a <developer> block that Debian 12's validator does not know
    # yet; it mentions the old form as deprecated, which is no fault of this file.
    if ! out=$(appstreamcli validate --no-net "$metainfo" 2>&1) ||
        grep '^[EWI]:' <<<"$out" | grep -qv 'developer-name-tag-deprecated'; then
        fail "appstreamcli validate: $out"
    fi
fi

# The entry starts the installed program and shows the installed icon; the metainfo launches the entry.
if [ -f "$desktop" ] && [ -f "$metainfo" ]; then
    exec_line=$(sed -n 's/^Exec=//p' "$desktop")
    program=${exec_line%% *}
    [ -n "$program" ] && [ "${program#/}" = "$program" ] && [ -x "$usr/bin/$program" ] ||
        fail "Exec=$exec_line does not name a program installed in bin"
    [ "$(sed -n 's/^Icon=//p' "$desktop")" = "$id" ] || fail "the entry's Icon is not $id"
    grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "the metainfo does not launch $id.desktop"
    newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
    [ "$newest" = "$version" ] || fail "the newest release in the metainfo is '$newest', the build is $version"
    grep -q "<url type=\"homepage\">https://$host/</url>" "$metainfo" || fail "the homepage is not https://$host/"
fi
if [ -x "$usr/bin/varnel" ]; then
    said=$("$usr/bin/varnel" --version 2>&1) || fail "the installed varnel --version failed: $said"
    [ "$said" = "Varnel $version" ] || fail "the installed varnel says '$said'"
fi

[ "$failures" -eq 0 ] || exit 1
echo "the staged install is complete and valid"
