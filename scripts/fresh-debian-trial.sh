#!/usr/bin/env bash
# Tries the Debian package as a new user would, on a fresh Debian 12: a
# minimal root made by debootstrap, the package installed by apt with its
# dependencies and recommendations, then the bundled demo played headless
# there, its frames and sound compared byte for byte with the same run on
# this machine, `man korvel`, `kvtool check`, and the desktop's answer to
# which program opens a .kvp. Needs root, debootstrap and network access to a
# Debian mirror; run by hand (about ten minutes), after scripts/package.sh.
# Usage: scripts/fresh-debian-trial.sh [BUILD-FOLDER] [ROOT-FOLDER]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build/default}"
root="${2:-$(mktemp -d /var/tmp/korvel-trial.XXXXXX)}"
deb="$(ls "$build"/korvel_*.deb)"
mirror="${DEBIAN_MIRROR:-http://deb.debian.org/debian}"

if [ ! -x "$root/usr/bin/apt-get" ]; then
  echo "trial: making a fresh Debian 12 in $root"
  debootstrap --variant=minbase bookworm "$root" "$mirror" >/dev/null
fi
mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
trap 'umount "$root/proc" 2>/dev/null || true' EXIT
cp "$deb" "$root/tmp/"
in_root() { chroot "$root" /usr/bin/env DEBIAN_FRONTEND=noninteractive HOME=/root /bin/bash -c "$1"; }
echo "trial: apt installs $(basename "$deb") with what it depends on and recommends"
in_root "apt-get update -qq && apt-get install -y -qq /tmp/$(basename "$deb") >/dev/null &&
         apt-get install -y -qq --no-install-recommends man-db libglib2.0-bin >/dev/null"
in_root "korvel --version && kvtool --version && orlanc --version"

echo "trial: the demo, played there and here"
rm -rf "$root/home/trial" && mkdir -p "$root/home/trial/demo"
(cd "$build/demo" && cp ./*.kvp ./*.kvs ./*.bmp ./*.ebc ./*.wav ./*.mid ./*.rtf ./*.avi "$root/home/trial/demo/")
cp "$here/demo/input.txt" "$root/home/trial/input.txt"
in_root "cd /home/trial/demo && korvel --headless --virtual-clock --until-idle --trace /dev/null \
         --render /home/trial/frames --input /home/trial/input.txt --audio-out /home/trial/demo.wav demo.kvp"
here_out="$(mktemp -d)"
(cd "$build/demo" && ../shell/korvel --headless --virtual-clock --until-idle --trace /dev/null \
   --render "$here_out/frames" --input "$here/demo/input.txt" --audio-out "$here_out/demo.wav" demo.kvp)
status=0
for f in "$here_out"/frames/*.png; do
  cmp -s "$f" "$root/home/trial/frames/$(basename "$f")" || { echo "trial: $(basename "$f") differs"; status=1; }
done
cmp -s "$here_out/demo.wav" "$root/home/trial/demo.wav" || { echo "trial: the sound differs"; status=1; }
rm -rf "$here_out"

echo "trial: the manual, the check and the desktop's choice for a .kvp"
in_root "MANPAGER=cat man korvel > /tmp/korvel.man && sed -n 4p /tmp/korvel.man"
in_root "kvtool check /home/trial/demo/demo.kvp"
type="$(in_root "gio info -a standard::content-type /home/trial/demo/demo.kvp" | awk '/content-type/ {print $2}')"
app="$(in_root "gio mime $type" | sed -n 1p)"
echo "trial: demo.kvp is $type; $app"
case "$app" in *korvel.desktop*) ;; *) echo "trial: a .kvp does not open with korvel"; status=1 ;; esac
in_root "apt-get purge -y -qq korvel >/dev/null && ! test -e /usr/bin/korvel" || { echo "trial: removal failed"; status=1; }
[ $status -eq 0 ] && echo "trial: the package installs, plays the demo as here, and removes cleanly"
exit $status
