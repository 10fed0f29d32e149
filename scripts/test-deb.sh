#!/usr/bin/env bash
# Checks the Debian package that scripts/package.sh made, then installs it on
# this machine as a user would, uses the installed program over the stand-in
# MIDI service and removes it again:
#
#   - the package holds exactly the expected files; lintian finds nothing (its
#     overrides, each with its reason, are in packaging/debian/lintian-overrides);
#     desktop-file-validate and appstreamcli accept the desktop entry and the
#     AppStream metadata; dpkg-shlibdeps computed the dependencies;
#   - apt-get installs it with what it depends on;
#   - the installed /usr/bin/QuilletLooperSwUpdater is used with real clicks
#     (scripts/run-as-user.sh): the whole image arrives, unchanged and paced,
#     and the screenshots show the upload running and complete;
#   - apt-get remove --purge leaves none of its files behind.
#
#   scripts/test-deb.sh
#
# Needs root (it installs and removes the package), and the Release build of
# scripts/package.sh, whose stand-in MIDI service and capture checker it uses.
# The person run's screenshots and log go to build/release/deb-run/.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
release="$root/build/release"
run="$release/deb-run"
package=quillet-updater
appId=com.zentrik.QuilletLooperSwUpdater

say()  { echo "test-deb: $*"; }
fail() { say "FAILED: $*" >&2; exit 1; }

source "$root/scripts/desktop-session.sh"

[[ $(id -u) -eq 0 ]] || fail "installing the package needs root"

"$root/scripts/require-packages.sh" "The Debian package's test" \
    lintian desktop-file-utils appstream xvfb xauth xdotool x11-utils imagemagick tesseract-ocr tesseract-ocr-eng

debs=("$root"/build/packages/${package}_*_amd64.deb)
[[ -f "${debs[0]}" ]] || fail "no package in build/packages: run scripts/package.sh first"
deb="${debs[0]}"

rm -rf "$run"
mkdir -p "$run/contents"

# The files the package installs, in dpkg's sorted order.
expected_files()
{
    sort <<EOF_FILES
/usr/bin/QuilletLooperSwUpdater
/usr/share/applications/$appId.desktop
/usr/share/doc/$package/changelog.gz
/usr/share/doc/$package/copyright
/usr/share/icons/hicolor/16x16/apps/$appId.png
/usr/share/icons/hicolor/32x32/apps/$appId.png
/usr/share/icons/hicolor/48x48/apps/$appId.png
/usr/share/icons/hicolor/256x256/apps/$appId.png
/usr/share/lintian/overrides/$package
/usr/share/man/man1/QuilletLooperSwUpdater.1.gz
/usr/share/metainfo/$appId.metainfo.xml
EOF_FILES
}

packed_files()    { dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./|/|; /[^/]$/p' | sort; }
installed_files() { dpkg-query -L "$package" | while read -r f; do [[ -d "$f" ]] || echo "$f"; done | sort; }
package_status()  { dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null || true; }
installed()       { [[ "$(package_status)" == ii* ]]; }

#==============================================================================
say "checking $deb ($(stat -c %s "$deb") bytes)"
dpkg-deb -x "$deb" "$run/contents"

check "the package holds exactly the expected files" diff <(expected_files) <(packed_files)
check "lintian finds no error or warning" \
    lintian --fail-on error,warning --display-info --pedantic --show-overrides "$deb"
check "desktop-file-validate accepts the desktop entry" \
    desktop-file-validate "$run/contents/usr/share/applications/$appId.desktop"
check "appstreamcli accepts the AppStream metadata" \
    appstreamcli validate --no-net "$run/contents/usr/share/metainfo/$appId.metainfo.xml"
check "the dependencies include those dpkg-shlibdeps finds in the program" \
    grep -E 'libasound2 .*libfreetype6 .*libpng16-16' <<<"$(dpkg-deb -f "$deb" Depends)"

#==============================================================================
if [[ -n "$(package_status)" ]]; then
    say "removing the $package left from an earlier run"
    apt-get remove --purge -y -qq "$package" >/dev/null
fi

started=$(now_ms)
apt-get install -y -qq "$deb" > "$run/apt-install.log" 2>&1 \
    || { cat "$run/apt-install.log" >&2; fail "apt-get install $deb failed"; }
say "apt-get install took $(( $(now_ms) - started )) ms"

check "dpkg knows the package as installed" installed
check "dpkg lists exactly the expected files" diff <(expected_files) <(installed_files)
check "the program is found on the PATH" test "$(command -v QuilletLooperSwUpdater)" = /usr/bin/QuilletLooperSwUpdater

# The person run, with the installed program in place of the built one.
person_run()
{
    xvfb_run "$root/scripts/run-as-user.sh" --program /usr/bin/QuilletLooperSwUpdater "$release" "$run/screens" \
        > "$run/person-run.log" 2>&1 || { tail -n 40 "$run/person-run.log"; return 1; }
}
check "the installed program uploads the whole image, paced, with real clicks" person_run
sed -n '/^capture:/,$p' "$run/person-run.log"

#==============================================================================
started=$(now_ms)
apt-get remove --purge -y -qq "$package" > "$run/apt-remove.log" 2>&1 \
    || { cat "$run/apt-remove.log" >&2; fail "apt-get remove --purge $package failed"; }
say "apt-get remove --purge took $(( $(now_ms) - started )) ms"

left_behind() { expected_files | while read -r f; do [[ ! -e "$f" ]] || echo "$f"; done; }
check "dpkg has forgotten the package" test -z "$(package_status)"
check "none of its files is left" test -z "$(left_behind)"
check "its documentation folder is gone" test ! -e "/usr/share/doc/$package"

checks_done
