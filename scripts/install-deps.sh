#!/usr/bin/env bash
# Installs everything Pondra needs to build, test and run on Debian 12.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config git
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-websockets-dev qt6-multimedia-dev qt6-httpserver-dev
    # lupdate and lrelease: the translation template and the translations tests compile
    qt6-l10n-tools
    libgl-dev libx11-dev libxcb1-dev libxss-dev libdbus-1-dev libpulse-dev libbenchmark-dev
    # dlib's CMake package names these three in its link interface without depending on them
    libdlib-dev libjpeg-dev libblas-dev liblapack-dev
    libgstreamer1.0-dev
    clang libclang-rt-14-dev
    # run time
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good fonts-dejavu-core fonts-noto-color-emoji perl-base
    qt6-wayland
    # test services and fixtures
    xvfb xauth xdotool x11-utils pulseaudio pulseaudio-utils dbus python3-dbusmock python3-dbus python3-gi
    mpv mpv-mpris sox xcompmgr openbox tint2 openssl
    # benchmarks: bench_marquee counts what reaches the X server through the DAMAGE extension
    libxcb-damage0
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
