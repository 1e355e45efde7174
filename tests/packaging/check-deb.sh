#!/usr/bin/env bash
# Builds the Debian package of a build tree with CPack and checks it: the control file (name, version,
# section, maintainer, description, and a Depends line computed from the shared libraries) and the
# contents (exactly the files of installed-files.txt under /usr, owned by root, with sensible modes).
# Usage: check-deb.sh <build dir> <application id> <version>
set -euo pipefail
build=$1 id=$2 version=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! "${CPACK:-cpack}" --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
shopt -s nullglob
debs=("$work"/varnel_"$version"_*.deb)
if [ "${#debs[@]}" -ne 1 ]; then
    ls "$work"
    echo "FAIL: expected one varnel_${version}_<arch>.deb"
    exit 1
fi
deb=${debs[0]}

# The control file, as dpkg-deb --info shows it (fields indented by one space).
info=$(dpkg-deb --info "$deb")
field() { sed -n "s/^ $1: //p" <<<"$info"; }
[ "$(field Package)" = varnel ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the build is $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ "$(field Section)" = utils ] || fail "Section is '$(field Section)'"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@]+@[^\>]+\>$ ]] || fail "Maintainer is '$(field Maintainer)'"
[ -n "$(field Description)" ] || fail "no Description"
# The names of the Depends line; dpkg-shlibdeps names the packages of every library the program links, and
# the repair needs pkexec and the polkit daemon to ask for a password.
depends=$(field Depends)
names=$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }')
for library in 'libc6' 'libstdc\+\+6' 'libqt6core6.*' 'libqt6gui6.*' 'libqt6widgets6.*' 'libqt6network6.*' \
    'libicu[0-9]+' 'pkexec' 'polkitd'; do
    grep -Eqx "$library" <<<"$names" || fail "Depends names no $library: '$depends'"
done

# apt's hook is a configuration file the administrator may change; purging removes varnel-repair's store.
dpkg-deb --info "$deb" conffiles 2>/dev/null | grep -qx /etc/apt/apt.conf.d/99varnel-receipts ||
    fail "the apt hook is no conffile"
dpkg-deb --info "$deb" postrm 2>/dev/null | grep -q 'rm -rf /var/lib/varnel' || fail "purging keeps /var/lib/varnel"

# The contents: regular files exactly as listed, under /usr, root's, programs 755 and data 644.
contents=$(dpkg-deb --contents "$deb")
expected=$(sed -e '/^#/d' -e '/^$/d' -e "s/@ID@/$id/g" -e 's|^\([^/]\)|./usr/\1|' -e 's|^/|./|' \
    "$here/installed-files.txt" | sort)
actual=$(awk '$1 !~ /^d/ { print $6 }' <<<"$contents" | sort)
if [ "$expected" != "$actual" ]; then
    fail "package files differ from installed-files.txt (< expected, > packaged):"
    diff <(echo "$expected") <(echo "$actual") || true
fi
awk '$6 !~ /^\.\/usr\// && $6 !~ /^\.\/etc\/(apt\/(apt\.conf\.d\/.*)?)?$/ && $6 != "./" { print "FAIL: outside /usr: " $6; bad = 1 }
     $2 != "root/root" { print "FAIL: not root'\''s: " $6; bad = 1 }
     $1 ~ /^-/ && $6 ~ /\/(bin|libexec)\// && $1 != "-rwxr-xr-x" { print "FAIL: not 755: " $6; bad = 1 }
     $1 ~ /^-/ && $6 !~ /\/(bin|libexec)\// && $1 != "-rw-r--r--" { print "FAIL: not 644: " $6; bad = 1 }
     END { exit bad }' <<<"$contents" || failures=$((failures + 1))

[ "$failures" -eq 0 ] || exit 1
echo "$(basename "$deb") holds the listed files; Depends: $depends"
