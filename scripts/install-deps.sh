#!/usr/bin/env bash
# The one list of Debian 12 packages the player, its tools, tests and
# benchmarks need. Installs only what is missing; safe to run again.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev python3 gcovr
  # libraries of the player and its tools
  nlohmann-json3-dev libpng-dev zlib1g-dev libcurl4-openssl-dev qt6-base-dev
  libsdl2-dev libasound2-dev libsndfile1-dev libfluidsynth-dev timgm6mb-soundfont
  libgif-dev libjpeg62-turbo-dev libtiff-dev
  # the web browser control (Qt WebEngine, Chromium)
  qt6-webengine-dev
  # windows of other programs (a saver daemon's window) checked through xcb
  libxcb1-dev
  # a full-screen stage changing the display's mode (--allow-mode-change)
  libxrandr-dev
  # movies (FFmpeg's libraries; the command-line ffmpeg makes the tests' movies only)
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  # scanning (SANE; libsane1 also holds the `test` backend the tests scan from)
  libsane-dev libsane1
  # extension libraries: their procedures are called through libffi
  libffi-dev
  # fonts of drawn text and metafiles (Arial, Times New Roman, Courier New;
  # Standard Symbols PS for text in the symbol character set)
  fonts-liberation2 fontconfig fonts-urw-base35
  # fuzzing (clang's libFuzzer and sanitizer runtimes)
  clang libclang-rt-14-dev
  # test oracles and benchmark baselines only
  libexpat1-dev libxml2-dev libpugixml-dev libpixman-1-dev lua5.4 nginx-light curl sox
  python3-pil imagemagick libjpeg-turbo-progs qt6-image-formats-plugins
  libwmf-bin perl unrtf ffmpeg
  # printed PDFs read back as pictures (pdftoppm)
  poppler-utils
  # installing and packaging: the checks of the install tree, the icon's
  # bitmap sizes, and the Debian package (scripts/package.sh)
  desktop-file-utils libxml2-utils man-db shared-mime-info librsvg2-bin dpkg-dev lintian
  # the stage window tests: a virtual X server, screenshots and synthetic input
  xvfb x11-apps x11-utils xdotool
  # remote control over a private session bus: the daemon and two clients
  dbus-daemon dbus-bin libglib2.0-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
