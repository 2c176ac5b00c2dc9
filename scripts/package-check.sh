#!/usr/bin/env bash
# Builds the Debian package from an existing build, installs it, and checks the installed
# programs: both answer --version, the desktop entry validates, and the session bus starts the
# installed server from its service file on a private bus. The package is removed afterwards.
set -euo pipefail
build="${1:-build}"
cd "$(dirname "$0")/.."
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
(cd "$build" && cpack -G DEB >/dev/null 2>&1)
deb=$(ls "$build"/vantrel_*.deb | head -1)
echo "package: $deb"
dpkg-deb -I "$deb" | grep -E '^ (Depends|Version):'
"${sudo_cmd[@]}" dpkg -i "$deb" >/dev/null
trap '"${sudo_cmd[@]}" dpkg -r vantrel >/dev/null' EXIT
dpkg -L vantrel | while read -r file; do [ -f "$file" ] && echo "$file"; done
/usr/bin/vantrel-server --version
/usr/bin/vantrel-player --version
desktop-file-validate /usr/share/applications/org.vantrel.Player.desktop
data=$(mktemp -d)
reply=$(XDG_DATA_HOME="$data" dbus-run-session -- dbus-send --session --print-reply --reply-timeout=60000 \
    --dest=org.vantrel.Automation /org/vantrel/Automation org.vantrel.Automation.GroupCount 2>&1 | grep int32 || true)
rm -rf "$data"
if [ -z "$reply" ]; then
    echo "the bus did not start the installed server"
    exit 1
fi
echo "the bus started the installed server, which counts its groups: $reply"
