#!/usr/bin/env bash
# Builds the Debian package from a build folder (default build/default, built
# already) and checks it: its control data and contents, lintian where it is
# installed, and an install and removal into a scratch dpkg root.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build/default}"
cd "$build"
rm -f korvel_*.deb
cpack -G DEB >/dev/null
deb="$(ls korvel_*.deb)"
echo "package: $build/$deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

# The programs' libraries became dependencies, and the fonts text is laid out with.
depends="$(dpkg-deb --field "$deb" Depends)"
for lib in libc6 libstdc++6 libqt6widgets6 libsdl2 fonts-liberation2; do
  case "$depends" in *"$lib"*) ;; *) echo "package: Depends lacks $lib: $depends" >&2; exit 1 ;; esac
done

if command -v lintian >/dev/null; then
  # Tags that belong to a locally built package rather than to its contents.
  lintian --tag-display-limit 0 --suppress-tags no-copyright-file,no-changelog,changelog-file-missing-in-native-package,maintainer-address-malformed,extended-description-is-probably-too-short "$deb" || {
    echo "package: lintian found errors" >&2; exit 1; }
  echo "lintian: no errors"
fi

# A scratch root: dpkg's own database, nothing else. Dependencies are the
# host's business there, so they are not checked.
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --force-not-root --log=/dev/null -i "$deb" >/dev/null 2>&1
test -x "$root/usr/bin/korvel"
test -f "$root/usr/share/mime/packages/korvel.xml"
dpkg --root="$root" --force-depends --force-not-root --log=/dev/null -r korvel >/dev/null 2>&1
left="$(find "$root" -type f -not -path "$root/var/lib/dpkg/*")"
if [ -n "$left" ]; then echo "package: removal left $left" >&2; exit 1; fi
echo "package: installs into and removes from a scratch root cleanly"
