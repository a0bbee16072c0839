#!/usr/bin/env bash
# Checks the Debian package `make package` built: its metadata and contents,
# lintian, the desktop entry and the AppStream metainfo, then unpacks it into
# a throwaway root and runs both programs from there.
# packaging/test-package.sh [DEB]   (default: the one in build/)
set -euo pipefail
cd "$(dirname "$0")/.."
shopt -s nullglob
debs=(${1:-build/lanewright_*.deb})
[ "${#debs[@]}" = 1 ] || { echo "test-package: want one package, found: ${debs[*]:-none}" >&2; exit 1; }
deb=${debs[0]}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "test-package: $*" >&2; exit 1; }

echo "== metadata: $deb"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = lanewright ] || fail "package name $(field Package)"
version=$(field Version)
# The package carries the version the programs print.
depends=$(field Depends)
for lib in libc6 libhidapi-hidraw0 libqt6widgets6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
for script in postinst postrm; do
  dpkg-deb -I "$deb" "$script" >/dev/null || fail "no $script"
done

echo "== contents"
listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|')
for f in /usr/bin/lanewright /usr/bin/lanewright-cli \
         /usr/lib/udev/rules.d/70-lanewright.rules \
         /usr/share/applications/io.github.lanewright.Lanewright.desktop \
         /usr/share/metainfo/io.github.lanewright.Lanewright.metainfo.xml \
         /usr/share/icons/hicolor/scalable/apps/lanewright.svg \
         /usr/share/icons/hicolor/48x48/apps/lanewright.png \
         /usr/share/icons/hicolor/256x256/apps/lanewright.png \
         /usr/share/man/man1/lanewright.1.gz /usr/share/man/man1/lanewright-cli.1.gz \
         /usr/share/bash-completion/completions/lanewright-cli \
         /usr/share/zsh/vendor-completions/_lanewright-cli \
         /usr/share/doc/lanewright/copyright /usr/share/doc/lanewright/changelog.gz; do
  grep -qx "$f" <<<"$listing" || fail "missing $f"
done
# Nothing from the build tree or the test suite ships.
! grep -Eq '^/usr/(local|include)|/test_|\.a$' <<<"$listing" || fail "stray files: $(grep -E '^/usr/(local|include)|/test_|\.a$' <<<"$listing")"

echo "== lintian"
# Errors and warnings fail; info tags (hardening flags the build does not
# set) are shown only.
lintian --fail-on error,warning --allow-root --info "$deb"

dpkg -x "$deb" "$root"
echo "== desktop entry, metainfo"
desktop-file-validate "$root"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
grep -q 'TAG+="uaccess"' "$root"/usr/lib/udev/rules.d/70-lanewright.rules || fail "the rule lacks uaccess"

echo "== maintainer scripts"
# They succeed where udev does not run or udevadm fails (a container, a
# chroot); a stand-in udevadm keeps the host's udev untouched.
shim=$root/shim; mkdir -p "$shim"
printf '#!/bin/sh\nexit 1\n' > "$shim/udevadm"; chmod +x "$shim/udevadm"
ctl=$root/control; dpkg-deb -e "$deb" "$ctl"
PATH=$shim:$PATH sh -e "$ctl/postinst" configure || fail "postinst failed"
PATH=$shim:$PATH sh -e "$ctl/postrm" remove || fail "postrm failed"

echo "== the installed programs"
export QT_QPA_PLATFORM=offscreen
cli=$root/usr/bin/lanewright-cli
out=$("$cli" --version)
grep -Eq "^lanewright-cli ${version//./\\.}( |$)" <<<"$out" || fail "lanewright-cli --version says \"$out\", the package $version"
out=$("$root"/usr/bin/lanewright --version 2>/dev/null)
[ "$out" = "lanewright $version" ] || fail "lanewright --version says \"$out\", the package $version"
"$cli" --emulate info | grep -q . || fail "lanewright-cli --emulate info printed nothing"
"$root"/usr/bin/lanewright --help 2>/dev/null | grep -q -- --emulate || fail "lanewright --help lacks --emulate"

echo "== completion"
bash -n "$root"/usr/share/bash-completion/completions/lanewright-cli
complete_words() {  # complete_words WORD... : what bash offers for the last word
  COMP_WORDS=(lanewright-cli "$@"); COMP_CWORD=$#; COMPREPLY=()
  _lanewright_cli
  printf '%s\n' "${COMPREPLY[@]}"
}
compopt() { :; }  # only defined while completing
# shellcheck source=/dev/null
. "$root"/usr/share/bash-completion/completions/lanewright-cli
complete_words --emulate in | grep -qx info || fail "bash does not complete the command info"
complete_words --emulate set tx-d | grep -qx tx-disable || fail "bash does not complete set tx-disable"
complete_words ber --ta | grep -qx -- --target || fail "bash does not complete ber --target"
[ "$(complete_words --emulate set tx-d | wc -l)" = 1 ] || fail "set tx-d should have one completion"

echo "== manual pages"
for page in lanewright lanewright-cli; do
  man=$(zcat "$root/usr/share/man/man1/$page.1.gz")
  grep -q "^$page \\\\- " <<<"$man" || fail "$page(1) has no NAME line"
  grep -q 'emulate' <<<"$man" || fail "$page(1) lacks the --emulate option"
done
echo "test-package: $deb passed"
