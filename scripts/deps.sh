#!/usr/bin/env bash
# Installs the Debian packages the engine needs to build, play and test, and any named on the
# command line, when any is missing.
set -euo pipefail
packages=(
    cmake g++ clang libclang-rt-14-dev pkg-config make
    libsdl2-dev libsdl2-mixer-dev libsdl2-ttf-dev libsdl2-image-dev libfontconfig-dev libfluidsynth-dev
    libvorbis-dev libopusfile-dev libflac-dev libspeechd-dev speech-dispatcher
    libgraphviz-dev librsvg2-bin
    zlib1g-dev fonts-ipafont-gothic fontconfig timgm6mb-soundfont libgl1-mesa-dri
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    xvfb xauth xfonts-base openbox
    dpkg-dev file lintian appstream groff-base xdotool x11-apps python3 python3-numpy
)
# A caller may name more, for a part of the work only (the browser test's Chromium).
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
