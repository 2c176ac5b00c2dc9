#!/usr/bin/env bash
# Installs the Debian packages the build, the player and the tests need, when any is missing.
set -euo pipefail
packages=(
    cmake g++ make pkg-config
    qt6-base-dev            # Qt 6 Widgets, DBus, Xml, Concurrent
    libgdal-dev             # reading base maps (OpenStreetMap, GeoPackage, GeoJSON…)
    libsqlite3-dev          # the tracking server's store
    libgtest-dev            # GoogleTest
    libbenchmark-dev        # Google Benchmark, for bench/
    dbus dbus-daemon        # the session bus the player and the server meet on
    xvfb xauth              # a virtual display for screenshots
    fonts-liberation2 fonts-dejavu-core
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
