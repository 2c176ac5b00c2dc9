#!/usr/bin/env bash
# Installs the Debian packages the build, the player and the tests need, when any is missing.
set -euo pipefail
packages=(
    cmake g++ make pkg-config
    qt6-base-dev            # Qt 6 Widgets, DBus, Xml, Concurrent, Network
    qt6-httpserver-dev      # the phones' HTTP tracker protocol (--listen osmand=…)
    qt6-websockets-dev      # Qt HttpServer's CMake files require it
    qt6-translations-l10n   # Qt's own dialogs and messages in Russian
    libgdal-dev             # reading base maps (OpenStreetMap, GeoPackage, GeoJSON…)
    gdal-bin                # ogr2ogr, gdal_create: test maps and the 2 GB sheet of bench_big_map
    libsqlite3-dev          # the tracking server's store
    libpq-dev               # the tracking server's store on a central PostgreSQL
    libexpat1-dev           # the GPX import: expat reads a million points several times faster than Qt
    postgresql              # a PostgreSQL server the store tests start for themselves
    libgtest-dev            # GoogleTest
    libbenchmark-dev        # Google Benchmark, for bench/
    dbus dbus-daemon        # the session bus the player and the server meet on
    libdbus-1-dev           # lets the player hold a trip's large answers at once (see TVantrelAutomation)
    xvfb xauth              # a virtual display: screenshots, the playback and start-up benches
    fonts-liberation2 fonts-dejavu-core
    poppler-utils           # pdftotext and pdftoppm: the tests read the trip sheets back
    gpsbabel                # a second reader of the exported GPX and KML in the tests
    locales                 # the operators' locale, ru_RU.UTF-8, for the player and the tests
    dpkg-dev desktop-file-utils  # the Debian package: its library dependencies, its desktop entry
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if ! locale -a 2>/dev/null | grep -qx 'ru_RU.utf8'; then
    echo "Generating the locale ru_RU.UTF-8"
    "${sudo_cmd[@]}" sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -qx 'ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    "${sudo_cmd[@]}" locale-gen >/dev/null
fi
